#include "pqxlib/pqx_image_codec.h"
#include "pqxlib/pqx_read.h"
#include "pqxlib/pqx_write.h"
#include "support/graphic_loader.h"
#include "support/image_codec.h"
#include "support/surface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace _pqxlib_;

namespace {

// A picture of `bytes` per pixel, rows top first, with smooth gradients, a
// few edges and some noise: something between a photograph and a drawing.
struct Picture {
    uint32_t width, height, bytes;
    std::vector<uint8_t> pixels;

    Picture(uint32_t w, uint32_t h, uint32_t b, uint32_t seed = 7) : width(w), height(h), bytes(b) {
        pixels.resize(std::size_t{w} * h * b);
        std::mt19937 random(seed);
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                uint8_t* p = At(x, y);
                const int edge = (x / 11 + y / 7) % 2 ? 60 : 0;
                const int noise = static_cast<int>(random() % 9) - 4;
                const int values[4] = {static_cast<int>(x * 200 / w) + edge / 2 + noise,
                                       static_cast<int>(y * 180 / h) + 30 + noise,
                                       static_cast<int>((x + y) * 90 / (w + h)) + edge + 40,
                                       static_cast<int>((x * 7 + y * 3) % 256)};
                for (uint32_t c = 0; c < b; ++c) p[c] = static_cast<uint8_t>(std::clamp(values[c], 0, 255));
            }
        }
    }
    uint8_t* At(uint32_t x, uint32_t y) { return &pixels[(std::size_t{y} * width + x) * bytes]; }
    std::vector<uint8_t*> Rows() {
        std::vector<uint8_t*> rows(height);
        for (uint32_t y = 0; y < height; ++y) rows[y] = At(0, y);
        return rows;
    }
};

double Psnr(const Picture& a, const Picture& b, uint32_t first, uint32_t count) {
    double sum = 0;
    std::size_t n = 0;
    for (std::size_t i = 0; i < a.pixels.size(); i += a.bytes) {
        for (uint32_t c = first; c < first + count; ++c, ++n) {
            const double d = double(a.pixels[i + c]) - b.pixels[i + c];
            sum += d * d;
        }
    }
    return sum == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 * n / sum);
}

class PQXTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("rvx_pqx_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const char* name) const { return (dir_ / name).string(); }

    static std::vector<uint8_t> ReadAll(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    // Writes the picture with the format word, reads the file back.
    std::vector<uint8_t> Save(Picture& picture, uint16_t format, const char* name = "p.pqx") {
        CPQXWrite writer;
        EXPECT_EQ(writer.SetPicture(picture.width, picture.height, format), 1);
        auto rows = picture.Rows();
        std::vector<const uint8_t*> const_rows(rows.begin(), rows.end());
        writer.SetRows(const_rows.data());
        writer.SetResolution(3780, 3780);
        EXPECT_EQ(writer.Save(Path(name)), 1);
        return ReadAll(Path(name));
    }

    static bool Decode(const std::vector<uint8_t>& file, Picture& out) {
        CPQXRead reader;
        if (!reader.Check(file.data(), file.size())) return false;
        auto rows = out.Rows();
        reader.SetRows(rows.data());
        return reader.Decode() == 1;
    }

    fs::path dir_;
};

TEST_F(PQXTest, ByteCodeMethodsRestorePicturesExactly) {
    for (uint16_t method : {kMethodNull, kMethodDiff}) {
        for (uint32_t bytes : {3u, 4u}) {
            SCOPED_TRACE(testing::Message() << std::hex << method << " bytes " << bytes);
            Picture picture(37, 21, bytes);
            const uint16_t format = static_cast<uint16_t>(method | 9 | (bytes == 4 ? kAlpha8 : 0));
            const std::vector<uint8_t> file = Save(picture, format);
            EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "PQXF");
            Picture back(37, 21, bytes, 99);
            ASSERT_TRUE(Decode(file, back));
            EXPECT_EQ(back.pixels, picture.pixels);
        }
    }
}

TEST_F(PQXTest, TransformMethodsStayCloseToThePictureAndKeepAlphaExact) {
    struct Expectation {
        uint16_t method;
        double min_psnr;
    } methods[] = {{kMethodHadamard, 40}, {0x8400, 34}, {kMethodDctHigh, 34},
                   {kMethodIntDct4, 29}, {kMethodFltDct8, 28}, {kMethodIntDct8, 28}};
    for (const Expectation& e : methods) {
        Picture picture(64, 48, 4);
        const std::vector<uint8_t> file = Save(picture, static_cast<uint16_t>(e.method | kAlpha8 | 9));
        Picture back(64, 48, 4, 3);
        ASSERT_TRUE(Decode(file, back));
        const double psnr = Psnr(picture, back, 0, 3);
        std::printf("method 0x%04X: colour PSNR %.2f dB, %zu bytes\n", e.method, psnr, file.size());
        EXPECT_GE(psnr, e.min_psnr) << std::hex << e.method;
        EXPECT_TRUE(std::isinf(Psnr(picture, back, 3, 1))) << "alpha of method " << std::hex << e.method;
    }
}

TEST_F(PQXTest, HeaderRecordsSizesFormatAndTrailer) {
    Picture picture(9, 9, 3);
    CPQXWrite writer;
    ASSERT_EQ(writer.SetPicture(9, 9, kMethodDiff | 9), 1);
    auto rows = picture.Rows();
    std::vector<const uint8_t*> const_rows(rows.begin(), rows.end());
    writer.SetRows(const_rows.data());
    const char trailer[] = "trailer!";
    writer.SetTrailer(trailer, 8);
    ASSERT_EQ(writer.Save(Path("t.pqx")), 1);
    const std::vector<uint8_t> file = ReadAll(Path("t.pqx"));
    CPQXRead reader;
    ASSERT_EQ(reader.Check(file.data(), file.size()), 1);
    EXPECT_EQ(reader.Header().size + 8, file.size());
    EXPECT_EQ(reader.Header().bits, 24);
    EXPECT_EQ(reader.Header().format, kMethodDiff | 9);
    uint32_t size = 0;
    const uint8_t* bytes = reader.Trailer(&size);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), size), "trailer!");
    // The coded data ends in 16 zero bits.
    EXPECT_EQ(file[reader.Header().size - 1], 0);
    EXPECT_EQ(file[reader.Header().size - 2], 0);
    Picture back(9, 9, 3, 5);
    ASSERT_TRUE(Decode(file, back));
    EXPECT_EQ(back.pixels, picture.pixels);
}

TEST_F(PQXTest, SmallPicturesRepeatTheirEdgesAndDecodeOnlyTheirPixels) {
    Picture one(1, 1, 3);
    const std::vector<uint8_t> file = Save(one, kMethodDiff | 9);
    // One block of a repeated pixel leaves one difference per channel and the
    // end code: the whole picture codes in a few bytes.
    EXPECT_LE(file.size(), 48u + 16u);
    // The decoder must not touch bytes beyond the picture's own pixels.
    std::vector<uint8_t> guarded(3 + 16, 0xEE);
    uint8_t* row = guarded.data();
    CPQXRead reader;
    ASSERT_EQ(reader.Check(file.data(), file.size()), 1);
    reader.SetRows(&row);
    ASSERT_EQ(reader.Decode(), 1);
    EXPECT_EQ(std::vector<uint8_t>(guarded.begin(), guarded.begin() + 3), one.pixels);
    for (std::size_t i = 3; i < guarded.size(); ++i) EXPECT_EQ(guarded[i], 0xEE);
}

TEST_F(PQXTest, TransparentAlphaCodesAsOneEndCodePerBlock) {
    Picture clear(16, 8, 4), opaque(16, 8, 4);
    for (std::size_t i = 3; i < clear.pixels.size(); i += 4) clear.pixels[i] = 0;
    const std::size_t with_zero = Save(clear, kMethodDiff | kAlpha8 | 9, "a.pqx").size();
    Picture colour_only(16, 8, 3);
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 16; ++x) std::copy_n(clear.At(x, y), 3, colour_only.At(x, y));
    const std::size_t without = Save(colour_only, kMethodDiff | 9, "b.pqx").size();
    // Two blocks, 19 bits each, on top of the colour: 38 bits, 4 or 5 bytes.
    EXPECT_GE(with_zero - without, 4u);
    EXPECT_LE(with_zero - without, 5u);
}

TEST_F(PQXTest, SinglePlanesCodeFourBlocksPerGroup) {
    // 5 blocks in a row: two groups, the second with three empty blocks.
    Picture plane(40, 8, 1);
    for (uint16_t method : {kMethodNull, kMethodDiff, kMethodDctHigh}) {
        const std::vector<uint8_t> file = Save(plane, static_cast<uint16_t>(method | kAlpha8));
        CPQXRead reader;
        ASSERT_EQ(reader.Check(file.data(), file.size()), 1);
        EXPECT_EQ(reader.Header().bits, 8);
        // Every method but the byte-code ones is stored as differences.
        EXPECT_EQ(FormatMethod(reader.Header().format), method == kMethodNull ? kMethodNull : kMethodDiff);
        Picture back(40, 8, 1, 2);
        ASSERT_TRUE(Decode(file, back));
        EXPECT_EQ(back.pixels, plane.pixels);
    }
}

TEST_F(PQXTest, UnknownMethodsAreStoredAsTheMethodActuallyUsed) {
    Picture picture(20, 12, 3);
    const std::vector<uint8_t> file = Save(picture, 0xF000 | 9);
    CPQXRead reader;
    ASSERT_EQ(reader.Check(file.data(), file.size()), 1);
    EXPECT_EQ(FormatMethod(reader.Header().format), kMethodDiff);
    Picture back(20, 12, 3, 1);
    ASSERT_TRUE(Decode(file, back));
    EXPECT_EQ(back.pixels, picture.pixels);
    CPQXWrite writer;
    EXPECT_EQ(writer.SetPicture(4, 4, kMethodDiff | 5), 0);  // 8-bit colour is not read
    EXPECT_EQ(writer.Save(Path("empty.pqx")), 0);
    EXPECT_FALSE(fs::exists(Path("empty.pqx")));
}

TEST_F(PQXTest, CheckRefusesHeadersTheDataCannotBackUp) {
    Picture picture(16, 16, 3);
    const std::vector<uint8_t> good = Save(picture, kMethodDctHigh | 9);
    CPQXRead reader;
    EXPECT_EQ(reader.Check(good.data(), 47), 0);
    EXPECT_EQ(reader.Check(good.data(), good.size() - 1), 0);  // shorter than the size field
    auto patched = [&](std::size_t at, uint32_t value, int bytes) {
        std::vector<uint8_t> bad = good;
        for (int i = 0; i < bytes; ++i) bad[at + i] = static_cast<uint8_t>(value >> (8 * i));
        return reader.Check(bad.data(), bad.size());
    };
    EXPECT_EQ(patched(0, 0x46585151, 4), 0);  // "QQXF"
    EXPECT_EQ(patched(8, 0x7FFFFFFF, 4), 0);  // far more blocks than the data holds
    EXPECT_EQ(patched(12, 100000, 4), 0);
    EXPECT_EQ(patched(8, 0, 4), 0);
    EXPECT_EQ(patched(16, 32, 2), 0);         // bits disagree with the format word
    EXPECT_EQ(patched(18, 0xA005, 2), 0);     // 8-bit colour
    EXPECT_EQ(patched(18, 0x1409, 2), 0);     // no such method
    EXPECT_EQ(reader.Header().width, 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reader.Header().magic), 4), "PQXF");
    EXPECT_EQ(reader.Check(good.data(), good.size()), 1);
}

TEST_F(PQXTest, DamagedFilesFailCleanly) {
    std::mt19937 random(77);
    for (uint16_t format : {uint16_t(kMethodDiff | kAlpha8 | 9), uint16_t(kMethodDctHigh | kAlpha8 | 9),
                            uint16_t(kMethodNull | kAlpha8)}) {
        Picture picture(24, 17, (format & 0xF) ? 4 : 1);
        const std::vector<uint8_t> good = Save(picture, format);
        // Cutting the coded data short must be noticed.
        for (std::size_t keep = 49; keep < good.size() - 2; keep += 3) {
            std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(keep));
            for (int i = 0; i < 4; ++i) cut[4 + i] = static_cast<uint8_t>(keep >> (8 * i));
            Picture back(24, 17, picture.bytes, 1);
            EXPECT_FALSE(Decode(cut, back)) << std::hex << format << " kept " << std::dec << keep;
        }
        for (int i = 0; i < 400; ++i) {
            std::vector<uint8_t> bad = good;
            for (int flips = 1 + i % 3; flips > 0; --flips) {
                bad[48 + random() % (bad.size() - 48)] ^= static_cast<uint8_t>(1u << (random() % 8));
            }
            Picture back(24, 17, picture.bytes, 1);
            Decode(bad, back);
        }
    }
}

TEST_F(PQXTest, SurfacesSaveAndLoadThroughTheGraphicLoader) {
    CGraphicLoader loader;
    CPlaneSurface surface;
    ASSERT_EQ(surface.CreateWithFormat(30, 20, PF_A8R8G8B8), 1);
    ASSERT_EQ(surface.Fill(0x80C06040, nullptr), 1);
    const SurfaceRect corner{0, 0, 10, 10};
    ASSERT_EQ(surface.Fill(0xFF2040E0, &corner), 1);

    SetStillImageCodec(nullptr);
    EXPECT_EQ(surface.SavePQX(Path("s.pqx"), nullptr, 0), 0);
    InstallPQXImageCodec();
    ASSERT_EQ(surface.SavePQX(Path("s.pqx"), "extra", 5), 1);
    const std::vector<uint8_t> file = ReadAll(Path("s.pqx"));
    EXPECT_EQ(file[18] | (file[19] << 8), 0xA019);

    CPlaneSurface back;
    ASSERT_EQ(back.LoadFile(Path("s.pqx"), &loader), 1);
    EXPECT_EQ(back.GetFormat(), uint32_t{PF_A8R8G8B8});
    for (auto [x, y, want] : {std::tuple{2, 3, 0xFF2040E0u}, {25, 15, 0x80C06040u}}) {
        uint32_t argb = 0;
        ASSERT_EQ(back.GetPixel(x, y, &argb, nullptr), 1);
        EXPECT_EQ(argb >> 24, want >> 24);
        for (int shift = 0; shift < 24; shift += 8) {
            EXPECT_NEAR(int((argb >> shift) & 0xFF), int((want >> shift) & 0xFF), 3);
        }
    }

    if (fs::exists("/dev/full")) {
        EXPECT_EQ(surface.SavePQX("/dev/full", nullptr, 0), 0);
    }

    CPlaneSurface mask;
    ASSERT_EQ(mask.CreateWithFormat(17, 9, PF_A8), 1);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 17; ++x) mask.Desc().bits[y * mask.Desc().pitch + x] = uint8_t(x * 15 + y);
    ASSERT_EQ(mask.SavePQX(Path("m.pqx"), nullptr, 0), 1);
    ASSERT_EQ(back.LoadFile(Path("m.pqx"), &loader), 1);
    ASSERT_EQ(back.GetFormat(), uint32_t{PF_A8});
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 17; ++x) {
            uint32_t argb = 0;
            back.GetPixel(x, y, &argb, nullptr);
            ASSERT_EQ(argb >> 24, uint32_t(uint8_t(x * 15 + y)));
        }
    }
}

}  // namespace
