#include "support/dib_bitmap.h"
#include "support/allocation_failure.h"
#include "support/byte_order.h"

#include "support/pixel_convert.h"
#include "support/pixel_format.h"

#include <cstring>
#include <new>

BitmapInfoHeader ReadInfoHeader(const uint8_t* b) {
    BitmapInfoHeader h;
    h.size = LoadLE32(b);
    h.width = static_cast<int32_t>(LoadLE32(b + 4));
    h.height = static_cast<int32_t>(LoadLE32(b + 8));
    h.planes = LoadLE16(b + 12);
    h.bit_count = LoadLE16(b + 14);
    h.compression = LoadLE32(b + 16);
    h.size_image = LoadLE32(b + 20);
    h.x_pels_per_meter = static_cast<int32_t>(LoadLE32(b + 24));
    h.y_pels_per_meter = static_cast<int32_t>(LoadLE32(b + 28));
    h.clr_used = LoadLE32(b + 32);
    h.clr_important = LoadLE32(b + 36);
    return h;
}

void WriteInfoHeader(uint8_t* b, const BitmapInfoHeader& h) {
    StoreLE32(b, h.size);
    StoreLE32(b + 4, static_cast<uint32_t>(h.width));
    StoreLE32(b + 8, static_cast<uint32_t>(h.height));
    StoreLE16(b + 12, h.planes);
    StoreLE16(b + 14, h.bit_count);
    StoreLE32(b + 16, h.compression);
    StoreLE32(b + 20, h.size_image);
    StoreLE32(b + 24, static_cast<uint32_t>(h.x_pels_per_meter));
    StoreLE32(b + 28, static_cast<uint32_t>(h.y_pels_per_meter));
    StoreLE32(b + 32, h.clr_used);
    StoreLE32(b + 36, h.clr_important);
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
    return Make(header, std::move(colour_table), true);
}

std::unique_ptr<DibBitmap> DibBitmap::CreateForOverwrite(const BitmapInfoHeader& header,
                                                         std::vector<uint32_t> colour_table) {
    return Make(header, std::move(colour_table), false);
}

std::unique_ptr<DibBitmap> DibBitmap::Make(const BitmapInfoHeader& header, std::vector<uint32_t> colour_table,
                                           bool clear) {
    const uint32_t bits = header.bit_count;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return nullptr;
    const int64_t width = header.width;
    const int64_t height = header.height < 0 ? -int64_t{header.height} : int64_t{header.height};
    if (width <= 0 || height <= 0) return nullptr;
    const int64_t pitch = RowPitch(width, bits);
    if (pitch > kMaxBitmapBytes || pitch * height > kMaxBitmapBytes) return nullptr;

    std::unique_ptr<DibBitmap> bitmap(new (std::nothrow) DibBitmap);
    const auto bytes = static_cast<std::size_t>(pitch * height);
    if (bitmap) bitmap->pixels_.reset(clear ? new (std::nothrow) uint8_t[bytes]() : new (std::nothrow) uint8_t[bytes]);
    if (!bitmap || !bitmap->pixels_) {
        NoteAllocationFailure();
        return nullptr;
    }
    if (!clear) {
        const auto used = static_cast<std::size_t>((width * bits + 7) / 8);
        const auto row_pitch = static_cast<std::size_t>(pitch);
        if (used < row_pitch) {
            for (std::size_t at = used; at < bytes; at += row_pitch) std::memset(&bitmap->pixels_[at], 0, row_pitch - used);
        }
    }
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

std::unique_ptr<DibBitmap> WidenTo24Bits(const DibBitmap& source) {
    BitmapInfoHeader header = source.Header();
    header.bit_count = 24;
    std::unique_ptr<DibBitmap> widened = DibBitmap::Create(header);
    if (!widened) return nullptr;
    for (int32_t y = 0; y < source.Height(); ++y) {
        ConvertRow(widened->TopRow(y), PF_B8G8R8, source.TopRow(y), PF_R5G6B5, source.Width());
    }
    return widened;
}
