// BMP files as other programs write them, compared pixel by pixel with what
// the ffmpeg program decodes from the same files.

#include "support/graphic_loader.h"
#include "support/pixel_format.h"
#include "support/surface.h"

#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "common/test_movies.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int W = 13, H = 11;  // the sample script's size

// The file decoded by ffmpeg as B, G, R, A bytes, top row first.
std::vector<uint8_t> FfmpegPixels(const std::string& path) {
    const std::string command = "ffmpeg -hide_banner -nostdin -loglevel error -i " + ShellQuoted(path) +
                                " -f rawvideo -pix_fmt bgra -";
    std::vector<uint8_t> out;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    uint8_t buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.insert(out.end(), buffer, buffer + got);
    ::pclose(pipe);
    return out;
}

class BmpLayoutTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir("bmp");
        const std::string command =
            "python3 " RVX_SOURCE_DIR "/tests/data/make_image_samples.py " + dir_->path().string();
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }

    // Loads the sample and checks every pixel against ffmpeg's, keeping the
    // top bits of each channel named by `mask` (0xFFFFFFFF: all of them).
    void ExpectSameAsFfmpeg(const char* name, uint32_t mask = 0xFFFFFFFFu) {
        SCOPED_TRACE(name);
        const std::string path = *dir_ / name;
        ASSERT_EQ(surface_.LoadFile(path, &loader_), 1) << loader_.FailureReason();
        const std::vector<uint8_t> reference = FfmpegPixels(path);
        ASSERT_EQ(reference.size(), std::size_t{W} * H * 4);
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) {
                const uint8_t* p = &reference[(std::size_t{W} * y + x) * 4];
                const uint32_t want = (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
                uint32_t got = 0;
                ASSERT_EQ(surface_.GetPixel(x, y, &got, nullptr), 1);
                ASSERT_EQ(got & mask, want & mask) << "at " << x << "," << y;
            }
        }
    }

    static inline TempDir* dir_ = nullptr;
    CGraphicLoader loader_;
    CPlaneSurface surface_;
};

TEST_F(BmpLayoutTest, PalettesOtherThanTheIdentityGreyRampShowTheirColours) {
    if (!HaveFfmpegProgram()) GTEST_SKIP() << "no ffmpeg program";
    for (const char* name : {"palette8.bmp", "palette8_full.bmp", "palette8_top_down.bmp", "grey8_inverted.bmp",
                             "v4_palette8.bmp"}) {
        ExpectSameAsFfmpeg(name);
        EXPECT_EQ(surface_.GetFormat(), uint32_t{PF_X8R8G8B8}) << name;
    }
    // Numbered grey runs rely on identity ramps staying one grey byte per pixel.
    ASSERT_EQ(surface_.LoadFile(*dir_ / "grey8.bmp", &loader_), 1);
    EXPECT_EQ(surface_.GetFormat(), uint32_t{PF_A8});
}

TEST_F(BmpLayoutTest, LongerHeadersDecodeLikeTheirFortyByteTwins) {
    if (!HaveFfmpegProgram()) GTEST_SKIP() << "no ffmpeg program";
    ExpectSameAsFfmpeg("v4_rgb24.bmp");
    ExpectSameAsFfmpeg("v5_rgb24.bmp");
}

TEST_F(BmpLayoutTest, BitFieldMasksOfTheCommonLayoutsAreHonoured) {
    if (!HaveFfmpegProgram()) GTEST_SKIP() << "no ffmpeg program";
    // Five- and six-bit channels: the loader keeps the file's bits, ffmpeg
    // may fill the low ones in.
    ExpectSameAsFfmpeg("bitfields565.bmp", 0xFFF8FCF8u);
    ExpectSameAsFfmpeg("v5_bitfields565.bmp", 0xFFF8FCF8u);
    ExpectSameAsFfmpeg("bitfields555.bmp", 0xFFF8F8F8u);
    // A mask without alpha makes the noise in the fourth byte opaque.
    ExpectSameAsFfmpeg("bitfields888.bmp");
    ExpectSameAsFfmpeg("v4_bitfields888.bmp");
    ExpectSameAsFfmpeg("v5_bitfields8888.bmp");
    EXPECT_EQ(surface_.GetFormat(), uint32_t{PF_A8R8G8B8});
}

TEST_F(BmpLayoutTest, UnsupportedKindsAreRefusedWithTheirReason) {
    const std::pair<const char*, const char*> cases[] = {
        {"refused_os2.bmp", "OS/2"},
        {"refused_rle8.bmp", "run-length"},
        {"refused_jpeg.bmp", "JPEG"},
        {"refused_bitfields_rgb.bmp", "bit-field masks"},
    };
    for (const auto& [name, reason] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(loader_.LoadFile(*dir_ / name), 0);
        EXPECT_NE(loader_.FailureReason().find(reason), std::string::npos) << loader_.FailureReason();
        EXPECT_EQ(loader_.Bitmap(), nullptr);
    }
    // A later success forgets the reason.
    ASSERT_EQ(loader_.LoadFile(*dir_ / "rgb24.bmp"), 1);
    EXPECT_EQ(loader_.FailureReason(), "");
}

}  // namespace
