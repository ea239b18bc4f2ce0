// The transforms without a quantiser: differences, Hadamard and identity.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>

#include "pqxlib/diff2d.h"
#include "pqxlib/hadamard2d.h"
#include "pqxlib/null_conv2d.h"
#include "pqxlib/quant_tables.h"

using namespace _pqxlib_;

namespace {

struct alignas(16) Block {
    std::array<int16_t, kBlockValues> v{};
    int16_t& at(int r, int c, int k) { return v[BlockIndex(r, c, k)]; }
    int16_t* data() { return v.data(); }
};

Block RandomBlock(std::mt19937& rng, int lo, int hi) {
    std::uniform_int_distribution<int> d(lo, hi);
    Block b;
    for (auto& x : b.v) x = static_cast<int16_t>(d(rng));
    return b;
}

template <typename F>
Block Pattern(F value) {
    Block b;
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c)
            for (int k = 0; k < 4; ++k) b.at(r, c, k) = static_cast<int16_t>(value(r, c, k));
    return b;
}

}  // namespace

TEST(Diff2D, RoundTripIsExactForEveryInput) {
    std::mt19937 rng(21);
    std::vector<Block> blocks = {
        Pattern([](int, int, int) { return 0; }),
        Pattern([](int, int, int) { return 255; }),
        Pattern([](int r, int c, int) { return (r + c) % 2 ? 255 : 0; }),
        Pattern([](int, int c, int k) { return (c + k) % 2 ? 32767 : -32768; }),
        Pattern([](int r, int c, int) { return (r * 8 + c) % 3 == 0 ? -32768 : 32767; }),
    };
    for (int n = 0; n < 100; ++n) blocks.push_back(RandomBlock(rng, -32768, 32767));
    CDiff2D t;
    ASSERT_EQ(t.Init(0), 1);
    for (const Block& original : blocks) {
        Block b = original;
        ASSERT_EQ(t.Forward(b.data()), 1);
        ASSERT_EQ(t.Inverse(b.data()), 1);
        EXPECT_EQ(b.v, original.v);
    }
    EXPECT_EQ(t.Flush(), 1);
}

TEST(Diff2D, ForwardLeavesTheCornerAndTheDifferences) {
    CDiff2D t;
    t.Init(0);
    // A constant block keeps only its corner.
    Block b = Pattern([](int, int, int k) { return 40 * k - 50; });
    t.Forward(b.data());
    for (int i = 0; i < 64; ++i)
        for (int k = 0; k < 4; ++k) EXPECT_EQ(b.v[4 * i + k], i == 0 ? 40 * k - 50 : 0) << i;
    // Alternating 0/255 columns: the first row alternates +-255, the rest is 0.
    b = Pattern([](int, int c, int) { return c % 2 ? 255 : 0; });
    t.Forward(b.data());
    for (int c = 0; c < 8; ++c) EXPECT_EQ(b.at(0, c, 2), c == 0 ? 0 : (c % 2 ? 255 : -255)) << c;
    for (int r = 1; r < 8; ++r)
        for (int c = 0; c < 8; ++c) EXPECT_EQ(b.at(r, c, 1), 0);
}

TEST(Hadamard2D, ConstantBlockPutsEverythingInTheDcAndComesBackExactly) {
    CHadamard2D t;
    ASSERT_EQ(t.Init(0), 1);
    const int values[4] = {-128, 0, 255, 77};
    const Block original = Pattern([&](int, int, int k) { return values[k]; });
    Block b = original;
    ASSERT_EQ(t.Forward(b.data()), 1);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(b.at(0, 0, k), 8 * values[k]);
        for (int i = 1; i < 64; ++i) EXPECT_EQ(b.v[4 * i + k], 0) << i;
    }
    ASSERT_EQ(t.Inverse(b.data()), 1);
    EXPECT_EQ(b.v, original.v);
}

TEST(Hadamard2D, CoefficientsAreInSequencyOrder) {
    CHadamard2D t;
    t.Init(0);
    // Alternating columns change sign seven times along a row: the last
    // horizontal sequency. Top half against bottom half changes once down a
    // column: the first vertical sequency.
    Block b = Pattern([](int, int c, int) { return c % 2 ? -20 : 20; });
    t.Forward(b.data());
    for (int i = 0; i < 64; ++i) EXPECT_EQ(b.v[4 * i], i == 7 ? 160 : 0) << i;
    b = Pattern([](int r, int, int) { return r < 4 ? 20 : -20; });
    t.Forward(b.data());
    for (int i = 0; i < 64; ++i) EXPECT_EQ(b.v[4 * i + 3], i == 8 ? 160 : 0) << i;
    // Two sign changes along a row (+ - - + ...) is sequency 2.
    b = Pattern([](int, int c, int) { return (c == 0 || c == 1 || c == 6 || c == 7) ? 20 : -20; });
    t.Forward(b.data());
    for (int i = 0; i < 64; ++i) EXPECT_EQ(b.v[4 * i + 1], i == 2 ? 160 : 0) << i;
}

TEST(Hadamard2D, OtherBlocksComeBackWithSmallErrors) {
    CHadamard2D t;
    t.Init(0);
    std::mt19937 rng(23);
    int worst = 0;
    for (int n = 0; n < 500; ++n) {
        const Block original = RandomBlock(rng, n % 2 ? -128 : 0, n % 2 ? 127 : 255);
        Block b = original;
        t.Forward(b.data());
        t.Inverse(b.data());
        for (int i = 0; i < kBlockValues; ++i) worst = std::max(worst, std::abs(b.v[i] - original.v[i]));
    }
    // Rounding each coefficient up to a multiple of 8 moves a sample by at
    // most 64 * 7 / 64 before the final division.
    EXPECT_LE(worst, 7);
    // Extreme values wrap around in 16 bits, without failing.
    Block b = RandomBlock(rng, -32768, 32767);
    EXPECT_EQ(t.Forward(b.data()), 1);
    EXPECT_EQ(t.Inverse(b.data()), 1);
}

TEST(NullConv2D, LeavesTheBlockAsItIs) {
    std::mt19937 rng(25);
    const Block original = RandomBlock(rng, -32768, 32767);
    Block b = original;
    CNullConv2D t;
    EXPECT_EQ(t.Init(0), 1);
    EXPECT_EQ(t.Forward(b.data()), 1);
    EXPECT_EQ(b.v, original.v);
    EXPECT_EQ(t.Inverse(b.data()), 1);
    EXPECT_EQ(b.v, original.v);
    EXPECT_EQ(t.Flush(), 1);
    EXPECT_EQ(t.Release(), 1);
}

TEST(NonQuantisingTransforms, QuantiserSettingsAreNotSupported) {
    const uint8_t* tables[4];
    StillImageQuantTables(tables);
    std::unique_ptr<IPQXConvInterface> transforms[] = {
        std::make_unique<CHadamard2D>(), std::make_unique<CDiff2D>(), std::make_unique<CNullConv2D>()};
    for (auto& t : transforms) {
        ASSERT_EQ(t->Init(0), 1);
        EXPECT_EQ(t->SetQuantTables(tables), 0);
        EXPECT_EQ(t->SetQuantScale(4), 0);
        EXPECT_EQ(t->SetChannels(3), 0);
        EXPECT_EQ(t->Release(), 1);
    }
    // Still all four channels, unquantised.
    CDiff2D diff;
    Block b = Pattern([](int, int, int k) { return k + 1; });
    diff.SetChannels(1);
    diff.Forward(b.data());
    for (int k = 0; k < 4; ++k) EXPECT_EQ(b.v[k], k + 1);
}
