#include "librvx/callback_source.h"

#include <cstdint>

bool CCallbackByteSource::Read(uint64_t offset, uint64_t length, void* out) {
    // The caller's function sees only reads inside the size it gave.
    const uint64_t size = Size();
    if (offset > size || length > size - offset || length > SIZE_MAX) return false;
    if (length == 0) return true;
    std::lock_guard<std::mutex> lock(mutex_);
    return callbacks_.read(callbacks_.opaque, int64_t(offset), out, size_t(length)) == 0;
}
