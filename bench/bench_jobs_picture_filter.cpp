// What the picture steps before the codec cost per frame: deinterlacing and
// scaling at PAL and 1080 sizes, beside a crop that measures the graph's
// own cost (splitting the pictures into planes and joining them again).

#include "jobs/encode_job.h"
#include "jobs/picture_filter.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

enum Step { kCrop, kDeinterlace, kScale };

void BM_PictureStep(benchmark::State& state) {
    const uint32_t w = uint32_t(state.range(0)), h = uint32_t(state.range(1));
    PictureSteps steps;
    switch (Step(state.range(2))) {
    case kCrop:
        steps.crop = {8, 8, 8, 8};
        break;
    case kDeinterlace:
        steps.deinterlace = true;
        break;
    case kScale:
        // PAL's wide pixels made square, 1080 brought down to 720.
        steps.scale_width = w == 720 ? 1024 : 1280;
        steps.scale_height = w == 720 ? 576 : 720;
        break;
    }
    std::vector<uint8_t> picture(std::size_t(w) * h * 4);
    uint32_t noise = 1;
    for (uint8_t& byte : picture) byte = uint8_t((noise = noise * 1664525u + 1013904223u) >> 24);
    CPictureFilter filter;
    if (!filter.Open(steps, kLayoutRGB32, w, h, w * 4)) {
        state.SkipWithError(filter.Failure().c_str());
        return;
    }
    for (auto _ : state) {
        filter.Push(picture.data());
        while (const uint8_t* out = filter.Pull()) benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_PictureStep)
    ->ArgNames({"w", "h", "step"})
    ->Args({720, 576, kCrop})
    ->Args({720, 576, kDeinterlace})
    ->Args({720, 576, kScale})
    ->Args({1920, 1080, kCrop})
    ->Args({1920, 1080, kDeinterlace})
    ->Args({1920, 1080, kScale})
    // FFmpeg's filters run slices on threads of their own: the cost is all of
    // the process's processor time, which a busy machine does not inflate.
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
