#pragma once
// The common face of every 2-D block transform. A codec owns one transform
// object, drives it through this interface only and never learns which
// transform sits behind it.
//
// Coefficient block: 256 int16_t values, 8 rows x 8 columns x 4 channels with
// the channels interleaved (row r, column c, channel k at 32*r + 4*c + k),
// 16-byte aligned, transformed in place. Samples go into Forward and come out
// of Inverse in that layout; coefficient (r, c) is vertical frequency r and
// horizontal frequency c, DC at (0, 0).
//
// Calling order: Init once; SetChannels, SetQuantTables, SetQuantScale as
// needed; any number of Forward/Inverse; Flush at the end of a run of blocks;
// Release or the destructor ends the object (it may be Init'ed again).
// Every operation returns 1 on success and 0 when the transform does not
// support it or the argument is unusable (nothing changes then).

#include <cstdint>

namespace _pqxlib_ {

constexpr int kBlockRows = 8;
constexpr int kBlockColumns = 8;
constexpr int kBlockChannels = 4;
constexpr int kBlockValues = kBlockRows * kBlockColumns * kBlockChannels;  // 256
constexpr int kCoefficientsPerChannel = kBlockRows * kBlockColumns;        // 64

constexpr int BlockIndex(int row, int column, int channel) {
    return 32 * row + 4 * column + channel;
}

// A cache line of its own for each transform (see IRVXInterface).
class alignas(64) IPQXConvInterface {
public:
    virtual ~IPQXConvInterface() = default;
    // Allocates the work buffers and picks the routines for the processor
    // feature word (see support/cpu_features.h); resets the quantiser scale.
    virtual int32_t Init(uint32_t features) = 0;
    // Ends a run of transforms; must precede floating-point code that follows.
    virtual int32_t Flush() = 0;
    // Frees the work buffers; Init makes the object usable again.
    virtual int32_t Release() = 0;
    // tables[k] points to the 64 quantiser steps of channel k, entry 8*r + c
    // for coefficient (r, c). Steps are 1..255; a table holding 0 is refused.
    virtual int32_t SetQuantTables(const uint8_t* const tables[4]) = 0;
    // A factor on every step of every channel, 1..65535 (0 is refused).
    virtual int32_t SetQuantScale(uint16_t scale) = 0;
    // Number of channels transformed, 1..4 (default 4).
    virtual int32_t SetChannels(int32_t count) = 0;
    // Samples to quantised coefficients, in place.
    virtual int32_t Forward(int16_t* block) = 0;
    // Quantised coefficients to samples, in place. Results are not clamped.
    virtual int32_t Inverse(int16_t* block) = 0;

    // An encoder that chooses coefficient levels by their cost asks for the
    // values Forward rounds: after KeepUnrounded(true), Unrounded() holds the
    // last Forward's coefficients in units of their quantiser step (256
    // floats, block layout; Forward's own result is their rounding). Null
    // from transforms that do not quantise or cannot tell.
    virtual void KeepUnrounded(bool /*keep*/) {}
    virtual const float* Unrounded() const { return nullptr; }
};

// Base of the transforms that do not quantise: the quantiser settings and
// the channel count are not theirs to change.
class IPQXConvNonQuantize : public IPQXConvInterface {
public:
    int32_t Release() override { return Flush(); }
    int32_t SetQuantTables(const uint8_t* const[4]) override { return 0; }
    int32_t SetQuantScale(uint16_t) override { return 0; }
    int32_t SetChannels(int32_t) override { return 0; }
};

}  // namespace _pqxlib_
