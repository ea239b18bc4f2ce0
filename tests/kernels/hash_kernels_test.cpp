#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "kernel_levels.h"
#include "support/crc32_update.h"
#include "common/hash_hex.h"
#include "support/hash.h"
#include "support/sha256_blocks.h"

namespace {

// A bit at a time straight from the generator's definition: shares nothing
// with the table or folding routines it checks.
uint32_t BitwiseCrc(const uint8_t* data, std::size_t length) {
    uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

std::vector<uint8_t> RandomBytes(std::mt19937& rng, std::size_t length) {
    std::vector<uint8_t> bytes(length);
    for (uint8_t& b : bytes) b = uint8_t(rng());
    return bytes;
}

// Feeds `data` to `hash` in pieces cut at random points (empty pieces too).
void UpdateInRandomPieces(IHashCode& hash, const uint8_t* data, std::size_t length, std::mt19937& rng) {
    std::size_t at = 0;
    while (at < length) {
        const std::size_t piece = std::min<std::size_t>(length - at, rng() % 200);
        hash.Update(data + at, piece);
        at += piece;
    }
}

std::vector<kernel_test::Level> LevelsWithSha() {
    std::vector<kernel_test::Level> levels;
    for (const kernel_test::Level& level : kernel_test::AllLevels()) {
        if (Sha256BlocksFor(level.features) != Sha256BlocksFor(0)) levels.push_back(level);
    }
    return levels;
}

}  // namespace

TEST(HashKernels, PublishedVectorsAtEveryLevel) {
    const std::string two_blocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    const std::string million(1000000, 'a');
    for (const kernel_test::Level& level : kernel_test::AllLevels()) {
        SCOPED_TRACE(level.name);
        auto sha = [&](const std::string& message) {
            CHashSHA256 hash(level.features);
            hash.Update(message.data(), message.size());
            hash.Final();
            return HashHex(hash);
        };
        EXPECT_EQ(sha(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
        EXPECT_EQ(sha("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        EXPECT_EQ(sha(two_blocks), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
        EXPECT_EQ(sha(million), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");

        auto crc = [&](const std::string& message) {
            CHashCRC32 hash(level.features);
            hash.Update(message.data(), message.size());
            return hash.Final();
        };
        EXPECT_EQ(crc(""), 0u);
        EXPECT_EQ(crc("123456789"), 0xCBF43926u);
        EXPECT_EQ(crc("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
        EXPECT_EQ(crc(million), BitwiseCrc(reinterpret_cast<const uint8_t*>(million.data()), million.size()));
    }
}

// Every length through the block, lane and fold boundaries, from addresses
// at every offset within 16 bytes, whole and in random pieces: the same
// digest as the portable routine and, for the CRC, as the bitwise one.
TEST(HashKernels, EveryLevelMatchesThePortableDigestsForAnyLengthAndSplit) {
    std::mt19937 rng(29);
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 300; ++n) lengths.push_back(n);
    for (std::size_t n : {1023u, 4096u, 65537u, 1000003u}) lengths.push_back(n);
    for (const kernel_test::Level& level : kernel_test::AllLevels()) {
        SCOPED_TRACE(level.name);
        for (std::size_t length : lengths) {
            const std::size_t offset = length % 16;
            const std::vector<uint8_t> buffer = RandomBytes(rng, length + offset);
            const uint8_t* data = buffer.data() + offset;

            CHashSHA256 portable_sha(0), whole_sha(level.features), pieces_sha(level.features);
            portable_sha.Update(data, length);
            portable_sha.Final();
            whole_sha.Update(data, length);
            whole_sha.Final();
            UpdateInRandomPieces(pieces_sha, data, length, rng);
            pieces_sha.Final();
            ASSERT_EQ(HashHex(whole_sha), HashHex(portable_sha)) << "length " << length;
            ASSERT_EQ(HashHex(pieces_sha), HashHex(portable_sha)) << "length " << length;

            const uint32_t want = BitwiseCrc(data, length);
            CHashCRC32 whole_crc(level.features), pieces_crc(level.features);
            whole_crc.Update(data, length);
            UpdateInRandomPieces(pieces_crc, data, length, rng);
            ASSERT_EQ(whole_crc.Final(), want) << "length " << length;
            ASSERT_EQ(pieces_crc.Final(), want) << "length " << length;
        }
    }
}

// Runs of all-zero and all-one bytes, the extremes of the data the register
// is folded with.
TEST(HashKernels, CrcOfConstantRunsMatchesTheBitwiseCrc) {
    for (const kernel_test::Level& level : kernel_test::AllLevels()) {
        for (uint8_t fill : {uint8_t(0x00), uint8_t(0xFF)}) {
            const std::vector<uint8_t> run(4099, fill);
            EXPECT_EQ(~Crc32UpdateFor(level.features)(0xFFFFFFFFu, run.data(), run.size()),
                      BitwiseCrc(run.data(), run.size()))
                << level.name << " fill " << int(fill);
        }
    }
}

// The compressor alone, on many blocks in one call, from any state: the
// rearrangement of the state into the instruction's lanes and back must
// round-trip every word.
TEST(HashKernels, ShaCompressorMatchesThePortableOneFromAnyState) {
    std::mt19937 rng(5);
    const Sha256Blocks portable = Sha256BlocksFor(0);
    for (const kernel_test::Level& level : LevelsWithSha()) {
        SCOPED_TRACE(level.name);
        const Sha256Blocks fast = Sha256BlocksFor(level.features);
        for (std::size_t blocks : {0u, 1u, 2u, 7u, 64u}) {
            const std::vector<uint8_t> data = RandomBytes(rng, 64 * blocks + 1);
            uint32_t want[8], got[8];
            for (int i = 0; i < 8; ++i) want[i] = got[i] = uint32_t(rng());
            portable(want, data.data() + 1, blocks);
            fast(got, data.data() + 1, blocks);
            for (int i = 0; i < 8; ++i) ASSERT_EQ(got[i], want[i]) << blocks << " blocks, word " << i;
        }
    }
}

// Our CPUID reading agrees with the compiler's on the instructions the hash
// twins need, and the twins run exactly at the levels that allow them: a
// wrong bit would either never use them or use them where they fault.
TEST(HashKernels, FastRoutinesFollowTheDetectedFeaturesAndTheLevelCap) {
    // GCC's builtin knows the "sha" feature; Clang 14's does not.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
    const uint32_t detected = DetectedProcessorFeatures();
    __builtin_cpu_init();
    const bool sha = __builtin_cpu_supports("sha") && __builtin_cpu_supports("sse4.1") &&
                     __builtin_cpu_supports("ssse3");
    EXPECT_EQ((detected & kCpuSha) != 0, sha);
    EXPECT_EQ((detected & kCpuClmul) != 0, __builtin_cpu_supports("pclmul") != 0);
    for (const kernel_test::Level& level : kernel_test::AllLevels()) {
        SCOPED_TRACE(level.name);
        const bool top = level.level >= CpuLevel::kAvx2;
        EXPECT_EQ(Sha256BlocksFor(level.features) == Sha256BlocksSha, top && sha);
        EXPECT_EQ(Crc32UpdateFor(level.features) == Crc32UpdateClmul,
                  top && __builtin_cpu_supports("pclmul"));
    }
#endif
    EXPECT_NE(Sha256BlocksFor(0), nullptr);
    EXPECT_EQ(Crc32UpdateFor(0), Crc32UpdateSliced);
}
