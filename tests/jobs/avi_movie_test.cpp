#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "avi_files.h"
#include "jobs/avi_info_lines.h"
#include "jobs/avi_movie.h"

namespace {

class AviReader : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveFfmpegProgram()) GTEST_SKIP() << "the ffmpeg program is needed to make the AVI files";
    }
    // Every picture until the end of the stream, or at most `limit`.
    static std::vector<std::vector<uint8_t>> ReadPictures(CAVIMovie& movie, size_t limit = 10000) {
        BitmapInfoHeader header;
        EXPECT_EQ(movie.GetVideoFormat(&header), kAviOk);
        std::vector<std::vector<uint8_t>> pictures;
        const uint8_t* pixels = nullptr;
        int32_t status;
        while (pictures.size() < limit && (status = movie.ReadVideoFrame(&pixels)) == kAviOk)
            pictures.emplace_back(pixels, pixels + header.size_image);
        if (pictures.size() < limit) {
            EXPECT_EQ(status, kAviEndOfStream);
        }
        return pictures;
    }
    static std::vector<uint8_t> ReadAllSound(CAVIMovie& movie) {
        std::vector<uint8_t> all;
        const uint8_t* data = nullptr;
        uint32_t length = 0;
        int32_t status;
        while ((status = movie.ReadSound(&data, &length)) == kAviOk) all.insert(all.end(), data, data + length);
        EXPECT_EQ(status, kAviEndOfStream);
        return all;
    }
    TempDir dir{"avi"};
};

}  // namespace

TEST_F(AviReader, UncompressedPicturesArriveExactlyAndBottomUp) {
    // Raw 24-bit and 32-bit pictures must pass unchanged; the row order is
    // what the job's flip relies on.
    for (const char* pixel_format : {"bgr24", "bgra"}) {
        AviRecipe recipe;
        recipe.video = std::string("-c:v rawvideo -pix_fmt ") + pixel_format;
        recipe.rate = "30000/1001";
        recipe.width = 34;  // 24-bit rows of the source are padded
        const std::string avi = MakeAvi(dir, "raw.avi", recipe);
        ASSERT_FALSE(avi.empty());
        const std::vector<uint8_t> expected = PatternBgra(dir, recipe);
        ASSERT_EQ(expected.size(), 34u * 24 * 4 * 6);

        CAVIMovie movie;
        ASSERT_EQ(movie.Open(avi), kAviOk) << pixel_format;
        const AviFileInfo& info = *movie.GetFileInfo();
        EXPECT_EQ(info.width, 34u);
        EXPECT_EQ(info.height, 24u);
        EXPECT_EQ(info.rate, 30000u);
        EXPECT_EQ(info.scale, 1001u);
        EXPECT_EQ(info.length, 6u);
        BitmapInfoHeader decoded;
        ASSERT_EQ(movie.GetVideoFormat(&decoded), kAviOk);
        EXPECT_EQ(decoded.bit_count, 32);
        EXPECT_EQ(decoded.height, 24);
        EXPECT_EQ(decoded.size_image, 34u * 4 * 24);
        BitmapInfoHeader source;
        ASSERT_EQ(movie.GetSourceFormats(&source, nullptr, nullptr), kAviOk);
        EXPECT_EQ(source.bit_count, std::string(pixel_format) == "bgra" ? 32 : 24);

        const auto pictures = ReadPictures(movie);
        ASSERT_EQ(pictures.size(), 6u) << pixel_format;
        const size_t row = 34 * 4;
        for (size_t f = 0; f < pictures.size(); ++f)
            for (size_t y = 0; y < 24; ++y) {
                const uint8_t* want = &expected[(f * 24 + y) * row];
                const uint8_t* got = &pictures[f][(23 - y) * row];
                for (size_t x = 0; x < 34; ++x) {
                    // Pictures without alpha are opaque.
                    ASSERT_EQ(std::memcmp(want + 4 * x, got + 4 * x, 3), 0)
                        << pixel_format << " frame " << f << " row " << y << " column " << x;
                }
            }
        EXPECT_EQ(movie.ReadVideoFrame(nullptr), kAviInvalidPointer);
    }
}

TEST_F(AviReader, SoundIsPcmInTheSourcesChannelsRateAndWidth) {
    struct Case {
        const char* codec;
        const char* raw;  // ffmpeg's own decoding for comparison
        uint16_t bits;
        uint16_t tag;
        int sample_rate;
    };
    for (const Case& c : {Case{"-c:a pcm_u8", "u8", 8, 1, 22050}, Case{"-c:a pcm_s16le -ac 2", "s16le", 16, 1, 44100},
                          Case{"-c:a libmp3lame -b:a 64k", "s16le", 16, 0x55, 44100}}) {
        AviRecipe recipe;
        recipe.sound = c.codec;
        recipe.sample_rate = c.sample_rate;
        const std::string avi = MakeAvi(dir, "sound.avi", recipe);
        ASSERT_FALSE(avi.empty()) << c.codec;
        CAVIMovie movie;
        ASSERT_EQ(movie.Open(avi), kAviOk);
        WaveFormatEx format;
        ASSERT_EQ(movie.GetSoundFormat(&format), kAviOk);
        EXPECT_EQ(format.format_tag, 1);
        EXPECT_EQ(format.bits_per_sample, c.bits) << c.codec;
        EXPECT_EQ(format.samples_per_second, uint32_t(c.sample_rate));
        EXPECT_EQ(format.block_alignment, format.channels * c.bits / 8);
        EXPECT_EQ(format.average_bytes_per_second, format.samples_per_second * format.block_alignment);

        // The stream's own format: its tag, and for coded sound the bit rate.
        uint32_t length = 0;
        ASSERT_EQ(movie.GetSourceFormats(nullptr, nullptr, &length), kAviOk);
        ASSERT_GE(length, sizeof(WaveFormatEx));
        std::vector<uint8_t> bytes(length);
        uint32_t small = length - 1;
        EXPECT_EQ(movie.GetSourceFormats(nullptr, bytes.data(), &small), kAviOutOfMemory);
        EXPECT_EQ(small, length);
        EXPECT_EQ(movie.GetSourceFormats(nullptr, bytes.data(), nullptr), kAviInvalidArgument);
        ASSERT_EQ(movie.GetSourceFormats(nullptr, bytes.data(), &length), kAviOk);
        WaveFormatEx source;
        std::memcpy(&source, bytes.data(), sizeof source);
        EXPECT_EQ(source.format_tag, c.tag);
        if (c.tag == 0x55) {
            EXPECT_EQ(source.average_bytes_per_second, 8000u);
        }
        EXPECT_EQ(length, sizeof(WaveFormatEx) + source.extra_size);

        const std::vector<uint8_t> sound = ReadAllSound(movie);
        const std::vector<uint8_t> expected = DecodedSound(dir, avi, c.raw);
        ASSERT_FALSE(expected.empty());
        if (c.tag == 1) {
            EXPECT_EQ(sound, expected) << c.codec;
        } else {
            // The coded sound's start may be trimmed differently; the
            // length must agree within one coded frame.
            EXPECT_NEAR(double(sound.size()), double(expected.size()), 1152.0 * 2 * format.channels);
        }
        EXPECT_EQ(movie.ReadSound(nullptr, &length), kAviInvalidPointer);
    }
}

TEST_F(AviReader, RewindAndSeekGiveThePicturesAndSoundOfThatTime) {
    AviRecipe recipe;
    recipe.video = "-c:v mpeg4 -g 12 -bf 2";  // pictures stored out of display order
    recipe.sound = "-c:a pcm_s16le";
    recipe.rate = "30000/1001";
    recipe.frames = 30;
    recipe.seconds = 2;
    const std::string avi = MakeAvi(dir, "seek.avi", recipe);
    ASSERT_FALSE(avi.empty());
    CAVIMovie movie;
    ASSERT_EQ(movie.Open(avi), kAviOk);
    EXPECT_EQ(movie.FrameToMs(30), 1001);
    EXPECT_EQ(movie.MsToFrame(1001), 30);
    EXPECT_EQ(movie.FrameToMs(int64_t(1) << 40), ((int64_t(1) << 40) * 1001) / 30);  // no 64-bit overflow

    const auto all = ReadPictures(movie);
    ASSERT_EQ(all.size(), 30u);
    const std::vector<uint8_t> sound = ReadAllSound(movie);
    ASSERT_EQ(movie.Rewind(), kAviOk);
    EXPECT_EQ(ReadPictures(movie, 1)[0], all[0]);
    EXPECT_EQ(ReadAllSound(movie), sound);
    for (uint32_t frame : {13u, 17u}) {
        ASSERT_EQ(movie.SeekToFrame(frame), kAviOk);
        const auto rest = ReadPictures(movie);
        ASSERT_EQ(rest.size(), 30u - frame);
        for (size_t i = 0; i < rest.size(); ++i) EXPECT_EQ(rest[i], all[frame + i]) << frame << " + " << i;
        // Mono 16-bit sound from the sample at the frame's millisecond.
        const size_t skipped = size_t(movie.FrameToMs(frame) * 44100 / 1000) * 2;
        ASSERT_LT(skipped, sound.size());
        const std::vector<uint8_t> tail = ReadAllSound(movie);
        ASSERT_EQ(tail.size(), sound.size() - skipped) << frame;
        EXPECT_TRUE(tail == std::vector<uint8_t>(sound.begin() + ptrdiff_t(skipped), sound.end())) << frame;
    }
}

TEST_F(AviReader, FilesWithAStreamMissingOrUndecodableOpen) {
    AviRecipe silent;
    const std::string video_only = MakeAvi(dir, "video.avi", silent);
    const std::string sound_only = MakeSoundOnlyAvi(dir);
    const std::string undecodable = MakeUndecodableAvi(dir);
    ASSERT_FALSE(video_only.empty() || sound_only.empty() || undecodable.empty());

    CAVIMovie movie;
    WaveFormatEx sound;
    BitmapInfoHeader video;
    const uint8_t* pixels = nullptr;
    ASSERT_EQ(movie.Open(video_only), kAviOk);
    EXPECT_EQ(movie.GetSoundFormat(&sound), kAviNoData);
    uint32_t length = 99;
    EXPECT_EQ(movie.GetSourceFormats(nullptr, nullptr, &length), kAviOk);
    EXPECT_EQ(length, 0u);

    ASSERT_EQ(movie.Open(sound_only), kAviOk);
    EXPECT_EQ(movie.GetVideoFormat(&video), kAviNoData);
    EXPECT_EQ(movie.ReadVideoFrame(&pixels), kAviNoInterface);
    EXPECT_EQ(movie.GetSourceFormats(&video, nullptr, nullptr), kAviNoInterface);
    EXPECT_EQ(movie.GetSoundFormat(&sound), kAviOk);

    ASSERT_EQ(movie.Open(undecodable), kAviOk);
    EXPECT_EQ(movie.GetVideoFormat(&video), kAviNoInterface);
    EXPECT_EQ(movie.ReadVideoFrame(&pixels), kAviNoInterface);
    EXPECT_EQ(movie.GetFileInfo()->length, 6u);
}

TEST_F(AviReader, DamagedFilesEndOrFailWithoutHanging) {
    std::ofstream(dir / "text.avi") << "this is not a movie at all\n";
    CAVIMovie movie;
    EXPECT_EQ(movie.Open(dir / "text.avi"), kAviFail);
    EXPECT_EQ(movie.Open(dir / "missing.avi"), kAviFail);

    const std::string cut = MakeCutAvi(dir);
    ASSERT_FALSE(cut.empty());
    ASSERT_EQ(movie.Open(cut), kAviOk);
    // The header still counts every picture; the reader ends where the data do.
    EXPECT_EQ(movie.GetFileInfo()->length, 40u);
    const size_t pictures = ReadPictures(movie).size();
    EXPECT_GT(pictures, 5u);
    EXPECT_LT(pictures, 40u);
    ReadAllSound(movie);

    // Garbage in the middle: every call returns, and the movie keeps its
    // pictures before and after the damage.
    AviRecipe recipe;
    recipe.video = "-c:v mjpeg -q:v 3";
    recipe.sound = "-c:a pcm_s16le";
    recipe.frames = 40;
    recipe.seconds = 2;
    const std::string garbled = MakeAvi(dir, "garbled.avi", recipe);
    ASSERT_FALSE(garbled.empty());
    {
        std::fstream f(garbled, std::ios::in | std::ios::out | std::ios::binary);
        f.seekg(0, std::ios::end);
        const std::streamoff size = f.tellg();
        f.seekp(size / 2);
        std::string noise(4096, '\0');
        for (size_t i = 0; i < noise.size(); ++i) noise[i] = char((i * 7919 + 13) & 0xFF);
        f.write(noise.data(), std::streamsize(noise.size()));
    }
    ASSERT_EQ(movie.Open(garbled), kAviOk);
    EXPECT_GT(ReadPictures(movie).size(), 30u);
    ReadAllSound(movie);
}

TEST_F(AviReader, APictureTheDecoderRejectsRepeatsThePreviousOne) {
    // The movie keeps its length, so the sound stays in step with it.
    AviRecipe recipe;
    recipe.video = "-c:v mjpeg -q:v 3";
    recipe.frames = 20;
    const std::string avi = MakeAvi(dir, "hole.avi", recipe);
    ASSERT_FALSE(avi.empty());
    CAVIMovie intact;
    ASSERT_EQ(intact.Open(avi), kAviOk);
    const auto before = ReadPictures(intact);
    ASSERT_TRUE(ZeroChunk(avi, "00dc", 9));
    CAVIMovie damaged;
    ASSERT_EQ(damaged.Open(avi), kAviOk);
    const auto after = ReadPictures(damaged);
    ASSERT_EQ(after.size(), 20u);
    EXPECT_EQ(after[9], before[8]);
    EXPECT_EQ(after[10], before[10]);
}

TEST_F(AviReader, InformationLinesDescribeBothStreams) {
    AviRecipe recipe;
    recipe.sound = "-c:a pcm_u8";
    recipe.sample_rate = 22050;
    recipe.rate = "30000/1001";
    const std::string avi = MakeAvi(dir, "info.avi", recipe);
    AviRecipe silent;
    silent.video = "-c:v rawvideo -pix_fmt bgra";
    const std::string quiet = MakeAvi(dir, "quiet.avi", silent);
    ASSERT_FALSE(avi.empty() || quiet.empty());

    AviInfoLines lines = ReadAviInfoLines(avi);
    EXPECT_EQ(lines.video, "32x24 24bit 29.97 fps 6frames");
    EXPECT_EQ(lines.sound, "22.05kHz 8bit 1ch 176kbps");
    lines = ReadAviInfoLines(quiet);
    EXPECT_EQ(lines.video, "32x24 32bit 25.00 fps 6frames");
    EXPECT_EQ(lines.sound, "ありません。");
    lines = ReadAviInfoLines(dir / "half-typed");
    EXPECT_TRUE(lines.video.empty() && lines.sound.empty());

    // The bit rate is figured in 64 bits: 2^29 bytes a second would wrap to 0
    // in 32.
    WaveFormatEx huge;
    huge.samples_per_second = 48000;
    huge.bits_per_sample = 16;
    huge.channels = 2;
    huge.average_bytes_per_second = 1u << 29;
    EXPECT_EQ(SoundInfoLine(huge), "48.00kHz 16bit 2ch 4294967kbps");
}
