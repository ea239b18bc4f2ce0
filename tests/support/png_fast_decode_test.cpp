// The quick PNG path must give exactly libpng's pixels, and leave every file
// it does not fully trust to libpng.

#include "support/png_fast_decode.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "common/png_writer.h"
#include "support/image_codec.h"

namespace {

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
