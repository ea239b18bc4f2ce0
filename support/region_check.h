#pragma once
// Memory handed to a library that is not built with the sanitizers
// (libdeflate, libpng, zlib, FFmpeg, GStreamer) is checked where it is
// handed over: a read of freed memory inside such a library is never seen
// by AddressSanitizer, and the freed block stays mapped, so nothing crashes
// either until the day it does.

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define RVX_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RVX_ADDRESS_SANITIZER 1
#endif
#endif

#ifdef RVX_ADDRESS_SANITIZER
#include <sanitizer/asan_interface.h>
#endif

// Under AddressSanitizer a region with any byte that may not be touched
// (freed, never allocated, past a block's end) stops the program with the
// sanitizer's own report of that byte, allocation and free included. In
// other builds it costs nothing.
inline void CheckRegionForLibrary(const void* region, std::size_t size) {
#ifdef RVX_ADDRESS_SANITIZER
    if (region == nullptr || size == 0) return;
    if (void* bad = __asan_region_is_poisoned(const_cast<void*>(region), size)) {
        // An instrumented read of the first bad byte raises the full report.
        (void)*static_cast<const volatile char*>(bad);
    }
#else
    (void)region;
    (void)size;
#endif
}
