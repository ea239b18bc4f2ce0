#pragma once
// The loader's decoded image: a device-independent bitmap in the Windows DIB
// layout (40-byte information header, colour table for 8 bits or less, rows
// bottom row first, each padded to 4 bytes), held on the heap.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

constexpr uint32_t kInfoHeaderSize = 40;
constexpr int32_t kDefaultPixelsPerMetre = 3780;  // 96 dots per inch

// Bitmaps (and so decoded images) larger than this are refused, whatever a
// file header claims.
constexpr int64_t kMaxBitmapBytes = int64_t{1} << 30;

struct BitmapInfoHeader {
    uint32_t size = kInfoHeaderSize;
    int32_t width = 0;
    int32_t height = 0;        // positive: bottom row first
    uint16_t planes = 1;
    uint16_t bit_count = 0;
    uint32_t compression = 0;
    uint32_t size_image = 0;
    int32_t x_pels_per_meter = 0;
    int32_t y_pels_per_meter = 0;
    uint32_t clr_used = 0;
    uint32_t clr_important = 0;
};

BitmapInfoHeader ReadInfoHeader(const uint8_t* bytes);   // 40 little-endian bytes
void WriteInfoHeader(uint8_t* bytes, const BitmapInfoHeader& header);

// A grey ramp of 2^bits entries (bits 1, 4 or 8), each 0x00RRGGBB.
std::vector<uint32_t> GreyColourTable(uint32_t bits);

class DibBitmap {
public:
    // Bottom-up bitmap of header.width x |header.height| pixels, zero-filled.
    // Refuses bit counts other than 1, 4, 8, 16, 24, 32, empty sizes and
    // anything above kMaxBitmapBytes (null). The stored header's height is
    // made positive and its image size set to pitch x height.
    static std::unique_ptr<DibBitmap> Create(const BitmapInfoHeader& header,
                                             std::vector<uint32_t> colour_table = {});
    // As Create, for a decoder that writes every pixel byte of every row:
    // only the padding at the row ends is cleared, so it stays defined.
    static std::unique_ptr<DibBitmap> CreateForOverwrite(const BitmapInfoHeader& header,
                                                         std::vector<uint32_t> colour_table = {});

    const BitmapInfoHeader& Header() const { return header_; }
    int32_t Width() const { return header_.width; }
    int32_t Height() const { return header_.height; }
    uint32_t BitCount() const { return header_.bit_count; }
    std::size_t Pitch() const { return pitch_; }
    std::size_t ImageBytes() const { return pitch_ * static_cast<std::size_t>(header_.height); }
    const std::vector<uint32_t>& ColourTable() const { return colours_; }

    // First byte of the bottom row, as in the DIB.
    uint8_t* Bits() { return pixels_.get(); }
    const uint8_t* Bits() const { return pixels_.get(); }
    // Image row y counted from the top.
    uint8_t* TopRow(int32_t y) { return Bits() + static_cast<std::size_t>(Height() - 1 - y) * pitch_; }
    const uint8_t* TopRow(int32_t y) const {
        return Bits() + static_cast<std::size_t>(Height() - 1 - y) * pitch_;
    }

private:
    DibBitmap() = default;
    static std::unique_ptr<DibBitmap> Make(const BitmapInfoHeader& header, std::vector<uint32_t> colour_table,
                                           bool clear);

    BitmapInfoHeader header_;
    std::vector<uint32_t> colours_;
    std::size_t pitch_ = 0;
    std::unique_ptr<uint8_t[]> pixels_;
};

// A 5-6-5 bitmap widened to 24-bit B, G, R rows, for writers that store only
// 8, 24 and 32-bit pictures. Null when the copy cannot be made.
std::unique_ptr<DibBitmap> WidenTo24Bits(const DibBitmap& source);
