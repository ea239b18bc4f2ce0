#include "rvxlib/dsp/block_convert.h"

#include "pqxlib/dct_float_llm.h"
#include "pqxlib/diff2d.h"
#include "pqxlib/huffman.h"
#include "pqxlib/quant_tables.h"
#include "rvxlib/dsp/pixel_block.h"
#include "support/bitstream.h"
#include "support/cpu_features.h"
#include "support/stdio_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

using namespace _rvxlib_;
using _pqxlib_::IPQXConvInterface;

namespace {

enum class Layout { k444, k422, k411 };
enum class Transform { kDct, kDiff2D };

std::unique_ptr<IPQXConvInterface> MakeTransform(Transform which, bool intra) {
    std::unique_ptr<IPQXConvInterface> t;
    switch (which) {
        case Transform::kDct: t = std::make_unique<_pqxlib_::CDCT2DFltLLM>(); break;
        case Transform::kDiff2D: t = std::make_unique<_pqxlib_::CDiff2D>(); break;
    }
    EXPECT_EQ(t->Init(0), 1);
    const uint8_t* matrix = intra ? _pqxlib_::kMpegIntraMatrix : _pqxlib_::kMpegInterMatrix;
    const uint8_t* tables[4] = {matrix, matrix, matrix, matrix};
    t->SetQuantTables(tables);
    return t;
}

std::unique_ptr<IRVXConvBlock> MakeConverter(Layout layout, IPQXConvInterface* t, bool alpha,
                                             uint32_t features = 0) {
    std::unique_ptr<IRVXConvBlock> c;
    switch (layout) {
        case Layout::k444: c = std::make_unique<CRVXConvBlock>(t, alpha); break;
        case Layout::k422: c = std::make_unique<CRVXConvBlockYUV422>(t, alpha); break;
        case Layout::k411: c = std::make_unique<CRVXConvBlockYUV411>(t, alpha); break;
    }
    EXPECT_EQ(c->Init(features), 1);
    return c;
}

using Macroblock = std::vector<int16_t>;  // kMacroblockSamples values

Macroblock Constant(int16_t v0, int16_t v1, int16_t v2, int16_t v3) {
    Macroblock mb(kMacroblockSamples);
    for (uint32_t i = 0; i < kMacroblockSamples; i += 4) {
        mb[i] = v0;
        mb[i + 1] = v1;
        mb[i + 2] = v2;
        mb[i + 3] = v3;
    }
    return mb;
}

// Smooth gradients with noise: intra pictures hold 0..255, residuals of
// predicted macroblocks -96..96.
Macroblock Textured(std::mt19937& rng, bool residual) {
    Macroblock mb(kMacroblockSamples);
    const int base = static_cast<int>(rng() % 160);
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c)
            for (int k = 0; k < 4; ++k) {
                int v = base + 3 * r + 2 * c + 10 * k + static_cast<int>(rng() % 33) - 16;
                if (residual) v = (v - 128) * 3 / 4;
                mb[64 * r + 4 * c + k] = static_cast<int16_t>(residual ? v : std::clamp(v, 0, 255));
            }
    return mb;
}

// Overwrites a working buffer in place: the converter keeps pointing at it.
void Put(Macroblock& buffer, const Macroblock& samples) { std::copy(samples.begin(), samples.end(), buffer.begin()); }

struct CodedFrame {
    std::vector<Macroblock> reconstruction;
    std::vector<uint8_t> bytes;
};

// Codes columns x rows macroblocks as a frame does (predictors restart per
// row), writes table, quantiser fields and blocks, and keeps what the coder
// reconstructed.
CodedFrame CodeFrame(IRVXConvBlock& conv, const std::vector<Macroblock>& mbs, uint32_t columns, uint32_t rows,
                     uint16_t q) {
    CodedFrame out;
    uint32_t count = 0;
    const int16_t* coefficients = conv.AllocCoefficients(columns, rows, &count);
    EXPECT_NE(coefficients, nullptr);
    EXPECT_EQ(count, columns * rows * conv.BlocksPerMacroblock());
    Macroblock input(kMacroblockSamples);
    conv.SetInput(input.data());
    for (uint32_t row = 0; row < rows; ++row) {
        conv.ResetPredictors();
        for (uint32_t col = 0; col < columns; ++col) {
            EXPECT_EQ(conv.SetQuantiser(q), 1);
            Put(input, mbs[row * columns + col]);
            EXPECT_EQ(conv.CodeMacroblock(), 1);
            EXPECT_EQ(conv.ReconstructMacroblock(), 1);
            out.reconstruction.push_back(input);
        }
    }
    EXPECT_EQ(conv.BlocksWritten(), count);

    std::FILE* file = std::tmpfile();
    BitStream writer;
    BitStreamInit(writer, file);
    _pqxlib_::CHuffmanCoder coder;
    EXPECT_EQ(coder.BuildAndWriteTableContiguous(&writer, coefficients, count), 1);
    const uint32_t per_mb = conv.BlocksPerMacroblock();
    for (uint32_t mb = 0; mb < columns * rows; ++mb) {
        PutBits(writer, uint32_t{q} << 26, 6);
        for (uint32_t b = 0; b < per_mb; ++b)
            EXPECT_EQ(coder.EncodeBlock(coefficients + (mb * per_mb + b) * kValuesPerBlock), 1);
    }
    FlushBits(writer);
    std::fflush(file);
    out.bytes.resize(static_cast<std::size_t>(TellFile(file)));
    std::rewind(file);
    EXPECT_EQ(std::fread(out.bytes.data(), 1, out.bytes.size(), file), out.bytes.size());
    std::fclose(file);
    return out;
}

// Decodes a frame written by CodeFrame; the decoded macroblocks go to
// `decoded` until the stream fails. Returns whether every macroblock decoded.
bool DecodeFrame(IRVXConvBlock& conv, const uint8_t* data, std::size_t size, uint32_t columns, uint32_t rows,
                 std::vector<Macroblock>* decoded) {
    BitStream reader;
    BitStreamInitBounded(reader, data, size);
    _pqxlib_::CHuffmanCoder coder;
    if (!coder.ReadTable(&reader)) return false;
    conv.SetDecoder(&coder);
    Macroblock buffer(kMacroblockSamples);
    conv.SetInput(buffer.data());
    for (uint32_t row = 0; row < rows; ++row) {
        conv.ResetPredictors();
        for (uint32_t col = 0; col < columns; ++col) {
            if (!conv.SetQuantiser(static_cast<uint16_t>(GetBits(reader, 6)))) return false;
            // Whatever the buffer held before must not show in the result.
            std::fill(buffer.begin(), buffer.end(), int16_t{-12345});
            if (!conv.DecodeMacroblock() || BitStreamOverrun(reader)) return false;
            if (decoded != nullptr) decoded->push_back(buffer);
        }
    }
    return true;
}

struct Case {
    Layout layout;
    bool alpha;
    Transform transform;
    bool residual;
};

std::string CaseName(const testing::TestParamInfo<Case>& info) {
    const Case& c = info.param;
    std::string name = c.layout == Layout::k444 ? "Yuv444" : c.layout == Layout::k422 ? "Yuv422" : "Yuv411";
    name += c.alpha ? "Alpha" : "";
    name += c.transform == Transform::kDct ? "Dct" : "Diff2D";
    name += c.residual ? "Residual" : "Intra";
    return name;
}

class MacroblockRoundTrip : public testing::TestWithParam<Case> {};

}  // namespace

TEST_P(MacroblockRoundTrip, DecoderRebuildsExactlyWhatTheEncoderReconstructed) {
    const Case c = GetParam();
    const uint32_t columns = 3, rows = 2;
    std::mt19937 rng(42);
    std::vector<Macroblock> mbs;
    for (uint32_t i = 0; i < columns * rows; ++i) mbs.push_back(Textured(rng, c.residual));
    mbs[1] = Constant(255, 255, 255, 255);  // the extremes of the DC chain
    mbs[2] = Constant(0, 0, 0, 0);

    auto enc_t = MakeTransform(c.transform, !c.residual);
    auto enc = MakeConverter(c.layout, enc_t.get(), c.alpha);
    const uint16_t q = c.residual ? 6 : 2;
    const CodedFrame frame = CodeFrame(*enc, mbs, columns, rows, q);

    auto dec_t = MakeTransform(c.transform, !c.residual);
    auto dec = MakeConverter(c.layout, dec_t.get(), c.alpha);
    std::vector<Macroblock> decoded;
    ASSERT_TRUE(DecodeFrame(*dec, frame.bytes.data(), frame.bytes.size(), columns, rows, &decoded));
    ASSERT_EQ(decoded.size(), frame.reconstruction.size());
    for (std::size_t i = 0; i < decoded.size(); ++i) ASSERT_EQ(decoded[i], frame.reconstruction[i]) << "macroblock " << i;

    // Differences are lossless: the coded planes come back exactly; subsampled
    // chroma comes back as the means it was made from.
    if (c.transform == Transform::kDiff2D) {
        for (std::size_t i = 0; i < mbs.size(); ++i)
            for (uint32_t s = 0; s < kMacroblockSamples; ++s) {
                const int k = s % 4;
                if (k == 3 && !c.alpha) {
                    ASSERT_EQ(frame.reconstruction[i][s], 255);  // uncoded alpha is opaque
                } else if (k >= 2 || c.layout == Layout::k444) {
                    ASSERT_EQ(frame.reconstruction[i][s], mbs[i][s]) << i << " " << s;
                }
            }
    }
}

// The converter's own routines at the machine's level must code, rebuild
// and decode exactly as the portable ones, predictors carried across blocks.
TEST_P(MacroblockRoundTrip, TheMachinesLevelCodesAndDecodesTheSameAsPortable) {
    const Case c = GetParam();
    const uint32_t columns = 4, rows = 2;
    std::mt19937 rng(7);
    std::vector<Macroblock> mbs;
    for (uint32_t i = 0; i < columns * rows; ++i) mbs.push_back(Textured(rng, c.residual));
    mbs[3] = Constant(c.residual ? -255 : 0, 255, c.residual ? -255 : 0, 255);
    const uint16_t q = c.residual ? 6 : 2;

    CodedFrame frames[2];
    std::vector<Macroblock> decoded[2];
    const uint32_t features[2] = {0, DetectedProcessorFeatures()};
    for (int i = 0; i < 2; ++i) {
        auto enc_t = MakeTransform(c.transform, !c.residual);
        auto enc = MakeConverter(c.layout, enc_t.get(), c.alpha, features[i]);
        frames[i] = CodeFrame(*enc, mbs, columns, rows, q);
        auto dec_t = MakeTransform(c.transform, !c.residual);
        auto dec = MakeConverter(c.layout, dec_t.get(), c.alpha, features[i]);
        ASSERT_TRUE(DecodeFrame(*dec, frames[0].bytes.data(), frames[0].bytes.size(), columns, rows, &decoded[i]));
    }
    EXPECT_EQ(frames[0].bytes, frames[1].bytes);
    EXPECT_EQ(frames[0].reconstruction, frames[1].reconstruction);
    EXPECT_EQ(decoded[0], decoded[1]);
}

INSTANTIATE_TEST_SUITE_P(
    AllLayoutsAndTransforms, MacroblockRoundTrip,
    testing::ValuesIn([] {
        std::vector<Case> cases;
        for (Layout l : {Layout::k444, Layout::k422, Layout::k411})
            for (bool alpha : {false, true})
                for (Transform t : {Transform::kDct, Transform::kDiff2D})
                    for (bool residual : {false, true}) cases.push_back({l, alpha, t, residual});
        return cases;
    }()),
    CaseName);

TEST(BlockConvert, BlocksComeInLayoutOrderWithChainedDcPrediction) {
    // With differences the DC of a constant block is the sample itself and
    // every AC value is 0, so the coded DCs show order and prediction.
    auto t = MakeTransform(Transform::kDiff2D, true);
    CRVXConvBlockYUV422 conv(t.get(), false);
    conv.Init(0);
    ASSERT_EQ(conv.BlocksPerMacroblock(), 8u);
    const int16_t* blocks = conv.AllocCoefficients(2, 1, nullptr);
    Macroblock input = Constant(200, 50, 100, 255);  // V, U, Y, A
    conv.SetInput(input.data());
    conv.ResetPredictors();
    conv.SetQuantiser(4);
    ASSERT_EQ(conv.CodeMacroblock(), 1);
    ASSERT_EQ(conv.ReconstructMacroblock(), 1);
    Put(input, Constant(190, 60, 110, 255));
    ASSERT_EQ(conv.CodeMacroblock(), 1);
    ASSERT_EQ(conv.ReconstructMacroblock(), 1);
    // Y0..Y3, U top, U bottom, V top, V bottom.
    const int16_t first[8] = {100, 0, 0, 0, 50, 0, 200, 0};
    const int16_t second[8] = {10, 0, 0, 0, 10, 0, -10, 0};
    for (int b = 0; b < 8; ++b) {
        EXPECT_EQ(blocks[64 * b], first[b]) << b;
        EXPECT_EQ(blocks[64 * (8 + b)], second[b]) << b;
        for (int i = 1; i < 64; ++i) ASSERT_EQ(blocks[64 * b + i], 0);
    }
    EXPECT_EQ(conv.Predictor(2), 110);
    EXPECT_EQ(conv.Predictor(4 + 0), 190);
    conv.ResetPredictors();
    for (int i = 0; i < 8; ++i) EXPECT_EQ(conv.Predictor(i), 0);
    EXPECT_EQ(conv.Quantiser(), 0);
}

TEST(BlockConvert, FourFourFourPutsAlphaFirstInEveryQuadrant) {
    auto t = MakeTransform(Transform::kDiff2D, true);
    CRVXConvBlock conv(t.get(), true);
    conv.Init(0);
    ASSERT_EQ(conv.BlocksPerMacroblock(), 16u);
    const int16_t* blocks = conv.AllocCoefficients(1, 1, nullptr);
    Macroblock input = Constant(1, 2, 3, 4);
    for (int r = 8; r < 16; ++r)
        for (int c = 8; c < 16; ++c) input[64 * r + 4 * c + 2] = 30;  // channel 2 of quadrant 3
    conv.SetInput(input.data());
    conv.SetQuantiser(2);
    ASSERT_EQ(conv.CodeMacroblock(), 1);
    // Quadrant 0: A, 2, 1, 0 raw; later quadrants relative to quadrant 0.
    const int16_t expected[16] = {4, 3, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 27, 0, 0};
    for (int b = 0; b < 16; ++b) EXPECT_EQ(blocks[64 * b], expected[b]) << b;
}

TEST(BlockConvert, FourOneOneChromaMeansAlternateTheirRounding) {
    auto t = MakeTransform(Transform::kDiff2D, true);
    CRVXConvBlockYUV411 conv(t.get(), false);
    conv.Init(0);
    conv.AllocCoefficients(1, 1, nullptr);
    Macroblock input = Constant(0, 0, 0, 255);
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c) input[64 * r + 4 * c + 1] = static_cast<int16_t>(c & 1);
    conv.SetInput(input.data());
    conv.SetQuantiser(2);
    ASSERT_EQ(conv.CodeMacroblock(), 1);
    ASSERT_EQ(conv.ReconstructMacroblock(), 1);
    // (0 + 0 + 1 + 1 + 1) >> 2 = 0 in even output columns, (2 + 2) >> 2 = 1 in odd ones.
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c) ASSERT_EQ(input[64 * r + 4 * c + 1], (c >> 1) & 1) << r << "," << c;
}

TEST(BlockConvert, QuantiserChangeRescalesThePredictorsTowardZero) {
    auto t = MakeTransform(Transform::kDct, true);
    CRVXConvBlockYUV411 conv(t.get(), false);
    conv.Init(0);
    ASSERT_EQ(conv.SetQuantiser(4), 1);
    conv.SetPredictor(0, -7);
    conv.SetPredictor(5, 9);
    ASSERT_EQ(conv.SetQuantiser(8), 1);
    EXPECT_EQ(conv.Predictor(0), -3);
    EXPECT_EQ(conv.Predictor(5), 4);
    ASSERT_EQ(conv.SetQuantiser(8), 1);  // same quantiser: nothing changes
    EXPECT_EQ(conv.Predictor(0), -3);
    // A zero quantiser (only a damaged stream carries one) is refused.
    EXPECT_EQ(conv.SetQuantiser(0), 0);
    EXPECT_EQ(conv.Quantiser(), 8);
    EXPECT_EQ(conv.Predictor(5), 4);
}

TEST(BlockConvert, CodingAMacroblockAgainStartsFromTheSamePredictors) {
    // A frame encoder that drops a macroblock's prediction codes it again;
    // the second coding must not see the first one's DC as its predictor.
    auto t = MakeTransform(Transform::kDiff2D, false);
    CRVXConvBlock conv(t.get(), false);
    conv.Init(0);
    const int16_t* blocks = conv.AllocCoefficients(2, 1, nullptr);
    Macroblock input = Constant(10, 20, 30, 255);
    conv.SetInput(input.data());
    conv.SetQuantiser(6);
    conv.CodeMacroblock();
    conv.ReconstructMacroblock();
    Put(input, Constant(-50, 70, 90, 0));
    ASSERT_EQ(conv.CodeMacroblock(), 1);
    Put(input, Constant(40, 25, 35, 255));
    ASSERT_EQ(conv.CodeMacroblock(), 1);
    EXPECT_EQ(conv.CurrentBlocks(), blocks + 12 * 64);
    EXPECT_EQ(blocks[12 * 64 + 0], 5);   // channel 2: 35 - 30
    EXPECT_EQ(blocks[13 * 64 + 0], 5);   // channel 1: 25 - 20
    EXPECT_EQ(blocks[14 * 64 + 0], 30);  // channel 0: 40 - 10
    ASSERT_EQ(conv.ReconstructMacroblock(), 1);
    EXPECT_EQ(input, Constant(40, 25, 35, 255));
    EXPECT_EQ(conv.BlocksWritten(), 24u);
    // The buffer is full now.
    EXPECT_EQ(conv.CodeMacroblock(), 0);
    EXPECT_EQ(conv.ReconstructMacroblock(), 0);
}

TEST(BlockConvert, CoefficientBufferSizes) {
    auto t = MakeTransform(Transform::kDct, true);
    CRVXConvBlockYUV422 conv(t.get(), true);
    uint32_t count = 99;
    EXPECT_EQ(conv.AllocCoefficients(0, 5, &count), nullptr);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(conv.CodeMacroblock(), 0);  // no input, no buffer
    ASSERT_NE(conv.AllocCoefficients(40, 30, &count), nullptr);
    EXPECT_EQ(count, 40u * 30u * 12u);
    EXPECT_EQ(conv.AllocCoefficients(0x10000, 0x10000, &count), nullptr);
    EXPECT_EQ(count, 0u);
}

TEST(BlockConvert, DamagedStreamsFailWithoutHarm) {
    const uint32_t columns = 4, rows = 2;
    std::mt19937 rng(3);
    std::vector<Macroblock> mbs;
    for (uint32_t i = 0; i < columns * rows; ++i) mbs.push_back(Textured(rng, false));
    for (auto [layout, transform] : {std::pair{Layout::k444, Transform::kDct}, std::pair{Layout::k411, Transform::kDct},
                                     std::pair{Layout::k422, Transform::kDiff2D}}) {
        auto enc_t = MakeTransform(transform, true);
        auto enc = MakeConverter(layout, enc_t.get(), true);
        const CodedFrame frame = CodeFrame(*enc, mbs, columns, rows, 3);
        auto dec_t = MakeTransform(transform, true);
        auto dec = MakeConverter(layout, dec_t.get(), true);
        // Every cut short of the whole stream is noticed.
        for (std::size_t size = 0; size + 1 < frame.bytes.size(); size += 1 + size / 8) {
            std::vector<uint8_t> cut(frame.bytes.begin(), frame.bytes.begin() + static_cast<std::ptrdiff_t>(size));
            EXPECT_FALSE(DecodeFrame(*dec, cut.data(), cut.size(), columns, rows, nullptr)) << size;
        }
        // Flipped bits may decode to something else, but never out of bounds.
        for (int trial = 0; trial < 300; ++trial) {
            std::vector<uint8_t> bad = frame.bytes;
            for (int f = 0; f < 1 + trial % 4; ++f) bad[rng() % bad.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
            DecodeFrame(*dec, bad.data(), bad.size(), columns, rows, nullptr);
        }
        // Without a decoder there is nothing to read.
        CRVXConvBlock lone(dec_t.get(), false);
        Macroblock buffer(kMacroblockSamples);
        lone.SetInput(buffer.data());
        EXPECT_EQ(lone.DecodeMacroblock(), 0);
    }
}
