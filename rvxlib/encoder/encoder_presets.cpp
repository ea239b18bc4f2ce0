#include "rvxlib/encoder/encoder_presets.h"

#include <algorithm>
#include <cmath>

#include "rvxlib/encoder/rate_distortion.h"
#include "rvxlib/format/coding_defaults.h"
#include "rvxlib/format/format_word.h"

namespace _rvxlib_ {
namespace {

constexpr const char* kPresetNames[] = {"classic", "fast", "medium", "slow"};

// Step of a P and a B frame over the I frame's, on the mean AC step of each
// matrix: references are worth more bits than the frames that only use them
// (measured on camera footage; wider spacing lost more in the I and P
// frames than it saved in the B frames).
constexpr double kPStepRatio = 1.2;
constexpr double kBStepRatio = 1.4;

// Coefficients the trellis looks back over: slow searches widely, the
// others only as far as pays for its time.
constexpr int kSlowTrellisReach = 8;
constexpr int kTrellisReach = 2;

uint16_t ScaledQuality(uint16_t level, double factor, uint16_t coarsest) {
    return uint16_t(std::lround(std::clamp(level * factor, double(kMinQuality), double(coarsest))));
}

}  // namespace

const char* PresetName(RVXPreset preset) { return kPresetNames[static_cast<int>(preset) & 3]; }

bool PresetFromName(const std::string& name, RVXPreset* preset) {
    for (int k = 0; k < 4; ++k) {
        if (name == kPresetNames[k]) {
            *preset = static_cast<RVXPreset>(k);
            return true;
        }
    }
    return false;
}

RVXEncoderTuning TuningFor(RVXPreset preset) {
    RVXEncoderTuning t;
    t.trellis_reach = kTrellisReach;
    if (preset == RVXPreset::kClassic) return t;
    // Every preset past classic.
    t.guesses_motion = true;
    t.drops_unformed_predictions = true;
    t.precompensates_filter = true;
    t.looks_ahead_for_b_runs = true;
    t.adapts_quantisers = true;
    t.balances_frame_qualities = true;
    t.first_pass = RVXPreset::kFast;
    t.reduced_first_pass = true;
    t.steers_past_max_quality = true;
    switch (preset) {
    case RVXPreset::kFast:
        t.prices_vectors = true;
        t.smallest_share_of_estimate = 0.7;
        break;
    case RVXPreset::kMedium:
        t.decides_by_cost = true;
        t.smallest_share_of_estimate = 0.5;
        break;
    case RVXPreset::kSlow:
        t.decides_by_cost = true;
        t.candidates = RVXCandidateSet::kNeighbours;
        t.trellis_reach = kSlowTrellisReach;
        t.quantiser_spread = 1;
        t.smallest_share_of_estimate = 0.38;
        break;
    case RVXPreset::kClassic:
        break;
    }
    return t;
}

bool SteersPastMaxQuality(const RVXEncoderTuning& tuning, uint32_t format) {
    // Transform bits of 0 mean the DCT, as everywhere.
    const uint32_t transform = FormatTransform(format);
    return tuning.steers_past_max_quality && (transform == kTransformDct || transform == 0) &&
           !(format & kFormatIntDctEncode);
}

RVXFrameQuantisers QuantisersForLevel(RVXPreset preset, uint16_t level, const uint8_t intra_matrix[64],
                                    const uint8_t inter_matrix[64], uint16_t coarsest) {
    const uint16_t i = ClampQuality(level);
    if (!TuningFor(preset).balances_frame_qualities)
        return {i, ClampQuality(uint16_t(std::min<int>(i + 2, kMaxQuality))),
                ClampQuality(uint16_t(std::min<int>(i + 4, kMaxQuality)))};
    const double balance = double(MeanAcStep(intra_matrix)) / double(MeanAcStep(inter_matrix));
    return {i, std::max(i, ScaledQuality(i, kPStepRatio * balance, coarsest)),
            std::max(i, ScaledQuality(i, kBStepRatio * balance, coarsest))};
}

}  // namespace _rvxlib_
