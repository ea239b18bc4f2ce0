// Vector twins must give exactly the portable results, on ordinary and on
// extreme inputs, for every channel count.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <random>

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
