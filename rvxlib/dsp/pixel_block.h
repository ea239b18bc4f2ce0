#pragma once
// The pixel block: moves one 16 x 16 macroblock between a picture buffer
// (8 bits per channel) and the 16-bit working buffer that the block converter
// and the moving block work on.

#include "rvxlib/dsp/rvx_interface.h"
#include "support/aligned_alloc.h"

#include <cstddef>
#include <cstdint>

#include "rvxlib/dsp/pixel_block_kernels.h"

namespace _rvxlib_ {

// Working buffer layout: pixel (r, c) channel k at 64 * r + 4 * c + k.
constexpr uint32_t kMacroblockSize = 16;
constexpr uint32_t kMacroblockSamples = 16 * 16 * 4;


class IRVXPixelBlock : public IRVXInterface {
public:
    IRVXPixelBlock(uint32_t padded_width, uint32_t padded_height);

    // Both return 0 when (column, row) lies outside the picture or no source
    // picture is set.
    virtual int32_t StoreMacroblock(uint32_t column, uint32_t row) = 0;
    virtual int32_t LoadMacroblock(uint32_t column, uint32_t row) = 0;

    void SetSourcePicture(uint8_t* picture) { picture_ = picture; }
    uint8_t* SourcePicture() const { return picture_; }
    uint32_t MacroblockColumns() const { return columns_; }
    uint32_t MacroblockRows() const { return rows_; }
    uint32_t PaddedWidth() const { return padded_width_; }
    uint32_t PaddedHeight() const { return padded_height_; }
    std::size_t Pitch() const { return pitch_; }

    // The working buffer (kMacroblockSamples values, 16-byte aligned).
    int16_t* Buffer() { return buffer_.data(); }
    const int16_t* Buffer() const { return buffer_.data(); }

protected:
    uint8_t* picture_ = nullptr;
    AlignedBuffer<int16_t> buffer_;
    uint32_t padded_width_;
    uint32_t padded_height_;
    std::size_t pitch_;
    uint32_t columns_;
    uint32_t rows_;
};

// Samples are unsigned bytes in the picture; stores saturate to 0..255.
class CRVXPixelBlockUnSigned : public IRVXPixelBlock {
public:
    CRVXPixelBlockUnSigned(uint32_t padded_width, uint32_t padded_height);
    int32_t Init(uint32_t features) override;
    int32_t StoreMacroblock(uint32_t column, uint32_t row) override;
    int32_t LoadMacroblock(uint32_t column, uint32_t row) override;

private:
    uint8_t* MacroblockAddress(uint32_t column, uint32_t row) const;
    PixelBlockKernels routines_;
};

}  // namespace _rvxlib_
