#include "pqxlib/huffman.h"
#include "pqxlib/zigzag.h"
#include "support/bitstream.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <vector>

using namespace _pqxlib_;

namespace {

constexpr int kBlocks = 4096;

// Quantised DCT blocks at a middling quality: a DC difference, a handful of
// small low-frequency values, the high frequencies mostly zero.
std::vector<int16_t> TypicalBlocks() {
    std::mt19937 rng(42);
    std::geometric_distribution<int> magnitude(0.5);
    std::uniform_int_distribution<int> percent(0, 99), sign(0, 1);
    std::vector<int16_t> blocks(kBlocks * 64, 0);
    for (int b = 0; b < kBlocks; ++b) {
        int16_t* block = &blocks[b * 64];
        block[0] = int16_t((sign(rng) ? 1 : -1) * magnitude(rng) * 5);
        for (int j = 1; j < 64; ++j) {
            if (percent(rng) < 45 - j) block[j] = int16_t((sign(rng) ? 1 : -1) * (1 + magnitude(rng)));
        }
    }
    return blocks;
}

struct Unit {
    std::vector<int16_t> blocks = TypicalBlocks();
    std::vector<uint8_t> coded;
    Unit() {
        char* data = nullptr;
        std::size_t size = 0;
        std::FILE* file = open_memstream(&data, &size);
        BitStream writer;
        BitStreamInit(writer, file);
        CHuffmanCoder coder;
        coder.BuildAndWriteTableContiguous(&writer, blocks.data(), kBlocks);
        for (int b = 0; b < kBlocks; ++b) coder.EncodeBlock(&blocks[b * 64]);
        FlushBits(writer);
        std::fclose(file);
        coded.assign(data, data + size);
        std::free(data);
    }
};

const Unit& SharedUnit() {
    static const Unit unit;
    return unit;
}

void BM_BuildTable(benchmark::State& state) {
    const Unit& unit = SharedUnit();
    std::vector<char> sink(4096);
    for (auto _ : state) {
        std::FILE* file = fmemopen(sink.data(), sink.size(), "w");
        BitStream writer;
        BitStreamInit(writer, file);
        CHuffmanCoder coder;
        benchmark::DoNotOptimize(coder.BuildAndWriteTableContiguous(&writer, unit.blocks.data(), kBlocks));
        std::fclose(file);
    }
    state.SetItemsProcessed(state.iterations() * kBlocks);
}
BENCHMARK(BM_BuildTable);

void BM_EncodeBlock(benchmark::State& state) {
    const Unit& unit = SharedUnit();
    std::vector<char> sink(unit.coded.size() + 4096);
    std::FILE* file = fmemopen(sink.data(), sink.size(), "w");
    BitStream writer;
    BitStreamInit(writer, file);
    CHuffmanCoder coder;
    coder.BuildAndWriteTableContiguous(&writer, unit.blocks.data(), kBlocks);
    for (auto _ : state) {
        std::rewind(file);
        for (int b = 0; b < kBlocks; ++b) coder.EncodeBlock(&unit.blocks[b * 64]);
    }
    std::fclose(file);
    state.SetItemsProcessed(state.iterations() * kBlocks);
}
BENCHMARK(BM_EncodeBlock);

template <bool kBounded, bool kSparse>
void BM_DecodeBlock(benchmark::State& state) {
    const Unit& unit = SharedUnit();
    std::vector<uint8_t> data = unit.coded;
    data.resize(data.size() + 4, 0);
    alignas(16) int16_t values[64] = {};
    for (auto _ : state) {
        BitStream reader;
        if (kBounded) {
            BitStreamInitBounded(reader, data.data(), unit.coded.size());
        } else {
            BitStreamInit(reader, data.data());
        }
        CHuffmanCoder coder;
        coder.ReadTable(&reader);
        int ok = 1;
        for (int b = 0; b < kBlocks; ++b) {
            ok &= kSparse ? coder.DecodeBlockSparse(values, kZigZag) : coder.DecodeBlock(values, kZigZag);
        }
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(values);
    }
    state.SetItemsProcessed(state.iterations() * kBlocks);
    state.counters["bits/block"] = double(unit.coded.size() * 8) / kBlocks;
}
BENCHMARK(BM_DecodeBlock<true, false>)->Name("BM_DecodeBlock/bounded");
BENCHMARK(BM_DecodeBlock<false, false>)->Name("BM_DecodeBlock/unbounded");
BENCHMARK(BM_DecodeBlock<true, true>)->Name("BM_DecodeBlockSparse/bounded");

}  // namespace

BENCHMARK_MAIN();
