// Vector twins must give exactly the portable results, on ordinary and on
// extreme inputs, for every channel count.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "pqxlib/dct_float_llm.h"
#include "pqxlib/dct_float_llm_kernels.h"
#include "pqxlib/dct_int_aan.h"
#include "pqxlib/quant_tables.h"
#include "kernel_levels.h"

using namespace _pqxlib_;

namespace {

struct alignas(16) Block {
    std::array<int16_t, kBlockValues> v{};
};

Block Random(std::mt19937& rng, int lo, int hi) {
    std::uniform_int_distribution<int> d(lo, hi);
    Block b;
    for (auto& x : b.v) x = static_cast<int16_t>(d(rng));
    return b;
}

// Coefficient blocks of the kinds a decoder meets: sparse (DC and a few low
// terms), dense small, full-range garbage from a damaged stream, and the
// extreme values alone.
Block Coefficients(std::mt19937& rng, int kind) {
    switch (kind % 4) {
    case 0: {
        Block b;
        std::uniform_int_distribution<int> d(-60, 60);
        for (int i = 0; i < 4 * 6; ++i) b.v[i] = static_cast<int16_t>(d(rng));
        b.v[0] = static_cast<int16_t>(d(rng) * 4);
        return b;
    }
    case 1: return Random(rng, -200, 200);
    case 2: return Random(rng, -32768, 32767);
    default: {
        Block b = Random(rng, 0, 1);
        for (auto& x : b.v) x = x ? 32767 : -32768;
        return b;
    }
    }
}

}  // namespace

TEST(DctKernels, IntegerInverseMatchesPortableAtEveryLevel) {
    const uint8_t* still[4];
    StillImageQuantTables(still);
    const uint8_t* const video[4] = {kMpegIntraMatrix, kMpegInterMatrix, kCgIntraMatrix, kCgInterMatrix};
    std::mt19937 rng(31);
    for (int variant = 0; variant < 2; ++variant) {
        for (const kernel_test::Level& level : kernel_test::SimdLevels()) {
            const uint32_t features = level.features;
            for (uint16_t scale : {1, 4, 32, 65535}) {
                for (int channels = 1; channels <= 4; ++channels) {
                    CDCT2DIntAANInv reference;
                    CDCT2DIntAAN both;
                    CDCT2DIntAANInv fast_inverse;
                    IPQXConvInterface& fast = variant ? static_cast<IPQXConvInterface&>(both) : fast_inverse;
                    ASSERT_EQ(reference.Init(0), 1);
                    ASSERT_EQ(fast.Init(features), 1);
                    for (IPQXConvInterface* t : {static_cast<IPQXConvInterface*>(&reference), &fast}) {
                        t->SetQuantTables(scale == 1 ? still : video);
                        t->SetQuantScale(scale);
                        t->SetChannels(channels);
                    }
                    for (int n = 0; n < 200; ++n) {
                        Block a = Coefficients(rng, n);
                        Block b = a;
                        reference.Inverse(a.v.data());
                        fast.Inverse(b.v.data());
                        ASSERT_EQ(a.v, b.v) << "features " << features << " scale " << scale
                                            << " channels " << channels << " block " << n;
                    }
                }
            }
        }
    }
}

TEST(DctKernels, FloatTransformMatchesPortableAtEveryLevel) {
    const uint8_t* still[4];
    StillImageQuantTables(still);
    const uint8_t* const video[4] = {kMpegIntraMatrix, kMpegInterMatrix, kCgIntraMatrix, kCgInterMatrix};
    std::mt19937 rng(41);
    for (const kernel_test::Level& level : kernel_test::SimdLevels()) {
        const uint32_t features = level.features;
        for (uint16_t scale : {1, 3, 32, 65535}) {
            for (int lanes = 1; lanes <= 4; ++lanes) {
                CDCT2DFltLLM reference, fast;
                ASSERT_EQ(reference.Init(0), 1);
                ASSERT_EQ(fast.Init(features), 1);
                for (CDCT2DFltLLM* t : {&reference, &fast}) {
                    t->SetQuantTables(scale == 1 ? still : video);
                    t->SetQuantScale(scale);
                    t->SetChannels(lanes);
                }
                for (int n = 0; n < 200; ++n) {
                    // Samples, extreme samples (outputs saturate), coefficients.
                    Block a = n % 3 == 0 ? Random(rng, 0, 255) : Coefficients(rng, n);
                    Block b = a;
                    reference.Forward(a.v.data());
                    fast.Forward(b.v.data());
                    ASSERT_EQ(a.v, b.v) << "forward, scale " << scale << " lanes " << lanes << " block " << n;
                    a = Coefficients(rng, n);
                    b = a;
                    reference.Inverse(a.v.data());
                    fast.Inverse(b.v.data());
                    ASSERT_EQ(a.v, b.v) << "inverse, scale " << scale << " lanes " << lanes << " block " << n;
                }
            }
        }
    }
}

// The passes compared on their floats, before any rounding could hide a
// difference in the last bit: ordinary, huge and tiny values and both signs.
TEST(DctKernels, FloatPassesMatchPortableBitForBit) {
    const FloatLLMKernels portable = float_llm_kernels_portable();
    for (const kernel_test::Level& level : kernel_test::SimdLevels()) {
        SCOPED_TRACE(level.name);
        const FloatLLMKernels fast = float_llm_kernels_for(level.features);
        using Pass = void (*)(float*, const float*);
        const Pass pairs[4][2] = {{portable.row_forward, fast.row_forward},
                                  {portable.column_forward, fast.column_forward},
                                  {portable.row_inverse, fast.row_inverse},
                                  {portable.column_inverse, fast.column_inverse}};
        std::mt19937 rng(43);
        std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
        const float scales[] = {255.0f, 1e-30f, 3e37f, 65535.0f * 255.0f};
        for (int n = 0; n < 400; ++n) {
            alignas(16) std::array<float, 256> a;
            for (float& v : a) v = unit(rng) * scales[n % 4];
            for (const auto& pass : pairs) {
                alignas(16) std::array<float, 256> x = a, y = a;
                pass[0](x.data(), kFloatLLMConstants);
                pass[1](y.data(), kFloatLLMConstants);
                for (int i = 0; i < 256; ++i)
                    ASSERT_EQ(std::memcmp(&x[i], &y[i], sizeof(float)), 0) << "block " << n << " value " << i;
            }
        }
    }
}

TEST(DctKernels, BlocksOffTheirAlignmentGiveTheSameResult) {
    CDCT2DIntAANInv integer;
    CDCT2DFltLLM flt;
    std::mt19937 rng(37);
    for (IPQXConvInterface* t : {static_cast<IPQXConvInterface*>(&integer), static_cast<IPQXConvInterface*>(&flt)}) {
        t->Init(DetectedProcessorFeatures());
        const Block original = Coefficients(rng, 1);
        Block aligned = original;
        alignas(16) int16_t shifted[kBlockValues + 8];
        std::copy(original.v.begin(), original.v.end(), shifted + 1);
        t->Inverse(aligned.v.data());
        t->Inverse(shifted + 1);
        for (int i = 0; i < kBlockValues; ++i) ASSERT_EQ(shifted[i + 1], aligned.v[i]) << i;
    }
}

// Every lane count, with and without steps, on the extreme 16-bit values: the
// floats must agree bit for bit (a masked-off negative value is -0, not 0).
TEST(DctKernels, FloatLoadMatchesPortableBitForBit) {
    const FloatLLMKernels portable = float_llm_kernels_portable();
    std::mt19937 rng(47);
    alignas(64) std::array<float, 256> steps;
    std::uniform_int_distribution<int> step(1, 255);
    for (float& s : steps) s = static_cast<float>(step(rng));
    steps[0] = 255.0f;
    for (const kernel_test::Level& level : kernel_test::SimdLevels()) {
        SCOPED_TRACE(level.name);
        const FloatLLMKernels fast = float_llm_kernels_for(level.features);
        for (int n = 0; n < 40; ++n) {
            const Block block = Coefficients(rng, n);
            for (int lanes = 1; lanes <= 4; ++lanes) {
                for (const float* s : {static_cast<const float*>(nullptr), static_cast<const float*>(steps.data())}) {
                    alignas(64) std::array<float, 256> x, y;
                    x.fill(1.0f);
                    y.fill(2.0f);
                    portable.load(block.v.data(), x.data(), lanes, s);
                    fast.load(block.v.data(), y.data(), lanes, s);
                    ASSERT_EQ(std::memcmp(x.data(), y.data(), sizeof(x)), 0)
                        << "lanes " << lanes << (s ? " with steps" : "") << " block " << n;
                }
            }
        }
    }
}

namespace {

// Floats that land the quotient of a store within a few units in the last
// place of n + 0.75 (the rounding's threshold) for random n of both signs,
// exactly on it, far beyond the 16-bit range, and zeros of both signs. The
// pattern is drawn once and scaled per divisor.
class NearThresholds {
public:
    explicit NearThresholds(std::mt19937& rng) {
        std::uniform_int_distribution<int> whole(-33000, 33000), nudge(-2, 2), kind(0, 15);
        for (int i = 0; i < 256; ++i) {
            const int k = kind(rng), n = whole(rng);
            quotient_[i] = k == 0 ? (rng() & 1 ? -0.0f : 0.0f)
                         : k == 1 ? (rng() & 1 ? 1e30f : -1e30f)
                                  : static_cast<float>(n) + (n < 0 ? -0.75f : 0.75f);
            ulps_[i] = k <= 1 ? 0 : nudge(rng);
        }
    }
    // divisor(i) is what the store divides value i by.
    template <typename Divisor>
    void Fill(Divisor divisor, std::array<float, 256>& work) const {
        for (int i = 0; i < 256; ++i) {
            uint32_t bits;
            const float w = quotient_[i] * divisor(i);
            std::memcpy(&bits, &w, sizeof(bits));
            bits += static_cast<uint32_t>(ulps_[i]);  // |w| is at least 0.75 divisors: no sign flip
            std::memcpy(&work[i], &bits, sizeof(bits));
        }
    }

private:
    std::array<float, 256> quotient_;
    std::array<int, 256> ulps_;
};

}  // namespace

// The stores divide, add a signed quarter, clamp and truncate: compared for
// every quantiser scale and every lane count, on values at the rounding's
// thresholds and beyond the 16-bit range, into blocks whose unused lanes must
// keep what they held.
TEST(DctKernels, FloatStoresMatchPortableAtEveryQuantiserScale) {
    const FloatLLMKernels portable = float_llm_kernels_portable();
    const std::vector<kernel_test::Level> levels = kernel_test::SimdLevels();
    std::vector<FloatLLMKernels> fast;
    for (const kernel_test::Level& level : levels) fast.push_back(float_llm_kernels_for(level.features));
    std::mt19937 rng(53);
    alignas(64) std::array<float, 256> steps;
    std::uniform_int_distribution<int> step(1, 255);
    for (float& s : steps) s = static_cast<float>(step(rng));
    steps[0] = 1.0f;
    steps[255] = 255.0f;
    const Block before = Random(rng, -32768, 32767);
    const NearThresholds forward(rng), inverse(rng);
    alignas(64) std::array<float, 256> work;
    for (int scale = 1; scale <= 65535; ++scale) {
        const int lanes = 1 + scale % 4;
        const float s = static_cast<float>(scale);
        forward.Fill([&](int i) { return s * steps[i] / 2.0f; }, work);
        Block expected = before;
        portable.store_forward(work.data(), expected.v.data(), lanes, steps.data(), s);
        for (std::size_t l = 0; l < fast.size(); ++l) {
            Block b = before;
            fast[l].store_forward(work.data(), b.v.data(), lanes, steps.data(), s);
            ASSERT_EQ(expected.v, b.v) << "forward, " << levels[l].name << " scale " << scale << " lanes " << lanes;
        }
        inverse.Fill([&](int) { return 128.0f / s; }, work);
        expected = before;
        portable.store_inverse(work.data(), expected.v.data(), lanes, s);
        for (std::size_t l = 0; l < fast.size(); ++l) {
            Block b = before;
            fast[l].store_inverse(work.data(), b.v.data(), lanes, s);
            ASSERT_EQ(expected.v, b.v) << "inverse, " << levels[l].name << " scale " << scale << " lanes " << lanes;
        }
    }
}
