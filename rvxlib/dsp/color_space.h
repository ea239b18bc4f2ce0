#pragma once
// Colour converters: source pictures (24-bit B, G, R or 32-bit B, G, R, A rows)
// to the codec's picture buffer (4 bytes per pixel, V, U, Y, A or B, G, R, A,
// padded to whole macroblocks) and back.

#include "rvxlib/dsp/color_space_kernels.h"
#include "rvxlib/dsp/rvx_interface.h"

#include <cstddef>
#include <cstdint>

namespace _rvxlib_ {

// Rounds a picture dimension up to whole macroblocks.
constexpr uint32_t PaddedSize(uint32_t size) { return (size + 15u) & ~15u; }

class IRVXColorSpace : public IRVXInterface {
public:
    // bytes_per_source_pixel is 3 or 4. alpha_mask is ORed into every pixel
    // the converter produces (0xFF000000 forces alpha 255, 0 keeps it).
    IRVXColorSpace(uint32_t width, uint32_t height, uint32_t bytes_per_source_pixel,
                   uint32_t alpha_mask);

    int32_t Init(uint32_t features) override;
    virtual int32_t ConvertRow(uint8_t* dst, const uint8_t* src, uint32_t count);
    virtual int32_t ConvertRowBack(uint8_t* dst, const uint8_t* src, uint32_t count);
    virtual int32_t EndConvert() { return 1; }

    // Converts a whole source picture (rows top to bottom, SourcePitch bytes
    // apart) into a picture buffer of PaddedWidth x PaddedHeight pixels,
    // repeating the last column and row into the padding. 0 for a null
    // pointer or an empty picture.
    int32_t ConvertPicture(const uint8_t* src, uint8_t* dst);

    // The decoding direction: the top-left width x height pixels of a picture
    // buffer into source-layout rows SourcePitch bytes apart.
    int32_t ConvertPictureBack(const uint8_t* picture, uint8_t* dst);

    uint32_t Width() const { return width_; }
    uint32_t Height() const { return height_; }
    uint32_t PaddedWidth() const { return padded_width_; }
    uint32_t PaddedHeight() const { return padded_height_; }
    std::size_t SourcePitch() const { return source_pitch_; }
    std::size_t DestinationPitch() const { return destination_pitch_; }
    uint32_t AlphaMask() const { return alpha_mask_; }
    // Bytes per pixel that ConvertRowBack writes (3 for 24-bit sources, else 4).
    uint32_t BackPixelBytes() const { return source_bytes_; }

protected:
    const uint8_t* source_ = nullptr;
    uint8_t* destination_ = nullptr;
    uint32_t width_;
    uint32_t height_;
    uint32_t source_bytes_;
    std::size_t source_pitch_;
    uint32_t padded_width_;
    uint32_t padded_height_;
    std::size_t destination_pitch_;
    uint32_t alpha_mask_;
    void UsePortable();
    bool Usable() const;
    ColorConversion conversion_ = ColorConversion::kBgraToBgra;
    ColorRowRoutine forward_ = nullptr;
    ColorRowRoutine back_ = nullptr;
};

// B, G, R -> B, G, R, 255; back: B, G, R, A -> B, G, R.
class CRVXColorSpace24bitTo32bit : public IRVXColorSpace {
public:
    CRVXColorSpace24bitTo32bit(uint32_t width, uint32_t height, uint32_t alpha_mask = 0);
};

// Pixel OR alpha mask, both ways.
class CRVXColorSpace32bitTo32bit : public IRVXColorSpace {
public:
    CRVXColorSpace32bitTo32bit(uint32_t width, uint32_t height, uint32_t alpha_mask);
};

// B, G, R -> V, U, Y, 255; back: V, U, Y, A -> B, G, R.
class CRVXColorSpaceRGB24bitToYUV32bit : public IRVXColorSpace {
public:
    CRVXColorSpaceRGB24bitToYUV32bit(uint32_t width, uint32_t height, uint32_t alpha_mask = 0);
};

// B, G, R, A -> V, U, Y, A OR mask; back: V, U, Y, A -> B, G, R, A OR mask.
class CRVXColorSpaceRGB32bitToYUV32bit : public IRVXColorSpace {
public:
    CRVXColorSpaceRGB32bitToYUV32bit(uint32_t width, uint32_t height, uint32_t alpha_mask);
};

}  // namespace _rvxlib_
