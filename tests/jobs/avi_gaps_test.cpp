// Empty index entries: a capture program writes one where a picture repeats
// the one before, and every entry is a frame of the movie.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "avi_files.h"
#include "jobs/avi_index.h"
#include "jobs/avi_info_lines.h"
#include "jobs/avi_movie.h"

namespace {

constexpr int kBlack = -1;
constexpr uint32_t kWidth = 32;
constexpr uint32_t kHeight = 24;
constexpr size_t kPictureBytes = size_t(kWidth) * kHeight * 4;

class AviGaps : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveFfmpegProgram()) GTEST_SKIP() << "the ffmpeg program is needed to make the AVI files";
    }

    // The pattern's pictures bottom-up, as the reader gives them.
    std::vector<std::vector<uint8_t>> PatternPictures(const std::string& rate, int frames) {
        const std::vector<uint8_t> top_down = NumberedPicturesBgra(dir, rate, frames);
        std::vector<std::vector<uint8_t>> pictures;
        if (top_down.size() != kPictureBytes * size_t(frames)) return pictures;
        const size_t row = size_t(kWidth) * 4;
        for (int f = 0; f < frames; ++f) {
            std::vector<uint8_t> picture(kPictureBytes);
            for (uint32_t y = 0; y < kHeight; ++y)
                std::memcpy(&picture[(kHeight - 1 - y) * row], &top_down[f * kPictureBytes + y * row], row);
            pictures.push_back(std::move(picture));
        }
        return pictures;
    }

    // Which pattern picture each frame is: its number, kBlack, or -2 for
    // anything else.
    static std::vector<int> Identify(const std::vector<std::vector<uint8_t>>& frames,
                                     const std::vector<std::vector<uint8_t>>& pattern) {
        std::vector<uint8_t> black(kPictureBytes, 0);
        for (size_t i = 3; i < black.size(); i += 4) black[i] = 0xFF;
        std::vector<int> which;
        for (const auto& frame : frames) {
            int found = frame == black ? kBlack : -2;
            for (size_t p = 0; p < pattern.size() && found == -2; ++p)
                if (frame == pattern[p]) found = int(p);
            which.push_back(found);
        }
        return which;
    }

    static std::vector<std::vector<uint8_t>> ReadAll(CAVIMovie& movie) {
        std::vector<std::vector<uint8_t>> frames;
        const uint8_t* pixels = nullptr;
        int32_t status;
        while (frames.size() < 1000 && (status = movie.ReadVideoFrame(&pixels)) == kAviOk)
            frames.emplace_back(pixels, pixels + kPictureBytes);
        EXPECT_EQ(status, kAviEndOfStream);
        return frames;
    }

    TempDir dir{"avigaps"};
};

}  // namespace

TEST_F(AviGaps, EveryEntryIsAFrameWithTheRightPicture) {
    struct Case {
        const char* name;
        const char* keep;         // which of the ten pattern pictures ffmpeg writes
        int emptied;              // a written picture made an empty entry afterwards, or -1
        std::vector<int64_t> packets;
        std::vector<int> frames;  // the pattern picture each frame shows
    };
    const std::vector<Case> cases = {
        {"none", "1", -1, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"middle", "not(between(n,3,5))", -1, {0, 1, 2, 6, 7, 8, 9}, {0, 1, 2, 2, 2, 2, 6, 7, 8, 9}},
        {"start", "not(between(n,1,2))", 0, {3, 4, 5, 6, 7, 8, 9},
         {kBlack, kBlack, kBlack, 3, 4, 5, 6, 7, 8, 9}},
        {"end", "not(between(n,6,8))", 6, {0, 1, 2, 3, 4, 5}, {0, 1, 2, 3, 4, 5, 5, 5, 5, 5}},
        {"both ends", "not(between(n,1,1)+between(n,7,8))", 0, {2, 3, 4, 5, 6, 9},
         {kBlack, kBlack, 2, 3, 4, 5, 6, 6, 6, 9}},
    };
    const auto pattern = PatternPictures("25", 10);
    ASSERT_EQ(pattern.size(), 10u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string avi = MakeGappyAvi(dir, std::string(c.name) + ".avi", "25", 10, c.keep);
        ASSERT_FALSE(avi.empty());
        if (c.emptied >= 0) {
            ASSERT_TRUE(EmptyPictureEntry(avi, c.emptied));
        }
        // The file is what the case says, as ffmpeg's own reader sees it.
        ASSERT_EQ(PicturePacketTimes(dir, avi), c.packets);
        EXPECT_EQ(AviIndexEntryCount(avi, 0), 10);

        CAVIMovie movie;
        ASSERT_EQ(movie.Open(avi), kAviOk);
        EXPECT_EQ(movie.GetFileInfo()->length, 10u);
        const auto frames = ReadAll(movie);
        EXPECT_EQ(Identify(frames, pattern), c.frames);
        // A seek lands on exactly the frame reading from the start gives,
        // in a gap and on a picture alike.
        for (uint32_t k : {0u, 1u, 4u, 7u, 9u}) {
            ASSERT_EQ(movie.SeekVideo(k), kAviOk);
            const uint8_t* pixels = nullptr;
            ASSERT_EQ(movie.ReadVideoFrame(&pixels), kAviOk) << k;
            EXPECT_EQ(std::vector<uint8_t>(pixels, pixels + kPictureBytes), frames[k]) << k;
        }
        ASSERT_EQ(movie.SeekVideo(10), kAviOk);
        const uint8_t* pixels = nullptr;
        EXPECT_EQ(movie.ReadVideoFrame(&pixels), kAviEndOfStream);
        EXPECT_NE(ReadAviInfoLines(avi).video.find(" 25.00 fps 10frames"), std::string::npos);
    }
}

TEST_F(AviGaps, AFifteenFrameCaptureOfFewPicturesKeepsItsLength) {
    // Three seconds at 15 fps of a screen that changed six times; the last
    // change is taken back out, so the file ends with eight empty entries.
    const std::string avi = MakeGappyAvi(dir, "capture.avi", "15", 45, "not(mod(n,9))+eq(n,44)");
    ASSERT_FALSE(avi.empty());
    ASSERT_TRUE(EmptyPictureEntry(avi, 5));
    ASSERT_EQ(PicturePacketTimes(dir, avi), (std::vector<int64_t>{0, 9, 18, 27, 36}));
    const auto pattern = PatternPictures("15", 45);
    ASSERT_EQ(pattern.size(), 45u);

    CAVIMovie movie;
    ASSERT_EQ(movie.Open(avi), kAviOk);
    EXPECT_EQ(movie.GetFileInfo()->length, 45u);
    const std::vector<int> which = Identify(ReadAll(movie), pattern);
    ASSERT_EQ(which.size(), 45u);
    for (int k = 0; k < 45; ++k) EXPECT_EQ(which[k], std::min(k / 9 * 9, 36)) << k;
    EXPECT_EQ(ReadAviInfoLines(avi).video, "32x24 24bit 15.00 fps 45frames");
}

TEST_F(AviGaps, AFileWithoutItsIndexEndsWithItsLastPicture) {
    // A cut file has lost the index that counts the entries after its last
    // picture; the header's length alone is no reason to repeat a picture.
    const std::string avi = MakeGappyAvi(dir, "cut.avi", "25", 10, "not(between(n,6,8))");
    ASSERT_FALSE(avi.empty());
    ASSERT_TRUE(EmptyPictureEntry(avi, 6));
    {
        std::fstream f(avi, std::ios::in | std::ios::out | std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(f)), {});
        const size_t index = bytes.rfind("idx1");
        ASSERT_NE(index, std::string::npos);
        bytes.replace(index, 4, "JUNK");
        f.clear();
        f.seekp(0);
        f.write(bytes.data(), std::streamsize(bytes.size()));
    }
    EXPECT_EQ(AviIndexEntryCount(avi, 0), -1);
    CAVIMovie movie;
    ASSERT_EQ(movie.Open(avi), kAviOk);
    EXPECT_EQ(movie.GetFileInfo()->length, 10u);
    EXPECT_EQ(ReadAll(movie).size(), 6u);
}

TEST(AviIndex, CountsEntriesOfOneStreamAndRefusesWhatIsNoIndex) {
    if (!HaveFfmpegProgram()) GTEST_SKIP() << "the ffmpeg program is needed to make the AVI files";
    TempDir dir{"aviindex"};
    const std::string avi = MakeGappyAvi(dir, "sound.avi", "25", 10, "not(between(n,3,5))", true);
    ASSERT_FALSE(avi.empty());
    EXPECT_EQ(AviIndexEntryCount(avi, 0), 10);
    EXPECT_GT(AviIndexEntryCount(avi, 1), 0);
    EXPECT_EQ(AviIndexEntryCount(avi, 2), 0);
    EXPECT_EQ(AviIndexEntryCount(avi, 100), -1);
    EXPECT_EQ(AviIndexEntryCount(dir / "missing.avi", 0), -1);
    std::ofstream(dir / "text.avi") << "RIFF\xff\xff\xff\x7f" "AVI idx1\xff\xff\xff\xff";
    EXPECT_EQ(AviIndexEntryCount(dir / "text.avi", 0), -1);
}

TEST_F(AviGaps, ReorderedPicturesKeepTheirOrderAndCount) {
    // Pictures stored out of display order come out of the decoder late;
    // the reader places them by their packets' entries, not by the
    // decoder's delayed times, so nothing is shifted or padded.
    const std::vector<std::string> codecs = {"-c:v mpeg4 -bf 2 -q:v 2", "-c:v libx264 -bf 3 -crf 10"};
    const auto pattern = PatternPictures("25", 12);
    ASSERT_EQ(pattern.size(), 12u);
    for (const std::string& codec : codecs) {
        SCOPED_TRACE(codec);
        const std::string avi = dir / "reordered.avi";
        if (!RunFfmpeg(NumberedPictures("25") + " -frames:v 12 " + codec + " " + ShellQuoted(avi))) {
            ADD_FAILURE() << "ffmpeg could not make the file";
            continue;
        }
        CAVIMovie movie;
        ASSERT_EQ(movie.Open(avi), kAviOk);
        const auto frames = ReadAll(movie);
        ASSERT_EQ(frames.size(), 12u);
        // Lossy pictures: each frame is nearest to its own pattern picture.
        for (size_t k = 0; k < frames.size(); ++k) {
            size_t nearest = 0;
            uint64_t best = UINT64_MAX;
            for (size_t p = 0; p < pattern.size(); ++p) {
                uint64_t distance = 0;
                for (size_t i = 0; i < kPictureBytes; ++i)
                    distance += uint64_t(std::abs(int(frames[k][i]) - int(pattern[p][i])));
                if (distance < best) best = distance, nearest = p;
            }
            EXPECT_EQ(nearest, k);
        }
    }
}

TEST_F(AviGaps, AHeaderCountingTooFewEntriesShowsPicturesNotBlack) {
    // The stream starts with three empty entries, but its header says it is
    // two frames long: the pictures' places lie past that length, so the
    // header is what is wrong, and the first pictures come as they are.
    const std::string avi = MakeGappyAvi(dir, "short.avi", "25", 10, "not(between(n,1,2))");
    ASSERT_FALSE(avi.empty());
    ASSERT_TRUE(EmptyPictureEntry(avi, 0));
    {
        std::fstream f(avi, std::ios::in | std::ios::out | std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(f)), {});
        const size_t header = bytes.find("strh");  // the picture stream's: its length field
        ASSERT_NE(header, std::string::npos);
        bytes.replace(header + 8 + 32, 4, std::string("\x02\0\0\0", 4));
        f.clear();
        f.seekp(0);
        f.write(bytes.data(), std::streamsize(bytes.size()));
    }
    const auto pattern = PatternPictures("25", 10);
    CAVIMovie movie;
    ASSERT_EQ(movie.Open(avi), kAviOk);
    ASSERT_EQ(movie.GetFileInfo()->length, 2u);
    EXPECT_EQ(Identify(ReadAll(movie), pattern), (std::vector<int>{3, 4}));
}
