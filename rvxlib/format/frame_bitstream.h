#pragma once
// One coded frame as a self-contained bitstream: the block code table built
// from all blocks of the frame, then every macroblock (rows top to bottom,
// each row left to right): a 6-bit quantiser, in P and B frames the motion
// fields, then the macroblock's blocks; zero bits up to a byte boundary.
// Frame type, references and picture geometry are not in it: they come from
// the frame record and the container header.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "support/bitstream.h"

namespace _pqxlib_ {
class CHuffmanCoder;
}

namespace _rvxlib_ {

// One motion entry per macroblock of a P or B frame. direction 1 predicts
// from the earlier reference, 0 from the later one; dx and dy are in half
// pixels relative to the macroblock's own position.
struct RVXMotionEntry {
    uint8_t use = 0;
    uint8_t direction = 0;
    int8_t dx = 0;
    int8_t dy = 0;
};

// Bits of a macroblock's fields before its blocks: the quantiser, in P and B
// frames the use flag, and when it is set the direction and the two vector
// components. The writer, the reader and every estimate of a frame's bits
// take them from here.
inline constexpr uint32_t kMacroblockQuantiserBits = 6;
inline constexpr uint32_t kUseFlagBits = 1;
inline constexpr uint32_t kDirectionBits = 1;
inline constexpr uint32_t kVectorComponentBits = 8;
inline constexpr uint32_t kPredictionFieldBits = kDirectionBits + 2 * kVectorComponentBits;

// All of a macroblock's fields before its blocks, in an inter frame or not,
// with a prediction or not.
constexpr uint32_t MacroblockHeaderBits(bool inter, bool predicted) {
    return kMacroblockQuantiserBits + (inter ? kUseFlagBits + (predicted ? kPredictionFieldBits : 0) : 0);
}

struct RVXFrameLayout {
    uint32_t columns = 0;              // macroblock columns
    uint32_t rows = 0;                 // macroblock rows
    uint32_t blocks_per_macroblock = 0;
};

// Codes one frame into payload (replacing what it held). blocks holds
// columns x rows x blocks_per_macroblock blocks of 64 values in zigzag order;
// motion is null for an I frame. quantisers, when given, holds each
// macroblock's quantiser (the scale its blocks were coded with); without it
// every macroblock carries `quality`. Fails, leaving payload empty, when a
// value lies outside the coder's +-2047 or a quantiser does not fit its field.
bool CodeFramePayload(const RVXFrameLayout& layout, uint16_t quality, const int16_t* blocks,
                      const RVXMotionEntry* motion, std::vector<uint8_t>* payload,
                      const uint8_t* quantisers = nullptr);

// The reading side, over untrusted bytes: reads the code table, then for each
// macroblock its header; the caller decodes the macroblock's blocks through
// Coder() in between.
class RVXFrameReader {
public:
    RVXFrameReader();
    ~RVXFrameReader();

    // False when the code table is not one the encoder can produce.
    bool Begin(const uint8_t* data, std::size_t size);
    // Reads the quantiser and, when inter is set, the motion fields. False
    // for a quantiser outside 2..32 or data past the end.
    bool ReadMacroblockHeader(bool inter, uint16_t* quantiser, RVXMotionEntry* motion);
    // True when every bit consumed so far lay inside the data.
    bool Intact() const { return !BitStreamOverrun(stream_); }

    _pqxlib_::CHuffmanCoder& Coder() { return *coder_; }
    BitStream& Stream() { return stream_; }

private:
    BitStream stream_;
    std::unique_ptr<_pqxlib_::CHuffmanCoder> coder_;
};

}  // namespace _rvxlib_
