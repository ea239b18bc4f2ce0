#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "container/file_write_ops.h"
#include "container/rvx_encode.h"
#include "container/rvx_movie_decoder.h"
#include "container/rvx_reader.h"
#include "movie_fixture.h"

using namespace rvx_layout;
using namespace movie_fixture;

namespace {

// 21 frames in a group of 16 and one of 5, with a stereo raw sound track.
std::vector<uint8_t> WriteStagedMovie(const TempDir& dir, const fs::path& output) {
    CRVXEncode writer;
    SetUpWriter(writer, dir.path());
    StageFrames(writer, 21, 16, 2);
    WriteFile(dir / "tmpsnd.snx", MakeSnx(2, 44100, 3000));
    writer.SetSoundFile(dir / "tmpsnd.snx");
    EXPECT_TRUE(writer.WriteMovie(output, PosixFileWriteOps()));
    return ReadFile(output);
}

// Pictures with a moving square, coded for real: two groups of I, P and B
// frames (display order I B P B P ...).
std::vector<uint8_t> WriteCodedMovie(const TempDir& dir, const fs::path& output, uint32_t frames) {
    CRVXEncode writer;
    writer.SetFrameRate(24, 1);
    writer.SetGopStructure(2, 1);
    writer.SetSceneChange(256);
    writer.SetPicture(32, 32, (kSourceBGR24 << kFormatSourceShift) | kTransformWordDct | kPictureYUV444);
    writer.SetWorkDirectory(dir.path());
    writer.SetFramePrefix(dir / "rvxframe");
    EXPECT_TRUE(writer.Open());
    std::vector<uint8_t> source(32 * 32 * 3);
    for (uint32_t n = 0; n < frames; ++n) {
        for (uint32_t i = 0; i < source.size(); ++i) {
            const uint32_t x = (i / 3) % 32, y = i / 96;
            source[i] = uint8_t((x >= 2 * n && x < 2 * n + 8 && y > 8 && y < 20) ? 40 * (i % 3) : 7 * x + 3 * y + n);
        }
        EXPECT_TRUE(writer.AddFrame(source.data()));
    }
    EXPECT_TRUE(writer.FinishFrames());
    EXPECT_TRUE(writer.WriteMovie(output, PosixFileWriteOps()));
    return ReadFile(output);
}

// Every picture the decoder hands out, by display number.
std::map<uint32_t, std::vector<uint8_t>> DecodeAll(CRVXReader& reader) {
    CRVXMovieDecoder decoder;
    EXPECT_TRUE(decoder.Open(reader));
    std::map<uint32_t, std::vector<uint8_t>> pictures;
    const size_t size = size_t(decoder.PaddedWidth()) * decoder.PaddedHeight() * 4;
    uint32_t number = 0;
    while (const uint8_t* picture = decoder.NextPicture(&number)) pictures[number].assign(picture, picture + size);
    return pictures;
}

}  // namespace

// At every length a tolerant reader keeps exactly the records and sound
// blocks that lie wholly in the file, each with its own payload.
TEST(TolerantReading, KeepsEveryWholeRecordAndSoundBlockAtEveryCut) {
    TempDir dir;
    const fs::path path = dir / "movie.rvx";
    const std::vector<uint8_t> good = WriteStagedMovie(dir, path);
    CRVXReader whole;
    ASSERT_TRUE(whole.Open(path));
    const uint32_t blocks = whole.Sound().block_count;
    ASSERT_EQ(whole.IntactSoundBlocks(), blocks);
    std::vector<uint64_t> blockEnds;
    for (uint32_t b = 0; b < blocks; ++b) {
        uint8_t next[4];
        const bool last = b + 1 == blocks;
        ASSERT_TRUE(last || whole.ReadBytes(whole.SoundOffset() + 96 + 4 * (b + 1), 4, next));
        blockEnds.push_back(whole.SoundOffset() + (last ? whole.Sound().end_offset : LoadLE32(next)));
    }
    for (size_t length = kHeaderSize; length <= good.size(); ++length) {
        SCOPED_TRACE(length);
        WriteFile(path, std::vector<uint8_t>(good.begin(), good.begin() + length));
        CRVXReader reader;
        const bool opened = reader.Open(path, RVXReading::kTolerant);
        size_t expected = 0;
        while (expected < whole.Frames().size() &&
               whole.Frames()[expected].record_offset + kFrameRecordSize + whole.Frames()[expected].payload_length <=
                   length) {
            ++expected;
        }
        ASSERT_EQ(opened, expected > 0);
        if (!opened) continue;
        ASSERT_EQ(reader.Frames().size(), expected);
        std::vector<uint8_t> payload;
        for (size_t k = 0; k < expected; ++k) {
            ASSERT_TRUE(reader.ReadPayload(k, payload));
            EXPECT_EQ(payload, PayloadOf(reader.Frames()[k].display_number));
        }
        const uint32_t intact = uint32_t(std::count_if(blockEnds.begin(), blockEnds.end(),
                                                       [&](uint64_t end) { return end <= length; }));
        EXPECT_EQ(reader.IntactSoundBlocks(), intact);
        EXPECT_EQ(reader.Problems().empty(), length == good.size());
        CRVXReader strict;
        EXPECT_EQ(strict.Open(path), length == good.size());
    }
}

// A record that fails its checks ends its group; the next group, found
// through the index, still plays.
TEST(TolerantReading, ADamagedRecordEndsOnlyItsGroup) {
    TempDir dir;
    const fs::path path = dir / "movie.rvx";
    std::vector<uint8_t> file = WriteStagedMovie(dir, path);
    CRVXReader whole;
    ASSERT_TRUE(whole.Open(path));
    StoreLE32(&file[whole.Frames()[4].record_offset + kRecordTypeWord], 0x7000);
    WriteFile(path, file);
    CRVXReader reader;
    ASSERT_TRUE(reader.Open(path, RVXReading::kTolerant));
    ASSERT_EQ(reader.Frames().size(), 4u + 5u);
    EXPECT_EQ(reader.Frames()[4].display_number, 16u);
    EXPECT_EQ(reader.Problems().front().error, RVXError::kBadFrameRecord);
}

// A frame whose payload fails its CRC is skipped with every frame predicted
// from it: their places show the picture shown before, and the rest of the
// movie decodes exactly as from the intact file.
TEST(TolerantReading, SkipsAFrameThatFailsItsCrcAndThoseThatDependOnIt) {
    struct Case {
        uint32_t damaged;                         // display number whose payload is hit
        std::map<uint32_t, uint32_t> shown_as;    // skipped picture -> picture it shows
    };
    // Display order per group of five: I0 B1 P2 B3 P4.
    const Case cases[] = {
        {3, {{3, 2}}},
        {2, {{1, 0}, {2, 0}, {3, 0}, {4, 0}}},
        {7, {{6, 5}, {7, 5}, {8, 5}, {9, 5}}},
        {0, {{0, 99}, {1, 99}, {2, 99}, {3, 99}, {4, 99}}},   // 99: not handed out
    };
    TempDir dir;
    const fs::path path = dir / "movie.rvx";
    const std::vector<uint8_t> good = WriteCodedMovie(dir, path, 10);
    CRVXReader intactReader;
    ASSERT_TRUE(intactReader.Open(path));
    const auto intact = DecodeAll(intactReader);
    ASSERT_EQ(intact.size(), 10u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.damaged);
        std::vector<uint8_t> bad = good;
        for (const RVXFrameInfo& frame : intactReader.Frames()) {
            if (frame.display_number == c.damaged) bad[frame.record_offset + kFrameRecordSize + 1] ^= 0x10;
        }
        WriteFile(path, bad);
        CRVXReader reader;
        ASSERT_TRUE(reader.Open(path, RVXReading::kTolerant));
        const auto shown = DecodeAll(reader);
        for (uint32_t n = 0; n < 10; ++n) {
            const auto skipped = c.shown_as.find(n);
            const uint32_t expected = skipped == c.shown_as.end() ? n : skipped->second;
            if (expected == 99) {
                EXPECT_EQ(shown.count(n), 0u) << n;
            } else {
                ASSERT_EQ(shown.count(n), 1u) << n;
                EXPECT_TRUE(shown.at(n) == intact.at(expected)) << n << " should show " << expected;
            }
        }
    }
}

