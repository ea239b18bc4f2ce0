#include "support/bitstream.h"

#include <benchmark/benchmark.h>

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

BENCHMARK_MAIN();
