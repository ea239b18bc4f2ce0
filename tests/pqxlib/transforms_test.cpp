// The two DCTs against a double-precision orthonormal DCT, with each other,
// and through their quantiser settings.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include "pqxlib/dct_float_llm.h"
#include "pqxlib/dct_int_aan.h"
#include "pqxlib/quant_tables.h"

using namespace _pqxlib_;

namespace {

struct alignas(16) Block {
    std::array<int16_t, kBlockValues> v{};
    int16_t& at(int r, int c, int k) { return v[BlockIndex(r, c, k)]; }
    int16_t* data() { return v.data(); }
};

using Plane = std::array<double, 64>;

constexpr double kPi = 3.14159265358979323846;

double Basis(int n, int k) {
    const double alpha = k == 0 ? std::sqrt(0.125) : 0.5;
    return alpha * std::cos((2 * n + 1) * k * kPi / 16.0);
}

// Orthonormal 2-D DCT-II of one channel of a block and its inverse.
Plane ReferenceForward(const Block& b, int ch) {
    Plane out{};
    for (int u = 0; u < 8; ++u)
        for (int w = 0; w < 8; ++w) {
            double s = 0;
            for (int r = 0; r < 8; ++r)
                for (int c = 0; c < 8; ++c) s += b.v[BlockIndex(r, c, ch)] * Basis(r, u) * Basis(c, w);
            out[8 * u + w] = s;
        }
    return out;
}

Plane ReferenceInverse(const Plane& coeffs) {
    Plane out{};
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) {
            double s = 0;
            for (int u = 0; u < 8; ++u)
                for (int w = 0; w < 8; ++w) s += coeffs[8 * u + w] * Basis(r, u) * Basis(c, w);
            out[8 * r + c] = s;
        }
    return out;
}

// A generator whose sequence is the same with every standard library.
struct Lcg {
    uint64_t state;
    int Next(int lo, int hi) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return lo + static_cast<int>((state >> 33) % static_cast<uint64_t>(hi - lo + 1));
    }
    Block Fill(int lo, int hi) {
        Block b;
        for (auto& x : b.v) x = static_cast<int16_t>(Next(lo, hi));
        return b;
    }
    // Picture-like content: a gradient with a little noise, within lo..hi.
    Block Smooth(int lo = 0, int hi = 255) {
        Block b;
        for (int k = 0; k < 4; ++k) {
            const int base = Next(lo + 40, hi - 40), sr = Next(-5, 5), sc = Next(-5, 5);
            for (int r = 0; r < 8; ++r)
                for (int c = 0; c < 8; ++c)
                    b.at(r, c, k) = static_cast<int16_t>(base + sr * (r - 4) + sc * (c - 4) + Next(-3, 3));
        }
        return b;
    }
};

std::unique_ptr<IPQXConvInterface> MakeForward(bool integer) {
    if (integer) return std::make_unique<CDCT2DIntAAN>();
    return std::make_unique<CDCT2DFltLLM>();
}

std::unique_ptr<IPQXConvInterface> MakeInverse(int kind) {
    switch (kind) {
    case 0: return std::make_unique<CDCT2DIntAAN>();
    case 1: return std::make_unique<CDCT2DIntAANInv>();
    default: return std::make_unique<CDCT2DFltLLM>();
    }
}

void Configure(IPQXConvInterface& t, const uint8_t* const tables[4], uint16_t scale) {
    ASSERT_EQ(t.Init(0), 1);
    ASSERT_EQ(t.SetChannels(4), 1);
    ASSERT_EQ(t.SetQuantTables(tables), 1);
    ASSERT_EQ(t.SetQuantScale(scale), 1);
}

const uint8_t* const kUnit[4] = {kUnitSteps, kUnitSteps, kUnitSteps, kUnitSteps};

uint64_t Fnv(const Block& b, uint64_t h) {
    for (int16_t x : b.v) {
        h ^= static_cast<uint16_t>(x);
        h *= 1099511628211ull;
    }
    return h;
}

}  // namespace

TEST(DctConstants, IntegerConstantsMatchTheirCosineProducts) {
    const IntAANConstants k = BuildIntAANConstants();
    EXPECT_EQ(k.tan1, 13036);
    EXPECT_EQ(k.tan2, 27146);
    EXPECT_EQ(k.tan3, 21895);
    EXPECT_EQ(k.cos4, 23170);
    const int16_t rows[4][7] = {
        {31521, 29692, 26722, 22725, 17855, 12299, 6270},
        {29692, 27969, 25172, 21407, 16819, 11585, 5906},
        {26722, 25172, 22654, 19266, 15137, 10426, 5315},
        {22725, 21407, 19266, 16384, 12873, 8867, 4520},
    };
    for (int j = 0; j < 4; ++j)
        for (int i = 1; i < 8; ++i) EXPECT_EQ(k.rows[j][i], rows[j][i - 1]) << j << "," << i;
    const int expected_table[8] = {3, 0, 1, 2, 3, 2, 1, 0};
    for (int r = 0; r < 8; ++r) EXPECT_EQ(kIntAANRowTable[r], expected_table[r]);
}

TEST(DctConstants, FloatConstantsAreTheNearestFloats) {
    double K[8];
    K[0] = std::cos(kPi / 4);
    for (int k = 1; k < 8; ++k) K[k] = std::sqrt(2.0) * std::cos(k * kPi / 16);
    const double expected[kFloatLLMConstantCount] = {
        K[0], K[1], K[2], K[3], K[4], K[5], K[6], K[7],
        K[2] - K[6], K[2] + K[6], K[7] - K[3], -K[3] - K[1], -K[3] - K[5], K[5] - K[3],
        K[5] + K[3] - K[1] - K[7], K[7] + K[3] + K[1] - K[5], K[5] + K[3] + K[1] - K[7],
        K[3] + K[1] - K[5] - K[7],
    };
    for (int i = 0; i < kFloatLLMConstantCount; ++i)
        EXPECT_EQ(kFloatLLMConstants[i], static_cast<float>(expected[i])) << i;
}

TEST(DctQuantiser, ReciprocalsAndScaleFactors) {
    EXPECT_EQ(IntAANReciprocal(3), 21846);
    EXPECT_EQ(IntAANReciprocal(16), 4096);
    EXPECT_EQ(IntAANReciprocal(255), 258);
    // Steps 1 and 2 keep their full reciprocal instead of wrapping in 16 bits.
    EXPECT_EQ(IntAANReciprocal(1), 65537);
    EXPECT_EQ(IntAANReciprocal(2), 32768);
    EXPECT_EQ(IntAANForwardScaleFactor(1), 16385);
    EXPECT_EQ(IntAANForwardScaleFactor(2), 8192);
    EXPECT_EQ(IntAANForwardScaleFactor(3), 5462);
    EXPECT_EQ(IntAANForwardScaleFactor(32), 512);
}

// Coefficients should be 16 * X / (step * scale) for the orthonormal X (unit
// steps also cover steps 1 and 2 in the integer quantiser). The
// integer transform's floor shifts in the column pass add up to a bias of
// about -3 on coefficient (1, 0) at unit steps; elsewhere it stays within 2.
TEST(DctAccuracy, ForwardMatchesTheOrthonormalDct) {
    Lcg rng{7};
    struct Case { bool integer; int lo, hi; double bound; };
    const Case cases[] = {{false, -128, 127, 0.76}, {false, 0, 255, 0.76},
                          {true, -128, 127, 6.0}, {true, 0, 255, 6.0}};
    for (const Case& cs : cases) {
        for (uint16_t scale : {1, 3}) {
            auto t = MakeForward(cs.integer);
            const uint8_t* tables[4];
            StillImageQuantTables(tables);
            const uint8_t* const* set = scale == 1 ? kUnit : tables;
            Configure(*t, set, scale);
            double worst = 0;
            for (int n = 0; n < 200; ++n) {
                Block b = n % 2 ? rng.Fill(cs.lo, cs.hi) : rng.Smooth(cs.lo, cs.hi);
                Plane ref[4];
                for (int k = 0; k < 4; ++k) ref[k] = ReferenceForward(b, k);
                ASSERT_EQ(t->Forward(b.data()), 1);
                for (int k = 0; k < 4; ++k)
                    for (int i = 0; i < 64; ++i) {
                        const double want = 16.0 * ref[k][i] / (set[k][i] * scale);
                        worst = std::max(worst, std::fabs(b.v[4 * i + k] - want));
                    }
            }
            EXPECT_LT(worst, cs.bound) << (cs.integer ? "integer" : "float") << " samples "
                                       << cs.lo << ".." << cs.hi << " scale " << scale;
        }
    }
}

// Samples should be the orthonormal inverse of coefficient * step * scale / 16.
TEST(DctAccuracy, InverseMatchesTheOrthonormalInverse) {
    Lcg rng{11};
    for (int kind = 0; kind < 3; ++kind) {
        for (uint16_t scale : {1, 4}) {
            auto inv = MakeInverse(kind);
            auto fwd = MakeForward(false);
            const uint8_t* tables[4];
            StillImageQuantTables(tables);
            const uint8_t* const* set = scale == 1 ? kUnit : tables;
            Configure(*inv, set, scale);
            Configure(*fwd, set, scale);
            double worst = 0;
            for (int n = 0; n < 200; ++n) {
                // Realistic coefficients: those of a forward transform.
                Block b = n % 2 ? rng.Fill(0, 255) : rng.Smooth(-128, 127);
                fwd->Forward(b.data());
                Plane want[4];
                for (int k = 0; k < 4; ++k) {
                    Plane c{};
                    for (int i = 0; i < 64; ++i) c[i] = b.v[4 * i + k] * set[k][i] * scale / 16.0;
                    want[k] = ReferenceInverse(c);
                }
                ASSERT_EQ(inv->Inverse(b.data()), 1);
                for (int k = 0; k < 4; ++k)
                    for (int i = 0; i < 64; ++i)
                        worst = std::max(worst, std::fabs(b.v[4 * i + k] - want[k][i]));
            }
            // The float inverse truncates after adding a quarter, the integer
            // one floors after its last shift.
            EXPECT_LT(worst, kind == 2 ? 0.76 : 2.5) << "inverse kind " << kind << " scale " << scale;
        }
    }
}

// At unit steps the float inverse gives back every sample exactly and the
// integer inverse within one.
TEST(DctRoundTrip, EveryForwardWithEveryInverseIsNearLosslessAtUnitSteps) {
    Lcg rng{3};
    for (bool integer_forward : {false, true}) {
        for (int kind = 0; kind < 3; ++kind) {
            auto fwd = MakeForward(integer_forward);
            auto inv = MakeInverse(kind);
            Configure(*fwd, kUnit, 1);
            Configure(*inv, kUnit, 1);
            int worst = 0;
            for (int n = 0; n < 300; ++n) {
                const bool centred = n % 3 == 0;
                const Block original = n % 2 ? rng.Fill(centred ? -128 : 0, centred ? 127 : 255)
                                             : rng.Smooth(centred ? -128 : 0, centred ? 127 : 255);
                Block b = original;
                ASSERT_EQ(fwd->Forward(b.data()), 1);
                ASSERT_EQ(inv->Inverse(b.data()), 1);
                for (int i = 0; i < kBlockValues; ++i)
                    worst = std::max(worst, std::abs(b.v[i] - original.v[i]));
            }
            EXPECT_LE(worst, kind == 2 ? 0 : 1)
                << (integer_forward ? "integer" : "float") << " forward, inverse kind " << kind;
        }
    }
}

TEST(DctRoundTrip, QuantisedRoundTripKeepsThePictureAtVideoSettings) {
    // I-frame settings of the video codec: the MPEG intra matrix at quality 4.
    const uint8_t* const set[4] = {kMpegIntraMatrix, kMpegIntraMatrix, kMpegIntraMatrix,
                                   kMpegIntraMatrix};
    Lcg rng{5};
    for (bool integer_forward : {false, true}) {
        auto fwd = MakeForward(integer_forward);
        auto inv = MakeInverse(2);
        Configure(*fwd, set, 4);
        Configure(*inv, set, 4);
        double squared = 0;
        int count = 0;
        for (int n = 0; n < 200; ++n) {
            const Block original = rng.Smooth(0, 255);
            Block b = original;
            fwd->Forward(b.data());
            inv->Inverse(b.data());
            for (int i = 0; i < kBlockValues; ++i, ++count)
                squared += double(b.v[i] - original.v[i]) * (b.v[i] - original.v[i]);
        }
        const double psnr = 10 * std::log10(255.0 * 255.0 / (squared / count));
        EXPECT_GT(psnr, 38.0) << (integer_forward ? "integer" : "float");
    }
}

TEST(DctBlocks, ZeroBlockStaysZeroAndConstantBlockHasOnlyDc) {
    for (int kind = 0; kind < 3; ++kind) {
        auto inv = MakeInverse(kind);
        Configure(*inv, kUnit, 1);
        Block zero;
        ASSERT_EQ(inv->Inverse(zero.data()), 1);
        for (int16_t x : zero.v) EXPECT_EQ(x, 0);
    }
    const uint8_t* const set[4] = {kMpegInterMatrix, kMpegInterMatrix, kMpegInterMatrix,
                                   kMpegInterMatrix};
    for (bool integer : {false, true}) {
        auto t = MakeForward(integer);
        Configure(*t, set, 2);
        Block zero;
        ASSERT_EQ(t->Forward(zero.data()), 1);
        for (int16_t x : zero.v) EXPECT_EQ(x, 0);

        const int values[4] = {-100, 0, 37, 120};
        Block b;
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c)
                for (int k = 0; k < 4; ++k) b.at(r, c, k) = static_cast<int16_t>(values[k]);
        ASSERT_EQ(t->Forward(b.data()), 1);
        for (int k = 0; k < 4; ++k) {
            // 128 * v / (step * scale) with step 16, scale 2.
            EXPECT_NEAR(b.at(0, 0, k), 4.0 * values[k], 1.0) << integer << " channel " << k;
            for (int i = 1; i < 64; ++i) EXPECT_EQ(b.v[4 * i + k], 0) << integer << " " << i;
        }
        ASSERT_EQ(t->Inverse(b.data()), 1);
        for (int k = 0; k < 4; ++k)
            for (int i = 1; i < 64; ++i) EXPECT_EQ(b.v[4 * i + k], b.v[k]) << integer << " " << i;
    }
}

// Bright blocks of uncentred samples (the video codec's input) must not wrap
// in the integer forward transform.
TEST(DctBlocks, IntegerForwardKeepsTheDcOfAWhiteBlock) {
    const uint8_t* const set[4] = {kMpegIntraMatrix, kMpegIntraMatrix, kMpegIntraMatrix,
                                   kMpegIntraMatrix};
    for (uint16_t scale : {1, 2}) {
        CDCT2DIntAAN integer;
        CDCT2DFltLLM flt;
        Configure(integer, set, scale);
        Configure(flt, set, scale);
        Block a, b;
        a.v.fill(255);
        b.v.fill(255);
        integer.Forward(a.data());
        flt.Forward(b.data());
        EXPECT_NEAR(a.v[0], 128.0 * 255 / (8 * scale), 1.0);
        EXPECT_NEAR(a.v[0], b.v[0], 1);
        integer.Inverse(a.data());
        for (int16_t x : a.v) EXPECT_NEAR(x, 255, 1);
    }
}

TEST(DctChannels, ChannelsAtAndAboveTheCountPassThrough) {
    Lcg rng{13};
    for (int kind = 0; kind < 3; ++kind) {
        for (int count : {1, 2, 3}) {
            auto t = MakeInverse(kind);
            Configure(*t, kUnit, 1);
            ASSERT_EQ(t->SetChannels(count), 1);
            const Block original = rng.Fill(-128, 127);
            Block b = original;
            if (kind != 1) {
                ASSERT_EQ(t->Forward(b.data()), 1);
            }
            ASSERT_EQ(t->Inverse(b.data()), 1);
            for (int i = 0; i < 64; ++i)
                for (int k = 0; k < 4; ++k) {
                    if (k >= count) {
                        EXPECT_EQ(b.v[4 * i + k], original.v[4 * i + k]) << kind << " " << count;
                    } else if (kind != 1) {
                        EXPECT_NEAR(b.v[4 * i + k], original.v[4 * i + k], 2) << kind << " " << count;
                    }
                }
        }
    }
}

TEST(DctScale, ScaleDividesCoefficientsAndInitRestoresTheDefault) {
    for (bool integer : {false, true}) {
        auto t = MakeForward(integer);
        Configure(*t, kUnit, 1);
        Block a, b, c;
        for (int i = 0; i < kBlockValues; ++i) a.v[i] = static_cast<int16_t>((i * 37) % 200 - 100);
        b = a;
        c = a;
        t->Forward(a.data());
        ASSERT_EQ(t->SetQuantScale(5), 1);
        t->Forward(b.data());
        for (int i = 0; i < kBlockValues; ++i) EXPECT_NEAR(b.v[i], a.v[i] / 5.0, 1.0) << i;
        ASSERT_EQ(t->Init(0), 1);  // scale back to 1, tables kept
        t->Forward(c.data());
        EXPECT_EQ(c.v, a.v);
    }
}

TEST(DctArguments, UnusableSettingsAreRefusedAndChangeNothing) {
    Lcg rng{17};
    uint8_t with_zero[64];
    std::memcpy(with_zero, kJpegLuminanceSteps, 64);
    with_zero[63] = 0;
    const uint8_t* const bad_tables[4] = {kUnitSteps, kUnitSteps, kUnitSteps, with_zero};
    const uint8_t* const missing[4] = {kUnitSteps, nullptr, kUnitSteps, kUnitSteps};
    for (int kind = 0; kind < 3; ++kind) {
        auto t = MakeInverse(kind);
        Configure(*t, kUnit, 1);
        EXPECT_EQ(t->SetQuantTables(bad_tables), 0);
        EXPECT_EQ(t->SetQuantTables(missing), 0);
        EXPECT_EQ(t->SetQuantTables(nullptr), 0);
        EXPECT_EQ(t->SetQuantScale(0), 0);
        EXPECT_EQ(t->SetChannels(0), 0);
        EXPECT_EQ(t->SetChannels(5), 0);
        EXPECT_EQ(t->Inverse(nullptr), 0);
        // Still unit steps, scale 1 and four channels.
        const Block original = rng.Fill(-20, 20);
        Block b = original;
        auto fwd = MakeForward(false);
        Configure(*fwd, kUnit, 1);
        fwd->Forward(b.data());
        t->Inverse(b.data());
        for (int i = 0; i < kBlockValues; ++i) EXPECT_NEAR(b.v[i], original.v[i], 2) << kind;
    }
}

TEST(DctLifecycle, TransformsRefuseToRunWithoutBuffersAndCanBeInitialisedAgain) {
    for (int kind = 0; kind < 3; ++kind) {
        auto t = MakeInverse(kind);
        Block b;
        b.v.fill(5);
        EXPECT_EQ(t->Inverse(b.data()), 0);
        EXPECT_EQ(t->Forward(b.data()), 0);
        EXPECT_EQ(t->SetQuantTables(kUnit), 0);
        for (int16_t x : b.v) EXPECT_EQ(x, 5);
        Configure(*t, kUnit, 1);
        EXPECT_EQ(t->Flush(), 1);
        EXPECT_EQ(t->Release(), 1);
        EXPECT_EQ(t->Inverse(b.data()), 0);
        ASSERT_EQ(t->Init(0), 1);
        EXPECT_EQ(t->Inverse(b.data()), 1);
    }
}

TEST(DctSlots, InverseOnlyTransformRefusesForward) {
    CDCT2DIntAANInv t;
    Configure(t, kUnit, 1);
    Block b;
    for (int i = 0; i < kBlockValues; ++i) b.v[i] = static_cast<int16_t>(i);
    const Block original = b;
    EXPECT_EQ(t.Forward(b.data()), 0);
    EXPECT_EQ(b.v, original.v);
}

// Encoder and decoder must reconstruct the same bits on every machine and
// build: these digests pin the float results (operation order, no fused
// multiply-add, rounding of the constants).
TEST(DctReproducibility, FloatTransformGivesFixedBits) {
    const uint8_t* const set[4] = {kMpegIntraMatrix, kMpegInterMatrix, kCgIntraMatrix,
                                   kJpegChrominanceSteps};
    CDCT2DFltLLM t;
    Configure(t, set, 3);
    Lcg rng{2024};
    uint64_t forward_digest = 1469598103934665603ull, inverse_digest = forward_digest;
    for (int n = 0; n < 4000; ++n) {
        Block b = n % 2 ? rng.Fill(0, 255) : rng.Smooth();
        t.Forward(b.data());
        forward_digest = Fnv(b, forward_digest);
        t.Inverse(b.data());
        inverse_digest = Fnv(b, inverse_digest);
        Block c = rng.Fill(-300, 300);
        t.Inverse(c.data());
        inverse_digest = Fnv(c, inverse_digest);
    }
    EXPECT_EQ(forward_digest, 10653421071329866386ull);
    EXPECT_EQ(inverse_digest, 9337337742223842601ull);
}

TEST(QuantTables, SelectorsPickTheirMatricesAndSelectorThreeKeepsThem) {
    uint8_t intra[64], inter[64];
    ASSERT_TRUE(VideoQuantMatrices(2, intra, inter));
    EXPECT_EQ(intra[0], 8);
    EXPECT_EQ(intra[1], 32);
    EXPECT_EQ(inter[0], 16);
    ASSERT_TRUE(VideoQuantMatrices(4, intra, inter));
    for (int k = 0; k < 64; ++k) ASSERT_TRUE(intra[k] == 16 && inter[k] == 16) << k;
    for (uint16_t selector : {0, 1, 5, 0xFFFF}) {
        ASSERT_TRUE(VideoQuantMatrices(selector, intra, inter));
        EXPECT_EQ(intra[1], 16);  // first row 8, 16, 19, ...
        EXPECT_EQ(intra[63], 83);
        EXPECT_EQ(inter[1], 17);  // first row 16, 17, 18, ...
        EXPECT_EQ(inter[63], 33);
    }
    intra[5] = 200;
    EXPECT_FALSE(VideoQuantMatrices(3, intra, inter));
    EXPECT_EQ(intra[5], 200);

    const uint8_t* still[4];
    StillImageQuantTables(still);
    EXPECT_EQ(still[0][2], 10);  // luminance 16, 11, 10, ...
    EXPECT_EQ(still[1][3], 47);  // chrominance 17, 18, 24, 47, ...
    EXPECT_EQ(still[2], still[1]);
    EXPECT_EQ(still[3], kUnitSteps);
}

// The integer inverse is what decoders run: pin its results (and the
// forward's) the same way, over ordinary and extreme coefficients.
TEST(DctReproducibility, IntegerTransformGivesFixedBits) {
    const uint8_t* const set[4] = {kMpegIntraMatrix, kMpegInterMatrix, kCgIntraMatrix, kUnitSteps};
    CDCT2DIntAAN t;
    Configure(t, set, 2);
    Lcg rng{77};
    uint64_t forward_digest = 1469598103934665603ull, inverse_digest = forward_digest;
    for (int n = 0; n < 4000; ++n) {
        Block b = n % 2 ? rng.Fill(-128, 255) : rng.Smooth();
        t.Forward(b.data());
        forward_digest = Fnv(b, forward_digest);
        t.Inverse(b.data());
        inverse_digest = Fnv(b, inverse_digest);
        Block c = n % 8 ? rng.Fill(-300, 300) : rng.Fill(-32768, 32767);
        t.Inverse(c.data());
        inverse_digest = Fnv(c, inverse_digest);
    }
    EXPECT_EQ(forward_digest, 587888148560220443ull);
    EXPECT_EQ(inverse_digest, 3798564167500178254ull);
}
