#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "container/file_write_ops.h"
#include "container/rvx_encode.h"
#include "container/rvx_layout.h"
#include "snxlib/wave_writer.h"
#include "support/graphic_loader.h"
#include "support/pixel_format.h"

namespace fs = std::filesystem;
using namespace rvx_layout;

namespace {

class RvxdecTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        dir_ = fs::temp_directory_path() / ("rvxdec-test-" + std::to_string(random()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // 32 x 24 pictures, 7 frames, saved as PNG sources too (8-bit grey ones
    // for a grey run), with stereo sound.
    fs::path MakeMovie(uint32_t picture = kPictureYUV411, uint32_t transform = kTransformWordDct, bool grey = false,
                       uint32_t rateNumerator = 25) {
        const uint32_t width = 32, height = 24;
        CRVXEncode writer;
        writer.SetFrameRate(rateNumerator, 1);
        writer.SetGopStructure(2, 1);
        writer.SetPicture(width, height, (kSourceBGRX32 << kFormatSourceShift) | transform | picture);
        writer.SetWorkDirectory(dir_);
        writer.SetFramePrefix(dir_ / "rvxframe");
        EXPECT_TRUE(writer.Open());
        for (uint32_t n = 0; n < 7; ++n) {
            std::vector<uint8_t> pixels(width * height * 4);
            for (uint32_t i = 0; i < width * height; ++i) {
                const uint32_t x = i % width, y = i / width;
                pixels[4 * i] = uint8_t(7 * x + 9 * n);
                pixels[4 * i + 1] = uint8_t(5 * y + 60);
                pixels[4 * i + 2] = uint8_t(x * y + 3 * n);
                pixels[4 * i + 3] = 255;
                if (grey) pixels[4 * i + 1] = pixels[4 * i + 2] = pixels[4 * i];
            }
            EXPECT_TRUE(writer.AddFrame(pixels.data()));
            std::vector<uint8_t> greyPixels(width * height);
            for (size_t i = 0; i < greyPixels.size(); ++i) greyPixels[i] = pixels[4 * i];
            SurfaceDesc surface;
            surface.format = grey ? PF_A8 : PF_X8R8G8B8;
            surface.bits = grey ? greyPixels.data() : pixels.data();
            surface.pitch = int32_t(grey ? width : width * 4);
            surface.width = int32_t(width);
            surface.height = int32_t(height);
            char name[32];
            std::snprintf(name, sizeof name, "src%03u.png", n + 1);
            EXPECT_EQ(SaveSurface(kSavePNG, (dir_ / name).string(), surface, nullptr, 0), 1);
        }
        _snxlib_::CWaveWriter wave;
        EXPECT_EQ(wave.Open(dir_ / "in.wav", 2, 8000), 1);
        std::vector<int16_t> samples(2 * 2000);
        for (size_t i = 0; i < samples.size(); ++i) samples[i] = int16_t(3000 * std::sin(0.01 * double(i)));
        EXPECT_EQ(wave.Write(samples.data(), 2000), 1);
        EXPECT_EQ(wave.Close(), 1);
        EXPECT_TRUE(writer.StageSound(dir_ / "in.wav", 0x103, 256));
        EXPECT_TRUE(writer.FinishFrames());
        const fs::path movie = dir_ / "movie.rvx";
        EXPECT_TRUE(writer.WriteMovie(movie, PosixFileWriteOps()));
        return movie;
    }

    // Runs rvxdec with arguments; standard output in *out, exit status back.
    int Run(const std::string& arguments, std::string* out) {
        const std::string command = std::string(RVX_BINARY_DIR) + "/cli/rvxdec " + arguments + " 2>" +
                                    (dir_ / "stderr.txt").string();
        std::FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) return -1;
        out->clear();
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out->append(buffer, n);
        const int status = pclose(pipe);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Quoted(const fs::path& path) {
        std::string quoted(1, '\'');
        quoted.append(path.string()).push_back('\'');
        return quoted;
    }

    fs::path dir_;
};

}  // namespace

TEST_F(RvxdecTest, SummarisesAnIntactMovieAndExitsZero) {
    const fs::path movie = MakeMovie();
    std::string out;
    EXPECT_EQ(Run(Quoted(movie), &out), 0);
    EXPECT_NE(out.find(": intact"), std::string::npos) << out;
    EXPECT_NE(out.find("32 x 24, YUV411, DCT"), std::string::npos) << out;
    EXPECT_NE(out.find("25/1"), std::string::npos) << out;
    EXPECT_NE(out.find("7 in 2 groups, GOP length 5"), std::string::npos) << out;
    EXPECT_NE(out.find("MDCT-Low, 2 channels, 16 bits, 8000 Hz, 2000 sample frames"), std::string::npos) << out;

    EXPECT_EQ(Run("--json " + Quoted(movie), &out), 0);
    EXPECT_NE(out.find("\"intact\": true"), std::string::npos) << out;
    EXPECT_NE(out.find("\"frames\": 7"), std::string::npos) << out;
    EXPECT_NE(out.find("\"problems\": []"), std::string::npos) << out;
}

TEST_F(RvxdecTest, NamesTheDamageAndExitsOne) {
    const fs::path movie = MakeMovie();
    std::vector<char> bytes((std::istreambuf_iterator<char>(std::ifstream(movie, std::ios::binary).rdbuf())),
                            std::istreambuf_iterator<char>());
    const uint64_t section = LoadLE64(reinterpret_cast<const uint8_t*>(&bytes[kOffsetFirstGroup]));
    bytes[section + 20] ^= 0x10;
    std::ofstream(movie, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
    std::string out;
    EXPECT_EQ(Run("--json " + Quoted(movie), &out), 1);
    EXPECT_NE(out.find("\"intact\": false"), std::string::npos) << out;
    EXPECT_NE(out.find("\"error\": \"payload-crc\""), std::string::npos) << out;
    EXPECT_NE(out.find("\"error\": \"frame-digest\""), std::string::npos) << out;

    std::ofstream(movie, std::ios::binary | std::ios::trunc).write(bytes.data(), 200);
    EXPECT_EQ(Run(Quoted(movie), &out), 1);
    EXPECT_NE(out.find("truncated-header"), std::string::npos) << out;
    EXPECT_EQ(Run(Quoted(dir_ / "absent.rvx"), &out), 1);
    EXPECT_EQ(Run("--idct sometimes " + Quoted(movie), &out), 2);
    EXPECT_EQ(Run("", &out), 2);
}

TEST_F(RvxdecTest, DecodesPicturesSoundAndComparesWithTheSource) {
    const fs::path movie = MakeMovie();
    std::string out;
    const fs::path frames = dir_ / "frames";
    const fs::path wav = dir_ / "out.wav";
    ASSERT_EQ(Run("--json --frames " + Quoted(frames) + " --wav " + Quoted(wav) + " --compare " +
                      Quoted(dir_ / "src%03d.png") + " " + Quoted(movie),
                  &out),
              0)
        << out;
    EXPECT_NE(out.find("\"pictures\": 7"), std::string::npos) << out;
    EXPECT_NE(out.find("\"compared\": 7"), std::string::npos) << out;
    const size_t at = out.find("\"psnr_min\": ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_GT(std::stod(out.substr(at + 12)), 20.0) << out;
    for (int n = 0; n < 7; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "frame%06d.png", n);
        CGraphicLoader loader;
        int32_t w = 0, h = 0;
        ASSERT_EQ(loader.LoadFile((frames / name).string()), 1) << name;
        ASSERT_EQ(loader.GetSize(&w, &h), 1);
        EXPECT_EQ(w, 32);
        EXPECT_EQ(h, 24);
    }
    // 44-byte header plus 2000 stereo 16-bit sample frames.
    EXPECT_EQ(fs::file_size(wav), 44u + 2000u * 4u);

    // The YUV4MPEG2 stream on standard output: header, then seven 4:4:4 frames.
    ASSERT_EQ(Run("--y4m - " + Quoted(movie), &out), 0);
    const std::string header = "YUV4MPEG2 W32 H24 F25:1 Ip A1:1 C444 XCOLORRANGE=LIMITED\n";
    ASSERT_EQ(out.compare(0, header.size(), header), 0) << out.substr(0, 60);
    EXPECT_EQ(out.size(), header.size() + 7 * (6 + 32 * 24 * 3));
}

TEST_F(RvxdecTest, LosslessMovieComparesIdentical) {
    for (const bool grey : {false, true}) {
        const fs::path movie = MakeMovie(kPictureRGB888, kTransformWordDiff2D, grey);
        std::string out;
        ASSERT_EQ(Run("--compare " + Quoted(dir_ / "src%03d.png") + " " + Quoted(movie), &out), 0) << out;
        EXPECT_NE(out.find("PSNR         99.00 dB mean, 99.00 dB lowest over 7 pictures"), std::string::npos) << out;
    }
}

TEST_F(RvxdecTest, Y4mStreamCallsAnUnknownRateUnknown) {
    const fs::path movie = MakeMovie(kPictureYUV411, kTransformWordDct, false, 0);
    std::string out;
    ASSERT_EQ(Run("--y4m - " + Quoted(movie), &out), 0);
    EXPECT_EQ(out.compare(0, 31, "YUV4MPEG2 W32 H24 F0:0 Ip A1:1 "), 0) << out.substr(0, 60);
}

TEST_F(RvxdecTest, RefusesAComparePatternItCannotUseSafely) {
    const fs::path movie = MakeMovie();
    std::string out;
    EXPECT_EQ(Run("--compare " + Quoted(dir_ / "src%s%d.png") + " " + Quoted(movie), &out), 3);
    EXPECT_EQ(Run("--compare " + Quoted(dir_ / "nothing%03d.png") + " " + Quoted(movie), &out), 3);
}

// Verifying still refuses a cut or padded movie; --salvage decodes its
// intact part and says on standard error how much that was.
TEST_F(RvxdecTest, SalvagesTheIntactPartOfACutOrPaddedMovie) {
    const fs::path movie = MakeMovie();
    std::vector<char> bytes((std::istreambuf_iterator<char>(std::ifstream(movie, std::ios::binary).rdbuf())),
                            std::istreambuf_iterator<char>());
    const uint64_t sound = LoadLE64(reinterpret_cast<const uint8_t*>(&bytes[kOffsetSoundOffset]));
    const uint64_t soundLength = LoadLE64(reinterpret_cast<const uint8_t*>(&bytes[kOffsetSoundLength]));
    struct Case {
        const char* name;
        size_t length;             // bytes kept of the movie, junk appended beyond
        const char* salvaged;      // what standard error says
        bool someSoundLost;
    };
    const Case cases[] = {
        {"cut in the sound", size_t(sound + soundLength * 2 / 3), "salvaged 7 of 7 pictures", true},
        {"padded", bytes.size() + 100, "salvaged 7 of 7 pictures (0.280 of 0.280 s), 2000 of 2000", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<char> damaged(bytes.begin(), bytes.begin() + std::min(c.length, bytes.size()));
        damaged.resize(c.length, 'x');
        std::ofstream(movie, std::ios::binary | std::ios::trunc).write(damaged.data(), std::streamsize(c.length));
        std::string out;
        const fs::path frames = dir_ / c.name, wav = dir_ / "out.wav";
        EXPECT_EQ(Run("--frames " + Quoted(frames) + " " + Quoted(movie), &out), 1);
        EXPECT_FALSE(fs::exists(frames / "frame000000.png"));
        EXPECT_EQ(Run("--salvage --frames " + Quoted(frames) + " --wav " + Quoted(wav) + " " + Quoted(movie), &out), 1);
        std::ifstream err(dir_ / "stderr.txt");
        const std::string said((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
        EXPECT_NE(said.find(c.salvaged), std::string::npos) << said;
        EXPECT_TRUE(fs::exists(frames / "frame000006.png"));
        const uint64_t wavFrames = (fs::file_size(wav) - 44) / 4;
        EXPECT_GT(wavFrames, 0u);
        EXPECT_EQ(wavFrames < 2000, c.someSoundLost) << wavFrames;
    }
    std::string out;
    EXPECT_EQ(Run("--salvage " + Quoted(movie), &out), 2);
}
