// Encoding speed of the frame coder at the default settings: 150 synthetic
// 640 x 480 moving frames, "YUV411", "DCT", 5 P frames per group with two B
// frames between references, qualities 4, 6 and 8. Reports frames per second
// and the share of each stage; a second benchmark decodes the result. The
// argument is the number of threads coding macroblock rows: fps counts frames
// per second of processor time over all threads, fps_wall per elapsed second.
// Payloads stay in memory, so the entropy stage counts no file writes.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "pqxlib/dct_float_llm.h"
#include "pqxlib/quant_tables.h"
#include "rvxlib/decoder/frame_decoder.h"
#include "rvxlib/dsp/block_convert.h"
#include "rvxlib/dsp/color_space.h"
#include "rvxlib/dsp/deblock.h"
#include "rvxlib/dsp/pixel_block.h"
#include "rvxlib/encoder/coding_objects.h"
#include "rvxlib/encoder/frame_sink.h"
#include "rvxlib/encoder/group_coder.h"
#include "rvxlib/encoder/motion_search.h"
#include "support/cpu_features.h"

using namespace _rvxlib_;

namespace {

constexpr uint32_t kWidth = 640, kHeight = 480, kFrames = 150;
constexpr uint32_t kFormat = kPictureYUV411 | kTransformWordDct;

// A textured scene panning diagonally with a rotating bright disc: motion the
// search must follow, plus detail that does not simply translate.
std::vector<std::vector<uint8_t>> MakeFrames() {
    const std::size_t pitch = kWidth * 3;
    std::vector<std::vector<uint8_t>> frames(kFrames, std::vector<uint8_t>(pitch * kHeight));
    for (uint32_t n = 0; n < kFrames; ++n) {
        const double cx = 320 + 150 * std::cos(n * 0.05), cy = 240 + 100 * std::sin(n * 0.05);
        for (uint32_t y = 0; y < kHeight; ++y)
            for (uint32_t x = 0; x < kWidth; ++x) {
                const double u = x + 2.5 * n, v = y + 1.25 * n;
                uint8_t* p = &frames[n][y * pitch + x * 3];
                const bool disc = (x - cx) * (x - cx) + (y - cy) * (y - cy) < 60 * 60;
                p[0] = uint8_t(128 + 90 * std::sin(u * 0.09) * std::cos(v * 0.07));
                p[1] = disc ? 240 : uint8_t(128 + 80 * std::cos(u * 0.031 + v * 0.043));
                p[2] = uint8_t(128 + 100 * std::sin((u - v) * 0.023) + ((x ^ y) & 7));
            }
    }
    return frames;
}

// Keeps the coded frames in memory, as a player's own encoder might.
struct MemorySink : IRVXFrameSink {
    bool TakeFrame(uint32_t frame, const uint8_t* payload, std::size_t size) override {
        std::lock_guard<std::mutex> lock(mutex);
        payloads[frame].assign(payload, payload + size);
        return true;
    }
    void TakeGroup(uint32_t first_frame, std::span<const RVXFrameRecord> taken) override {
        groups.push_back({first_frame, uint32_t(taken.size()), 0, 0});
        records.insert(records.end(), taken.begin(), taken.end());
    }
    uint64_t Bytes() const {
        uint64_t bytes = 0;
        for (const auto& [n, payload] : payloads) bytes += payload.size();
        return bytes;
    }

    std::mutex mutex;
    std::map<uint32_t, std::vector<uint8_t>> payloads;
    std::vector<RVXFrameRecord> records;
    std::vector<RVXGroupEntry> groups;
};

struct Codec {
    CodecPlan plan;
    RVXCodecObjects objects;
    RVXGroupSettings settings;

    Codec() {
        PlanCodec(CodecUse::kEncode, kWidth, kHeight, kFormat | (kSourceBGR24 << kFormatSourceShift), &plan);
        MakeCodecObjects(plan, ProcessorFeatures(), &objects);
        settings.format = kFormat;
        _pqxlib_::VideoQuantMatrices(1, settings.intra_matrix, settings.inter_matrix);
    }
    // Objects for every thread beyond the first, made like the ones above.
    bool MakeLane(RVXCodingLane& lane) { return MakeCodingLane(plan, ProcessorFeatures(), &lane); }
    RVXCodecSet Set() { return objects.Set(); }
};

const std::vector<std::vector<uint8_t>>& Frames() {
    static const auto frames = MakeFrames();
    return frames;
}

void BM_EncodeFrames(benchmark::State& state) {
    const auto& frames = Frames();
    Codec codec;
    RVXCodingTimes times;
    uint64_t bytes = 0;
    std::chrono::steady_clock::duration elapsed{};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        MemorySink sink;
        CRVXGroupCoder coder;
        coder.Open(codec.Set(), codec.settings, ProcessorFeatures(), &sink);
        coder.SetThreads(uint32_t(state.range(0)),
                         [&](RVXCodingLane& lane) { return codec.MakeLane(lane); });
        coder.Measure(true);
        for (const auto& frame : frames) coder.AddFrame(frame.data());
        coder.FinishFrames();
        times.motion += coder.Times().motion;
        times.transform += coder.Times().transform;
        times.entropy += coder.Times().entropy;
        times.deblock += coder.Times().deblock;
        elapsed += std::chrono::steady_clock::now() - start;
        bytes = sink.Bytes();
    }
    const double iterations = double(state.iterations());
    state.counters["fps"] = benchmark::Counter(double(kFrames) * iterations, benchmark::Counter::kIsRate);
    state.counters["fps_wall"] =
        double(kFrames) * iterations / std::chrono::duration<double>(elapsed).count();
    state.counters["motion_ms"] = std::chrono::duration<double, std::milli>(times.motion).count() / iterations;
    state.counters["transform_ms"] = std::chrono::duration<double, std::milli>(times.transform).count() / iterations;
    state.counters["entropy_ms"] = std::chrono::duration<double, std::milli>(times.entropy).count() / iterations;
    state.counters["deblock_ms"] = std::chrono::duration<double, std::milli>(times.deblock).count() / iterations;
    state.counters["kB_per_frame"] = double(bytes) / kFrames / 1024.0;
}
BENCHMARK(BM_EncodeFrames)
    ->Arg(1)
    ->Arg(2)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

// Picture quality of the same encoding: PSNR of the luma (and of all three
// colour channels) of every coded picture against its converted source.
void BM_EncodeQuality(benchmark::State& state) {
    const auto& frames = Frames();
    Codec codec;
    MemorySink sink;
    CRVXGroupCoder coder;
    CRVXColorSpaceRGB24bitToYUV32bit convert(kWidth, kHeight);
    convert.Init(0);
    const std::size_t size = std::size_t(kWidth) * kHeight * 4;
    std::vector<std::vector<uint8_t>> sources(kFrames, std::vector<uint8_t>(size));
    for (uint32_t n = 0; n < kFrames; ++n) convert.ConvertPicture(frames[n].data(), sources[n].data());
    double luma = 0, colour = 0;
    for (auto _ : state) {
        luma = colour = 0;
        sink.groups.clear();
        sink.records.clear();
        coder.Open(codec.Set(), codec.settings, ProcessorFeatures(), &sink);
        coder.SetFrameObserver([&](uint32_t n, uint32_t, const uint8_t* picture) {
            double sy = 0, sc = 0;
            for (std::size_t i = 0; i < size; ++i) {
                const double d = double(picture[i]) - sources[n][i];
                if ((i & 3) == 2) sy += d * d;
                if ((i & 3) != 3) sc += d * d;
            }
            luma += 10 * std::log10(255.0 * 255.0 * (size / 4) / (sy + 1e-9));
            colour += 10 * std::log10(255.0 * 255.0 * (size / 4 * 3) / (sc + 1e-9));
        });
        for (const auto& frame : frames) coder.AddFrame(frame.data());
        coder.FinishFrames();
    }
    state.counters["psnr_y_dB"] = luma / kFrames;
    state.counters["psnr_vuy_dB"] = colour / kFrames;
    state.counters["groups"] = double(sink.groups.size());
}
BENCHMARK(BM_EncodeQuality)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_DecodeFrames(benchmark::State& state) {
    const auto& frames = Frames();
    Codec codec;
    MemorySink sink;
    CRVXGroupCoder coder;
    coder.Open(codec.Set(), codec.settings, ProcessorFeatures(), &sink);
    for (const auto& frame : frames) coder.AddFrame(frame.data());
    coder.FinishFrames();
    RVXDecoderSettings settings;
    settings.width = kWidth;
    settings.height = kHeight;
    settings.format = kFormat;
    std::copy(codec.settings.intra_matrix, codec.settings.intra_matrix + 64, settings.intra_matrix);
    std::copy(codec.settings.inter_matrix, codec.settings.inter_matrix + 64, settings.inter_matrix);
    for (auto _ : state) {
        CRVXFrameDecoder decoder;
        decoder.Open(settings, ProcessorFeatures());
        std::size_t r = 0;
        uint32_t shown = 0, n = 0;
        for (const auto& group : sink.groups) {
            decoder.BeginGroup(group.first_frame, group.record_count);
            for (uint32_t i = 0; i < group.record_count; ++i, ++r) {
                const uint32_t type = sink.records[r].type;
                const auto& payload = sink.payloads[group.first_frame + RecordPosition(type)];
                decoder.DecodeFrame(type, payload.data(), payload.size());
                while (decoder.NextPicture(&n)) ++shown;
            }
        }
        decoder.EndGroup();
        while (decoder.NextPicture(&n)) ++shown;
        benchmark::DoNotOptimize(shown);
    }
    state.counters["fps"] = benchmark::Counter(double(kFrames) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeFrames)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
