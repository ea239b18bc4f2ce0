// Reads what rvxdec writes back with ffmpeg and ffprobe, readers we did not
// write: the YUV4MPEG2 stream, the PNG pictures, the WAVE sound and the PSNR
// figures of --compare.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "container/file_write_ops.h"
#include "container/rvx_encode.h"
#include "container/rvx_layout.h"
#include "container/rvx_reader.h"
#include "snxlib/snx_decode.h"
#include "snxlib/wave_writer.h"
#include "support/graphic_loader.h"
#include "support/pixel_format.h"

namespace fs = std::filesystem;
using namespace rvx_layout;

namespace {

const std::string kRvxdec = std::string(RVX_BINARY_DIR) + "/cli/rvxdec";

bool HaveFfmpeg() {
    static const bool found = std::system("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") == 0;
    return found;
}

#define REQUIRE_FFMPEG()                                                                       \
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not installed (scripts/setup installs them)"

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// Runs a shell command; its standard output (bytes) in *out, exit status back.
int Shell(const std::string& command, std::string* out) {
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    out->clear();
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out->append(buffer, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// key=value lines (ffprobe's default writer without wrappers) as a map.
std::map<std::string, std::string> KeyValues(const std::string& text) {
    std::map<std::string, std::string> values;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        const size_t eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
        at = end + 1;
    }
    return values;
}

// Every number that follows `key` in text, in order; "inf" reads as infinity.
std::vector<double> NumbersAfter(const std::string& text, const std::string& key) {
    std::vector<double> numbers;
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
        numbers.push_back(std::strtod(text.c_str() + at + key.size(), nullptr));
    }
    return numbers;
}

// Pixels as our own loader reads a picture file: R, G, B (and A) per pixel,
// the order ffmpeg's rgb24 / rgba raw output uses.
std::string LoadRgb(const fs::path& path, bool alpha) {
    CGraphicLoader loader;
    int32_t w = 0, h = 0;
    if (loader.LoadFile(path.string()) != 1 || loader.GetSize(&w, &h) != 1) return {};
    std::vector<uint8_t> bgra(size_t(w) * h * 4);
    SurfaceDesc surface;
    surface.format = PF_A8R8G8B8;
    surface.bits = bgra.data();
    surface.pitch = w * 4;
    surface.width = w;
    surface.height = h;
    if (loader.CopyTo(&surface) != 1) return {};
    std::string rgb;
    for (size_t i = 0; i < size_t(w) * h; ++i) {
        rgb += char(bgra[4 * i + 2]);
        rgb += char(bgra[4 * i + 1]);
        rgb += char(bgra[4 * i]);
        if (alpha) rgb += char(bgra[4 * i + 3]);
    }
    return rgb;
}

struct MovieRecipe {
    uint32_t picture = kPictureYUV411;
    uint32_t transform = kTransformWordDct;
    uint32_t width = 40, height = 24;   // not whole macroblocks across
    uint32_t frames = 9;
    uint32_t rateNumerator = 30000, rateDenominator = 1001;
    bool sourceAlpha = false;           // sources saved as RGBA with a varying alpha
};

class InteropTest : public ::testing::Test {
protected:
    // Pictures with edges, gradients and motion, saved as src001.png ...
    // beside the movie, and 2001 stereo sample frames of sound at 8000 Hz.
    fs::path MakeMovie(const MovieRecipe& recipe) {
        const bool alphaFormat = (recipe.picture & kFormatAlpha) != 0;
        const uint32_t source = recipe.sourceAlpha || alphaFormat ? kSourceBGRA32 : kSourceBGRX32;
        CRVXEncode writer;
        writer.SetFrameRate(recipe.rateNumerator, recipe.rateDenominator);
        writer.SetGopStructure(2, 1);
        writer.SetPicture(recipe.width, recipe.height, (source << kFormatSourceShift) | recipe.transform | recipe.picture);
        writer.SetWorkDirectory(dir_.path());
        writer.SetFramePrefix(dir_.path() / "rvxframe");
        EXPECT_TRUE(writer.Open());
        for (uint32_t n = 0; n < recipe.frames; ++n) {
            std::vector<uint8_t> pixels(size_t(recipe.width) * recipe.height * 4);
            for (uint32_t y = 0; y < recipe.height; ++y) {
                for (uint32_t x = 0; x < recipe.width; ++x) {
                    uint8_t* p = &pixels[(size_t(y) * recipe.width + x) * 4];
                    const bool box = x >= 3 * n && x < 3 * n + 10 && y >= 6 && y < 16;
                    p[0] = box ? 30 : uint8_t(6 * x + 9 * n);
                    p[1] = box ? 220 : uint8_t(9 * y + 40);
                    p[2] = box ? 240 : uint8_t((x * y + 5 * n) & 0xFF);
                    p[3] = recipe.sourceAlpha ? uint8_t(std::min<uint32_t>(255, 6 * x + 4 * y)) : 255;
                }
            }
            EXPECT_TRUE(writer.AddFrame(pixels.data()));
            SurfaceDesc surface;
            surface.format = recipe.sourceAlpha ? PF_A8R8G8B8 : PF_X8R8G8B8;
            surface.bits = pixels.data();
            surface.pitch = int32_t(recipe.width * 4);
            surface.width = int32_t(recipe.width);
            surface.height = int32_t(recipe.height);
            char name[32];
            std::snprintf(name, sizeof name, "src%03u.png", n + 1);
            EXPECT_EQ(SaveSurface(kSavePNG, dir_ / name, surface, nullptr, 0), 1);
        }
        _snxlib_::CWaveWriter wave;
        EXPECT_EQ(wave.Open(dir_.path() / "in.wav", 2, 8000), 1);
        std::vector<int16_t> samples(2 * 2001);
        for (size_t i = 0; i < samples.size(); ++i) {
            samples[i] = int16_t(6000 * std::sin(0.013 * double(i)) + ((i & 1) ? 900 * std::sin(0.21 * double(i)) : 0));
        }
        EXPECT_EQ(wave.Write(samples.data(), 2001), 1);
        EXPECT_EQ(wave.Close(), 1);
        EXPECT_TRUE(writer.StageSound(dir_.path() / "in.wav", 0x102, 256));
        EXPECT_TRUE(writer.FinishFrames());
        const fs::path movie = dir_.path() / "movie.rvx";
        EXPECT_TRUE(writer.WriteMovie(movie, PosixFileWriteOps()));
        return movie;
    }

    int Rvxdec(const std::string& arguments, std::string* out) {
        return Shell(kRvxdec + " " + arguments + " 2>" + Quoted(dir_ / "rvxdec-stderr.txt"), out);
    }

    // The PSNR figures rvxdec --json --compare prints for the movie.
    struct Figures {
        std::vector<double> frames;
        double mean = 0, min = 0;
    };
    Figures OurPsnr(const fs::path& movie) {
        std::string out;
        EXPECT_EQ(Rvxdec("--json --compare " + Quoted(dir_ / "src%03d.png") + " " + Quoted(movie.string()), &out), 0)
            << out;
        Figures figures;
        const size_t list = out.find("\"psnr_frames\": [");
        EXPECT_NE(list, std::string::npos) << out;
        if (list == std::string::npos) return figures;
        const size_t end = out.find(']', list);
        std::string numbers = out.substr(list + 16, end - list - 16);
        for (const char* p = numbers.c_str(); *p;) {
            char* next = nullptr;
            figures.frames.push_back(std::strtod(p, &next));
            p = next;
            while (*p == ',' || *p == ' ') ++p;
        }
        figures.mean = NumbersAfter(out, "\"psnr_mean\": ").at(0);
        figures.min = NumbersAfter(out, "\"psnr_min\": ").at(0);
        return figures;
    }

    // ffmpeg's psnr filter on two picture runs, input i first prepared by
    // `prepare` with every '#' made i (from [i] to [pi]); per-picture and
    // overall figures.
    Figures FfmpegPsnr(const fs::path& decoded, const fs::path& sources, const std::string& prepare) {
        std::string chains;
        for (const char i : {'0', '1'}) {
            std::string chain = prepare;
            for (char& c : chain) {
                if (c == '#') c = i;
            }
            chains += chain + ";";
        }
        const fs::path log = dir_.path() / "psnr.txt";
        std::string out;
        const std::string command = "ffmpeg -hide_banner -nostats -i " + Quoted(decoded.string()) + " -i " +
                                    Quoted(sources.string()) + " -lavfi " +
                                    Quoted(chains + "[p0][p1]psnr,metadata=mode=print:file=" + log.string()) +
                                    " -f null - 2>&1";
        EXPECT_EQ(Shell(command, &out), 0) << command << "\n" << out;
        Figures figures;
        std::string text;
        Shell("cat " + Quoted(log.string()), &text);
        figures.frames = NumbersAfter(text, "lavfi.psnr.psnr_avg=");
        const std::vector<double> mean = NumbersAfter(out, " average:");
        const std::vector<double> min = NumbersAfter(out, " min:");
        EXPECT_EQ(mean.size(), 1u) << out;
        if (!mean.empty()) figures.mean = mean[0];
        if (!min.empty()) figures.min = min[0];
        return figures;
    }

    TempDir dir_{"interop"};
};

}  // namespace

TEST_F(InteropTest, Y4mStreamReadsBackInFfmpegWithOurPlanesAndColours) {
    REQUIRE_FFMPEG();
    const fs::path movie = MakeMovie({});
    const fs::path y4m = dir_.path() / "movie.y4m";
    const fs::path frames = dir_.path() / "frames";
    std::string out;
    ASSERT_EQ(Rvxdec("--y4m " + Quoted(y4m.string()) + " --frames " + Quoted(frames.string()) + " " +
                         Quoted(movie.string()),
                     &out),
              0)
        << out;

    ASSERT_EQ(Shell("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                  "stream=codec_name,width,height,pix_fmt,color_range,field_order,sample_aspect_ratio,r_frame_rate,"
                    "nb_read_frames "
                  "-of default=noprint_wrappers=1 " + Quoted(y4m.string()),
                  &out),
              0);
    std::map<std::string, std::string> stream = KeyValues(out);
    EXPECT_EQ(stream["codec_name"], "rawvideo") << out;
    EXPECT_EQ(stream["width"], "40");
    EXPECT_EQ(stream["height"], "24");
    EXPECT_EQ(stream["pix_fmt"], "yuv444p");
    EXPECT_EQ(stream["color_range"], "tv");
    EXPECT_EQ(stream["field_order"], "progressive");
    EXPECT_EQ(stream["sample_aspect_ratio"], "1:1");
    EXPECT_EQ(stream["r_frame_rate"], "30000/1001");
    EXPECT_EQ(stream["nb_read_frames"], "9");

    // Through a pipe: the summary must stay off standard output.
    std::string planes;
    ASSERT_EQ(Shell(kRvxdec + " --y4m - " + Quoted(movie.string()) + " 2>/dev/null | ffmpeg -v error -f yuv4mpegpipe "
                  "-i - -f rawvideo -pix_fmt yuv444p -",
                  &planes),
              0);
    const size_t area = 40 * 24;
    ASSERT_EQ(planes.size(), 9 * 3 * area);

    // ffmpeg's planes are exactly the studio-range BT.601 form of the pixels
    // --frames wrote, and ffmpeg's own way back to RGB lands on those pixels
    // but for the rounding of the 8-bit studio range.
    std::string rgb;
    ASSERT_EQ(Shell("ffmpeg -v error -i " + Quoted(y4m.string()) +
                      " -sws_flags accurate_rnd+full_chroma_int -f rawvideo -pix_fmt rgb24 -",
                  &rgb),
              0);
    ASSERT_EQ(rgb.size(), 9 * 3 * area);
    int worst = 0;
    double total = 0;
    for (uint32_t n = 0; n < 9; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "frame%06u.png", n);
        const std::string ours = LoadRgb(frames / name, false);
        ASSERT_EQ(ours.size(), 3 * area) << name;
        const uint8_t* frame = reinterpret_cast<const uint8_t*>(planes.data()) + n * 3 * area;
        for (size_t i = 0; i < area; ++i) {
            const int r = uint8_t(ours[3 * i]), g = uint8_t(ours[3 * i + 1]), b = uint8_t(ours[3 * i + 2]);
            ASSERT_EQ(frame[i], ((66 * r + 129 * g + 25 * b + 128) >> 8) + 16) << name << " Y at " << i;
            ASSERT_EQ(frame[area + i], ((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128) << name << " U at " << i;
            ASSERT_EQ(frame[2 * area + i], ((112 * r - 94 * g - 18 * b + 128) >> 8) + 128) << name << " V at " << i;
            for (int c = 0; c < 3; ++c) {
                const int d = std::abs(int(uint8_t(rgb[n * 3 * area + 3 * i + c])) - int(uint8_t(ours[3 * i + c])));
                worst = std::max(worst, d);
                total += d;
            }
        }
    }
    // A full-range or BT.709 reading would be off by tens in saturated colours.
    EXPECT_LE(worst, 3);
    EXPECT_LT(total / (9 * 3 * area), 1.0);
}

TEST_F(InteropTest, PngPicturesDecodeInFfmpegAsOurLoaderReadsThem) {
    REQUIRE_FFMPEG();
    for (const uint32_t picture : {kPictureYUV422, kPictureAYUV4411}) {
        SCOPED_TRACE(picture);
        MovieRecipe recipe;
        recipe.picture = picture;
        recipe.sourceAlpha = (picture & kFormatAlpha) != 0;
        const fs::path movie = MakeMovie(recipe);
        const fs::path frames = dir_.path() / ("frames" + std::to_string(picture));
        std::string out;
        ASSERT_EQ(Rvxdec("--frames " + Quoted(frames.string()) + " " + Quoted(movie.string()), &out), 0) << out;

        ASSERT_EQ(Shell("ffprobe -v error -show_entries stream=pix_fmt,width,height -of default=noprint_wrappers=1 " +
                          Quoted((frames / "frame000000.png").string()),
                      &out),
                  0);
        std::map<std::string, std::string> stream = KeyValues(out);
        EXPECT_EQ(stream["pix_fmt"], recipe.sourceAlpha ? "rgba" : "rgb24") << out;
        EXPECT_EQ(stream["width"], "40");
        EXPECT_EQ(stream["height"], "24");

        std::string pixels;
        ASSERT_EQ(Shell("ffmpeg -v error -i " + Quoted((frames / "frame%06d.png").string()) +
                          " -f rawvideo -pix_fmt " + (recipe.sourceAlpha ? "rgba" : "rgb24") + " -",
                      &pixels),
                  0);
        const size_t bytes = 40 * 24 * (recipe.sourceAlpha ? 4 : 3);
        ASSERT_EQ(pixels.size(), 9 * bytes);
        for (uint32_t n = 0; n < 9; ++n) {
            char name[32];
            std::snprintf(name, sizeof name, "frame%06u.png", n);
            EXPECT_EQ(pixels.substr(n * bytes, bytes), LoadRgb(frames / name, recipe.sourceAlpha)) << name;
        }
        if (recipe.sourceAlpha) {
            // The alpha ffmpeg sees follows the source's alpha ramp.
            std::string source;
            ASSERT_EQ(Shell("ffmpeg -v error -i " + Quoted(dir_ / "src%03d.png") + " -f rawvideo -pix_fmt rgba -",
                          &source),
                      0);
            ASSERT_EQ(source.size(), pixels.size());
            double error = 0;
            for (size_t i = 3; i < source.size(); i += 4) error += std::abs(int(uint8_t(source[i])) - uint8_t(pixels[i]));
            EXPECT_LT(error / (9 * 40 * 24), 2.0);
        }
    }
}

TEST_F(InteropTest, WaveReadsBackInFfmpegWithOurDecodersSamples) {
    REQUIRE_FFMPEG();
    const fs::path movie = MakeMovie({});
    const fs::path wav = dir_.path() / "out.wav";
    std::string out;
    ASSERT_EQ(Rvxdec("--wav " + Quoted(wav.string()) + " " + Quoted(movie.string()), &out), 0) << out;

    ASSERT_EQ(Shell("ffprobe -v error -count_packets -show_entries stream=codec_name,channels,sample_rate,duration_ts "
                  "-of default=noprint_wrappers=1 " + Quoted(wav.string()),
                  &out),
              0);
    std::map<std::string, std::string> stream = KeyValues(out);
    EXPECT_EQ(stream["codec_name"], "pcm_s16le") << out;
    EXPECT_EQ(stream["channels"], "2");
    EXPECT_EQ(stream["sample_rate"], "8000");
    EXPECT_EQ(stream["duration_ts"], "2001");

    std::string samples;
    ASSERT_EQ(Shell("ffmpeg -v error -i " + Quoted(wav.string()) + " -f s16le -", &samples), 0);

    CRVXReader reader;
    ASSERT_TRUE(reader.Open(movie));
    _snxlib_::CSNXDecode sound;
    ASSERT_EQ(sound.Open(movie, reader.SoundOffset(), reader.SoundLength()), 1);
    std::vector<int16_t> decoded(2 * 2001 + 2);
    uint32_t got = 0;
    ASSERT_EQ(sound.Read(decoded.data(), 2001 + 1, &got), 1);
    ASSERT_EQ(got, 2001u);
    ASSERT_EQ(samples.size(), 2 * 2001 * sizeof(int16_t));
    for (size_t i = 0; i < 2 * 2001; ++i) {
        const int16_t sample = int16_t(uint8_t(samples[2 * i]) | (uint8_t(samples[2 * i + 1]) << 8));
        ASSERT_EQ(sample, decoded[i]) << "sample " << i;
    }
}

// Our per-picture figures and the overall ones agree with ffmpeg's psnr filter
// on the pairs (decoded PNG, source picture). Both work from the same integer
// squared errors in double precision; the tolerance covers our printing to
// four decimals.
TEST_F(InteropTest, ComparePsnrAgreesWithFfmpegsPsnrFilter) {
    REQUIRE_FFMPEG();
    struct Case {
        uint32_t picture;
        bool sourceAlpha;
    };
    // Without alpha anywhere ffmpeg measures R, G, B; with alpha on either
    // side it measures alpha too. Its own packed-to-planar conversion nudges
    // alpha values above 128 up by one, so for alpha the planes are split and
    // merged without it.
    const std::string plain = "[#]null[p#]";
    const std::string exactAlpha =
        "[#]format=rgba,extractplanes=g+b+r+a[g#][b#][r#][a#];[g#][b#][r#][a#]mergeplanes=0x00102030:gbrap[p#]";
    for (const Case c : {Case{kPictureYUV411, false}, Case{kPictureAYUV4422, true}, Case{kPictureYUV444, true}}) {
        SCOPED_TRACE(testing::Message() << "picture " << c.picture << (c.sourceAlpha ? ", sources with alpha" : ""));
        MovieRecipe recipe;
        recipe.picture = c.picture;
        recipe.sourceAlpha = c.sourceAlpha;
        const fs::path movie = MakeMovie(recipe);
        const fs::path frames = dir_.path() / ("frames" + std::to_string(c.picture));
        std::string out;
        ASSERT_EQ(Rvxdec("--frames " + Quoted(frames.string()) + " " + Quoted(movie.string()), &out), 0) << out;

        const Figures ours = OurPsnr(movie);
        const Figures theirs = FfmpegPsnr(frames / "frame%06d.png", dir_.path() / "src%03d.png",
                                           c.sourceAlpha ? exactAlpha : plain);
        ASSERT_EQ(ours.frames.size(), 9u);
        ASSERT_EQ(theirs.frames.size(), 9u);
        for (size_t i = 0; i < 9; ++i) EXPECT_NEAR(ours.frames[i], theirs.frames[i], 2e-4) << "picture " << i;
        EXPECT_NEAR(ours.mean, theirs.mean, 2e-4);
        EXPECT_NEAR(ours.min, theirs.min, 2e-4);
    }
}
