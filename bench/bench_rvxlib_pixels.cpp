#include "pqxlib/dct_float_llm.h"
#include "pqxlib/diff2d.h"
#include "pqxlib/huffman.h"
#include "pqxlib/quant_tables.h"
#include "rvxlib/dsp/block_convert.h"
#include "rvxlib/dsp/color_space.h"
#include "rvxlib/dsp/deblock.h"
#include "rvxlib/dsp/pixel_block.h"
#include "support/bitstream.h"
#include "support/cpu_features.h"
#include "support/stdio_file.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

using namespace _rvxlib_;

namespace {

constexpr uint32_t kWidth = 640, kHeight = 480;

std::vector<uint8_t> NoisyBytes(std::size_t n) {
    std::mt19937 rng(1);
    std::vector<uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i / 7) % 200 + rng() % 40);
    return v;
}

template <typename Converter>
void BM_ColorConvert(benchmark::State& state) {
    Converter cs(kWidth, kHeight, 0xFF000000u);
    cs.Init(ProcessorFeatures());
    const auto src = NoisyBytes(cs.SourcePitch() * kHeight);
    std::vector<uint8_t> dst(cs.DestinationPitch() * cs.PaddedHeight());
    for (auto _ : state) {
        cs.ConvertPicture(src.data(), dst.data());
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetItemsProcessed(state.iterations());  // pictures
}
BENCHMARK_TEMPLATE(BM_ColorConvert, CRVXColorSpaceRGB24bitToYUV32bit);
BENCHMARK_TEMPLATE(BM_ColorConvert, CRVXColorSpaceRGB32bitToYUV32bit);
BENCHMARK_TEMPLATE(BM_ColorConvert, CRVXColorSpace24bitTo32bit);
BENCHMARK_TEMPLATE(BM_ColorConvert, CRVXColorSpace32bitTo32bit);

void BM_ColorConvertBack(benchmark::State& state) {
    CRVXColorSpaceRGB32bitToYUV32bit cs(kWidth, kHeight, 0);
    cs.Init(ProcessorFeatures());
    const auto picture = NoisyBytes(cs.DestinationPitch() * cs.PaddedHeight());
    std::vector<uint8_t> dst(cs.SourcePitch() * kHeight);
    for (auto _ : state) {
        cs.ConvertPictureBack(picture.data(), dst.data());
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ColorConvertBack);

void BM_DeblockPicture(benchmark::State& state) {
    CRVXDeblockEdgeFilterUnSigned filter(kWidth, kHeight);
    filter.Init(ProcessorFeatures());
    auto picture = NoisyBytes(std::size_t{kWidth} * kHeight * 4);
    for (auto _ : state) {
        filter.FilterPicture(picture.data());
        benchmark::DoNotOptimize(picture.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DeblockPicture);

void BM_PixelBlockLoadStore(benchmark::State& state) {
    CRVXPixelBlockUnSigned block(kWidth, kHeight);
    block.Init(ProcessorFeatures());
    auto picture = NoisyBytes(std::size_t{kWidth} * kHeight * 4);
    block.SetSourcePicture(picture.data());
    for (auto _ : state) {
        for (uint32_t i = 0; i < block.MacroblockRows(); ++i)
            for (uint32_t j = 0; j < block.MacroblockColumns(); ++j) {
                block.LoadMacroblock(j, i);
                block.StoreMacroblock(j, i);
            }
        benchmark::DoNotOptimize(picture.data());
    }
    state.SetItemsProcessed(state.iterations());  // pictures
}
BENCHMARK(BM_PixelBlockLoadStore);

// A synthetic picture buffer: smooth gradients, a few sharp edges and mild
// noise, so quality and size numbers mean something.
std::vector<uint8_t> SyntheticPicture(uint32_t width, uint32_t height) {
    std::mt19937 rng(2);
    std::vector<uint8_t> p(std::size_t{width} * height * 4);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const int ring = ((x - 320) * (x - 320) + (y - 240) * (y - 240)) / 4000 % 2;
            const int luma = 40 + (x * 150) / width + ring * 50 + static_cast<int>(rng() % 9);
            uint8_t* px = &p[(std::size_t{y} * width + x) * 4];
            px[0] = static_cast<uint8_t>(110 + (y * 40) / height);  // V
            px[1] = static_cast<uint8_t>(150 - (x * 40) / width);   // U
            px[2] = static_cast<uint8_t>(std::min(luma, 255));      // Y
            px[3] = 255;
        }
    return p;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int channel) {
    double sum = 0;
    std::size_t n = 0;
    for (std::size_t i = static_cast<std::size_t>(channel); i < a.size(); i += 4, ++n) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * double(n) / sum);
}

// Bytes of the blocks once entropy coded (table included).
double CodedBytes(const int16_t* blocks, uint32_t count) {
    std::FILE* file = std::tmpfile();
    BitStream writer;
    BitStreamInit(writer, file);
    _pqxlib_::CHuffmanCoder coder;
    coder.BuildAndWriteTableContiguous(&writer, blocks, count);
    for (uint32_t b = 0; b < count; ++b) coder.EncodeBlock(blocks + 64 * b);
    FlushBits(writer);
    const int64_t size = TellFile(file);
    std::fclose(file);
    return double(size);
}

// Code and reconstruct every macroblock of a 640 x 480 picture: arg 0 = layout
// (0 4:1:1, 1 4:2:2, 2 4:4:4), arg 1 = transform (0 DCT, 1 differences).
void BM_MacroblockCodeReconstruct(benchmark::State& state) {
    std::unique_ptr<_pqxlib_::IPQXConvInterface> transform;
    if (state.range(1) == 0)
        transform = std::make_unique<_pqxlib_::CDCT2DFltLLM>();
    else
        transform = std::make_unique<_pqxlib_::CDiff2D>();
    transform->Init(ProcessorFeatures());
    const uint8_t* m = _pqxlib_::kMpegIntraMatrix;
    const uint8_t* tables[4] = {m, m, m, m};
    transform->SetQuantTables(tables);
    std::unique_ptr<IRVXConvBlock> conv;
    switch (state.range(0)) {
        case 0: conv = std::make_unique<CRVXConvBlockYUV411>(transform.get(), false); break;
        case 1: conv = std::make_unique<CRVXConvBlockYUV422>(transform.get(), false); break;
        default: conv = std::make_unique<CRVXConvBlock>(transform.get(), false); break;
    }
    conv->Init(ProcessorFeatures());
    CRVXPixelBlockUnSigned block(kWidth, kHeight);
    block.Init(ProcessorFeatures());
    auto picture = SyntheticPicture(kWidth, kHeight);
    const auto original = picture;
    block.SetSourcePicture(picture.data());
    conv->SetInput(block.Buffer());
    uint32_t count = 0;
    const int16_t* blocks = nullptr;
    for (auto _ : state) {
        blocks = conv->AllocCoefficients(block.MacroblockColumns(), block.MacroblockRows(), &count);
        for (uint32_t i = 0; i < block.MacroblockRows(); ++i) {
            conv->ResetPredictors();
            for (uint32_t j = 0; j < block.MacroblockColumns(); ++j) {
                conv->SetQuantiser(4);
                block.LoadMacroblock(j, i);
                conv->CodeMacroblock();
                conv->ReconstructMacroblock();
                block.StoreMacroblock(j, i);
            }
        }
        state.PauseTiming();
        state.counters["psnr_y"] = Psnr(picture, original, 2);
        state.counters["psnr_u"] = Psnr(picture, original, 1);
        state.counters["bytes"] = CodedBytes(blocks, count);
        picture = original;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * block.MacroblockColumns() * block.MacroblockRows());
}
BENCHMARK(BM_MacroblockCodeReconstruct)->Args({0, 0})->Args({1, 0})->Args({2, 0})->Args({0, 1});

}  // namespace

BENCHMARK_MAIN();
