#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "pqxlib/huffman.h"
#include "rvxlib/format/frame_bitstream.h"

using namespace _rvxlib_;

namespace {

uint8_t kIdentityScan[64];
struct ScanInit {
    ScanInit() {
        for (int i = 0; i < 64; ++i) kIdentityScan[i] = uint8_t(i);
    }
} scan_init;

}  // namespace

TEST(FrameBitstream, InterFrameReadsBackMacroblockByMacroblock) {
    const RVXFrameLayout layout{3, 2, 6};
    const std::size_t blocks = 3 * 2 * 6;
    std::vector<int16_t> values(blocks * 64, 0);
    std::mt19937 rng(11);
    for (std::size_t i = 0; i < values.size(); ++i)
        if (rng() % 5 == 0) values[i] = int16_t(int(rng() % 4095) - 2047);
    std::vector<RVXMotionEntry> motion(6);
    motion[0] = {1, 1, -3, 5};
    motion[2] = {1, 0, 127, -128};
    motion[5] = {1, 1, 0, 0};
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(CodeFramePayload(layout, 17, values.data(), motion.data(), &bytes));

    RVXFrameReader reader;
    ASSERT_TRUE(reader.Begin(bytes.data(), bytes.size()));
    for (int m = 0; m < 6; ++m) {
        uint16_t q = 0;
        RVXMotionEntry entry;
        ASSERT_TRUE(reader.ReadMacroblockHeader(true, &q, &entry));
        EXPECT_EQ(q, 17);
        EXPECT_EQ(entry.use, motion[m].use);
        if (entry.use) {
            EXPECT_EQ(entry.direction, motion[m].direction);
            EXPECT_EQ(entry.dx, motion[m].dx);
            EXPECT_EQ(entry.dy, motion[m].dy);
        }
        for (int b = 0; b < 6; ++b) {
            int16_t block[64];
            ASSERT_TRUE(reader.Coder().DecodeBlock(block, kIdentityScan));
            for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], values[(m * 6 + b) * 64 + i]);
        }
    }
    EXPECT_TRUE(reader.Intact());
}

TEST(FrameBitstream, AllZeroFrameCostsTheTableAndOneBitPerBlock) {
    // Table: 192 presence bits + 4 length bits for the end-of-block symbol.
    // Each macroblock: 6 quantiser bits, 1 motion bit, then 10 one-bit blocks.
    const RVXFrameLayout layout{4, 3, 10};
    std::vector<int16_t> values(4 * 3 * 10 * 64, 0);
    std::vector<RVXMotionEntry> motion(12);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(CodeFramePayload(layout, 8, values.data(), motion.data(), &bytes));
    const std::size_t bits = 192 + 4 + 12 * (6 + 1 + 10);
    EXPECT_EQ(bytes.size(), (bits + 7) / 8);

    // The same as an I frame has no motion bits at all.
    ASSERT_TRUE(CodeFramePayload(layout, 8, values.data(), nullptr, &bytes));
    EXPECT_EQ(bytes.size(), (192 + 4 + 12 * (6 + 10) + 7) / 8);
    // Motion vector (-3, 5): bits 1 and the direction, then 0xFD and 0x05.
    motion[0] = {1, 1, -3, 5};
    ASSERT_TRUE(CodeFramePayload(layout, 8, values.data(), motion.data(), &bytes));
    // First macroblock starts at bit 196: 6 quantiser bits, then 1, 1.
    uint64_t window = 0;
    for (int i = 0; i < 8; ++i) window = window << 8 | bytes[196 / 8 + i];
    const int shift = 64 - (196 % 8) - 6 - 2 - 16;
    EXPECT_EQ((window >> (shift + 16)) & 0xFF, 8u * 4 + 3);  // quantiser 8, bits 1 and 1
    EXPECT_EQ((window >> shift) & 0xFFFF, 0xFD05u);
}

TEST(FrameBitstream, FailsOnValuesWithoutASymbolLeavingNoPayload) {
    const RVXFrameLayout layout{1, 1, 6};
    std::vector<int16_t> values(6 * 64, 0);
    std::vector<uint8_t> bytes = {1, 2, 3};
    values[100] = 2048;
    EXPECT_FALSE(CodeFramePayload(layout, 8, values.data(), nullptr, &bytes));
    EXPECT_TRUE(bytes.empty());
    values[100] = -2048;
    EXPECT_FALSE(CodeFramePayload(layout, 8, values.data(), nullptr, &bytes));
    values[100] = 2047;
    EXPECT_TRUE(CodeFramePayload(layout, 8, values.data(), nullptr, &bytes));
    // A quantiser wider than its 6-bit field, and no blocks at all.
    EXPECT_FALSE(CodeFramePayload(layout, 64, values.data(), nullptr, &bytes));
    EXPECT_FALSE(CodeFramePayload(layout, 8, nullptr, nullptr, &bytes));
}

TEST(FrameBitstream, ReaderRefusesBadQuantisersAndDataPastTheEnd) {
    const RVXFrameLayout layout{2, 1, 6};
    std::vector<int16_t> values(2 * 6 * 64, 1);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(CodeFramePayload(layout, 8, values.data(), nullptr, &bytes));

    // Cut in the middle of the macroblocks: the reader runs dry and says so.
    RVXFrameReader reader;
    ASSERT_TRUE(reader.Begin(bytes.data(), bytes.size() - 20));
    bool ok = true;
    for (int m = 0; m < 2 && ok; ++m) {
        ok = reader.ReadMacroblockHeader(false, nullptr, nullptr);
        for (int b = 0; b < 6 && ok; ++b) {
            int16_t block[64];
            ok = reader.Coder().DecodeBlock(block, kIdentityScan) && reader.Intact();
        }
    }
    EXPECT_FALSE(ok);

    EXPECT_FALSE(reader.Begin(bytes.data(), 10));  // table cut short
    EXPECT_FALSE(reader.Begin(nullptr, 0));

    // A quantiser no frame type carries.
    ASSERT_TRUE(CodeFramePayload(layout, 33, values.data(), nullptr, &bytes));
    ASSERT_TRUE(reader.Begin(bytes.data(), bytes.size()));
    EXPECT_FALSE(reader.ReadMacroblockHeader(false, nullptr, nullptr));
}
