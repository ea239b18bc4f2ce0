// The library as a program outside the tree sees it: installed into a
// temporary prefix, a C99 program built with pkg-config (and once through
// find_package) decodes every picture format and transform exactly as rvxdec
// does, seeks to the right pictures, and gives rvxdec's sound.

#include <gtest/gtest.h>

#include <cstring>

#include "cli/run_program.h"
#include "common/temp_dir.h"
#include "librvx/movie_maker.h"
#include "rvxlib/format/format_word.h"
#include "snxlib/snx_format.h"
#include "support/graphic_loader.h"
#include "support/pixel_format.h"

namespace {

using namespace _rvxlib_;

class InstalledLibrary : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        prefix_ = new TempDir("prefix");
        const std::string install = "cmake --install " + ShellQuoted(RVX_BINARY_DIR) + " --prefix " +
                                    ShellQuoted(prefix_->path().string()) + " --component ";
        ASSERT_EQ(RunCommand(install + "library").exit_code, 0);
        ASSERT_EQ(RunCommand(install + "development").exit_code, 0);
        const std::string pkg = "PKG_CONFIG_PATH=" + (*prefix_ / "lib/pkgconfig") + " pkg-config --cflags --libs rvx";
        const ProgramResult built =
            RunCommand(std::string(RVX_C_COMPILER) + " -std=c99 -Wall -Wextra -pedantic -Werror " + RVX_C_SANITIZE + " " +
                       ShellQuoted(std::string(RVX_SOURCE_DIR) + "/tests/librvx/rvx_dump.c") + " -o " +
                       ShellQuoted(*prefix_ / "rvx_dump") + " $(" + pkg + ")");
        ASSERT_EQ(built.exit_code, 0) << built.output;
    }
    static void TearDownTestSuite() { delete prefix_; }
    static std::string Dump() { return "LD_LIBRARY_PATH=" + (*prefix_ / "lib") + " " + (*prefix_ / "rvx_dump"); }

    static TempDir* prefix_;
    TempDir dir_{"installed"};
};
TempDir* InstalledLibrary::prefix_ = nullptr;

// rvxdec's PNG of a picture as R, G, B, A.
std::vector<uint8_t> RvxdecPicture(const std::string& png, uint32_t width, uint32_t height, bool alpha) {
    CGraphicLoader loader;
    std::vector<uint8_t> pixels(size_t(width) * height * 4);
    SurfaceDesc surface;
    surface.format = PF_A8R8G8B8;
    surface.bits = pixels.data();
    surface.pitch = int32_t(width * 4);
    surface.width = int32_t(width);
    surface.height = int32_t(height);
    if (loader.LoadFile(png) != 1 || loader.CopyTo(&surface) != 1) return {};
    for (size_t i = 0; i < pixels.size(); i += 4) {
        std::swap(pixels[i], pixels[i + 2]);
        if (!alpha) pixels[i + 3] = 255;
    }
    return pixels;
}

// The data chunk of rvxdec's WAVE file (its own writer puts it last).
std::vector<uint8_t> WaveData(const std::string& path) {
    const std::vector<uint8_t> wave = FileBytes(path);
    for (size_t at = 12; at + 8 <= wave.size();) {
        const uint32_t size = wave[at + 4] | wave[at + 5] << 8 | wave[at + 6] << 16 | uint32_t(wave[at + 7]) << 24;
        if (std::memcmp(&wave[at], "data", 4) == 0) return std::vector<uint8_t>(wave.begin() + at + 8, wave.end());
        at += 8 + size;
    }
    return {};
}

TEST_F(InstalledLibrary, DecodesEveryPictureFormatAndTransformAsRvxdecDoes) {
    const int modes[] = {-1, _snxlib_::kModeMDCTMid, _snxlib_::kModeRaw, _snxlib_::kModeMDCTLow};
    int combination = 0;
    for (const RVXNamedValue& picture : kPictureFormatNames) {
        for (const RVXNamedValue& transform : kTransformNames) {
            MovieShape shape{picture.value, transform.value};
            shape.b_frames = uint16_t(combination % 3);
            shape.sound_mode = modes[combination++ % 4];
            SCOPED_TRACE(std::string(picture.text) + " " + transform.text + " B " + std::to_string(shape.b_frames));
            const std::string movie = dir_ / "m.rvx";
            ASSERT_TRUE(MakeMovie(shape, dir_.path(), movie));
            const ProgramResult dumped = RunCommand(Dump() + " " + movie + " " + (dir_ / "pictures") + " " +
                                                    (dir_ / "sound") + " 7 0 4 8 2");
            ASSERT_EQ(dumped.exit_code, 0) << dumped.output;
            const bool alpha = FormatHasAlpha(picture.value);
            EXPECT_EQ(dumped.output, "40 26 " + std::to_string(int(alpha)) + " 9 " +
                                         (shape.sound_mode < 0 ? "0 0 0" : "2 16000 5000") + "\n");
            ASSERT_EQ(RunCommand(kRvxdecProgram + " " + movie + " --frames " + (dir_ / "png") +
                                 (shape.sound_mode < 0 ? "" : " --wav " + (dir_ / "rvxdec.wav")))
                          .exit_code,
                      0);

            const std::vector<uint8_t> pictures = FileBytes(dir_ / "pictures");
            const size_t bytes = 40 * 26 * 4;
            ASSERT_EQ(pictures.size(), (9 + 5) * bytes);
            auto picture_at = [&](size_t i) {
                return std::vector<uint8_t>(pictures.begin() + i * bytes, pictures.begin() + (i + 1) * bytes);
            };
            for (size_t n = 0; n < 9; ++n) {
                char name[32];
                std::snprintf(name, sizeof name, "/frame%06zu.png", n);
                EXPECT_EQ(picture_at(n), RvxdecPicture(dir_ / "png" + name, 40, 26, alpha)) << "picture " << n;
            }
            const size_t seeks[] = {7, 0, 4, 8, 2};
            for (size_t s = 0; s < 5; ++s) EXPECT_EQ(picture_at(9 + s), picture_at(seeks[s])) << "seek " << seeks[s];
            if (shape.sound_mode >= 0) {
                EXPECT_EQ(FileBytes(dir_ / "sound"), WaveData(dir_ / "rvxdec.wav"));
            }
        }
    }
}

TEST_F(InstalledLibrary, CMakeProjectsFindItByPackage) {
    std::ofstream(dir_ / "CMakeLists.txt")
        << "cmake_minimum_required(VERSION 3.16)\nproject(uses_rvx C)\nset(CMAKE_C_STANDARD 99)\n"
           "find_package(rvx 0.9 REQUIRED)\nadd_executable(rvx_dump "
        << RVX_SOURCE_DIR << "/tests/librvx/rvx_dump.c)\ntarget_link_libraries(rvx_dump PRIVATE rvx::rvx)\n";
    const ProgramResult built = RunCommand("cmake -S " + dir_.path().string() + " -B " + (dir_ / "b") +
                                           " -DCMAKE_PREFIX_PATH=" + prefix_->path().string() +
                                           " -DCMAKE_C_FLAGS=" + ShellQuoted(RVX_C_SANITIZE) +
                                           " >/dev/null && cmake --build " + (dir_ / "b"));
    ASSERT_EQ(built.exit_code, 0) << built.output;
    ASSERT_TRUE(MakeMovie(MovieShape{kPictureYUV411, kTransformWordDct}, dir_.path(), dir_ / "m.rvx"));
    EXPECT_EQ(RunCommand((dir_ / "b/rvx_dump") + " " + (dir_ / "m.rvx") + " /dev/null /dev/null").output,
              "40 26 0 9 0 0 0\n");
}

}  // namespace
