#include "support/bitstream.h"
#include "support/cpu_features.h"
#include "support/hash.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

static void BM_GetBits(benchmark::State& state) {
    std::vector<uint8_t> data(1 << 16, 0x5A);
    data.resize(data.size() + 4, 0);
    for (auto _ : state) {
        BitStream s;
        BitStreamInit(s, data.data());
        uint32_t sum = 0;
        for (int i = 0; i < (1 << 16); ++i) sum += GetBits(s, 7);
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * (1 << 16) * 7 / 8);
}
BENCHMARK(BM_GetBits);

// The movie writer hashes every coded frame once: a CRC-32 per frame and
// SHA-256 over the frame section, in pieces of a typical frame's size.
static std::vector<uint8_t> HashInput() {
    std::vector<uint8_t> data(1 << 20);
    uint32_t x = 12345;
    for (uint8_t& v : data) v = uint8_t((x = x * 1103515245u + 12345u) >> 24);
    return data;
}

// range(0): piece size; range(1): 0 for the portable routines, 1 for the
// fastest the processor (and RVX_SIMD) allows.
template <class Hash>
static void BM_Hash(benchmark::State& state) {
    const std::vector<uint8_t> data = HashInput();
    const std::size_t piece = std::size_t(state.range(0));
    const uint32_t features = state.range(1) ? ProcessorFeatures() : 0;
    for (auto _ : state) {
        Hash hash(features);
        for (std::size_t at = 0; at < data.size(); at += piece)
            hash.Update(data.data() + at, std::min(piece, data.size() - at));
        benchmark::DoNotOptimize(hash.Final());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}
BENCHMARK_TEMPLATE(BM_Hash, CHashSHA256)->ArgsProduct({{1 << 20, 23000}, {0, 1}});
BENCHMARK_TEMPLATE(BM_Hash, CHashCRC32)->ArgsProduct({{1 << 20, 23000}, {0, 1}});

BENCHMARK_MAIN();
