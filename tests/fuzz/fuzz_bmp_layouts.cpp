// BMP files built from the input around the header fields that choose a
// layout (header size, bit count, compression, masks, colour table, row
// order), so most inputs reach the palette and bit-field paths rather than
// stopping at the signature. Every decoded pixel is checked against the
// value the file's own table or masks give it.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "support/byte_order.h"
#include "support/graphic_loader.h"

namespace {

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint32_t Word() { return Byte() | Byte() << 8 | Byte() << 16 | uint32_t(Byte()) << 24; }
    size_t Left() const { return size_ - pos_; }
    const uint8_t* Rest() const { return data_ + pos_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

constexpr uint32_t kHeaderSizes[] = {40, 52, 56, 108, 124, 12, 64};
constexpr uint16_t kBits[] = {8, 16, 32, 24, 4, 1};
constexpr uint32_t kMaskSets[][4] = {
    {0xF800, 0x07E0, 0x001F, 0},        {0x7C00, 0x03E0, 0x001F, 0},
    {0x7C00, 0x03E0, 0x001F, 0x8000},   {0xFF0000, 0xFF00, 0xFF, 0},
    {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, {0xFF, 0xFF00, 0xFF0000, 0},
};

uint32_t Pixel(const uint8_t* p, uint32_t bytes) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < bytes; ++i) v |= uint32_t(p[i]) << (8 * i);
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const uint8_t shape = in.Byte();
    const uint32_t header_size = kHeaderSizes[shape % 7];
    const uint16_t bits = kBits[(shape >> 3) % 6];
    const uint8_t choice = in.Byte();
    const uint32_t compression = choice % 4 == 0 ? choice / 4 % 8 : (choice & 1 ? 3 : 0);
    const uint32_t width = 1 + in.Byte() % 24;
    const uint32_t height = 1 + in.Byte() % 24;
    const bool top_down = choice & 0x80;
    uint32_t masks[4];
    const uint8_t mask_choice = in.Byte();
    if (mask_choice < 200) {
        std::memcpy(masks, kMaskSets[mask_choice % 6], sizeof masks);
    } else {
        for (uint32_t& m : masks) m = in.Word();
    }
    const uint32_t colours_used = in.Byte() % 2 ? in.Byte() : 0;

    // Header, masks (inside a long header, after a short one), table, rows.
    std::vector<uint8_t> file(14 + 40, 0);
    uint8_t* h = &file[14];
    StoreLE32(h, header_size);
    StoreLE32(h + 4, width);
    StoreLE32(h + 8, top_down ? uint32_t(-int32_t(height)) : height);
    StoreLE16(h + 12, 1);
    StoreLE16(h + 14, bits);
    StoreLE32(h + 16, compression);
    StoreLE32(h + 32, colours_used);
    const bool bit_fields = compression == 3 || compression == 6;
    uint8_t mask_bytes[16];
    for (int i = 0; i < 4; ++i) StoreLE32(mask_bytes + 4 * i, masks[i]);
    if (header_size > 40) {
        file.insert(file.end(), mask_bytes, mask_bytes + 16);
        file.resize(14 + header_size, 0);
    } else if (bit_fields) {
        file.insert(file.end(), mask_bytes, mask_bytes + (compression == 6 ? 16 : 12));
    }
    const bool alpha_mask = (header_size >= 56 || (header_size == 40 && compression == 6)) && masks[3] != 0;
    const uint32_t entries = bits <= 8 ? (colours_used == 0 || colours_used > (1u << bits) ? 1u << bits : colours_used) : 0;
    const size_t table_offset = file.size();
    for (uint32_t i = 0; i < 4 * entries; ++i) file.push_back(in.Byte());
    const size_t pixel_offset = file.size();
    file.insert(file.end(), in.Rest(), in.Rest() + in.Left());
    file[0] = 'B';
    file[1] = 'M';
    StoreLE32(&file[2], uint32_t(file.size()));
    StoreLE32(&file[10], uint32_t(pixel_offset));

    CGraphicLoader loader;
    if (loader.Decode(file.data(), file.size()) != 1) {
        if (loader.FailureReason().empty()) __builtin_trap();  // every BMP refusal says why
        return 0;
    }
    const DibBitmap* bitmap = loader.Bitmap();
    if (bitmap == nullptr || bitmap->Width() != int32_t(width) || bitmap->Height() != int32_t(height)) __builtin_trap();
    const size_t pitch = ((size_t(width) * bits + 31) / 32) * 4;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* stored = &file[pixel_offset + pitch * (top_down ? y : height - 1 - y)];
        const uint8_t* row = bitmap->TopRow(int32_t(y));
        for (uint32_t x = 0; x < width && bits == 8; ++x) {
            const uint32_t index = stored[x];
            if (bitmap->BitCount() == 8) {
                // Only an identity grey ramp keeps its bytes.
                if (entries != 256 || row[x] != index || LoadLE32(&file[table_offset + 4 * index]) % (1u << 24) != index * 0x010101u)
                    __builtin_trap();
                continue;
            }
            const uint32_t colour = index < entries ? LoadLE32(&file[table_offset + 4 * index]) & 0xFFFFFF : 0;
            if (bitmap->BitCount() != 24 || Pixel(row + 3 * x, 3) != colour) __builtin_trap();
        }
        for (uint32_t x = 0; x < width && bits == 32 && bit_fields; ++x) {
            const uint32_t v = Pixel(stored + 4 * x, 4), got = Pixel(row + 4 * x, 4);
            const uint32_t want = alpha_mask ? v : v | 0xFF000000u;
            if ((got & 0xFFFFFF) != (v & 0xFFFFFF) || got != want) __builtin_trap();
        }
        for (uint32_t x = 0; x < width && bits == 16; ++x) {
            const uint32_t v = Pixel(stored + 2 * x, 2), got = Pixel(row + 2 * x, 2);
            const bool is565 = bit_fields && masks[0] == 0xF800;
            const uint32_t want = is565 ? v : (((v >> 10) & 0x1F) << 11) | (((v >> 5) & 0x1F) << 6) | (v & 0x1F);
            if (got != want) __builtin_trap();
        }
    }
    return 0;
}
