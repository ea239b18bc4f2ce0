#pragma once
// The bytes of a movie read through a caller's function (RvxCallbacks).
// Reads come from the decoding worker and the caller's thread; they are
// handed to the function one at a time, so it need not be thread-safe.

#include <mutex>

#include "rvx/rvx.h"
#include "support/byte_source.h"

class CCallbackByteSource final : public IByteSource {
public:
    explicit CCallbackByteSource(const RvxCallbacks& callbacks) : callbacks_(callbacks) {}
    uint64_t Size() override { return callbacks_.size > 0 ? uint64_t(callbacks_.size) : 0; }
    bool Read(uint64_t offset, uint64_t length, void* out) override;

private:
    RvxCallbacks callbacks_;
    std::mutex mutex_;
};
