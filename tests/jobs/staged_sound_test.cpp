#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/temp_dir.h"
#include "jobs/staged_sound.h"

namespace {

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

}  // namespace

TEST(StagedSound, CompletedFileIsAWaveWithTheDataInOrder) {
    TempDir dir("wav");
    CStagedSoundFile staged;
    ASSERT_TRUE(staged.Create(dir / kStagedSoundName));
    PcmFormat f;
    f.channels = 2;
    f.samples_per_second = 44100;
    f.block_alignment = 4;
    f.average_bytes_per_second = 44100 * 4;
    f.bits_per_sample = 16;
    ASSERT_TRUE(staged.WriteHeader(f));
    const uint8_t a[6] = {1, 2, 3, 4, 5, 6}, b[2] = {7, 8};
    ASSERT_TRUE(staged.Append(a, sizeof a));
    ASSERT_TRUE(staged.Append(b, sizeof b));
    ASSERT_TRUE(staged.Complete());

    std::ifstream in(dir / kStagedSoundName, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    ASSERT_EQ(bytes.size(), 52u);
    EXPECT_EQ(std::memcmp(bytes.data(), "RIFF", 4), 0);
    EXPECT_EQ(Le32(bytes, 4), 44u);
    EXPECT_EQ(std::memcmp(bytes.data() + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(Le32(bytes, 24), 44100u);
    EXPECT_EQ(bytes[22], 2);
    EXPECT_EQ(bytes[34], 16);
    EXPECT_EQ(Le32(bytes, 40), 8u);
    EXPECT_EQ(bytes[44], 1);
    EXPECT_EQ(bytes[51], 8);
}
