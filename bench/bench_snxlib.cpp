// Sound coding speed in multiples of real time: 10 seconds of 44.1 kHz
// stereo music-like sound, encoded from a WAVE file and decoded again.

#include "snxlib/mdct.h"
#include "snxlib/snx_decode.h"
#include "snxlib/snx_encode.h"
#include "snxlib/wave_writer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t kRate = 44100;
constexpr double kSeconds = 10.0;

struct Files {
    std::filesystem::path dir;
    std::filesystem::path wave;
    Files() {
        dir = std::filesystem::temp_directory_path() / ("bench_snxlib_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        wave = dir / "music.wav";
        const uint32_t frames = static_cast<uint32_t>(kRate * kSeconds);
        std::vector<int16_t> samples(2 * static_cast<std::size_t>(frames));
        std::mt19937 rng(1);
        std::normal_distribution<double> noise(0, 200);
        const double notes[] = {110, 220, 261.6, 329.6, 392, 440, 523.3, 659.3};
        for (uint32_t i = 0; i < frames; ++i) {
            const double t = static_cast<double>(i) / kRate;
            const int note = static_cast<int>(t * 4) % 8;
            const double decay = std::exp(-3 * std::fmod(t, 0.25));
            double s = 0;
            for (int h = 1; h <= 8; ++h) s += std::sin(2 * std::numbers::pi * notes[note] * h * t) / h;
            const double left = 6000 * decay * s + noise(rng);
            const double right = 0.7 * left + noise(rng);
            samples[2 * i] = static_cast<int16_t>(std::clamp(left, -32768.0, 32767.0));
            samples[2 * i + 1] = static_cast<int16_t>(std::clamp(right, -32768.0, 32767.0));
        }
        _snxlib_::CWaveWriter writer;
        writer.Open(wave, 2, kRate);
        writer.Write(samples.data(), frames);
        writer.Close();
    }
    ~Files() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    std::filesystem::path Sound(int64_t mode) const { return dir / ("sound" + std::to_string(mode) + ".snx"); }
};

const Files& TestFiles() {
    static Files files;
    return files;
}

void RealTime(benchmark::State& state) {
    state.counters["x_realtime"] =
        benchmark::Counter(kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Encode(benchmark::State& state) {
    const Files& files = TestFiles();
    for (auto _ : state) {
        _snxlib_::CSNXEncode encoder;
        encoder.SetMode(static_cast<uint32_t>(state.range(0)));
        encoder.SetBlockSize(1024);
        if (!encoder.EncodeFile(files.wave, files.Sound(state.range(0)))) state.SkipWithError("encode failed");
    }
    RealTime(state);
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(files.Sound(state.range(0))));
}
BENCHMARK(BM_Encode)->Arg(0)->Arg(1)->Arg(64)->Arg(256)->Arg(257)->Arg(258)->Arg(259)->Arg(260)->Unit(benchmark::kMillisecond);

void BM_Decode(benchmark::State& state) {
    const Files& files = TestFiles();
    _snxlib_::CSNXEncode encoder;
    encoder.SetMode(static_cast<uint32_t>(state.range(0)));
    encoder.EncodeFile(files.wave, files.Sound(state.range(0)));
    std::vector<int16_t> buffer(2 * 4096);
    for (auto _ : state) {
        _snxlib_::CSNXDecode decoder;
        if (!decoder.Open(files.Sound(state.range(0)))) state.SkipWithError("open failed");
        uint32_t got = 0;
        do {
            if (!decoder.Read(buffer.data(), 4096, &got)) {
                state.SkipWithError("decode failed");
                break;
            }
        } while (got == 4096);
    }
    RealTime(state);
}
BENCHMARK(BM_Decode)->Arg(0)->Arg(1)->Arg(64)->Arg(256)->Arg(257)->Arg(258)->Arg(259)->Arg(260)->Unit(benchmark::kMillisecond);

void BM_MDCTForward1024(benchmark::State& state) {
    _snxlib_::CMDCT mdct;
    mdct.Init(0, 10, 1);
    std::vector<int16_t> block(1024);
    std::mt19937 rng(2);
    for (auto& s : block) s = static_cast<int16_t>(rng() % 20000) - 10000;
    std::vector<int16_t> work(1024);
    for (auto _ : state) {
        work = block;
        mdct.Forward(work.data(), 0);
        benchmark::DoNotOptimize(work.data());
    }
    state.SetItemsProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_MDCTForward1024);

}  // namespace

BENCHMARK_MAIN();
