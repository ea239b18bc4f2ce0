#include "snxlib/hadamard.h"
#include "snxlib/mdct.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

using _snxlib_::CHadamard;
using _snxlib_::CMDCT;

// The defining sum, evaluated directly in double precision.
std::vector<double> DirectMdct(const std::vector<int16_t>& previous, const std::vector<int16_t>& current) {
    const int n = static_cast<int>(current.size());
    const double pi = std::numbers::pi;
    std::vector<double> out(n);
    for (int k = 0; k < n; ++k) {
        double sum = 0;
        for (int i = 0; i < 2 * n; ++i) {
            const int j = i < n ? i : 2 * n - 1 - i;
            const double s = std::sin(pi * (j + 0.5) / (2.0 * n));
            const double w = static_cast<float>(std::sin(pi / 2 * s * s));
            const double x = i < n ? previous[i] : current[i - n];
            sum += w * x * std::cos(pi / n * (i + 0.5 - n / 2.0) * (k + 0.5));
        }
        out[k] = 2.0 / n * sum;
    }
    return out;
}

std::vector<int16_t> RandomBlock(int n, std::mt19937& rng, int amplitude) {
    std::uniform_int_distribution<int> d(-amplitude, amplitude);
    std::vector<int16_t> v(n);
    for (auto& x : v) x = static_cast<int16_t>(d(rng));
    return v;
}

TEST(MDCT, MatchesTheDirectSumWithHistory) {
    std::mt19937 rng(7);
    for (int log2n : {6, 10}) {
        const int n = 1 << log2n;
        CMDCT mdct;
        ASSERT_EQ(mdct.Init(0, log2n, 2), 1);
        std::vector<int16_t> previous(n, 0);
        for (int block = 0; block < 3; ++block) {
            const std::vector<int16_t> current = RandomBlock(n, rng, 20000);
            const std::vector<double> expected = DirectMdct(previous, current);
            std::vector<float> got(n);
            ASSERT_EQ(mdct.ForwardFloat(current.data(), 1, got.data()), 1);
            double worst = 0;
            for (int k = 0; k < n; ++k) worst = std::max(worst, std::abs(got[k] - expected[k]));
            EXPECT_LT(worst, 0.05) << "N=" << n << " block " << block;
            previous = current;
        }
    }
}

TEST(MDCT, IntegerCoefficientsTruncateAndSaturate) {
    const int n = 64;
    CMDCT mdct;
    mdct.Init(0, 6, 1);
    // A full-scale square of period 50 drives a low coefficient to about
    // 50000; it must stick at the limit, not wrap.
    std::vector<int16_t> square(n);
    for (int i = 0; i < n; ++i) square[i] = ((i + 30 + 64) / 25) % 2 ? -32768 : 32767;
    std::vector<int16_t> history(n);
    for (int i = 0; i < n; ++i) history[i] = ((i + 30) / 25) % 2 ? -32768 : 32767;
    const std::vector<double> expected = DirectMdct(history, square);
    std::vector<int16_t> block = history;
    mdct.Forward(block.data(), 0);
    block = square;
    mdct.Forward(block.data(), 0);
    bool saw_overflow = false;
    for (int k = 0; k < n; ++k) {
        const double e = expected[k];
        if (e > 32767.5) {
            saw_overflow = true;
            EXPECT_EQ(block[k], 32767) << k;
        } else if (e < -32768.5) {
            saw_overflow = true;
            EXPECT_EQ(block[k], -32768) << k;
        } else {
            EXPECT_NEAR(block[k], std::trunc(e), 1.0) << k;
        }
    }
    EXPECT_TRUE(saw_overflow);
}

TEST(MDCT, InverseReturnsTheInputOneBlockLater) {
    std::mt19937 rng(11);
    const int n = 256;
    CMDCT forward, inverse;
    forward.Init(0, 8, 1);
    inverse.Init(0, 8, 1);
    std::vector<int16_t> previous;
    for (int block = 0; block < 6; ++block) {
        const std::vector<int16_t> input = RandomBlock(n, rng, 30000);
        std::vector<float> coefficients(n), output(n);
        forward.ForwardFloat(input.data(), 0, coefficients.data());
        inverse.InverseFloat(coefficients.data(), 0, output.data());
        for (int i = 0; i < n; ++i) {
            const double want = block == 0 ? 0.0 : previous[i];
            ASSERT_NEAR(output[i], want, 0.05) << "block " << block << " sample " << i;
        }
        previous = input;
    }
}

TEST(MDCT, ResetForgetsHistoryAndBadCallsLeaveBlocksAlone) {
    const int n = 128;
    CMDCT mdct;
    std::vector<int16_t> block(n, 5);
    EXPECT_EQ(mdct.Forward(block.data(), 0), 0);
    mdct.Init(0, 7, 2);
    EXPECT_EQ(mdct.Forward(block.data(), -1), 0);
    EXPECT_EQ(mdct.Inverse(block.data(), 2), 0);
    EXPECT_EQ(block, std::vector<int16_t>(n, 5));
    std::mt19937 rng(3);
    const std::vector<int16_t> input = RandomBlock(n, rng, 10000);
    std::vector<int16_t> first = input, second = input;
    mdct.Forward(first.data(), 1);
    mdct.Reset();
    mdct.Forward(second.data(), 1);
    EXPECT_EQ(first, second);
}

TEST(MDCT, InverseRoundsAndClampsToSixteenBits) {
    const int n = 128;
    CMDCT integer, reference;
    integer.Init(0, 7, 1);
    reference.Init(0, 7, 1);
    int clamped = 0;
    for (int block = 0; block < 2; ++block) {
        // Coefficients at the limits reconstruct far beyond the sample range.
        std::vector<int16_t> coefficients(n, 0);
        std::vector<float> as_float(n, 0.0f), raw(n);
        for (int k = 0; block == 0 && k < n; ++k) as_float[k] = coefficients[k] = k % 2 ? -32768 : 32767;
        integer.Inverse(coefficients.data(), 0);
        reference.InverseFloat(as_float.data(), 0, raw.data());
        for (int i = 0; i < n; ++i) {
            const double want = std::clamp(std::round(raw[i]), -32768.0f, 32767.0f);
            clamped += want != std::round(raw[i]);
            ASSERT_EQ(coefficients[i], want) << block << " " << i;
        }
    }
    EXPECT_GT(clamped, 0);
}

TEST(Hadamard, SequencyOrderTables) {
    CHadamard h;
    h.Init(0, 3, 1);
    EXPECT_EQ(h.ForwardOrder(), (std::vector<uint32_t>{0, 4, 6, 2, 3, 7, 5, 1}));
    EXPECT_EQ(h.InverseOrder(), (std::vector<uint32_t>{0, 7, 3, 4, 1, 6, 2, 5}));
    // Coefficient s of a Walsh function with s sign changes is the only one set.
    const int n = 64;
    h.Init(0, 6, 1);
    for (int s = 0; s < n; ++s) {
        std::vector<int16_t> block(n);
        for (int i = 0; i < n; ++i) {
            const int gray = s ^ (s >> 1);
            int sign = 1;
            // Walsh function of sequency s: product of Rademacher functions.
            for (int b = 0; b < 6; ++b) {
                if (((gray >> b) & 1) && ((i >> (5 - b)) & 1)) sign = -sign;
            }
            block[i] = static_cast<int16_t>(1000 * sign);
        }
        int changes = 0;
        for (int i = 1; i < n; ++i) changes += block[i] != block[i - 1];
        ASSERT_EQ(changes, s);
        h.Forward(block.data(), 0);
        for (int k = 0; k < n; ++k) ASSERT_EQ(block[k], k == changes ? 1000 : 0) << "s=" << s << " k=" << k;
    }
}

TEST(Hadamard, ConstantBlockAndRoundTrip) {
    const int n = 64;
    CHadamard h;
    std::vector<int16_t> block(n, -123);
    EXPECT_EQ(h.Forward(block.data(), 0), 0);
    h.Init(0, 6, 2);
    h.Forward(block.data(), 1);
    EXPECT_EQ(block[0], -123);
    for (int k = 1; k < n; ++k) EXPECT_EQ(block[k], 0);

    std::mt19937 rng(5);
    std::uniform_int_distribution<int> d(-32768, 32767);
    std::vector<int16_t> input(n);
    for (auto& x : input) x = static_cast<int16_t>(d(rng));
    std::vector<int16_t> coded = input;
    h.Forward(coded.data(), 0);
    h.Inverse(coded.data(), 0);
    // Each coefficient loses less than one step of 1/N; n of them add up.
    for (int i = 0; i < n; ++i) EXPECT_NEAR(coded[i], input[i], n) << i;

    // Extreme coefficients reconstruct beyond 16 bits and are clamped.
    std::vector<int16_t> extreme(n, 32767);
    h.Inverse(extreme.data(), 0);
    EXPECT_EQ(extreme[0], 32767);
}

}  // namespace
