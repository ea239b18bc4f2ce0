#include <gtest/gtest.h>

#include <random>

#include "container/file_write_ops.h"
#include "container/rvx_encode.h"
#include "container/rvx_reader.h"
#include "movie_fixture.h"

using namespace rvx_layout;
using namespace movie_fixture;

namespace {

// 21 frames in a group of 16 and one of 5, with a stereo sound track.
std::vector<uint8_t> WriteSampleMovie(const TempDir& dir, const fs::path& output, bool sound = true,
                                      uint32_t frames = 21) {
    CRVXEncode writer;
    SetUpWriter(writer, dir.path());
    StageFrames(writer, frames, 16, 2);
    if (sound) {
        WriteFile(dir / "tmpsnd.snx", MakeSnx(2, 44100, 1000));
        writer.SetSoundFile(dir / "tmpsnd.snx");
    }
    EXPECT_TRUE(writer.WriteMovie(output, PosixFileWriteOps()));
    return ReadFile(output);
}

// Opens and verifies; the first problem's error, or kNone when intact.
RVXError FirstProblem(const fs::path& path, std::vector<RVXProblem>* all = nullptr) {
    CRVXReader reader;
    const bool intact = reader.Open(path) && reader.Verify();
    if (all) *all = reader.Problems();
    if (intact) return RVXError::kNone;
    EXPECT_FALSE(reader.Problems().empty());
    return reader.Problems().empty() ? RVXError::kNone : reader.Problems().front().error;
}

}  // namespace

TEST(RVXReader, ReadsBackWhatTheWriterWrote) {
    TempDir dir;
    const fs::path path = dir / "movie.rvx";
    const std::vector<uint8_t> file = WriteSampleMovie(dir, path);
    CRVXReader reader;
    ASSERT_TRUE(reader.Open(path)) << reader.Problems().front().message;
    ASSERT_TRUE(reader.Verify()) << reader.Problems().front().message;
    EXPECT_EQ(reader.FileSize(), file.size());
    EXPECT_EQ(reader.Width(), 48u);
    EXPECT_EQ(reader.Height(), 32u);
    EXPECT_EQ(reader.RateNumerator(), 30000u);
    EXPECT_EQ(reader.RateDenominator(), 1001u);
    EXPECT_EQ(reader.FrameCount(), 21u);
    EXPECT_EQ(reader.GroupCount(), 2u);
    EXPECT_EQ(reader.GopLength(), 16u);
    EXPECT_EQ(reader.FormatFlags(), 0x2003u);
    ASSERT_TRUE(reader.HasSound());
    EXPECT_EQ(reader.Sound().channels, 2);
    EXPECT_EQ(_snxlib_::SNXSampleFrames(reader.Sound()), 1000u);

    // Coding order: the first group carries positions 0, 3, 1, 2, 6, 4, 5, ...
    const uint32_t firstGroupOrder[16] = {0, 3, 1, 2, 6, 4, 5, 9, 7, 8, 12, 10, 11, 15, 13, 14};
    ASSERT_EQ(reader.Frames().size(), 21u);
    std::vector<uint8_t> payload;
    for (size_t i = 0; i < reader.Frames().size(); ++i) {
        const RVXFrameInfo& frame = reader.Frames()[i];
        if (i < 16) {
            EXPECT_EQ(frame.display_number, firstGroupOrder[i]);
        }
        ASSERT_TRUE(reader.ReadPayload(i, payload));
        EXPECT_EQ(payload, PayloadOf(frame.display_number));
    }
    EXPECT_EQ(reader.Frames()[16].display_number, 16u);
    std::vector<uint8_t> sound;
    ASSERT_TRUE(reader.ReadSound(sound));
    EXPECT_EQ(sound, MakeSnx(2, 44100, 1000));
    EXPECT_FALSE(reader.ReadPayload(21, payload));
}

TEST(RVXReader, ReportsMissingFilesAndDirectories) {
    TempDir dir;
    EXPECT_EQ(FirstProblem(dir / "absent.rvx"), RVXError::kCannotOpen);
    EXPECT_EQ(FirstProblem(dir.path()), RVXError::kCannotOpen);
    WriteFile(dir / "short.rvx", std::vector<uint8_t>(100, 0));
    EXPECT_EQ(FirstProblem(dir / "short.rvx"), RVXError::kTruncatedHeader);
}

// One flipped bit in each part of the file, and the problem it must give.
TEST(RVXReader, NamesTheDamagedPartOfAFlippedBit) {
    TempDir dir;
    const fs::path path = dir / "movie.rvx";
    const std::vector<uint8_t> good = WriteSampleMovie(dir, path);
    const uint64_t section = LoadLE64(&good[kOffsetFirstGroup]);
    const uint64_t sound = LoadLE64(&good[kOffsetSoundOffset]);
    const uint64_t secondGroup = LoadGroupEntry(&good[288 + 24]).offset;
    struct Case {
        const char* part;
        uint64_t offset;
        uint8_t mask;
        RVXError expected;
    } cases[] = {
        {"magic", 3, 0x01, RVXError::kBadMagic},
        {"file size", kOffsetFileSize, 0x04, RVXError::kFileSizeMismatch},
        {"frame section offset", kOffsetFrameSection + 1, 0x01, RVXError::kBadSectionLayout},
        {"header digest", kOffsetHeaderDigest + 5, 0x10, RVXError::kHeaderDigestMismatch},
        {"frame digest field", kOffsetFrameDigest, 0x80, RVXError::kFrameDigestMismatch},
        {"sound digest field", kOffsetSoundDigest + 15, 0x01, RVXError::kSoundDigestMismatch},
        {"record count", kOffsetRecordCount, 0x02, RVXError::kBadRecordCount},
        {"frame-rate numerator", kOffsetRateNumerator, 0x01, RVXError::kHeaderDigestMismatch},
        {"picture width", kOffsetWidth, 0x10, RVXError::kBadPicture},
        {"format flags", kOffsetFormatFlags + 2, 0x02, RVXError::kBadPicture},
        {"sound channels", kOffsetSoundChannels, 0x04, RVXError::kBadSoundFields},
        {"sound present", kOffsetSoundPresent, 0x01, RVXError::kBadSoundFields},
        {"intra matrix", kOffsetIntraMatrix + 9, 0x01, RVXError::kHeaderDigestMismatch},
        {"index first frame", 288 + 24, 0x01, RVXError::kBadGroupIndex},
        {"index offset", 288 + 24 + 8, 0x20, RVXError::kBadGroupIndex},
        {"index length", 288 + 16, 0x01, RVXError::kBadGroupIndex},
        {"record type word", section + 12 + PayloadOf(0).size(), 0x01, RVXError::kBadFrameRecord},
        {"record payload length", secondGroup + 4, 0x01, RVXError::kBadFrameRecord},
        {"record CRC", section + 9, 0x40, RVXError::kPayloadCrcMismatch},
        {"payload", section + 12 + 3, 0x08, RVXError::kPayloadCrcMismatch},
        {"last payload byte", sound - 1, 0x01, RVXError::kPayloadCrcMismatch},
        {"SNX sample rate", sound + 16, 0x01, RVXError::kBadSoundFields},
        {"SNX block table", sound + 96 + 3, 0x01, RVXError::kBadSoundTrack},
        {"sound sample", good.size() - 7, 0x01, RVXError::kSoundDigestMismatch},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.part);
        std::vector<uint8_t> bad = good;
        bad[c.offset] ^= c.mask;
        WriteFile(path, bad);
        std::vector<RVXProblem> problems;
        EXPECT_EQ(FirstProblem(path, &problems), c.expected) << problems.front().message;
    }
    // A damaged payload is named by its frame, and the frame digest fails too.
    std::vector<uint8_t> bad = good;
    bad[section + 12 + 3] ^= 1;
    WriteFile(path, bad);
    std::vector<RVXProblem> problems;
    FirstProblem(path, &problems);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_NE(problems[0].message.find("frame 0 "), std::string::npos) << problems[0].message;
    EXPECT_EQ(problems[1].error, RVXError::kFrameDigestMismatch);
}

// The sound track follows the sound coder's own rules: modes it accepts as
// settings but has no block coder for cannot be played.
TEST(RVXReader, RefusesSoundModesTheSoundCoderCannotDecode) {
    TempDir dir;
    const fs::path path = dir / "movie.rvx";
    const std::vector<uint8_t> good = WriteSampleMovie(dir, path);
    const uint64_t sound = LoadLE64(&good[kOffsetSoundOffset]);
    for (uint16_t mode : {2, 65, 261, 300}) {
        SCOPED_TRACE(mode);
        std::vector<uint8_t> bad = good;
        bad[sound + 8] = uint8_t(mode);
        bad[sound + 9] = uint8_t(mode >> 8);
        WriteFile(path, bad);
        std::vector<RVXProblem> problems;
        EXPECT_EQ(FirstProblem(path, &problems), RVXError::kBadSoundTrack);
        EXPECT_NE(problems.front().message.find("unknown SNX coding mode"), std::string::npos)
            << problems.front().message;
    }
}

// The digests cover every byte: no single flipped bit goes unnoticed.
TEST(RVXReader, DetectsEverySingleBitFlip) {
    TempDir dir;
    const fs::path path = dir / "movie.rvx";
    const std::vector<uint8_t> good = WriteSampleMovie(dir, path, true, 3);
    size_t undetected = 0;
    for (size_t byte = 0; byte < good.size(); ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            std::vector<uint8_t> bad = good;
            bad[byte] ^= uint8_t(1 << bit);
            WriteFile(path, bad);
            CRVXReader reader;
            if (reader.Open(path) && reader.Verify()) ++undetected;
        }
    }
    EXPECT_EQ(undetected, 0u);
}

// Truncated files, also with their size field patched to match as a hostile
// file would, never read outside the file and always give a problem.
TEST(RVXReader, TruncatedFilesAreRefusedAtEveryLength) {
    TempDir dir;
    const fs::path path = dir / "movie.rvx";
    const std::vector<uint8_t> good = WriteSampleMovie(dir, path, true, 5);
    for (size_t length = 0; length < good.size(); ++length) {
        SCOPED_TRACE(length);
        std::vector<uint8_t> cut(good.begin(), good.begin() + length);
        WriteFile(path, cut);
        EXPECT_NE(FirstProblem(path), RVXError::kNone);
        if (length >= 16) {
            StoreLE64(&cut[kOffsetFileSize], length);
            WriteFile(path, cut);
            EXPECT_NE(FirstProblem(path), RVXError::kNone);
        }
    }
}

TEST(RVXReader, SurvivesRandomDamageAndAbsurdCounts) {
    TempDir dir;
    const fs::path path = dir / "movie.rvx";
    const std::vector<uint8_t> good = WriteSampleMovie(dir, path, true, 7);
    std::mt19937 random(12345);
    for (int round = 0; round < 1500; ++round) {
        std::vector<uint8_t> bad = good;
        const int changes = 1 + int(random() % 6);
        for (int i = 0; i < changes; ++i) {
            // Mostly the header, index and records, where sizes live.
            const size_t limit = (random() % 4 == 0) ? bad.size() : std::min<size_t>(bad.size(), 420);
            bad[random() % limit] = uint8_t(random());
        }
        WriteFile(path, bad);
        FirstProblem(path);
    }
    // Counts far beyond what the file can hold are refused without trying.
    std::vector<uint8_t> bad = good;
    StoreLE32(&bad[kOffsetGroupCount], 0xFFFFFFFF);
    WriteFile(path, bad);
    EXPECT_EQ(FirstProblem(path), RVXError::kBadGroupCount);
    bad = good;
    StoreLE32(&bad[kOffsetRecordCount], 0xFFFFFFFF);
    WriteFile(path, bad);
    EXPECT_EQ(FirstProblem(path), RVXError::kBadRecordCount);
    bad = good;
    StoreLE64(&bad[kOffsetFrameSectionLength], ~0ull);
    WriteFile(path, bad);
    EXPECT_EQ(FirstProblem(path), RVXError::kBadSectionLayout);
    bad = good;
    StoreLE32(&bad[LoadLE64(&good[kOffsetFirstGroup]) + 4], 0xFFFFFFF0);
    WriteFile(path, bad);
    EXPECT_EQ(FirstProblem(path), RVXError::kBadFrameRecord);
}

// Records whose references could not be decoded in the order stored.
TEST(RVXReader, RefusesRecordsAPlayerCouldNotDecode) {
    struct Case {
        const char* name;
        std::vector<uint32_t> words;
    } cases[] = {
        {"group without I frame first", {kRecordP | 1 | (1 << 16), kRecordI}},
        {"B frame before its later reference", {kRecordI, kRecordB | 1 | (1 << 16) | (1u << 28), kRecordP | 2 | (2 << 16)}},
        {"P frame predicted from a B frame",
         {kRecordI, kRecordP | 2 | (2 << 16), kRecordB | 1 | (1 << 16) | (1u << 28), kRecordP | 3 | (2 << 16)}},
        {"reference outside the group", {kRecordI, kRecordP | 1 | (2 << 16)}},
        {"two records for one position", {kRecordI, kRecordP | 1 | (1 << 16), kRecordP | 1 | (1 << 16)}},
        {"second I frame", {kRecordI, kRecordI | 1}},
        {"unknown frame type", {kRecordI, 0x3000 | 1}},
        {"reserved bits", {kRecordI, kRecordP | 1 | (1 << 16) | (1 << 24)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        CRVXEncode writer;
        SetUpWriter(writer, dir.path());
        for (size_t j = 0; j < c.words.size(); ++j) HandFrame(writer, uint32_t(j));
        HandGroup(writer, 0, c.words);
        const fs::path path = dir / "odd.rvx";
        if (!writer.WriteMovie(path, PosixFileWriteOps())) continue;   // refused already
        EXPECT_EQ(FirstProblem(path), RVXError::kBadFrameRecord);
    }
}

TEST(RVXReader, AcceptsAMovieWithoutSoundAndRepeatRecords) {
    TempDir dir;
    CRVXEncode writer;
    SetUpWriter(writer, dir.path());
    HandFrame(writer, 0);
    HandGroup(writer, 0, {kRecordI, kRecordRepeat | 1});
    const fs::path path = dir / "repeat.rvx";
    ASSERT_TRUE(writer.WriteMovie(path, PosixFileWriteOps()));
    CRVXReader reader;
    ASSERT_TRUE(reader.Open(path));
    EXPECT_TRUE(reader.Verify());
    EXPECT_FALSE(reader.HasSound());
    EXPECT_EQ(reader.Frames()[1].payload_length, 0u);
}

// A few hundred bytes that claim a huge picture must not make a player build
// pictures of a gigabyte each: a frame's payload holds at least a 6-bit
// quantiser per macroblock.
TEST(RVXReader, RefusesPayloadsTooShortForThePicture) {
    TempDir dir;
    const fs::path path = dir / "movie.rvx";
    CRVXEncode writer;
    SetUpWriter(writer, dir.path());
    HandFrame(writer, 0);   // 17 bytes, the shorter
    HandFrame(writer, 1);
    HandGroup(writer, 0, {kRecordI, kRecordP | 1 | (1 << kRecordBackShift)});
    ASSERT_TRUE(writer.WriteMovie(path, PosixFileWriteOps()));
    const std::vector<uint8_t> good = ReadFile(path);
    ASSERT_EQ(PayloadOf(0).size(), 17u);
    auto openWithWidth = [&](uint32_t width, uint32_t height) {
        std::vector<uint8_t> bytes = good;
        StoreLE32(&bytes[kOffsetWidth], width);
        StoreLE32(&bytes[kOffsetWidthCopy], width);
        StoreLE32(&bytes[kOffsetHeight], height);
        StoreLE32(&bytes[kOffsetHeightCopy], height);
        WriteFile(path, bytes);
        CRVXReader reader;
        const bool opened = reader.Open(path);
        if (!opened) {
            EXPECT_EQ(reader.Problems().front().error, RVXError::kBadFrameRecord);
        }
        return opened;
    };
    // 22 macroblocks need 132 bits, 23 need 138: more than 17 bytes.
    EXPECT_TRUE(openWithWidth(22 * 16, 16));
    EXPECT_FALSE(openWithWidth(22 * 16 + 1, 16));
    EXPECT_FALSE(openWithWidth(16000, 16000));
}
