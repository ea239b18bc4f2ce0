#include "support/graphic_loader.h"
#include "support/surface.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The formulas of tests/data/make_image_samples.py.
constexpr int W = 13, H = 11;
uint8_t Red(int x, int y) { return static_cast<uint8_t>(x * 19 + y * 7); }
uint8_t Green(int x, int y) { return static_cast<uint8_t>(x * 5 + y * 23 + 40); }
uint8_t Blue(int x, int y) { return static_cast<uint8_t>(x * y * 3 + 11); }
uint8_t Alpha(int x, int y) { return static_cast<uint8_t>(x * 29 + y * 13 + 1); }
uint8_t Grey(int x, int y) { return static_cast<uint8_t>(x * 17 + y * 9); }
uint32_t Rgb(int x, int y) { return (uint32_t{Red(x, y)} << 16) | (Green(x, y) << 8) | Blue(x, y); }
uint32_t PaletteColour(int x, int y) {
    const uint32_t i = (x + 3 * y) % 16;
    return ((i * 16) << 16) | ((255 - i * 16) << 8) | (i * 7);
}

std::vector<uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

class GraphicLoaderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("rvx_images_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        const std::string command = "python3 " RVX_SOURCE_DIR "/tests/data/make_image_samples.py " +
                                    dir_.string();
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }

    static std::string Sample(const char* name) { return (dir_ / name).string(); }

    // Loads into a fresh surface with the default formats.
    bool Load(const char* name) { return surface_.LoadFile(Sample(name), &loader_) == 1; }

    uint32_t Pixel(int x, int y) {
        uint32_t argb = 0;
        EXPECT_EQ(surface_.GetPixel(x, y, &argb, nullptr), 1);
        return argb;
    }

    static inline fs::path dir_;
    CGraphicLoader loader_;
    CPlaneSurface surface_;
};

TEST_F(GraphicLoaderTest, GreyPngsBecomeAlphaMasksOfTheGreyLevels) {
    for (const char* name : {"grey8.png", "grey_alpha.png", "grey16.png"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(Load(name));
        ASSERT_EQ(surface_.GetFormat(), uint32_t{PF_A8});
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) ASSERT_EQ(Pixel(x, y), uint32_t{Grey(x, y)} << 24);
        }
    }
    ASSERT_TRUE(Load("grey4.png"));
    EXPECT_EQ(Pixel(3, 5), uint32_t{((3 + 5) % 16) * 17} << 24);
    EXPECT_EQ(surface_.SourceName(), Sample("grey4.png"));
}

TEST_F(GraphicLoaderTest, PalettePngsExpandToOpaqueColour) {
    for (const char* name : {"palette.png", "palette4.png", "palette_trns.png"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(Load(name));
        ASSERT_EQ(surface_.GetFormat(), uint32_t{PF_X8R8G8B8});
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) ASSERT_EQ(Pixel(x, y), 0xFF000000u | PaletteColour(x, y));
        }
    }
}

TEST_F(GraphicLoaderTest, TrueColourPngsKeepTheirSamplesAndAlpha) {
    for (const char* name : {"rgb.png", "rgb_interlaced.png", "rgb16.png"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(Load(name));
        ASSERT_EQ(surface_.GetFormat(), uint32_t{PF_X8R8G8B8});
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) ASSERT_EQ(Pixel(x, y), 0xFF000000u | Rgb(x, y));
        }
    }
    for (const char* name : {"rgba.png", "rgba_interlaced.png"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(Load(name));
        ASSERT_EQ(surface_.GetFormat(), uint32_t{PF_A8R8G8B8});
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) ASSERT_EQ(Pixel(x, y), (uint32_t{Alpha(x, y)} << 24) | Rgb(x, y));
        }
    }
}

TEST_F(GraphicLoaderTest, BmpFilesOfEightAndMoreBitsLoadTheRightWayUp) {
    ASSERT_TRUE(Load("grey8.bmp"));
    EXPECT_EQ(surface_.GetFormat(), uint32_t{PF_A8});
    EXPECT_EQ(Pixel(12, 0), uint32_t{Grey(12, 0)} << 24);
    EXPECT_EQ(Pixel(0, 10), uint32_t{Grey(0, 10)} << 24);
    for (const char* name : {"rgb24.bmp", "rgb24_top_down.bmp"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(Load(name));
        ASSERT_EQ(surface_.GetFormat(), uint32_t{PF_X8R8G8B8});
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) ASSERT_EQ(Pixel(x, y), 0xFF000000u | Rgb(x, y));
        }
    }
    ASSERT_TRUE(Load("rgba32.bmp"));
    EXPECT_EQ(Pixel(7, 3), (uint32_t{Alpha(7, 3)} << 24) | Rgb(7, 3));
    // Plain 16-bit files hold 5-5-5 pixels.
    ASSERT_TRUE(Load("rgb555.bmp"));
    const uint32_t expected = 0xFF000000u | ((Red(5, 6) & 0xF8u) << 16) | ((Green(5, 6) & 0xF8u) << 8) |
                              (Blue(5, 6) & 0xF8u);
    EXPECT_EQ(Pixel(5, 6), expected);
}

TEST_F(GraphicLoaderTest, BmpFilesBelowEightBitsDecodeButDoNotLoad) {
    for (const char* name : {"grey4.bmp", "mono1.bmp"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(loader_.LoadFile(Sample(name)), 1);
        EXPECT_EQ(loader_.Bitmap()->BitCount(), std::string(name) == "mono1.bmp" ? 1u : 4u);
        EXPECT_FALSE(Load(name));
    }
}

TEST_F(GraphicLoaderTest, SignaturesNeedTheirMinimumSizes) {
    std::vector<uint8_t> bmp = ReadAll(Sample("rgb24.bmp"));
    EXPECT_EQ(loader_.Decode(bmp.data(), 53), 0);
    std::vector<uint8_t> png = ReadAll(Sample("rgb.png"));
    EXPECT_EQ(loader_.Decode(png.data(), 7), 0);
    EXPECT_EQ(loader_.Decode(png.data(), png.size()), 1);
    EXPECT_EQ(loader_.LoadFile(Sample("missing.png")), 0);
}

TEST_F(GraphicLoaderTest, BmpHeadersClaimingMoreThanTheFileHoldsAreRefused) {
    const std::vector<uint8_t> good = ReadAll(Sample("grey8.bmp"));
    auto put32 = [](std::vector<uint8_t>& b, std::size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    struct Case {
        const char* what;
        std::size_t at;
        uint32_t value;
    } cases[] = {
        {"huge width", 18, 0x7FFFFFFF},      {"huge height", 22, 0x40000000},
        {"most negative height", 22, 0x80000000}, {"pixels past the end", 10, 0xFFFFFF00},
        {"header past the end", 14, 0xFFFFFFF0},
        {"compressed", 30, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bad = good;
        put32(bad, c.at, c.value);
        EXPECT_EQ(loader_.Decode(bad.data(), bad.size()), 0);
    }
    // Colour counts above the depth are read as the full table.
    std::vector<uint8_t> many = good;
    put32(many, 46, 300);
    EXPECT_EQ(loader_.Decode(many.data(), many.size()), 1);
    // Pixels that fit, behind a colour table that runs past the end.
    std::vector<uint8_t> short_table(good.begin(), good.begin() + 54 + 200);
    put32(short_table, 10, 54);
    EXPECT_EQ(loader_.Decode(short_table.data(), short_table.size()), 0);
    std::vector<uint8_t> cut(good.begin(), good.end() - 20);
    EXPECT_EQ(loader_.Decode(cut.data(), cut.size()), 0);
}

// 1-bit rows whose last byte is partial: the row still takes that byte, so
// seven pixels make one byte of row and 33 pixels five, padded to 4 and 8.
TEST_F(GraphicLoaderTest, OneBitRowsKeepTheirLastPartialByte) {
    for (int32_t width : {7, 33}) {
        SCOPED_TRACE(width);
        const uint32_t pitch = width == 7 ? 4 : 8;
        const uint32_t pixel_offset = 14 + 40 + 8;
        std::vector<uint8_t> file(pixel_offset + 2 * pitch, 0);
        auto put = [&](std::size_t at, uint32_t v, int bytes) {
            for (int i = 0; i < bytes; ++i) file[at + i] = static_cast<uint8_t>(v >> (8 * i));
        };
        file[0] = 'B';
        file[1] = 'M';
        put(2, static_cast<uint32_t>(file.size()), 4);
        put(10, pixel_offset, 4);
        put(14, 40, 4);
        put(18, static_cast<uint32_t>(width), 4);
        put(22, 2, 4);
        put(26, 1, 2);
        put(28, 1, 2);
        put(54 + 4, 0xFFFFFF, 4);   // colour 1 white after colour 0 black
        for (uint32_t i = 0; i < 2 * pitch; ++i) file[pixel_offset + i] = static_cast<uint8_t>(0x5A + 17 * i);
        ASSERT_EQ(loader_.Decode(file.data(), file.size()), 1);
        const DibBitmap* bitmap = loader_.Bitmap();
        ASSERT_EQ(bitmap->Width(), width);
        const uint32_t row_bytes = (static_cast<uint32_t>(width) + 7) / 8;
        for (int32_t y = 0; y < 2; ++y) {
            // Stored bottom-up: the file's first row is the bottom one.
            const uint8_t* stored = &file[pixel_offset + (1 - y) * pitch];
            EXPECT_EQ(std::vector<uint8_t>(bitmap->TopRow(y), bitmap->TopRow(y) + row_bytes),
                      std::vector<uint8_t>(stored, stored + row_bytes));
        }
        // A file one byte short of the last row's bytes is truncated.
        file.resize(pixel_offset + pitch + row_bytes - 1);
        put(2, static_cast<uint32_t>(file.size()), 4);
        EXPECT_EQ(loader_.Decode(file.data(), file.size()), 0);
    }
}

// Width and height whose product of pitch and rows passes 64 bits.
TEST_F(GraphicLoaderTest, BmpSizesBeyondSixtyFourBitsAreRefused) {
    std::vector<uint8_t> bmp = ReadAll(Sample("rgba32.bmp"));
    auto put32 = [&](std::size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put32(18, 0x7FFFFFFF);
    put32(22, 0x7FFFFFFF);
    EXPECT_EQ(loader_.Decode(bmp.data(), bmp.size()), 0);
    put32(22, 0x80000001);   // the same, top-down
    EXPECT_EQ(loader_.Decode(bmp.data(), bmp.size()), 0);
}

// A PNG of a few dozen bytes that claims 16000 x 16000 pixels cannot hold
// them: deflate expands at most about a thousand times. It is refused before
// a gigabyte bitmap is made and cleared.
TEST_F(GraphicLoaderTest, PngsTooShortForTheirSizeAreRefusedWithoutTheBitmap) {
    // Signature, IHDR 16000 x 16000 RGBA, IDAT of a zlib stream of 100 zeros, IEND.
    const std::vector<uint8_t> png = {
        0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52,
        0x00, 0x00, 0x3e, 0x80, 0x00, 0x00, 0x3e, 0x80, 0x08, 0x06, 0x00, 0x00, 0x00, 0x41, 0x7e, 0xdf,
        0xde, 0x00, 0x00, 0x00, 0x0c, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0x60, 0xa0, 0x3d, 0x00,
        0x00, 0x00, 0x64, 0x00, 0x01, 0x86, 0x64, 0x3c, 0x35, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e,
        0x44, 0xae, 0x42, 0x60, 0x82};
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    EXPECT_EQ(loader_.Decode(png.data(), png.size()), 0);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256 * 1024) << "kilobytes of peak memory added";
}

TEST_F(GraphicLoaderTest, SavedBmpAndPngFilesReadBackIdentically) {
    ASSERT_TRUE(Load("rgba.png"));
    const std::string bmp = (dir_ / "saved32.bmp").string();
    ASSERT_EQ(surface_.SaveBMP(bmp), 1);
    std::vector<uint8_t> bytes = ReadAll(bmp);
    ASSERT_GE(bytes.size(), 54u);
    EXPECT_EQ(bytes[10] | (bytes[11] << 8), 54);
    EXPECT_EQ(bytes[28], 32);
    // Bottom row first.
    EXPECT_EQ(bytes[54], Blue(0, H - 1));
    EXPECT_EQ(bytes[57], Alpha(0, H - 1));

    CPlaneSurface back;
    ASSERT_EQ(back.LoadFile(bmp, &loader_), 1);
    const std::string png = (dir_ / "saved32.png").string();
    const char texts[] = "Title\0A\0Author\0B";
    ASSERT_EQ(back.SavePNG(png, texts, 2), 1);
    CPlaneSurface again;
    ASSERT_EQ(again.LoadFile(png, &loader_), 1);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            uint32_t a = 0, b = 0;
            surface_.GetPixel(x, y, &a, nullptr);
            again.GetPixel(x, y, &b, nullptr);
            ASSERT_EQ(a, b);
        }
    }
    const std::string text(reinterpret_cast<const char*>(ReadAll(png).data()), ReadAll(png).size());
    const std::size_t title = text.find(std::string("tEXtTitle\0A", 11));
    const std::size_t author = text.find(std::string("tEXtAuthor\0B", 12));
    ASSERT_NE(title, std::string::npos);
    ASSERT_NE(author, std::string::npos);
    EXPECT_LT(title, author);
}

TEST_F(GraphicLoaderTest, SavedMasksAreEightBitGreyFiles) {
    ASSERT_TRUE(Load("grey8.png"));
    const std::string bmp = (dir_ / "mask.bmp").string();
    ASSERT_EQ(surface_.SaveBMP(bmp), 1);
    const std::vector<uint8_t> bytes = ReadAll(bmp);
    EXPECT_EQ(bytes[10] | (bytes[11] << 8), 1078);
    EXPECT_EQ(bytes[28], 8);
    EXPECT_EQ(bytes[54 + 4 * 200], 200);
    CPlaneSurface back;
    ASSERT_EQ(back.LoadFile(bmp, &loader_), 1);
    uint32_t argb = 0;
    back.GetPixel(4, 9, &argb, nullptr);
    EXPECT_EQ(argb, uint32_t{Grey(4, 9)} << 24);
    EXPECT_EQ(surface_.SaveBMP((dir_ / "no/such/dir.bmp").string()), 0);
    CPlaneSurface empty;
    EXPECT_EQ(empty.SavePNG((dir_ / "empty.png").string(), nullptr, 0), 0);
}

TEST_F(GraphicLoaderTest, WriteErrorsAreReportedAsFailures) {
    ASSERT_TRUE(Load("rgb.png"));
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    EXPECT_EQ(surface_.SaveBMP("/dev/full"), 0);
    EXPECT_EQ(surface_.SavePNG("/dev/full", nullptr, 0), 0);
}

TEST_F(GraphicLoaderTest, CopyToRefusesWhatItCannotConvertAndStaysInsideTheSurface) {
    // Surfaces of a format the rows have no conversion to do not load.
    surface_.SetDefaultFormats(PF_X4R4G4B4, PF_A4R4G4B4);
    EXPECT_FALSE(Load("rgb.png"));
    surface_.SetDefaultFormats(PF_X8R8G8B8, PF_A8R8G8B8);

    ASSERT_EQ(loader_.LoadFile(Sample("rgba.png")), 1);
    CPlaneSurface small;
    ASSERT_EQ(small.CreateWithFormat(4, 3, PF_A8R8G8B8), 1);
    ASSERT_EQ(loader_.CopyTo(&small.Desc()), 1);
    uint32_t argb = 0;
    small.GetPixel(3, 2, &argb, nullptr);
    EXPECT_EQ(argb, (uint32_t{Alpha(3, 2)} << 24) | Rgb(3, 2));
    CPlaneSurface mask;
    ASSERT_EQ(mask.CreateWithFormat(4, 3, PF_A8), 1);
    EXPECT_EQ(loader_.CopyTo(&mask.Desc()), 0);
}

// Counts the files a custom reader opened, delegating to the platform's.
int g_opens = 0;
FileHandle CountingOpen(const char* name, uint32_t access, uint32_t share, uint32_t disposition) {
    ++g_opens;
    return PlatformFileReader().open(name, access, share, disposition);
}

TEST_F(GraphicLoaderTest, AnInstalledFileReaderServesOneLoadAndTheSurfaceKeepsIt) {
    FileReaderTable counting = PlatformFileReader();
    counting.open = CountingOpen;
    g_opens = 0;
    ASSERT_EQ(surface_.LoadFileWithReader(Sample("rgb.png"), &counting, &loader_), 1);
    EXPECT_EQ(g_opens, 1);
    EXPECT_EQ(surface_.FileReader().open, &CountingOpen);
    FileReaderTable now;
    loader_.GetFileReader(&now);
    EXPECT_EQ(now.open, PlatformFileReader().open);
    EXPECT_EQ(loader_.Bitmap(), nullptr);  // freed once adopted
}

TEST_F(GraphicLoaderTest, DamagedImagesNeverCrashTheLoader) {
    std::mt19937 random(1234);
    for (const char* name : {"rgb.png", "rgba_interlaced.png", "palette_trns.png", "grey4.png",
                             "rgb24.bmp", "rgb555.bmp", "grey8.bmp"}) {
        const std::vector<uint8_t> good = ReadAll(Sample(name));
        for (std::size_t cut = 0; cut < good.size(); cut += 1 + cut / 8) {
            std::vector<uint8_t> part(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
            if (loader_.Decode(part.data(), part.size())) surface_.AdoptImage(name, &loader_);
        }
        for (int i = 0; i < 300; ++i) {
            std::vector<uint8_t> bad = good;
            for (int flips = 1 + i % 4; flips > 0; --flips) {
                bad[random() % bad.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
            }
            if (loader_.Decode(bad.data(), bad.size())) surface_.AdoptImage(name, &loader_);
        }
    }
    SUCCEED();
}

}  // namespace
