#pragma once
// The per-channel transform that a sound block passes through before it is
// entropy coded (encoder: Forward) or after it is decoded (decoder: Inverse).
// Blocks are N = 2^L signed 16-bit values of one channel, transformed in place.

#include <cstdint>

namespace _snxlib_ {

class ISNXConvInterface {
public:
    virtual ~ISNXConvInterface() = default;
    // Releases any previous state first, so it may be repeated with a new
    // block length or channel count. Throws std::bad_alloc.
    virtual int32_t Init(uint32_t features, int32_t log2_length, int32_t channels) = 0;
    virtual int32_t Release() = 0;
    // Forgets the history of every channel: the next block starts a stream.
    virtual int32_t Reset() = 0;
    // 0 (block untouched) before Init or for a channel outside 0..channels-1.
    virtual int32_t Forward(int16_t* block, int32_t channel) = 0;
    virtual int32_t Inverse(int16_t* block, int32_t channel) = 0;
};

// Leaves every block as it is: raw and difference-coded sound.
class CNullConvert final : public ISNXConvInterface {
public:
    int32_t Init(uint32_t, int32_t, int32_t) override { return 1; }
    int32_t Release() override { return 1; }
    int32_t Reset() override { return 1; }
    int32_t Forward(int16_t*, int32_t) override { return 1; }
    int32_t Inverse(int16_t*, int32_t) override { return 1; }
};

}  // namespace _snxlib_
