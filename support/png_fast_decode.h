#pragma once
// A quicker way through the common PNG: 8-bit RGB or RGBA, not interlaced,
// nothing but IHDR, IDAT and IEND among the critical chunks. The pixels come
// out exactly as the libpng path gives them; any other file, and any file
// with a flaw (a CRC, the compressed data, a size), is declined so that
// libpng decides about it as before.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "support/dib_bitmap.h"

struct libdeflate_decompressor;

// One decoded picture as the quick path leaves it: rows of red-first pixels,
// top row first. The buffers stay from picture to picture, so a run of
// pictures of one size decodes without fresh memory; a picture of another
// size takes buffers of its own size in their place.
class PngRows {
public:
    PngRows();
    ~PngRows();
    PngRows(const PngRows&) = delete;
    PngRows& operator=(const PngRows&) = delete;

    // False when the quick path declines the data; the rows then hold nothing.
    bool Decode(const uint8_t* data, std::size_t size);

    bool Empty() const { return width_ == 0; }
    uint32_t Width() const { return width_; }
    uint32_t Height() const { return height_; }
    uint32_t BytesPerPixel() const { return bytes_per_pixel_; }
    const uint8_t* Row(uint32_t y) const { return raw_.get() + std::size_t(y) * (row_bytes_ + 1) + 1; }

private:
    struct PictureHeader {
        uint32_t width = 0, height = 0, bytes_per_pixel = 0;
    };
    static bool ReadHeader(const uint8_t* body, uint32_t length, PictureHeader& header);
    // The compressed data in one piece: where it lies in the file, or
    // gathered into compressed_ when it is split.
    bool GatherData(const uint8_t* data, std::size_t size, PictureHeader& header, std::span<const uint8_t>& deflated);
    bool Inflate(std::span<const uint8_t> deflated, uint64_t raw_size);
    bool UnfilterRows(uint32_t height, std::size_t row_bytes, uint32_t bpp);

    uint32_t width_ = 0, height_ = 0, bytes_per_pixel_ = 0;
    std::size_t row_bytes_ = 0;
    std::vector<uint8_t> compressed_;
    std::vector<uint8_t> zero_row_;
    // Every byte is written by the inflate before it is read, so the buffer
    // is never cleared.
    std::unique_ptr<uint8_t[]> raw_;
    std::size_t raw_size_ = 0;
    libdeflate_decompressor* decompressor_ = nullptr;
};

// The rows as a bottom-up bitmap, blue first; null when it cannot be made.
std::unique_ptr<DibBitmap> BitmapFromPngRows(const PngRows& rows);

// The quick path on its own: the bitmap, or null when it declines.
std::unique_ptr<DibBitmap> PngDecodeFast(const uint8_t* data, std::size_t size);
