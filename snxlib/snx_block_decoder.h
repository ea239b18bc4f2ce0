#pragma once
// Decodes the coded blocks of an SNX stream one at a time, from bytes a
// caller hands in: the part of the sound decoder that needs no file, so a
// player that receives blocks one by one gets the same samples as a reader
// of the whole file.
//
// Transform modes lag one block: coded block k (k >= 1) gives the samples of
// output block k - 1, and coded block 0 only primes the overlap. Decoding
// from coded block k - 1 after a Reset gives output block k - 1 exactly as
// decoding from the start does.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "snxlib/band_coder.h"
#include "snxlib/conv_interface.h"
#include "snxlib/snx_format.h"

namespace _snxlib_ {

class CSNXBlockDecoder {
public:
    // Checks what decoding relies on: a coded mode, 16-bit samples, a block
    // length that divides into channels and sane block sizes, and the block
    // count the sizes imply. False for anything else.
    bool Setup(const SNXHeader& header);
    // Forgets the overlap: the next coded block starts a stream.
    void Reset();

    // Decodes coded block index (0..block_count-1) from its bytes into
    // Output(); false when the bytes do not form a whole block.
    bool Decode(uint32_t index, const uint8_t* bytes, std::size_t size);
    // The interleaved samples of the last decoded block (block length values).
    const int16_t* Output() const { return output_.data(); }

    // Coded blocks before the first one that gives samples (1 or 0).
    uint32_t Lag() const { return lag_; }
    // Blocks that give samples: block_count - Lag().
    uint32_t OutputBlocks() const { return header_.block_count - lag_; }
    // Interleaved samples that output block o holds (the last one may be short).
    uint32_t OutputSamples(uint32_t o) const;
    uint32_t BlockSize() const { return block_size_; }  // sample frames per block
    const SNXHeader& Header() const { return header_; }

private:
    SNXHeader header_;
    uint32_t block_size_ = 0;
    uint32_t lag_ = 0;
    std::unique_ptr<ISNXConvInterface> transform_;
    CBandCoder band_coder_;
    std::vector<int16_t> planar_;
    std::vector<int16_t> output_;
};

}  // namespace _snxlib_
