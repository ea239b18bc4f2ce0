#include "snx_test_util.h"
#include "snxlib/snx_decode.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using namespace snxtest;
using _snxlib_::CSNXDecode;

// Opens and decodes everything; returns 1 only for a complete decode.
int DecodeEverything(const std::filesystem::path& path, uint32_t expected_frames) {
    CSNXDecode d;
    if (!d.Open(path)) return 0;
    std::vector<int16_t> buffer(static_cast<std::size_t>(d.GetChannels()) * 1000);
    uint64_t total = 0;
    for (;;) {
        uint32_t got = 0;
        const int32_t ok = d.Read(buffer.data(), 1000, &got);
        total += got;
        EXPECT_LE(total, d.GetSampleFrames());
        if (!ok) return 0;
        if (got < 1000) break;
    }
    return total == expected_frames ? 1 : 0;
}

class DamagedSNX : public ::testing::TestWithParam<uint32_t> {};

TEST_P(DamagedSNX, TruncatedFilesAreRefusedAndFlippedBitsNeverCrash) {
    const uint32_t mode = GetParam();
    TempDir dir;
    const uint32_t frames = 3000;
    WriteWave16(dir.File("d.wav"), 2, 44100, MusicLike(frames, 44100, mode));
    ASSERT_TRUE(Encode(dir.File("d.wav"), dir.File("d.snx"), mode, 256));
    const std::vector<uint8_t> good = ReadBytes(dir.File("d.snx"));
    ASSERT_EQ(DecodeEverything(dir.File("d.snx"), frames), 1);

    const auto damaged = dir.File("x.snx");
    for (std::size_t length = 0; length < good.size(); length += 1 + length / 5) {
        WriteBytes(damaged, std::vector<uint8_t>(good.begin(), good.begin() + length));
        EXPECT_EQ(DecodeEverything(damaged, frames), 0) << "mode " << mode << " cut at " << length;
    }
    std::mt19937 rng(mode);
    for (int trial = 0; trial < 120; ++trial) {
        std::vector<uint8_t> bytes = good;
        // Mostly the header and table, where a flip moves whole blocks.
        const std::size_t limit = trial % 2 ? bytes.size() : std::min<std::size_t>(bytes.size(), 200);
        for (int flips = 0; flips < 1 + trial % 3; ++flips) {
            const std::size_t at = std::uniform_int_distribution<std::size_t>(0, limit - 1)(rng);
            bytes[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
        }
        WriteBytes(damaged, bytes);
        DecodeEverything(damaged, frames);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryMode, DamagedSNX, ::testing::Values(0u, 1u, 64u, 256u, 257u, 258u, 259u, 260u));

TEST(DamagedSNX, AbsurdHeadersAreRefused) {
    TempDir dir;
    WriteWave16(dir.File("d.wav"), 2, 44100, Tone(5000, 2, 44100, 300, 5000));
    ASSERT_TRUE(Encode(dir.File("d.wav"), dir.File("d.snx"), 258, 1024));
    const std::vector<uint8_t> good = ReadBytes(dir.File("d.snx"));
    auto with = [&](std::size_t at, std::initializer_list<uint8_t> bytes) {
        std::vector<uint8_t> v = good;
        std::size_t i = at;
        for (uint8_t b : bytes) v[i++] = b;
        WriteBytes(dir.File("x.snx"), v);
        CSNXDecode d;
        return d.Open(dir.File("x.snx"));
    };
    EXPECT_EQ(with(0, {'S', 'N', 'X', 'G'}), 0) << "magic";
    EXPECT_EQ(with(8, {2, 0}), 0) << "mode without a decoder";
    EXPECT_EQ(with(10, {0, 0}), 0) << "no channels";
    EXPECT_EQ(with(10, {3, 0}), 0) << "block length not a multiple of the channels";
    EXPECT_EQ(with(12, {8, 0}), 0) << "8-bit output";
    EXPECT_EQ(with(20, {0xFF, 0xFF, 0xFF, 0x0F}), 0) << "block count";
    EXPECT_EQ(with(24, {0xFF, 0xFF, 0xFF, 0xFF}), 0) << "total samples";
    EXPECT_EQ(with(28, {0x00, 0x00, 0x00, 0x80}), 0) << "block length";
    EXPECT_EQ(with(28, {0x60, 0x00, 0x00, 0x00}), 0) << "block size below 64";
    EXPECT_EQ(with(4, {0xFF, 0xFF, 0xFF, 0x7F}), 0) << "end offset past the file";
    EXPECT_EQ(with(96, {0xFF, 0xFF, 0x00, 0x00}), 0) << "first block past the end";
    EXPECT_EQ(with(0, {'S', 'N', 'X', 'F'}), 1) << "the untouched file opens";
}

}  // namespace
