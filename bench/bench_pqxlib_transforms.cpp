// Per-block cost of the 2-D transforms, driven as the codecs drive them:
// four channels of 0..255 samples, the MPEG intra matrix at quality 4 for the
// DCTs. Every iteration copies one block of a pool into the work block first
// (BM_CopyOnly measures that copy alone).

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "pqxlib/dct_float_llm.h"
#include "pqxlib/dct_int_aan.h"
#include "pqxlib/diff2d.h"
#include "pqxlib/hadamard2d.h"
#include "pqxlib/quant_tables.h"
#include "support/cpu_features.h"

using namespace _pqxlib_;

namespace {

constexpr int kPoolBlocks = 256;

struct alignas(16) Block {
    int16_t v[kBlockValues];
};

// Smooth picture-like samples with some texture.
std::vector<Block> SamplePool() {
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> base(30, 220), slope(-4, 4), noise(-6, 6);
    std::vector<Block> pool(kPoolBlocks);
    for (Block& b : pool) {
        for (int k = 0; k < 4; ++k) {
            const int b0 = base(rng), sr = slope(rng), sc = slope(rng);
            for (int r = 0; r < 8; ++r)
                for (int c = 0; c < 8; ++c)
                    b.v[BlockIndex(r, c, k)] = static_cast<int16_t>(b0 + sr * r + sc * c + noise(rng));
        }
    }
    return pool;
}

void Configure(IPQXConvInterface& t) {
    const uint8_t* const set[4] = {kMpegIntraMatrix, kMpegIntraMatrix, kMpegIntraMatrix,
                                   kMpegIntraMatrix};
    t.Init(ProcessorFeatures());
    t.SetChannels(4);
    t.SetQuantTables(set);
    t.SetQuantScale(4);
}

// Coefficients as the decoder sees them: the forward output of the pool.
std::vector<Block> CoefficientPool() {
    std::vector<Block> pool = SamplePool();
    CDCT2DFltLLM t;
    Configure(t);
    for (Block& b : pool) t.Forward(b.v);
    return pool;
}

template <typename T, bool kForward>
void RunTransform(benchmark::State& state, const std::vector<Block>& pool) {
    T t;
    Configure(t);
    Block work;
    size_t i = 0;
    for (auto _ : state) {
        std::memcpy(work.v, pool[i].v, sizeof work.v);
        if (kForward) t.Forward(work.v);
        else t.Inverse(work.v);
        benchmark::DoNotOptimize(work.v);
        benchmark::ClobberMemory();
        i = (i + 1) % pool.size();
    }
    t.Flush();
    state.SetItemsProcessed(state.iterations());
}

void BM_CopyOnly(benchmark::State& state) {
    const std::vector<Block> pool = SamplePool();
    Block work;
    size_t i = 0;
    for (auto _ : state) {
        std::memcpy(work.v, pool[i].v, sizeof work.v);
        benchmark::DoNotOptimize(work.v);
        benchmark::ClobberMemory();
        i = (i + 1) % pool.size();
    }
}

void BM_float_llm_kernels_forward(benchmark::State& s) { RunTransform<CDCT2DFltLLM, true>(s, SamplePool()); }
void BM_FloatLLMInverse(benchmark::State& s) { RunTransform<CDCT2DFltLLM, false>(s, CoefficientPool()); }
void BM_IntAANForward(benchmark::State& s) { RunTransform<CDCT2DIntAAN, true>(s, SamplePool()); }
void BM_IntAANInverse(benchmark::State& s) { RunTransform<CDCT2DIntAAN, false>(s, CoefficientPool()); }
void BM_IntAANInvInverse(benchmark::State& s) { RunTransform<CDCT2DIntAANInv, false>(s, CoefficientPool()); }
void BM_HadamardForward(benchmark::State& s) { RunTransform<CHadamard2D, true>(s, SamplePool()); }
void BM_HadamardInverse(benchmark::State& s) { RunTransform<CHadamard2D, false>(s, SamplePool()); }
void BM_Diff2DForward(benchmark::State& s) { RunTransform<CDiff2D, true>(s, SamplePool()); }
void BM_Diff2DInverse(benchmark::State& s) { RunTransform<CDiff2D, false>(s, SamplePool()); }

}  // namespace

BENCHMARK(BM_CopyOnly);
BENCHMARK(BM_float_llm_kernels_forward);
BENCHMARK(BM_FloatLLMInverse);
BENCHMARK(BM_IntAANForward);
BENCHMARK(BM_IntAANInverse);
BENCHMARK(BM_IntAANInvInverse);
BENCHMARK(BM_HadamardForward);
BENCHMARK(BM_HadamardInverse);
BENCHMARK(BM_Diff2DForward);
BENCHMARK(BM_Diff2DInverse);

BENCHMARK_MAIN();
