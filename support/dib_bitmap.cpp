#include "support/dib_bitmap.h"

#include "support/pixel_format.h"

#include <cstring>
#include <new>

namespace {

uint32_t Get32(const uint8_t* p) {
    return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

BitmapInfoHeader ReadInfoHeader(const uint8_t* b) {
    BitmapInfoHeader h;
    h.size = Get32(b);
    h.width = static_cast<int32_t>(Get32(b + 4));
    h.height = static_cast<int32_t>(Get32(b + 8));
    h.planes = Get16(b + 12);
    h.bit_count = Get16(b + 14);
    h.compression = Get32(b + 16);
    h.size_image = Get32(b + 20);
    h.x_pels_per_meter = static_cast<int32_t>(Get32(b + 24));
    h.y_pels_per_meter = static_cast<int32_t>(Get32(b + 28));
    h.clr_used = Get32(b + 32);
    h.clr_important = Get32(b + 36);
    return h;
}

void WriteInfoHeader(uint8_t* b, const BitmapInfoHeader& h) {
    Put32(b, h.size);
    Put32(b + 4, static_cast<uint32_t>(h.width));
    Put32(b + 8, static_cast<uint32_t>(h.height));
    Put16(b + 12, h.planes);
    Put16(b + 14, h.bit_count);
    Put32(b + 16, h.compression);
    Put32(b + 20, h.size_image);
    Put32(b + 24, static_cast<uint32_t>(h.x_pels_per_meter));
    Put32(b + 28, static_cast<uint32_t>(h.y_pels_per_meter));
    Put32(b + 32, h.clr_used);
    Put32(b + 36, h.clr_important);
}

std::vector<uint32_t> GreyColourTable(uint32_t bits) {
    if (bits != 1 && bits != 4 && bits != 8) return {};
    const uint32_t count = 1u << bits;
    const uint32_t step = 255 / (count - 1);
    std::vector<uint32_t> table(count);
    for (uint32_t i = 0; i < count; ++i) table[i] = (i * step) * 0x010101u;
    return table;
}

std::unique_ptr<DibBitmap> DibBitmap::Create(const BitmapInfoHeader& header,
                                             std::vector<uint32_t> colour_table) {
    const uint32_t bits = header.bit_count;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return nullptr;
    const int64_t width = header.width;
    const int64_t height = header.height < 0 ? -int64_t{header.height} : int64_t{header.height};
    if (width <= 0 || height <= 0) return nullptr;
    const int64_t pitch = RowPitch(width, bits);
    if (pitch > kMaxBitmapBytes || pitch * height > kMaxBitmapBytes) return nullptr;

    std::unique_ptr<DibBitmap> bitmap(new DibBitmap);
    bitmap->pixels_.reset(new (std::nothrow) uint8_t[static_cast<std::size_t>(pitch * height)]());
    if (!bitmap->pixels_) return nullptr;
    bitmap->header_ = header;
    bitmap->header_.size = kInfoHeaderSize;
    bitmap->header_.height = static_cast<int32_t>(height);
    bitmap->header_.size_image = static_cast<uint32_t>(pitch * height);
    bitmap->pitch_ = static_cast<std::size_t>(pitch);
    if (bits <= 8) {
        colour_table.resize(std::size_t{1} << bits, 0);
        bitmap->colours_ = std::move(colour_table);
    }
    return bitmap;
}
