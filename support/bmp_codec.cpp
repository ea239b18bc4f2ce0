// BMP files: 14-byte file header, information header, colour table, rows.
// Every size in a file is checked against the bytes actually present before
// anything is allocated or copied.

#include "support/image_codec.h"
#include "support/byte_order.h"
#include "support/pixel_format.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr uint32_t kCompressionNone = 0;
constexpr uint32_t kCompressionBitFields = 3;

bool BmpProbe(const uint8_t* data, std::size_t size) {
    return size >= kFileHeaderSize + kInfoHeaderSize && data[0] == 'B' && data[1] == 'M';
}

bool BmpReadHeader(BitmapInfoHeader* header, const uint8_t* data, std::size_t size) {
    if (!BmpProbe(data, size)) return false;
    *header = ReadInfoHeader(data + kFileHeaderSize);
    return true;
}

enum class Layout { kAsStored, k555To565, kRefused };

// Bit-field masks are honoured where they name the layouts the bitmap already
// has (or 5-5-5, which is widened to 5-6-5).
Layout MaskLayout(uint32_t bits, uint32_t red, uint32_t green, uint32_t blue) {
    if (bits == 16 && red == 0xF800 && green == 0x07E0 && blue == 0x001F) return Layout::kAsStored;
    if (bits == 16 && red == 0x7C00 && green == 0x03E0 && blue == 0x001F) return Layout::k555To565;
    if (bits == 32 && red == 0xFF0000 && green == 0xFF00 && blue == 0xFF) return Layout::kAsStored;
    return Layout::kRefused;
}

void Widen555Row(uint8_t* row, int32_t width) {
    for (int32_t x = 0; x < width; ++x, row += 2) {
        const uint32_t v = row[0] | (row[1] << 8);
        const uint32_t w = (((v >> 10) & 0x1F) << 11) | (((v >> 5) & 0x1F) << 6) | (v & 0x1F);
        row[0] = static_cast<uint8_t>(w);
        row[1] = static_cast<uint8_t>(w >> 8);
    }
}

std::unique_ptr<DibBitmap> BmpDecode(const uint8_t* data, std::size_t size) {
    if (!BmpProbe(data, size)) return nullptr;
    BitmapInfoHeader info = ReadInfoHeader(data + kFileHeaderSize);
    const uint32_t bits = info.bit_count;
    if (info.size < kInfoHeaderSize || info.size > size - kFileHeaderSize) return nullptr;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return nullptr;
    if (info.width <= 0 || info.height == 0 || info.height == INT32_MIN) return nullptr;

    uint64_t table_offset = kFileHeaderSize + uint64_t{info.size};
    Layout layout = bits == 16 ? Layout::k555To565 : Layout::kAsStored;  // 16-bit default is 5-5-5
    if (info.compression == kCompressionBitFields && (bits == 16 || bits == 32)) {
        // The three masks follow a 40-byte header, or sit inside a longer one.
        const uint64_t masks = kFileHeaderSize + kInfoHeaderSize;
        if (masks + 12 > size) return nullptr;
        layout = MaskLayout(bits, LoadLE32(data + masks), LoadLE32(data + masks + 4), LoadLE32(data + masks + 8));
        if (info.size == kInfoHeaderSize) table_offset += 12;
    } else if (info.compression != kCompressionNone) {
        return nullptr;
    }
    if (layout == Layout::kRefused) return nullptr;

    uint64_t entries = info.clr_used;
    if (bits <= 8) {
        if (entries == 0 || entries > (1u << bits)) entries = 1u << bits;
    } else {
        entries = 0;
    }
    if (table_offset + entries * 4 > size) return nullptr;
    std::vector<uint32_t> colours(entries);
    for (uint64_t i = 0; i < entries; ++i) colours[i] = LoadLE32(data + table_offset + 4 * i) & 0xFFFFFF;

    const bool top_down = info.height < 0;
    const int64_t height = top_down ? -int64_t{info.height} : info.height;
    const int64_t pitch = RowPitch(info.width, bits);
    const int64_t row_bytes = (int64_t{info.width} * bits + 7) / 8;
    const uint64_t pixel_offset = LoadLE32(data + 10);
    // The last row may lack its padding; anything shorter is a truncated file.
    // Compared by division: pitch times height can exceed 64 bits.
    if (pixel_offset > size) return nullptr;
    const uint64_t available = size - pixel_offset;
    if (static_cast<uint64_t>(row_bytes) > available ||
        static_cast<uint64_t>(height - 1) > (available - static_cast<uint64_t>(row_bytes)) / static_cast<uint64_t>(pitch)) {
        return nullptr;
    }

    info.compression = kCompressionNone;
    std::unique_ptr<DibBitmap> bitmap = DibBitmap::Create(info, std::move(colours));
    if (!bitmap) return nullptr;
    const uint8_t* pixels = data + pixel_offset;
    for (int64_t r = 0; r < height; ++r) {
        // Stored rows run bottom-up unless the height is negative.
        const int32_t y = static_cast<int32_t>(top_down ? r : height - 1 - r);
        uint8_t* row = bitmap->TopRow(y);
        std::memcpy(row, pixels + r * pitch, static_cast<std::size_t>(row_bytes));
        if (layout == Layout::k555To565) Widen555Row(row, info.width);
    }
    return bitmap;
}

}  // namespace

const ImageCodec& BmpImageCodec() {
    static const ImageCodec codec{BmpProbe, BmpReadHeader, BmpDecode};
    return codec;
}

int32_t WriteBMP(const std::string& file_name, const DibBitmap& bitmap) {
    const uint32_t bits = bitmap.BitCount();
    // Rows of fewer bits would not fill the rows of an 8-bit file, and plain
    // 16-bit files mean 5-5-5 to every reader while the bitmap holds 5-6-5.
    if (bits != 8 && bits != 24 && bits != 32) return 0;
    BitmapInfoHeader info;
    info.width = bitmap.Width();
    info.height = bitmap.Height();
    info.bit_count = static_cast<uint16_t>(bits);
    info.size_image = static_cast<uint32_t>(bitmap.ImageBytes());
    info.x_pels_per_meter = info.y_pels_per_meter = kDefaultPixelsPerMetre;
    const std::vector<uint32_t> table = bits <= 8 ? GreyColourTable(bits) : std::vector<uint32_t>{};
    const uint32_t header_size = kInfoHeaderSize + 4 * static_cast<uint32_t>(table.size());

    std::vector<uint8_t> head(kFileHeaderSize + header_size);
    head[0] = 'B';
    head[1] = 'M';
    StoreLE32(&head[2], static_cast<uint32_t>(kFileHeaderSize + header_size + bitmap.ImageBytes()));
    StoreLE16(&head[6], 0);
    StoreLE16(&head[8], 0);
    StoreLE32(&head[10], static_cast<uint32_t>(kFileHeaderSize + header_size));
    WriteInfoHeader(&head[kFileHeaderSize], info);
    for (std::size_t i = 0; i < table.size(); ++i) {
        StoreLE32(&head[kFileHeaderSize + kInfoHeaderSize + 4 * i], table[i]);
    }

    std::FILE* file = std::fopen(file_name.c_str(), "wb");
    if (file == nullptr) return 0;
    bool ok = std::fwrite(head.data(), 1, head.size(), file) == head.size() &&
              std::fwrite(bitmap.Bits(), 1, bitmap.ImageBytes(), file) == bitmap.ImageBytes();
    ok = std::fclose(file) == 0 && ok;
    return ok ? 1 : 0;
}
