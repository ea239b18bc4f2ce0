// Loading frames of a numbered image run into 32-bit surfaces, the mask blit
// of 8-bit runs, and still-image coding, at 640 x 480.

#include "pqxlib/pqx_image_codec.h"
#include "support/graphic_loader.h"
#include "support/surface.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kWidth = 640, kHeight = 480;

// A file of the given kind holding a smooth picture (or, with grain, one
// with camera-like noise that compresses as little as a real frame), written
// once.
std::vector<uint8_t> SampleFile(int kind, uint32_t format, bool grain = false) {
    CPlaneSurface surface;
    surface.CreateWithFormat(kWidth, kHeight, format);
    const SurfaceDesc& d = surface.Desc();
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < d.pitch; ++x) d.bits[y * d.pitch + x] = static_cast<uint8_t>(x / 3 + y / 2 + (x * y) % 7);
        if (grain) {
            uint32_t noise = 12345u + static_cast<uint32_t>(y);
            for (int x = 0; x < d.pitch; ++x) {
                noise = noise * 1664525u + 1013904223u;
                d.bits[y * d.pitch + x] = static_cast<uint8_t>(d.bits[y * d.pitch + x] + (noise >> 29));
            }
        }
    }
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("rvx_bench_" + std::to_string(::getpid()) + "_" + std::to_string(kind)))
                                 .string();
    _pqxlib_::InstallPQXImageCodec();
    if (kind == kSaveBMP) surface.SaveBMP(path);
    if (kind == kSavePNG) surface.SavePNG(path, nullptr, 0);
    if (kind == kSavePQX) surface.SavePQX(path, nullptr, 0);
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    std::filesystem::remove(path);
    return bytes;
}

void LoadInto32BitSurface(benchmark::State& state, int kind, uint32_t format, bool grain = false) {
    const std::vector<uint8_t> file = SampleFile(kind, format, grain);
    CGraphicLoader loader;
    CPlaneSurface surface;
    for (auto _ : state) {
        if (!surface.LoadMemory("frame", file.data(), file.size(), &loader)) state.SkipWithError("load failed");
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["file_bytes"] = static_cast<double>(file.size());
}

void BM_LoadPNG24(benchmark::State& s) { LoadInto32BitSurface(s, kSavePNG, PF_X8R8G8B8); }
void BM_LoadPNG32(benchmark::State& s) { LoadInto32BitSurface(s, kSavePNG, PF_A8R8G8B8); }
void BM_LoadBMP24(benchmark::State& s) { LoadInto32BitSurface(s, kSaveBMP, PF_X8R8G8B8); }
void BM_LoadPQX24(benchmark::State& s) { LoadInto32BitSurface(s, kSavePQX, PF_X8R8G8B8); }
void BM_LoadPNG24Grain(benchmark::State& s) { LoadInto32BitSurface(s, kSavePNG, PF_X8R8G8B8, true); }
BENCHMARK(BM_LoadPNG24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadPNG24Grain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadPNG32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadBMP24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadPQX24)->Unit(benchmark::kMillisecond);

void BM_SavePQX24(benchmark::State& state) {
    CPlaneSurface surface;
    surface.CreateWithFormat(kWidth, kHeight, PF_X8R8G8B8);
    surface.Fill(0xFF336699, nullptr);
    _pqxlib_::InstallPQXImageCodec();
    const std::string path = "/tmp/rvx_bench_save_" + std::to_string(::getpid()) + ".pqx";
    for (auto _ : state) surface.SavePQX(path, nullptr, 0);
    std::remove(path.c_str());
}
BENCHMARK(BM_SavePQX24)->Unit(benchmark::kMillisecond);

void BM_BlitMaskIntoArgb(benchmark::State& state) {
    CPlaneSurface mask, argb;
    mask.CreateWithFormat(kWidth, kHeight, PF_A8);
    mask.Fill(0x80000000, nullptr);
    argb.CreateWithFormat(kWidth, kHeight, PF_A8R8G8B8);
    for (auto _ : state) argb.Blt(&mask, 0, 0, nullptr, nullptr, 0);
    state.SetBytesProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_BlitMaskIntoArgb);

}  // namespace

BENCHMARK_MAIN();
