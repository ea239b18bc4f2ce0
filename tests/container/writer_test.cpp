#include <gtest/gtest.h>

#include <cstring>

#include "container/file_write_ops.h"
#include "container/rvx_encode.h"
#include "container/rvx_layout.h"
#include "movie_fixture.h"
#include "support/hash.h"

using namespace rvx_layout;
using namespace movie_fixture;

namespace {

std::vector<uint8_t> FoldedSha(const std::vector<uint8_t>& bytes) {
    CHashSHA256 sha;
    sha.Update(bytes.data(), bytes.size());
    sha.Final();
    uint8_t digest[32];
    sha.GetDigest(digest);
    std::vector<uint8_t> folded(16);
    for (int i = 0; i < 16; ++i) folded[i] = digest[i] ^ digest[i + 16];
    return folded;
}

uint32_t Crc(const std::vector<uint8_t>& bytes) {
    CHashCRC32 crc;
    crc.Update(bytes.data(), bytes.size());
    return crc.Final();
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t offset, size_t length) {
    return std::vector<uint8_t>(bytes.begin() + offset, bytes.begin() + offset + length);
}

}  // namespace

TEST(WriterSettings, GopStructureIsClampedAndNeedsAReferenceAfterBFrames) {
    CRVXEncode writer;
    EXPECT_EQ(writer.GopLength(), 16);
    writer.SetGopStructure(0, 3);
    EXPECT_EQ(writer.PFrames(), 1);
    EXPECT_EQ(writer.BFrames(), 2);
    EXPECT_EQ(writer.GopLength(), 4);
    writer.SetGopStructure(0, 0);
    EXPECT_EQ(writer.GopLength(), 1);
    writer.SetGopStructure(100, 9);
    EXPECT_EQ(writer.PFrames(), 63);
    EXPECT_EQ(writer.BFrames(), 7);
    EXPECT_EQ(writer.GopLength(), 505);
    writer.SetGopStructure(0xFFFF, 0xFFFF);
    EXPECT_EQ(writer.PFrames(), 5);
    EXPECT_EQ(writer.BFrames(), 2);
    EXPECT_EQ(writer.GopLength(), 16);
}

TEST(WriterSettings, SceneChangeAndQualityAreClamped) {
    CRVXEncode writer;
    EXPECT_EQ(writer.SceneChange(), 192);
    writer.SetSceneChange(300);
    EXPECT_EQ(writer.SceneChange(), 256);
    writer.SetSceneChange(0);
    EXPECT_EQ(writer.SceneChange(), 0);
    writer.SetSceneChange(0xFFFF);
    EXPECT_EQ(writer.SceneChange(), 192);

    EXPECT_EQ(writer.QualityI(), 4);
    EXPECT_EQ(writer.QualityP(), 6);
    EXPECT_EQ(writer.QualityB(), 8);
    const uint16_t quality[4] = {1, 40, 2, 1};
    writer.SetQuality(quality);
    EXPECT_EQ(writer.QualityI(), 2);
    EXPECT_EQ(writer.QualityP(), 32);
    EXPECT_EQ(writer.QualityB(), 2);
    EXPECT_EQ(writer.MatrixSelector(), 1);
    writer.SetQuality(nullptr);
    EXPECT_EQ(writer.QualityP(), 32);
}

TEST(WriterSettings, OpenLoadsTheMatricesOfTheSelectorAndSetsWeights) {
    TempDir dir;
    CRVXEncode writer;
    const uint16_t flat[4] = {4, 6, 8, 2};
    writer.SetQuality(flat);
    SetUpWriter(writer, dir.path(), 0x30000000 | 0x2000 | 0x43);
    EXPECT_EQ(writer.Header()[kOffsetIntraMatrix], 8);
    EXPECT_EQ(writer.Header()[kOffsetIntraMatrix + 63], 32);
    EXPECT_EQ(writer.Header()[kOffsetInterMatrix + 10], 16);
    EXPECT_EQ(writer.ChannelWeights()[3], 1u);
    EXPECT_EQ(writer.PredictionThreshold(), 256u);

    const uint16_t mpeg[4] = {4, 6, 8, 1};
    writer.SetQuality(mpeg);
    // A 24-bit source has no alpha: the flags lose it, and so does the weight.
    writer.SetPicture(48, 32, 0x10000000 | 0x2000 | 0x50);
    ASSERT_TRUE(writer.Open());
    EXPECT_EQ(writer.HeaderWord(kOffsetFormatFlags), 0x2010u);
    EXPECT_EQ(writer.ChannelWeights()[3], 0u);
    EXPECT_EQ(writer.PredictionThreshold(), 192u);
    EXPECT_EQ(writer.Header()[kOffsetIntraMatrix + 7], 34);
    EXPECT_EQ(writer.Header()[kOffsetInterMatrix + 63], 33);
    // Opening again rebuilds the codec from the full format word.
    EXPECT_TRUE(writer.Open());
}

TEST(WriterSettings, OpenRefusesWhatCannotBeCoded) {
    CRVXEncode writer;
    writer.SetFrameRate(30, 0);
    writer.SetPicture(64, 64, kFormatYUV411Dct);
    EXPECT_FALSE(writer.Open());
    writer.SetFrameRate(30, 1);
    EXPECT_TRUE(writer.Open());
    writer.SetPicture(0, 64, kFormatYUV411Dct);
    EXPECT_FALSE(writer.Open());
    writer.SetPicture(64, 64, 0x2003);   // no source layout
    EXPECT_FALSE(writer.Open());
    writer.SetPicture(64, 64, 0x10003003);   // transform 3
    EXPECT_FALSE(writer.Open());
    writer.SetPicture(0xFFFFFFF8u, 64, kFormatYUV411Dct);   // padding would wrap around
    EXPECT_FALSE(writer.Open());
}

TEST(WriterFrameFiles, AreNamedFromThePrefixWithSixDigits) {
    CRVXEncode writer;
    writer.SetFramePrefix("/work/rvx0000abcd/rvxframe");
    EXPECT_EQ(writer.FrameFileName(12).string(), "/work/rvx0000abcd/rvxframe000012.hjx");
    EXPECT_EQ(writer.FrameFileName(1234567).string(), "/work/rvx0000abcd/rvxframe1234567.hjx");
}

TEST(WriterFrameFiles, AFrameThatCannotBeKeptFailsTheMovie) {
    TempDir dir;
    CRVXEncode writer;
    writer.SetFrameRate(25, 1);
    writer.SetPicture(32, 32, kFormatYUV411Dct);
    writer.SetWorkDirectory(dir.path());
    writer.SetFramePrefix(dir / "missing" / "rvxframe");
    ASSERT_TRUE(writer.Open());
    const std::vector<uint8_t> picture(32 * 96, 128);
    EXPECT_TRUE(writer.AddFrame(picture.data()));
    EXPECT_TRUE(writer.FrameCodingFailed());
    EXPECT_TRUE(writer.AddFrame(picture.data()));
    EXPECT_FALSE(writer.FinishFrames());
    EXPECT_FALSE(writer.WriteMovie(dir / "movie.rvx", PosixFileWriteOps()));
    EXPECT_FALSE(fs::exists(dir / "movie.rvx"));
}

// The whole file recomputed here from the payloads, without the reader.
TEST(WriteMovie, LaysOutHeaderIndexRecordsAndDigests) {
    TempDir dir;
    CRVXEncode writer;
    SetUpWriter(writer, dir.path());
    StageFrames(writer, 21, 16, 2);
    const fs::path output = dir / "movie.rvx";
    ASSERT_TRUE(writer.WriteMovie(output, PosixFileWriteOps()));
    const std::vector<uint8_t> file = ReadFile(output);

    EXPECT_EQ(std::memcmp(file.data(), "RVXFILE0", 8), 0);
    const uint64_t sectionStart = 288 + 2 * 24;
    std::vector<uint8_t> section;
    const uint32_t firsts[2] = {0, 16}, counts[2] = {16, 5};
    std::vector<uint64_t> groupOffsets;
    for (int g = 0; g < 2; ++g) {
        groupOffsets.push_back(sectionStart + section.size());
        for (uint32_t word : GroupTypeWords(counts[g], 2)) {
            const std::vector<uint8_t> payload = PayloadOf(firsts[g] + RecordPosition(word));
            uint8_t record[12];
            StoreFrameRecord(record, {word, uint32_t(payload.size()), Crc(payload)});
            section.insert(section.end(), record, record + 12);
            section.insert(section.end(), payload.begin(), payload.end());
        }
    }
    groupOffsets.push_back(sectionStart + section.size());
    ASSERT_EQ(file.size(), sectionStart + section.size());
    EXPECT_EQ(Slice(file, sectionStart, section.size()), section);

    EXPECT_EQ(LoadLE64(&file[8]), file.size());
    EXPECT_EQ(LoadLE64(&file[16]), sectionStart);
    EXPECT_EQ(LoadLE64(&file[40]), sectionStart);
    EXPECT_EQ(LoadLE64(&file[48]), section.size());
    EXPECT_EQ(Slice(file, 56, 16), FoldedSha(section));
    EXPECT_EQ(LoadLE32(&file[104]), 21u);
    EXPECT_EQ(LoadLE32(&file[108]), 2u);
    EXPECT_EQ(LoadLE32(&file[112]), 30000u);
    EXPECT_EQ(LoadLE32(&file[116]), 1001u);
    EXPECT_EQ(LoadLE32(&file[120]), 16u);
    EXPECT_EQ(LoadLE32(&file[124]), 48u);
    EXPECT_EQ(LoadLE32(&file[132]), 48u);
    EXPECT_EQ(LoadLE32(&file[128]), 32u);
    EXPECT_EQ(LoadLE32(&file[136]), 32u);
    EXPECT_EQ(LoadLE32(&file[140]), 0x2003u);
    // No sound: offsets 72..103 and 144..159 are all zero.
    EXPECT_EQ(Slice(file, 72, 32), std::vector<uint8_t>(32, 0));
    EXPECT_EQ(Slice(file, 144, 16), std::vector<uint8_t>(16, 0));
    for (int g = 0; g < 2; ++g) {
        const RVXGroupEntry entry = LoadGroupEntry(&file[288 + 24 * g]);
        EXPECT_EQ(entry.first_frame, firsts[g]);
        EXPECT_EQ(entry.record_count, counts[g]);
        EXPECT_EQ(entry.offset, groupOffsets[g]);
        EXPECT_EQ(entry.length, groupOffsets[g + 1] - groupOffsets[g]);
    }
    std::vector<uint8_t> covered = Slice(file, 40, 248 + 48);
    EXPECT_EQ(Slice(file, 24, 16), FoldedSha(covered));

    // Every frame file was consumed.
    EXPECT_FALSE(fs::exists(writer.FrameFileName(0)));
    EXPECT_FALSE(fs::exists(writer.FrameFileName(20)));
}

TEST(WriteMovie, OneFrameMovieHasOneGroupAndOneIRecord) {
    TempDir dir;
    CRVXEncode writer;
    SetUpWriter(writer, dir.path());
    StageFrames(writer, 1, 16, 2);
    ASSERT_TRUE(writer.WriteMovie(dir / "one.rvx", PosixFileWriteOps()));
    const std::vector<uint8_t> file = ReadFile(dir / "one.rvx");
    EXPECT_EQ(LoadLE32(&file[104]), 1u);
    EXPECT_EQ(LoadLE32(&file[108]), 1u);
    EXPECT_EQ(LoadLE64(&file[16]), 312u);
    EXPECT_EQ(LoadLE32(&file[312]), kRecordI);
    EXPECT_EQ(file.size(), 312u + 12u + PayloadOf(0).size());
}

TEST(WriteMovie, AppendsTheSoundTrackUnchangedWithItsFieldsAndDigest) {
    TempDir dir;
    CRVXEncode writer;
    SetUpWriter(writer, dir.path());
    StageFrames(writer, 5, 16, 2);
    const std::vector<uint8_t> snx = MakeSnx(2, 44100, 1000);
    WriteFile(dir / "tmpsnd.snx", snx);
    writer.SetSoundFile(dir / "tmpsnd.snx");
    ASSERT_TRUE(writer.WriteMovie(dir / "movie.rvx", PosixFileWriteOps()));
    const std::vector<uint8_t> file = ReadFile(dir / "movie.rvx");

    const uint64_t soundOffset = LoadLE64(&file[72]);
    EXPECT_EQ(soundOffset, LoadLE64(&file[40]) + LoadLE64(&file[48]));
    EXPECT_EQ(LoadLE64(&file[80]), snx.size());
    EXPECT_EQ(file.size(), soundOffset + snx.size());
    EXPECT_EQ(LoadLE64(&file[8]), file.size());
    EXPECT_EQ(Slice(file, soundOffset, snx.size()), snx);
    EXPECT_EQ(Slice(file, 88, 16), FoldedSha(snx));
    EXPECT_EQ(LoadLE16(&file[144]), 2);
    EXPECT_EQ(LoadLE16(&file[146]), 16);
    EXPECT_EQ(LoadLE32(&file[148]), 44100u);
    EXPECT_EQ(LoadLE32(&file[152]), 1000u);
    EXPECT_EQ(LoadLE32(&file[156]), 1u);
    EXPECT_EQ(Slice(file, 24, 16), FoldedSha(Slice(file, 40, 248 + 24)));
    EXPECT_FALSE(fs::exists(dir / "tmpsnd.snx"));
}

// Where a write fails, the existing output must survive and no partial file
// may appear: neither at the output path nor as a leftover temporary.
class WriteMovieFailure : public ::testing::Test {
protected:
    void SetUp() override {
        SetUpWriter(writer, dir.path());
        StageFrames(writer, 10, 8, 1);
        output = dir / "out.rvx";
        WriteFile(output, {'o', 'l', 'd'});
    }
    void ExpectOldOutputAlone() {
        EXPECT_EQ(ReadFile(output), (std::vector<uint8_t>{'o', 'l', 'd'}));
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            EXPECT_EQ(entry.path().extension(), entry.path() == output ? ".rvx" : ".hjx") << entry.path();
        }
    }

    TempDir dir;
    CRVXEncode writer;
    fs::path output;
};

TEST_F(WriteMovieFailure, MissingFrameFileFailsAndLeavesTheOutputAlone) {
    fs::remove(writer.FrameFileName(6));
    EXPECT_FALSE(writer.WriteMovie(output, PosixFileWriteOps()));
    ExpectOldOutputAlone();
}

// A payload file that no longer holds what was coded (another process, a
// failing disk) must not become a movie whose checksums vouch for it.
TEST_F(WriteMovieFailure, APayloadFileChangedSinceItWasCodedFails) {
    const std::vector<uint8_t> coded = PayloadOf(3);
    std::vector<uint8_t> flipped = coded, longer = coded;
    flipped[5] ^= 0x10;
    longer.push_back(0);
    const std::vector<uint8_t> shorter(coded.begin(), coded.end() - 1);
    for (const auto& changed : {flipped, longer, shorter}) {
        WriteFile(writer.FrameFileName(3), changed);
        EXPECT_FALSE(writer.WriteMovie(output, PosixFileWriteOps()));
        ExpectOldOutputAlone();
    }
    WriteFile(writer.FrameFileName(3), coded);
    EXPECT_TRUE(writer.WriteMovie(output, PosixFileWriteOps()));
}

TEST_F(WriteMovieFailure, MissingOrBrokenSoundFileFails) {
    writer.SetSoundFile(dir / "tmpsnd.snx");
    EXPECT_FALSE(writer.WriteMovie(output, PosixFileWriteOps()));
    ExpectOldOutputAlone();
}

TEST_F(WriteMovieFailure, RecordsWithoutTheirPayloadFail) {
    // A group naming a frame whose payload never arrived.
    HandGroup(writer, 10, {kRecordI});
    EXPECT_FALSE(writer.WriteMovie(output, PosixFileWriteOps()));
    ExpectOldOutputAlone();
}

TEST_F(WriteMovieFailure, EmptyMovieFails) {
    CRVXEncode empty;
    EXPECT_FALSE(empty.WriteMovie(output, PosixFileWriteOps()));
    ExpectOldOutputAlone();
}

// File operations that fail at a chosen call, otherwise the platform's.
namespace failing {
int writesLeft = -1;   // -1: never fail
bool failSeek = false, failFlush = false, failClose = false, shortWrite = false;

int32_t Write(FileHandle h, const void* bytes, uint32_t length, uint32_t* written, void* reserved) {
    if (writesLeft == 0) {
        if (shortWrite && length > 1) {
            // A device that takes part of the data and claims success.
            PosixFileWriteOps().write(h, bytes, length / 2, written, reserved);
            return 1;
        }
        *written = 0;
        return 0;
    }
    if (writesLeft > 0) --writesLeft;
    return PosixFileWriteOps().write(h, bytes, length, written, reserved);
}
int32_t Seek(FileHandle h, int64_t offset, int64_t* position, uint32_t method) {
    return failSeek ? 0 : PosixFileWriteOps().seek(h, offset, position, method);
}
int32_t Flush(FileHandle h) { return failFlush ? 0 : PosixFileWriteOps().flush(h); }
int32_t Close(FileHandle h) {
    const int32_t result = PosixFileWriteOps().close(h);
    return failClose ? 0 : result;
}
FileWriteOps Ops() { return {PosixFileWriteOps().open, Write, Seek, Flush, Close}; }
void Reset() {
    writesLeft = -1;
    failSeek = failFlush = failClose = shortWrite = false;
}
}  // namespace failing

TEST_F(WriteMovieFailure, EveryFailingFileOperationIsReported) {
    struct Case {
        const char* name;
        void (*arrange)();
    } cases[] = {
        {"first write", [] { failing::writesLeft = 0; }},
        {"payload write", [] { failing::writesLeft = 5; }},
        {"short write", [] { failing::writesLeft = 7; failing::shortWrite = true; }},
        {"seek", [] { failing::failSeek = true; }},
        {"flush", [] { failing::failFlush = true; }},
        {"close", [] { failing::failClose = true; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Each attempt consumes the frame files; stage them again.
        CRVXEncode fresh;
        SetUpWriter(fresh, dir.path());
        StageFrames(fresh, 10, 8, 1);
        failing::Reset();
        c.arrange();
        EXPECT_FALSE(fresh.WriteMovie(output, failing::Ops()));
        failing::Reset();
        for (uint32_t n = 0; n < 10; ++n) fs::remove(fresh.FrameFileName(n));
        ExpectOldOutputAlone();
    }
    // The same table with nothing failing writes the movie over the old file.
    CRVXEncode fresh;
    SetUpWriter(fresh, dir.path());
    StageFrames(fresh, 10, 8, 1);
    EXPECT_TRUE(fresh.WriteMovie(output, failing::Ops()));
    EXPECT_EQ(ReadFile(output).size(), LoadLE64(ReadFile(output).data() + 8));
}

TEST(WriteMovieOps, UnopenableOutputFails) {
    TempDir dir;
    CRVXEncode writer;
    SetUpWriter(writer, dir.path());
    StageFrames(writer, 3, 16, 2);
    EXPECT_FALSE(writer.WriteMovie(dir / "no-such-dir" / "out.rvx", PosixFileWriteOps()));
    // The frame files were not touched.
    EXPECT_TRUE(fs::exists(writer.FrameFileName(0)));
}

// A disk that fills up while the movie is assembled must not cost the coded
// frames or the sound: they stay until a movie is complete, so the same
// writer can try again once there is room.
TEST_F(WriteMovieFailure, AFullDiskKeepsThePayloadFilesForAnotherAttempt) {
    TempDir sound_dir;
    const fs::path sound = sound_dir / "tmpsnd.snx";
    WriteFile(sound, MakeSnx(2, 44100, 1000));
    writer.SetSoundFile(sound);
    for (int writes : {0, 5, 12}) {
        SCOPED_TRACE(writes);
        failing::Reset();
        failing::writesLeft = writes;
        EXPECT_FALSE(writer.WriteMovie(output, failing::Ops()));
        failing::Reset();
        ExpectOldOutputAlone();
        for (uint32_t n = 0; n < 10; ++n) EXPECT_TRUE(fs::exists(writer.FrameFileName(n))) << n;
        EXPECT_TRUE(fs::exists(sound));
    }
    ASSERT_TRUE(writer.WriteMovie(output, PosixFileWriteOps()));
    EXPECT_EQ(ReadFile(output).size(), LoadLE64(ReadFile(output).data() + 8));
    for (const auto& entry : fs::directory_iterator(dir.path())) EXPECT_EQ(entry.path(), output);
    EXPECT_FALSE(fs::exists(sound));
}
