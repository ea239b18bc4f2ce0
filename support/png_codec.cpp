// PNG reading and writing through libpng. Every libpng error unwinds to the
// setjmp of the function that made the libpng structures; those functions
// keep no objects with destructors alive across libpng calls, and whatever
// must outlive an error sits in a state record owned by the caller.

#include "support/allocation_failure.h"
#include "support/image_codec.h"
#include "support/pixel_format.h"
#include "support/png_fast_decode.h"
#include "support/region_check.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr png_alloc_size_t kMaxLibpngAllocation = png_alloc_size_t{64} << 20;

struct MemoryReader {
    const uint8_t* data;
    std::size_t size;
    std::size_t position;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t length) {
    auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (length > reader->size - reader->position) png_error(png, "read past the end of the data");
    std::memcpy(out, reader->data + reader->position, length);
    reader->position += length;
}

[[noreturn]] void OnPngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnPngWarning(png_structp, png_const_charp) {}

// libpng reads ancillary chunks (text, profiles) whole, trusting their
// length fields; a few bytes claiming a gigabyte chunk must not become a
// gigabyte allocation. No legitimate use of libpng's own memory comes near
// the limit: rows are at most a few megabytes, and pixels go to our bitmap.
png_voidp LimitedMalloc(png_structp, png_alloc_size_t size) {
    return size > kMaxLibpngAllocation ? nullptr : std::malloc(size);
}
void LimitedFree(png_structp, png_voidp p) { std::free(p); }

png_structp CreateReadStruct() {
    return png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning, nullptr,
                                    LimitedMalloc, LimitedFree);
}

bool PngProbe(const uint8_t* data, std::size_t size) {
    if (size < 8) return false;
    CheckRegionForLibrary(data, 8);
    return png_sig_cmp(data, 0, 8) == 0;
}

uint16_t BitCountForColourType(int colour_type) {
    switch (colour_type) {
        case PNG_COLOR_TYPE_RGB_ALPHA: return 32;
        case PNG_COLOR_TYPE_RGB:
        case PNG_COLOR_TYPE_PALETTE: return 24;
        case PNG_COLOR_TYPE_GRAY:
        case PNG_COLOR_TYPE_GRAY_ALPHA: return 8;
        default: return 0;
    }
}

bool PngReadHeader(BitmapInfoHeader* header, const uint8_t* data, std::size_t size) {
    MemoryReader reader{data, size, 0};
    png_structp png = CreateReadStruct();
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &reader, ReadFromMemory);
    png_read_info(png, info);
    const uint32_t width = png_get_image_width(png, info);
    const uint32_t height = png_get_image_height(png, info);
    const uint16_t bits = BitCountForColourType(png_get_color_type(png, info));
    png_uint_32 res_x = 0, res_y = 0;
    int unit = 0;
    const bool metric = png_get_pHYs(png, info, &res_x, &res_y, &unit) != 0 &&
                        unit == PNG_RESOLUTION_METER;
    png_destroy_read_struct(&png, &info, nullptr);
    if (bits == 0 || width > INT32_MAX || height > INT32_MAX) return false;

    *header = BitmapInfoHeader{};
    header->width = static_cast<int32_t>(width);
    header->height = static_cast<int32_t>(height);
    header->bit_count = bits;
    const int64_t image = RowPitch(width, bits) * int64_t{height};
    header->size_image = image > UINT32_MAX ? 0 : static_cast<uint32_t>(image);
    if (metric) {
        header->x_pels_per_meter = static_cast<int32_t>(res_x);
        header->y_pels_per_meter = static_cast<int32_t>(res_y);
    }
    return true;
}

struct PngDecodeState {
    MemoryReader reader;
    std::unique_ptr<DibBitmap> bitmap;
};

// The transforms that turn the file's pixels into the bitmap's: 8-bit
// samples, blue first, grey without alpha. Returns the bitmap's bit count.
uint16_t SetOutputTransforms(png_structp png, png_infop info) {
    const int colour_type = png_get_color_type(png, info);
    if (png_get_bit_depth(png, info) > 8) png_set_strip_16(png);
    switch (colour_type) {
        case PNG_COLOR_TYPE_RGB_ALPHA:
            png_set_bgr(png);
            return 32;
        case PNG_COLOR_TYPE_PALETTE:
            png_set_palette_to_rgb(png);
            // Expanding a palette also expands its transparency entries into
            // an alpha channel; the bitmap is 24 bits, so that channel goes.
            if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_strip_alpha(png);
            png_set_bgr(png);
            return 24;
        case PNG_COLOR_TYPE_RGB:
            png_set_bgr(png);
            return 24;
        case PNG_COLOR_TYPE_GRAY:
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            if (colour_type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_strip_alpha(png);
            if (png_get_bit_depth(png, info) < 8) png_set_expand_gray_1_2_4_to_8(png);
            return 8;
        default: png_error(png, "unknown colour type");
    }
}

// Out of memory here must not unwind past libpng's structures: it is a
// failed decode like any other (null), and the caller frees the structures.
// Rows read whole fill every pixel byte, so only an interlaced picture, whose
// passes fill rows piece by piece, starts from a cleared bitmap.
std::unique_ptr<DibBitmap> MakeBitmap(uint32_t width, uint32_t height, uint16_t bits, bool interlaced) {
    BitmapInfoHeader header;
    header.width = static_cast<int32_t>(width);
    header.height = static_cast<int32_t>(height);
    header.bit_count = bits;
    header.x_pels_per_meter = header.y_pels_per_meter = kDefaultPixelsPerMetre;
    header.clr_used = bits == 8 ? 256 : 0;
    try {
        std::vector<uint32_t> colours = bits == 8 ? GreyColourTable(8) : std::vector<uint32_t>{};
        return interlaced ? DibBitmap::Create(header, std::move(colours))
                          : DibBitmap::CreateForOverwrite(header, std::move(colours));
    } catch (const std::bad_alloc&) {
        NoteAllocationFailure();
        return nullptr;
    }
}

void ReadRows(png_structp png, png_infop info, DibBitmap& bitmap, uint32_t width, uint32_t height, uint16_t bits) {
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    // libpng writes whole rows of its own idea of the layout: they must be
    // exactly the bitmap's rows, or it would write past them.
    if (png_get_rowbytes(png, info) != std::size_t{width} * (bits / 8)) png_error(png, "unexpected row layout");
    for (int pass = 0; pass < passes; ++pass) {
        for (int32_t i = 0; i < static_cast<int32_t>(height); ++i) {
            CheckRegionForLibrary(bitmap.TopRow(i), png_get_rowbytes(png, info));
            png_read_row(png, bitmap.TopRow(i), nullptr);
        }
    }
    png_read_end(png, nullptr);
}

bool DecodeInto(PngDecodeState* state) {
    png_structp png = CreateReadStruct();
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        state->bitmap.reset();
        return false;
    }
    png_set_read_fn(png, &state->reader, ReadFromMemory);
    png_read_info(png, info);
    const uint32_t width = png_get_image_width(png, info);
    const uint32_t height = png_get_image_height(png, info);
    const uint16_t bits = SetOutputTransforms(png, info);
    if (width > INT32_MAX || height > INT32_MAX) png_error(png, "image too large");
    // Deflate expands at most 1032 times, so the data cannot hold more pixel
    // bytes than about that; refusing before the bitmap is made keeps a few
    // bytes that claim a huge image from allocating and clearing a gigabyte.
    // The factor leaves room for interlaced rows and the headers counted in.
    const uint64_t stored = uint64_t{png_get_rowbytes(png, info)} * height;
    if (stored / 2064 > state->reader.size) png_error(png, "image data too short for its size");
    state->bitmap = MakeBitmap(width, height, bits, png_get_interlace_type(png, info) != PNG_INTERLACE_NONE);
    if (!state->bitmap) png_error(png, "bitmap not created");
    ReadRows(png, info, *state->bitmap, width, height, bits);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

std::unique_ptr<DibBitmap> PngDecode(const uint8_t* data, std::size_t size) {
    if (std::unique_ptr<DibBitmap> bitmap = PngDecodeFast(data, size)) return bitmap;
    PngDecodeState state{{data, size, 0}, nullptr};
    if (!DecodeInto(&state)) return nullptr;
    return std::move(state.bitmap);
}

struct PngWriteState {
    std::FILE* file = nullptr;
    const DibBitmap* bitmap = nullptr;
    std::vector<png_text> texts;
    std::vector<png_bytep> rows;
};

bool WriteFrom(PngWriteState* state) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, state->file);
    const DibBitmap& bitmap = *state->bitmap;
    png_color_8 significant{};
    int colour_type;
    if (bitmap.BitCount() == 8) {
        colour_type = PNG_COLOR_TYPE_GRAY;
        significant.gray = 8;
    } else {
        colour_type = bitmap.BitCount() == 32 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
        significant.red = significant.green = significant.blue = 8;
        significant.alpha = bitmap.BitCount() == 32 ? 8 : 0;
        png_set_bgr(png);
    }
    png_set_IHDR(png, info, static_cast<png_uint_32>(bitmap.Width()),
                 static_cast<png_uint_32>(bitmap.Height()), 8, colour_type, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_sBIT(png, info, &significant);
    png_set_pHYs(png, info, kDefaultPixelsPerMetre, kDefaultPixelsPerMetre, PNG_RESOLUTION_METER);
    if (!state->texts.empty()) {
        for (const png_text& text : state->texts) {
            CheckRegionForLibrary(text.key, std::strlen(text.key) + 1);
            CheckRegionForLibrary(text.text, text.text_length + 1);
        }
        png_set_text(png, info, state->texts.data(), static_cast<int>(state->texts.size()));
    }
    png_write_info(png, info);
    for (png_bytep row : state->rows) CheckRegionForLibrary(row, std::size_t(bitmap.Width()) * bitmap.BitCount() / 8);
    png_write_image(png, state->rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

const ImageCodec& PngImageCodec() {
    static const ImageCodec codec{PngProbe, PngReadHeader, PngDecode};
    return codec;
}

int32_t WritePNG(const std::string& file_name, const DibBitmap& source, const char* texts,
                 uint32_t text_count) {
    const DibBitmap* bitmap = &source;
    std::unique_ptr<DibBitmap> widened;
    if (source.BitCount() == 16) {
        widened = WidenTo24Bits(source);
        if (!widened) return 0;
        bitmap = widened.get();
    } else if (source.BitCount() != 8 && source.BitCount() != 24 && source.BitCount() != 32) {
        return 0;
    }

    PngWriteState state;
    state.bitmap = bitmap;
    const char* p = texts;
    for (uint32_t i = 0; p != nullptr && i < text_count; ++i) {
        png_text text{};
        text.compression = PNG_TEXT_COMPRESSION_NONE;
        text.key = const_cast<char*>(p);
        p += std::strlen(p) + 1;
        text.text = const_cast<char*>(p);
        text.text_length = std::strlen(p);
        p += text.text_length + 1;
        state.texts.push_back(text);
    }
    for (int32_t y = 0; y < bitmap->Height(); ++y) {
        state.rows.push_back(const_cast<png_bytep>(bitmap->TopRow(y)));
    }
    state.file = std::fopen(file_name.c_str(), "wb");
    if (state.file == nullptr) return 0;
    bool ok = WriteFrom(&state);
    ok = std::ferror(state.file) == 0 && ok;
    ok = std::fclose(state.file) == 0 && ok;
    return ok ? 1 : 0;
}
