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
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kCompressionNone = 0;
constexpr uint32_t kCompressionRle8 = 1;
constexpr uint32_t kCompressionRle4 = 2;
constexpr uint32_t kCompressionBitFields = 3;
constexpr uint32_t kCompressionJpeg = 4;
constexpr uint32_t kCompressionPng = 5;
constexpr uint32_t kCompressionAlphaBitFields = 6;

bool BmpProbe(const uint8_t* data, std::size_t size) {
    return size >= kFileHeaderSize + kInfoHeaderSize && data[0] == 'B' && data[1] == 'M';
}

bool BmpReadHeader(BitmapInfoHeader* header, const uint8_t* data, std::size_t size) {
    if (!BmpProbe(data, size)) return false;
    *header = ReadInfoHeader(data + kFileHeaderSize);
    return true;
}

enum class Layout { kAsStored, kOpaque32, k555To565, kPaletteTo24, kRefused };

// Bit-field masks are honoured where they name the layouts the bitmap already
// has (or 5-5-5, which is widened to 5-6-5). An alpha mask, where the header
// has one, may only name the bits the colours leave free; 32-bit pixels
// whose masks name no alpha are opaque, whatever their fourth byte holds.
Layout MaskLayout(uint32_t bits, uint32_t red, uint32_t green, uint32_t blue, uint32_t alpha) {
    if (bits == 16 && red == 0xF800 && green == 0x07E0 && blue == 0x001F && alpha == 0) return Layout::kAsStored;
    if (bits == 16 && red == 0x7C00 && green == 0x03E0 && blue == 0x001F && (alpha == 0 || alpha == 0x8000))
        return Layout::k555To565;
    if (bits == 32 && red == 0xFF0000 && green == 0xFF00 && blue == 0xFF)
        return alpha == 0xFF000000u ? Layout::kAsStored : alpha == 0 ? Layout::kOpaque32 : Layout::kRefused;
    return Layout::kRefused;
}

// A 256-entry table holding level i at index i is how 8-bit grey pictures
// are stored; such files keep their one byte per pixel. Every other table
// is a palette whose colours the picture must show.
bool IsIdentityGreyRamp(const std::vector<uint32_t>& colours) {
    if (colours.size() != 256) return false;
    for (uint32_t i = 0; i < 256; ++i) {
        if (colours[i] != i * 0x010101u) return false;
    }
    return true;
}

void Widen555Row(uint8_t* row, int32_t width) {
    for (int32_t x = 0; x < width; ++x, row += 2) {
        const uint32_t v = row[0] | (row[1] << 8);
        const uint32_t w = (((v >> 10) & 0x1F) << 11) | (((v >> 5) & 0x1F) << 6) | (v & 0x1F);
        row[0] = static_cast<uint8_t>(w);
        row[1] = static_cast<uint8_t>(w >> 8);
    }
}

// Indices past the end of a short table show black rather than reading
// beyond it.
void ExpandPaletteRow(uint8_t* out, const uint8_t* indices, int32_t width, const std::vector<uint32_t>& colours) {
    for (int32_t x = 0; x < width; ++x, out += 3) {
        const uint32_t c = indices[x] < colours.size() ? colours[indices[x]] : 0;
        out[0] = static_cast<uint8_t>(c);
        out[1] = static_cast<uint8_t>(c >> 8);
        out[2] = static_cast<uint8_t>(c >> 16);
    }
}

// What the file's headers say about its rows, checked against its size.
struct BmpPlan {
    BitmapInfoHeader info;
    Layout layout = Layout::kAsStored;
    std::vector<uint32_t> colours;
    bool top_down = false;
    int64_t height = 0;
    int64_t pitch = 0;
    int64_t row_bytes = 0;
    uint64_t pixel_offset = 0;
};

// Null when the file can be decoded, else why not.
const char* PlanBmp(const uint8_t* data, std::size_t size, BmpPlan* plan) {
    if (!BmpProbe(data, size)) return "not a BMP file";
    BitmapInfoHeader& info = plan->info;
    info = ReadInfoHeader(data + kFileHeaderSize);
    const uint32_t bits = info.bit_count;
    if (info.size == kCoreHeaderSize) return "OS/2 BMP files (12-byte header) are not supported";
    if (info.size < kInfoHeaderSize || info.size > size - kFileHeaderSize) return "the BMP header is damaged";
    switch (info.compression) {
        case kCompressionNone:
        case kCompressionBitFields:
        case kCompressionAlphaBitFields: break;
        case kCompressionRle8:
        case kCompressionRle4: return "run-length compressed BMP files are not supported";
        case kCompressionJpeg: return "BMP files holding a JPEG image are not supported";
        case kCompressionPng: return "BMP files holding a PNG image are not supported";
        default: return "the BMP file's compression is unknown";
    }
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return "the BMP file's bit count is not 1, 4, 8, 16, 24 or 32";
    if (info.width <= 0 || info.height == 0 || info.height == INT32_MIN) return "the BMP file's size is empty";

    uint64_t table_offset = kFileHeaderSize + uint64_t{info.size};
    plan->layout = bits == 16 ? Layout::k555To565 : Layout::kAsStored;  // 16-bit default is 5-5-5
    if (info.compression != kCompressionNone) {
        if (bits != 16 && bits != 32) return "BMP bit-field masks need 16 or 32 bits per pixel";
        // The masks follow a 40-byte header (three, or four with alpha), or
        // sit inside a longer one, alpha from 56 bytes on; a 52-byte header
        // has no place for one.
        const bool with_alpha = info.size >= 56 ||
                                (info.size == kInfoHeaderSize && info.compression == kCompressionAlphaBitFields);
        const uint64_t masks = kFileHeaderSize + kInfoHeaderSize;
        const uint64_t mask_bytes = with_alpha ? 16 : 12;
        if (masks + mask_bytes > size) return "the BMP file ends inside its bit-field masks";
        const uint32_t alpha = with_alpha ? LoadLE32(data + masks + 12) : 0;
        plan->layout = MaskLayout(bits, LoadLE32(data + masks), LoadLE32(data + masks + 4),
                                  LoadLE32(data + masks + 8), alpha);
        if (plan->layout == Layout::kRefused)
            return "BMP bit-field masks other than 5-5-5, 5-6-5 and 8-8-8 are not supported";
        if (info.size == kInfoHeaderSize) table_offset += mask_bytes;
    }

    uint64_t entries = info.clr_used;
    if (bits <= 8) {
        if (entries == 0 || entries > (1u << bits)) entries = 1u << bits;
    } else {
        entries = 0;
    }
    if (table_offset + entries * 4 > size) return "the BMP file ends inside its colour table";
    plan->colours.resize(entries);
    for (uint64_t i = 0; i < entries; ++i) plan->colours[i] = LoadLE32(data + table_offset + 4 * i) & 0xFFFFFF;
    if (bits == 8 && !IsIdentityGreyRamp(plan->colours)) plan->layout = Layout::kPaletteTo24;

    plan->top_down = info.height < 0;
    plan->height = plan->top_down ? -int64_t{info.height} : info.height;
    plan->pitch = RowPitch(info.width, bits);
    plan->row_bytes = (int64_t{info.width} * bits + 7) / 8;
    plan->pixel_offset = LoadLE32(data + 10);
    // The last row may lack its padding; anything shorter is a truncated file.
    // Compared by division: pitch times height can exceed 64 bits.
    if (plan->pixel_offset > size) return "the BMP file ends before its pixels";
    const uint64_t available = size - plan->pixel_offset;
    if (static_cast<uint64_t>(plan->row_bytes) > available ||
        static_cast<uint64_t>(plan->height - 1) >
            (available - static_cast<uint64_t>(plan->row_bytes)) / static_cast<uint64_t>(plan->pitch)) {
        return "the BMP file ends inside its pixels";
    }
    return nullptr;
}

std::unique_ptr<DibBitmap> BmpDecode(const uint8_t* data, std::size_t size) {
    BmpPlan plan;
    if (PlanBmp(data, size, &plan) != nullptr) return nullptr;
    BitmapInfoHeader info = plan.info;
    info.compression = kCompressionNone;
    std::unique_ptr<DibBitmap> bitmap;
    if (plan.layout == Layout::kPaletteTo24) {
        info.bit_count = 24;
        info.clr_used = info.clr_important = 0;
        bitmap = DibBitmap::Create(info);
    } else {
        bitmap = DibBitmap::Create(info, plan.colours);
    }
    if (!bitmap) return nullptr;
    const uint8_t* pixels = data + plan.pixel_offset;
    for (int64_t r = 0; r < plan.height; ++r) {
        // Stored rows run bottom-up unless the height is negative.
        const int32_t y = static_cast<int32_t>(plan.top_down ? r : plan.height - 1 - r);
        uint8_t* row = bitmap->TopRow(y);
        const uint8_t* stored = pixels + r * plan.pitch;
        if (plan.layout == Layout::kPaletteTo24) {
            ExpandPaletteRow(row, stored, info.width, plan.colours);
            continue;
        }
        std::memcpy(row, stored, static_cast<std::size_t>(plan.row_bytes));
        if (plan.layout == Layout::k555To565) Widen555Row(row, info.width);
        if (plan.layout == Layout::kOpaque32) {
            for (int32_t x = 0; x < info.width; ++x) row[4 * x + 3] = 0xFF;
        }
    }
    return bitmap;
}

const char* BmpRefusal(const uint8_t* data, std::size_t size) {
    BmpPlan plan;
    return PlanBmp(data, size, &plan);
}

}  // namespace

const ImageCodec& BmpImageCodec() {
    static const ImageCodec codec{BmpProbe, BmpReadHeader, BmpDecode, BmpRefusal};
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
