#pragma once
// Block coding of the band-shift MDCT modes: per channel 16 band shifts, then
// the quantised coefficients below the cutoff as zero runs and values.

#include "support/bitstream.h"

#include <cstdint>
#include <vector>

namespace _snxlib_ {

constexpr int kBandCount = 16;
constexpr uint32_t kSilentBandShift = 15;
constexpr uint8_t kBandBlockLeftRight = 0xF0;
constexpr uint8_t kBandBlockMidSide = 0xF8;

class CBandCoder {
public:
    // mode 257..260; block_size is N.
    void Setup(uint32_t mode, uint32_t sample_rate, uint32_t block_size, uint32_t channels);
    uint32_t CodedCount() const { return coded_; }

    // coefficients: channel-planar MDCT output, channels x N. Writes one block
    // (header byte, then every channel) without the final byte padding.
    void Encode(BitStream& stream, const int16_t* coefficients);
    // Rebuilds channel-planar coefficients (including mid/side undo); 0 when
    // the codes are not well formed.
    int32_t Decode(BitStream& stream, int16_t* coefficients);

    // Whether the last encoded block chose mid/side.
    bool LastBlockUsedMidSide() const { return last_mid_side_; }

private:
    // Band shifts and quantised values of one channel's coefficients.
    void Analyse(const int16_t* c, uint32_t shifts[kBandCount], int16_t* values) const;
    void PutChannel(BitStream& stream, const uint32_t shifts[kBandCount], const int16_t* values) const;
    int32_t GetChannel(BitStream& stream, int16_t* coefficients) const;
    uint64_t CountSmall(const int16_t* values, uint32_t channels) const;

    uint32_t n_ = 0;
    uint32_t channels_ = 0;
    uint32_t coded_ = 0;
    int32_t shift_offset_ = 0;
    bool mid_side_allowed_ = false;
    bool last_mid_side_ = false;
    std::vector<uint8_t> band_;      // per coefficient < K
    std::vector<int32_t> divisor_;   // per coefficient < K
    std::vector<int16_t> mid_side_;  // channels x N
    std::vector<int16_t> values_lr_, values_ms_;  // channels x K
    std::vector<uint32_t> shifts_lr_, shifts_ms_; // channels x 16
};

}  // namespace _snxlib_
