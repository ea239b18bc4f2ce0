#pragma once
// Codes of one channel's block for the modes without band shifts: raw
// samples, lossy sample differences, and the transform value code.

#include "support/bitstream.h"

#include <cstdint>

namespace _snxlib_ {

// Appends the low n bits of value (n = 0..24).
inline void PutValue(BitStream& stream, uint32_t value, uint32_t n) {
    if (n != 0) PutBits(stream, value << (32 - n), n);
}
inline uint32_t GetValue(BitStream& stream, uint32_t n) { return n == 0 ? 0 : GetBits(stream, n); }

void EncodeRawChannel(BitStream& stream, const int16_t* samples, uint32_t count);
void DecodeRawChannel(BitStream& stream, int16_t* samples, uint32_t count);

// The first sample as is, then each difference from the previously
// reconstructed sample, cut to its five leading bits above 32. Arithmetic is
// modulo 2^16 on both sides, so encoder and decoder stay in step.
void EncodeDeltaChannel(BitStream& stream, const int16_t* samples, uint32_t count);
void DecodeDeltaChannel(BitStream& stream, int16_t* samples, uint32_t count);

// Sign, then the position b of the highest bit that differs from the sign,
// then the b low bits: 8 to 21 bits per value, every 16-bit value exact.
void PutTransformValue(BitStream& stream, int16_t value);
int16_t GetTransformValue(BitStream& stream);

}  // namespace _snxlib_
