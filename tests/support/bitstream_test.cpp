#include "support/aligned_alloc.h"
#include "support/bitstream.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

namespace {

// Writes through a real stdio stream into memory.
struct MemoryStream {
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* file = open_memstream(&data, &size);
    ~MemoryStream() {
        if (file) std::fclose(file);
        std::free(data);
    }
    std::vector<uint8_t> Bytes() {
        std::fflush(file);
        return std::vector<uint8_t>(data, data + size);
    }
};

TEST(BitReader, ReadsMostSignificantBitFirst) {
    const uint8_t bytes[] = {0xA5, 0x3C, 0, 0, 0, 0};
    BitStream s;
    BitStreamInit(s, bytes);
    EXPECT_EQ(GetBits(s, 3), 0b101u);
    EXPECT_EQ(GetBits(s, 13), 0x053Cu);
}

TEST(BitReader, PeekDoesNotConsume) {
    const uint8_t bytes[] = {0xC7, 0x11, 0, 0, 0, 0};
    BitStream s;
    BitStreamInit(s, bytes);
    EXPECT_EQ(PeekBits(s, 4), 0xCu);
    EXPECT_EQ(PeekBits(s, 4), 0xCu);
    EXPECT_EQ(GetBits(s, 4), 0xCu);
    EXPECT_EQ(GetBits(s, 8), 0x71u);
}

TEST(BitReader, BoundedReaderReadsZerosPastTheEndAndReportsOverrun) {
    const uint8_t bytes[] = {0xFF};
    BitStream s;
    BitStreamInitBounded(s, bytes, 1);
    EXPECT_EQ(GetBits(s, 8), 0xFFu);
    EXPECT_FALSE(BitStreamOverrun(s));
    EXPECT_EQ(GetBits(s, 24), 0u);
    EXPECT_TRUE(BitStreamOverrun(s));
}

TEST(BitWriter, WritesPartialByteOnFlushOnly) {
    MemoryStream m;
    BitStream s;
    BitStreamInit(s, m.file);
    FlushBits(s);
    EXPECT_TRUE(m.Bytes().empty());
    PutBits(s, 0xA0000000u, 3);
    FlushBits(s);
    EXPECT_EQ(s.position, 1u);
    EXPECT_EQ(m.Bytes(), std::vector<uint8_t>{0xA0});
}

TEST(BitWriter, SixteenBitsComeOutHighByteFirst) {
    MemoryStream m;
    BitStream s;
    BitStreamInit(s, m.file);
    PutBits(s, 0x12340000u, 16);
    FlushBits(s);
    EXPECT_EQ(m.Bytes(), (std::vector<uint8_t>{0x12, 0x34}));
}

// Whole bytes wait in the writer and leave in order, with the bits around
// them, however many there are and however they were put.
TEST(BitWriter, GatheredBytesLeaveInOrderOnFlush) {
    MemoryStream m;
    BitStream s;
    BitStreamInit(s, m.file);
    std::vector<uint8_t> want;
    for (int i = 0; i < 1500; ++i) {
        PutBits(s, uint32_t(i & 0xFF) << 24, 8);
        want.push_back(uint8_t(i));
    }
    std::vector<uint8_t> run(700);
    for (std::size_t i = 0; i < run.size(); ++i) run[i] = uint8_t(3 * i);
    PutBytes(s, run.data(), 5);
    PutBytes(s, run.data(), run.size());
    want.insert(want.end(), run.begin(), run.begin() + 5);
    want.insert(want.end(), run.begin(), run.end());
    PutBits(s, 0x80000000u, 1);
    want.push_back(0x80);
    EXPECT_LT(m.Bytes().size(), want.size());
    FlushBits(s);
    EXPECT_EQ(s.position, want.size());
    EXPECT_EQ(m.Bytes(), want);
}

TEST(BitStreams, RandomWidthsRoundTrip) {
    std::mt19937 rng(7);
    std::vector<std::pair<uint32_t, uint32_t>> fields;
    MemoryStream m;
    BitStream w;
    BitStreamInit(w, m.file);
    for (int i = 0; i < 20000; ++i) {
        const uint32_t n = 1 + rng() % 24;
        const uint32_t value = rng() & ((1u << n) - 1);
        fields.emplace_back(value, n);
        PutBits(w, value << (32 - n), n);
    }
    FlushBits(w);
    std::vector<uint8_t> bytes = m.Bytes();
    const std::size_t size = bytes.size();
    bytes.resize(size + 4, 0);

    BitStream r;
    BitStreamInitBounded(r, bytes.data(), size);
    for (const auto& [value, n] : fields) {
        if (n > 12) {
            ASSERT_EQ(PeekBits(r, n), value);
        }
        ASSERT_EQ(GetBits(r, n), value);
    }
    EXPECT_FALSE(BitStreamOverrun(r));
}

TEST(AlignedAlloc, AlignsWithinTheFirstSixteenBytes) {
    EXPECT_EQ(AlignedAlloc(nullptr, 100), nullptr);
    for (std::size_t size : {0u, 1u, 15u, 16u, 1000u}) {
        uint8_t* raw = nullptr;
        auto* aligned = static_cast<uint8_t*>(AlignedAlloc(&raw, size));
        ASSERT_NE(raw, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(aligned) % 16, 0u);
        EXPECT_LT(aligned - raw, 16);
        delete[] raw;
    }
}

}  // namespace
