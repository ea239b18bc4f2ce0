#include "rvxlib/ratecontrol/full_size_estimate.h"

#include <algorithm>
#include <cmath>

#include "rvxlib/format/frame_record.h"

namespace _rvxlib_ {

namespace {

// The factor where the sample shows none: about what natural pictures cost
// at their own size against halved.
constexpr double kUnmeasuredFactor = 3.0;
// A run's own frames move the movie's factors at most this far.
constexpr double kLeastSceneFactor = 0.5;
constexpr double kMostSceneFactor = 2.0;

// 0 for the first pass's fine level, 1 for its coarse one.
uint32_t LevelIndex(uint32_t frame, uint32_t gop) {
    return FirstPassLevel(frame, gop) == kFirstPassFineLevel ? 0 : 1;
}

// I frames and the others gain unlike from the larger picture, and coarse
// quantisers drop most of the detail it adds: a factor for each kind at
// each level.
constexpr uint32_t kFactorClasses = 4;
uint32_t FactorClass(RVXFrameKind kind, uint32_t frame, uint32_t gop) {
    return (kind == kFrameKindI ? 0 : 2) + LevelIndex(frame, gop);
}

double AboveSmallest(const RVXPassFrame& frame, uint32_t macroblocks, uint32_t blocks_per_macroblock) {
    const uint64_t smallest =
        SmallestFrameBytes(macroblocks, blocks_per_macroblock, frame.kind != kFrameKindI);
    return frame.bytes > smallest ? double(frame.bytes - smallest) : 0.0;
}

struct ClassMeans {
    double bytes[kFactorClasses] = {};
    uint32_t count[kFactorClasses] = {};
    void Add(uint32_t c, double above) {
        bytes[c] += above;
        ++count[c];
    }
    double Mean(uint32_t c) const { return count[c] ? bytes[c] / count[c] : 0.0; }
};

}  // namespace

std::vector<RVXPassFrame> FullSizePassFrames(std::vector<RVXPassFrame> reduced, uint32_t reduced_macroblocks,
                                             const std::vector<RVXSampleFrame>& sample, uint32_t macroblocks,
                                             uint32_t blocks_per_macroblock, uint32_t gop_length) {
    const uint32_t gop = std::max<uint32_t>(gop_length, 1);
    const size_t count = reduced.size();
    // The analysis picture's frames are compared by their own kinds: a run
    // begins with an I frame where the first pass may have a P frame (after
    // a scene cut), so kinds are compared in the mean. Where the sampled
    // frames hold no frame of a kind, all frames of that kind stand in.
    std::vector<bool> sampled(count, false);
    ClassMeans full, halved, halved_anywhere;
    // Scenes differ in the detail halving removes: each run's sampled
    // frames are also set against all sampled frames at its level, display
    // frame for display frame.
    const size_t runs = (count + gop - 1) / gop;
    std::vector<double> run_full(runs, 0.0), run_halved(runs, 0.0);
    double level_full[2] = {}, level_halved[2] = {};
    for (const RVXSampleFrame& s : sample) {
        if (s.display >= count) continue;
        sampled[s.display] = true;
        const double full_above = AboveSmallest(s.frame, macroblocks, blocks_per_macroblock);
        const double halved_above = AboveSmallest(reduced[s.display], reduced_macroblocks, blocks_per_macroblock);
        full.Add(FactorClass(s.frame.kind, s.display, gop), full_above);
        const uint32_t run = s.display / gop, level = LevelIndex(s.display, gop);
        run_full[run] += full_above;
        run_halved[run] += halved_above;
        level_full[level] += full_above;
        level_halved[level] += halved_above;
    }
    for (uint32_t n = 0; n < count; ++n) {
        const uint32_t c = FactorClass(reduced[n].kind, n, gop);
        const double above = AboveSmallest(reduced[n], reduced_macroblocks, blocks_per_macroblock);
        halved_anywhere.Add(c, above);
        if (sampled[n]) halved.Add(c, above);
    }
    double factors[kFactorClasses];
    for (uint32_t c = 0; c < kFactorClasses; ++c) {
        const double halved_mean = halved.count[c] ? halved.Mean(c) : halved_anywhere.Mean(c);
        factors[c] = full.Mean(c) > 0.0 && halved_mean > 0.0 ? full.Mean(c) / halved_mean : kUnmeasuredFactor;
    }
    for (uint32_t n = 0; n < count; ++n) {
        RVXPassFrame& frame = reduced[n];
        const uint32_t run = n / gop, level = LevelIndex(n, gop);
        double scene = 1.0;
        if (run_full[run] > 0.0 && run_halved[run] > 0.0 && level_full[level] > 0.0 && level_halved[level] > 0.0)
            scene = std::clamp((run_full[run] / run_halved[run]) / (level_full[level] / level_halved[level]),
                               kLeastSceneFactor, kMostSceneFactor);
        const uint64_t smallest =
            SmallestFrameBytes(macroblocks, blocks_per_macroblock, frame.kind != kFrameKindI);
        const double above = AboveSmallest(frame, reduced_macroblocks, blocks_per_macroblock);
        frame.bytes = smallest + uint64_t(std::llround(above * scene * factors[FactorClass(frame.kind, n, gop)]));
    }
    return reduced;
}

}  // namespace _rvxlib_
