#pragma once
// Memory that crosses into or out of a library not built with our checkers
// (libdeflate, libpng, zlib, FFmpeg, GStreamer). A read of freed memory
// inside such a library is never seen by AddressSanitizer, and the freed
// block stays mapped, so nothing crashes either until the day it does: what
// we hand over is checked where we hand it over.

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

#if __has_include(<valgrind/memcheck.h>)
#include <valgrind/memcheck.h>
#define RVX_MEMCHECK_REQUESTS 1
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

// Pixels a media library decoded are whole by its contract, but some of its
// decoders compute them from values memcheck cannot follow (it reports
// them as made from uninitialised stack memory inside the decoder). Taken
// as defined here, so that under memcheck every report in our own code is
// about our own code. Outside memcheck it costs a few instructions.
inline void AcceptRegionFromLibrary(const void* region, std::size_t size) {
#ifdef RVX_MEMCHECK_REQUESTS
    (void)VALGRIND_MAKE_MEM_DEFINED(region, size);
#else
    (void)region;
    (void)size;
#endif
}
