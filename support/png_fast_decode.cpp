#include "support/png_fast_decode.h"

#include "support/cpu_features.h"
#include "support/png_channel_order.h"
#include "support/region_check.h"

#include <libdeflate.h>

#include <cstring>
#include <vector>

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// libpng's own default limit on either side; larger images take its path.
constexpr uint32_t kMaxSide = 1000000;

uint32_t ReadBE32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

uint8_t Paeth(uint8_t a, uint8_t b, uint8_t c) {
    const int p = int(a) + b - c;
    const int pa = p > a ? p - a : a - p;
    const int pb = p > b ? p - b : b - p;
    const int pc = p > c ? p - c : c - p;
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

// Undoes one row's filter in place; prior is the row above, already undone
// (zeros for the first row). False for an unknown filter type.
bool Unfilter(uint8_t type, uint8_t* row, const uint8_t* prior, std::size_t bytes, std::size_t bpp) {
    switch (type) {
        case 0: return true;
        case 1:
            for (std::size_t i = bpp; i < bytes; ++i) row[i] = uint8_t(row[i] + row[i - bpp]);
            return true;
        case 2:
            for (std::size_t i = 0; i < bytes; ++i) row[i] = uint8_t(row[i] + prior[i]);
            return true;
        case 3:
            for (std::size_t i = 0; i < bpp; ++i) row[i] = uint8_t(row[i] + (prior[i] >> 1));
            for (std::size_t i = bpp; i < bytes; ++i)
                row[i] = uint8_t(row[i] + ((unsigned(row[i - bpp]) + prior[i]) >> 1));
            return true;
        case 4:
            for (std::size_t i = 0; i < bpp; ++i) row[i] = uint8_t(row[i] + prior[i]);
            for (std::size_t i = bpp; i < bytes; ++i)
                row[i] = uint8_t(row[i] + Paeth(row[i - bpp], prior[i], prior[i - bpp]));
            return true;
        default: return false;
    }
}

}  // namespace

PngRows::PngRows() = default;

PngRows::~PngRows() {
    if (decompressor_) libdeflate_free_decompressor(decompressor_);
}

bool PngRows::Decode(const uint8_t* data, std::size_t size) {
    width_ = height_ = 0;
    PictureHeader header;
    std::span<const uint8_t> deflated;
    if (!GatherData(data, size, header, deflated)) return false;
    const std::size_t row_bytes = std::size_t(header.width) * header.bytes_per_pixel;
    const uint64_t raw_size = (uint64_t(row_bytes) + 1) * header.height;
    // The same guard as the libpng path: deflate expands at most about 1032
    // times, so a few bytes cannot claim a huge picture.
    if (raw_size / 2064 > size) return false;
    if (!Inflate(deflated, raw_size) || !UnfilterRows(header.height, row_bytes, header.bytes_per_pixel)) return false;
    width_ = header.width;
    height_ = header.height;
    bytes_per_pixel_ = header.bytes_per_pixel;
    row_bytes_ = row_bytes;
    return true;
}

bool PngRows::ReadHeader(const uint8_t* body, uint32_t length, PictureHeader& header) {
    if (length != 13) return false;
    header.width = ReadBE32(body);
    header.height = ReadBE32(body + 4);
    const uint8_t depth = body[8], colour = body[9];
    if (depth != 8 || (colour != 2 && colour != 6) || body[10] != 0 || body[11] != 0 || body[12] != 0) return false;
    if (header.width == 0 || header.height == 0 || header.width > kMaxSide || header.height > kMaxSide)
        return false;
    header.bytes_per_pixel = colour == 6 ? 4 : 3;
    return true;
}

// Walks the chunks: IHDR first, one unbroken run of IDAT, IEND last; every
// CRC checked. A lone IDAT chunk is inflated where it lies; only split data
// is gathered into one piece.
bool PngRows::GatherData(const uint8_t* data, std::size_t size, PictureHeader& header,
                         std::span<const uint8_t>& deflated) {
    if (size < 8 + 25 || std::memcmp(data, kSignature, 8) != 0) return false;
    std::size_t at = 8;
    std::size_t data_chunks = 0;
    compressed_.clear();
    bool seen_header = false, in_data = false, data_done = false;
    for (;;) {
        if (size - at < 12) return false;
        const uint32_t length = ReadBE32(data + at);
        if (length > size - at - 12) return false;
        const uint8_t* type = data + at + 4;
        const uint8_t* body = type + 4;
        CheckRegionForLibrary(type, std::size_t(length) + 4);
        if (libdeflate_crc32(0, type, std::size_t(length) + 4) != ReadBE32(body + length)) return false;
        at += std::size_t(length) + 12;
        if (std::memcmp(type, "IHDR", 4) == 0) {
            if (seen_header || !ReadHeader(body, length, header)) return false;
            seen_header = true;
        } else if (!seen_header) {
            return false;
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            if (data_done) return false;
            in_data = true;
            if (++data_chunks == 1) {
                deflated = {body, length};
                continue;
            }
            if (data_chunks == 2) compressed_.assign(deflated.begin(), deflated.end());
            compressed_.insert(compressed_.end(), body, body + length);
            deflated = compressed_;
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            return in_data && length == 0;
        } else {
            const bool critical = (type[0] & 0x20) == 0;
            if (critical) return false;
            if (in_data) data_done = true;
        }
    }
}

bool PngRows::Inflate(std::span<const uint8_t> deflated, uint64_t raw_size) {
    if (raw_size != raw_size_ || !raw_) {
        raw_.reset();
        raw_size_ = 0;
        raw_.reset(new uint8_t[static_cast<std::size_t>(raw_size)]);
        raw_size_ = static_cast<std::size_t>(raw_size);
    }
    if (!decompressor_) decompressor_ = libdeflate_alloc_decompressor();
    if (!decompressor_) return false;
    std::size_t used_in = 0, produced = 0;
    CheckRegionForLibrary(deflated.data(), deflated.size());
    CheckRegionForLibrary(raw_.get(), raw_size_);
    const bool inflated = libdeflate_zlib_decompress_ex(decompressor_, deflated.data(), deflated.size(), raw_.get(),
                                                        raw_size_, &used_in, &produced) == LIBDEFLATE_SUCCESS &&
                          used_in == deflated.size() && produced == raw_size_;
    // The gathered data is kept for the next picture only while it stays of
    // a like size, so one huge file leaves no huge buffer behind. It goes
    // only here, once the inflate is done with it: the data may lie in it.
    if (compressed_.capacity() > 2 * compressed_.size() + 65536) std::vector<uint8_t>().swap(compressed_);
    return inflated;
}

bool PngRows::UnfilterRows(uint32_t height, std::size_t row_bytes, uint32_t bpp) {
    if (zero_row_.size() != row_bytes) zero_row_.assign(row_bytes, 0);
    const uint8_t* prior = zero_row_.data();
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = raw_.get() + std::size_t(y) * (row_bytes + 1);
        if (!Unfilter(row[0], row + 1, prior, row_bytes, bpp)) return false;
        prior = row + 1;
    }
    return true;
}

std::unique_ptr<DibBitmap> BitmapFromPngRows(const PngRows& rows) {
    if (rows.Empty()) return nullptr;
    BitmapInfoHeader header;
    header.width = static_cast<int32_t>(rows.Width());
    header.height = static_cast<int32_t>(rows.Height());
    header.bit_count = static_cast<uint16_t>(rows.BytesPerPixel() * 8);
    header.x_pels_per_meter = header.y_pels_per_meter = kDefaultPixelsPerMetre;
    std::unique_ptr<DibBitmap> bitmap = DibBitmap::Create(header);
    if (!bitmap) return nullptr;
    // Blue first, as the bitmap keeps it.
    static const ChannelSwapRow swap24 = ChannelSwapRowFor(ProcessorFeatures(), 3);
    static const ChannelSwapRow swap32 = ChannelSwapRowFor(ProcessorFeatures(), 4);
    const ChannelSwapRow swap = rows.BytesPerPixel() == 3 ? swap24 : swap32;
    for (uint32_t y = 0; y < rows.Height(); ++y) swap(bitmap->TopRow(int32_t(y)), rows.Row(y), rows.Width());
    return bitmap;
}

std::unique_ptr<DibBitmap> PngDecodeFast(const uint8_t* data, std::size_t size) {
    PngRows rows;
    if (!rows.Decode(data, size)) return nullptr;
    return BitmapFromPngRows(rows);
}
