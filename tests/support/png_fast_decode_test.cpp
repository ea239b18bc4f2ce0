// The quick PNG path must give exactly libpng's pixels, and leave every file
// it does not fully trust to libpng.

#include "support/png_fast_decode.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "support/image_codec.h"

namespace {

struct PngLayout {
    uint32_t width = 37;
    uint32_t height = 23;
    int colour = PNG_COLOR_TYPE_RGB;
    int filters = PNG_FILTER_NONE;
    int interlace = PNG_INTERLACE_NONE;
    int bit_depth = 8;
    std::size_t idat_size = 8192;  // the compressed data is split into chunks of this size
    bool text_after_data = false;
};

void Append(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

// Samples that vary in every direction, so every filter has work to do.
std::vector<uint8_t> WritePng(const PngLayout& layout) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, Append, nullptr);
    png_set_IHDR(png, info, layout.width, layout.height, layout.bit_depth, layout.colour, layout.interlace,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, 0, layout.filters);
    png_set_compression_buffer_size(png, layout.idat_size);
    png_write_info(png, info);
    const int channels = layout.colour == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : 3;
    const std::size_t bytes = std::size_t(layout.width) * channels * (layout.bit_depth / 8);
    std::vector<std::vector<uint8_t>> rows(layout.height, std::vector<uint8_t>(bytes));
    std::vector<png_bytep> pointers;
    for (uint32_t y = 0; y < layout.height; ++y) {
        for (std::size_t i = 0; i < bytes; ++i)
            rows[y][i] = uint8_t((i * 29 + y * 53 + (i * y) / 3 + (i % 7) * (y % 5) * 11) & 0xFF);
        pointers.push_back(rows[y].data());
    }
    png_write_image(png, pointers.data());
    if (layout.text_after_data) {
        png_text text{};
        text.compression = PNG_TEXT_COMPRESSION_NONE;
        text.key = const_cast<char*>("Comment");
        text.text = const_cast<char*>("after the data");
        png_set_text(png, info, &text, 1);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

// libpng's own reading of the file, blue first, top row first.
std::vector<uint8_t> ReadWithLibpng(const std::vector<uint8_t>& file, bool alpha) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return {};
    image.format = alpha ? PNG_FORMAT_BGRA : PNG_FORMAT_BGR;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
    return pixels;
}

std::vector<uint8_t> TopDownPixels(const DibBitmap& bitmap, std::size_t row_bytes) {
    std::vector<uint8_t> out;
    for (int32_t y = 0; y < bitmap.Height(); ++y)
        out.insert(out.end(), bitmap.TopRow(y), bitmap.TopRow(y) + row_bytes);
    return out;
}

TEST(PngFastDecode, EveryFilterAndBothColourTypesGiveLibpngsPixels) {
    for (int colour : {PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA}) {
        for (int filters : {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG,
                            PNG_FILTER_PAETH, PNG_ALL_FILTERS}) {
            PngLayout layout;
            layout.colour = colour;
            layout.filters = filters;
            layout.idat_size = 97;  // many IDAT chunks
            layout.text_after_data = filters == PNG_FILTER_PAETH;
            const std::vector<uint8_t> file = WritePng(layout);
            ASSERT_FALSE(file.empty());
            const bool alpha = colour == PNG_COLOR_TYPE_RGB_ALPHA;
            const std::unique_ptr<DibBitmap> bitmap = PngDecodeFast(file.data(), file.size());
            ASSERT_TRUE(bitmap) << colour << " " << filters;
            EXPECT_EQ(bitmap->Width(), int32_t(layout.width));
            EXPECT_EQ(bitmap->Height(), int32_t(layout.height));
            EXPECT_EQ(TopDownPixels(*bitmap, layout.width * (alpha ? 4 : 3)),
                      ReadWithLibpng(file, alpha))
                << colour << " " << filters;
        }
    }
}

TEST(PngFastDecode, OtherLayoutsAreLeftToLibpng) {
    PngLayout interlaced;
    interlaced.interlace = PNG_INTERLACE_ADAM7;
    PngLayout deep;
    deep.bit_depth = 16;
    PngLayout grey;
    grey.colour = PNG_COLOR_TYPE_GRAY;
    for (const PngLayout& layout : {interlaced, deep, grey}) {
        const std::vector<uint8_t> file = WritePng(layout);
        ASSERT_FALSE(file.empty());
        EXPECT_FALSE(PngDecodeFast(file.data(), file.size()));
        EXPECT_TRUE(PngImageCodec().decode(file.data(), file.size()));
    }
}

// A flawed file is declined, and the decoder then fails it as libpng does:
// a damaged byte in the compressed data (the CRC no longer matches), a file
// cut short, a zlib stream whose checksum is wrong under a correct CRC.
TEST(PngFastDecode, FlawedFilesAreDeclinedAndStillRefused) {
    PngLayout layout;
    layout.filters = PNG_FILTER_PAETH;
    const std::vector<uint8_t> good = WritePng(layout);
    ASSERT_TRUE(PngDecodeFast(good.data(), good.size()));

    std::vector<uint8_t> damaged = good;
    damaged[damaged.size() - 30] ^= 0x40;  // inside the last IDAT
    std::vector<uint8_t> cut(good.begin(), good.end() - 20);
    for (const std::vector<uint8_t>* file : {&damaged, &cut}) {
        EXPECT_FALSE(PngDecodeFast(file->data(), file->size()));
        EXPECT_FALSE(PngImageCodec().decode(file->data(), file->size()));
    }

    // The Adler-32 is the last 4 data bytes of the IDAT, before its CRC and
    // the 12-byte IEND; the CRC is made right again.
    std::vector<uint8_t> bad_sum = good;
    const std::size_t crc_at = bad_sum.size() - 12 - 4;
    bad_sum[crc_at - 1] ^= 0x01;
    std::size_t idat = 8;
    while (std::memcmp(bad_sum.data() + idat + 4, "IDAT", 4) != 0) {
        idat += 12 + ((size_t(bad_sum[idat]) << 24) | (size_t(bad_sum[idat + 1]) << 16) |
                      (size_t(bad_sum[idat + 2]) << 8) | bad_sum[idat + 3]);
    }
    const uint32_t crc = uint32_t(crc32(0, bad_sum.data() + idat + 4, uInt(crc_at - idat - 4)));
    for (int k = 0; k < 4; ++k) bad_sum[crc_at + k] = uint8_t(crc >> (24 - 8 * k));
    EXPECT_FALSE(PngDecodeFast(bad_sum.data(), bad_sum.size()));
    EXPECT_FALSE(PngImageCodec().decode(bad_sum.data(), bad_sum.size()));
}

}  // namespace
