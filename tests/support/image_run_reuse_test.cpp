// A loader and a surface that decode picture after picture keep their memory
// from one to the next; what they give must never depend on what came before.

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "common/png_writer.h"
#include "support/graphic_loader.h"
#include "support/surface.h"

namespace {

struct Loaded {
    bool ok = false;
    uint32_t format = 0;
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;  // the pixel bytes of every row, no row ends
};

Loaded Load(CPlaneSurface& surface, CGraphicLoader& loader, const std::vector<uint8_t>& file) {
    Loaded result;
    result.ok = surface.LoadMemory("picture", file.data(), file.size(), &loader) != 0;
    if (!result.ok || !surface.Lock()) return result;
    const SurfaceDesc& d = surface.Desc();
    result.format = d.format;
    result.width = d.width;
    result.height = d.height;
    const std::size_t row_bytes = std::size_t(d.width) * PixelFormatBytes(d.format);
    for (int32_t y = 0; y < d.height; ++y) {
        const uint8_t* row = d.bits + std::ptrdiff_t(y) * d.pitch;
        result.pixels.insert(result.pixels.end(), row, row + row_bytes);
    }
    surface.Unlock();
    return result;
}

Loaded LoadFresh(const std::vector<uint8_t>& file) {
    CPlaneSurface surface;
    CGraphicLoader loader;
    return Load(surface, loader, file);
}

void ExpectSame(const Loaded& got, const Loaded& want) {
    ASSERT_TRUE(want.ok);
    ASSERT_TRUE(got.ok);
    EXPECT_EQ(got.format, want.format);
    EXPECT_EQ(got.width, want.width);
    EXPECT_EQ(got.height, want.height);
    EXPECT_TRUE(got.pixels == want.pixels);
}

// Inflatable data made wrong inside a chunk whose CRC still fits, so the
// failure is found only while the pixels are being inflated.
std::vector<uint8_t> WithDamagedData(std::vector<uint8_t> file) {
    std::size_t at = 8;
    while (at + 12 <= file.size()) {
        const uint32_t length = (uint32_t{file[at]} << 24) | (file[at + 1] << 16) | (file[at + 2] << 8) | file[at + 3];
        if (std::memcmp(&file[at + 4], "IDAT", 4) == 0) {
            for (std::size_t i = at + 8 + length / 2; i < at + 8 + length; ++i) file[i] ^= 0x5A;
            const uLong crc = crc32(0, &file[at + 4], length + 4);
            for (int k = 0; k < 4; ++k) file[at + 8 + length + k] = uint8_t(crc >> (24 - 8 * k));
            return file;
        }
        at += length + 12;
    }
    return file;
}

}  // namespace

TEST(ImageRunReuse, PicturesOfChangingSizeAndKindMatchFreshObjects) {
    const PngLayout run[] = {
        {64, 48, PNG_COLOR_TYPE_RGB, 8, 1},        {64, 48, PNG_COLOR_TYPE_RGB, 8, 2},
        {33, 17, PNG_COLOR_TYPE_RGB_ALPHA, 8, 3},  {33, 17, PNG_COLOR_TYPE_RGB, 8, 4},
        {64, 48, PNG_COLOR_TYPE_GRAY, 8, 5},       {101, 7, PNG_COLOR_TYPE_RGB, 16, 6},
        {101, 7, PNG_COLOR_TYPE_RGB_ALPHA, 16, 7}, {5, 90, PNG_COLOR_TYPE_GRAY_ALPHA, 8, 8},
        {64, 48, PNG_COLOR_TYPE_RGB, 8, 9},        {200, 3, PNG_COLOR_TYPE_RGB, 8, 10},
        {64, 48, PNG_COLOR_TYPE_RGB_ALPHA, 8, 11},
    };
    CPlaneSurface surface;
    CGraphicLoader loader;
    for (const PngLayout& p : run) {
        SCOPED_TRACE(testing::Message() << p.width << "x" << p.height << " colour " << p.colour << " depth "
                                        << p.bit_depth);
        const std::vector<uint8_t> file = WritePng(p);
        ExpectSame(Load(surface, loader, file), LoadFresh(file));
    }
}

// A file split into many data chunks is gathered into one buffer kept for
// the next file; a much smaller split file after a large one lets that
// buffer go, and must still be inflated from memory that is there.
TEST(ImageRunReuse, SmallSplitFileAfterALargeOneDecodesWhole) {
    PngLayout large{320, 240, PNG_COLOR_TYPE_RGB, 8, 1};
    large.grain = 40;
    PngLayout small{64, 48, PNG_COLOR_TYPE_RGB_ALPHA, 8, 2};
    small.grain = 40;
    small.idat_size = 1024;
    const std::vector<uint8_t> large_file = WritePng(large);
    const std::vector<uint8_t> small_file = WritePng(small);
    ASSERT_GT(large_file.size(), 2 * small_file.size() + 65536);
    ASSERT_GT(small_file.size(), 3 * small.idat_size);
    CPlaneSurface surface;
    CGraphicLoader loader;
    for (const std::vector<uint8_t>* file : {&large_file, &small_file, &large_file, &small_file})
        ExpectSame(Load(surface, loader, *file), LoadFresh(*file));
}

TEST(ImageRunReuse, DamagedPictureFailsAndTheNextGoodOneIsWhole) {
    const std::vector<uint8_t> first = WritePng({64, 48, PNG_COLOR_TYPE_RGB, 8, 1});
    const std::vector<uint8_t> second = WritePng({64, 48, PNG_COLOR_TYPE_RGB, 8, 2});
    std::vector<uint8_t> truncated = second;
    truncated.resize(truncated.size() / 2);
    std::vector<uint8_t> bad_sum = second;
    bad_sum[bad_sum.size() / 2] ^= 0xFF;
    const std::vector<std::vector<uint8_t>> damaged = {WithDamagedData(second), truncated, bad_sum};
    for (const std::vector<uint8_t>& bad : damaged) {
        CPlaneSurface surface;
        CGraphicLoader loader;
        ASSERT_TRUE(Load(surface, loader, first).ok);
        EXPECT_FALSE(loader.Decode(bad.data(), bad.size()));
        // Nothing of the picture before may stand in for the damaged one.
        int32_t width = -1, height = -1;
        loader.GetSize(&width, &height);
        EXPECT_EQ(width, 0);
        EXPECT_EQ(height, 0);
        EXPECT_EQ(loader.Bitmap(), nullptr);
        ASSERT_TRUE(surface.Lock());
        EXPECT_FALSE(loader.CopyTo(&surface.Desc()));
        surface.Unlock();
        ExpectSame(Load(surface, loader, second), LoadFresh(second));
    }
}

// A 32-bit surface filled straight from a quick-path picture's rows matches
// the picture's bitmap converted the long way.
TEST(ImageRunReuse, BitmapOfADecodedPictureMatchesItsSurface) {
    for (int colour : {PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA}) {
        const std::vector<uint8_t> file = WritePng({37, 11, colour, 8, 3});
        CGraphicLoader loader;
        ASSERT_TRUE(loader.Decode(file.data(), file.size()));
        const DibBitmap* bitmap = loader.Bitmap();
        ASSERT_NE(bitmap, nullptr);
        CPlaneSurface through_bitmap;
        ASSERT_TRUE(through_bitmap.CreateWithFormat(37, 11, PF_X8R8G8B8));
        ASSERT_TRUE(through_bitmap.Lock());
        ASSERT_TRUE(loader.CopyTo(&through_bitmap.Desc()));
        const Loaded quick = LoadFresh(file);
        ASSERT_TRUE(quick.ok);
        const SurfaceDesc& d = through_bitmap.Desc();
        for (int32_t y = 0; y < 11; ++y) {
            ASSERT_EQ(std::memcmp(d.bits + y * d.pitch, &quick.pixels[std::size_t(y) * 37 * 4], 37 * 4), 0);
        }
        through_bitmap.Unlock();
    }
}

// Row ends are not pixels, but a bitmap is written to files as it is: they
// must hold zeros whichever way the picture was decoded, also where the
// memory held another picture just before.
TEST(ImageRunReuse, RowEndsOfDecodedBitmapsAreZero) {
    const PngLayout kinds[] = {{37, 11, PNG_COLOR_TYPE_RGB, 8, 1},
                             {37, 11, PNG_COLOR_TYPE_RGB, 16, 2},
                             {37, 11, PNG_COLOR_TYPE_GRAY, 8, 3},
                             {37, 11, PNG_COLOR_TYPE_GRAY_ALPHA, 16, 4}};
    CGraphicLoader loader;
    for (const PngLayout& p : kinds) {
        SCOPED_TRACE(testing::Message() << "colour " << p.colour << " depth " << p.bit_depth);
        const std::vector<uint8_t> file = WritePng(p);
        for (int round = 0; round < 3; ++round) {
            ASSERT_TRUE(loader.Decode(file.data(), file.size()));
            const DibBitmap* bitmap = loader.Bitmap();
            ASSERT_NE(bitmap, nullptr);
            const std::size_t pixel_bytes = std::size_t(bitmap->Width()) * bitmap->BitCount() / 8;
            ASSERT_LT(pixel_bytes, bitmap->Pitch());
            for (int32_t y = 0; y < bitmap->Height(); ++y) {
                const uint8_t* row = bitmap->TopRow(y);
                for (std::size_t i = pixel_bytes; i < bitmap->Pitch(); ++i) ASSERT_EQ(row[i], 0) << "row " << y;
            }
        }
    }
}
