#include "rvxlib/encoder/encoder_presets.h"

#include <algorithm>
#include <cmath>

#include "rvxlib/encoder/rate_distortion.h"
#include "rvxlib/format/coding_defaults.h"

namespace _rvxlib_ {
namespace {

constexpr const char* kPresetNames[] = {"classic", "fast", "medium", "slow"};

// Step of a P and a B frame over the I frame's, on the mean AC step of each
// matrix: references are worth more bits than the frames that only use them
// (measured on camera footage; wider spacing lost more in the I and P
// frames than it saved in the B frames).
constexpr double kPStepRatio = 1.2;
constexpr double kBStepRatio = 1.4;

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

RVXFrameQualities QualitiesForLevel(RVXPreset preset, uint16_t level, const uint8_t intra_matrix[64],
                                    const uint8_t inter_matrix[64], uint16_t coarsest) {
    const uint16_t i = ClampQuality(level);
    if (preset == RVXPreset::kClassic)
        return {i, ClampQuality(uint16_t(std::min<int>(i + 2, kMaxQuality))),
                ClampQuality(uint16_t(std::min<int>(i + 4, kMaxQuality)))};
    const double balance = double(MeanAcStep(intra_matrix)) / double(MeanAcStep(inter_matrix));
    return {i, std::max(i, ScaledQuality(i, kPStepRatio * balance, coarsest)),
            std::max(i, ScaledQuality(i, kBStepRatio * balance, coarsest))};
}

}  // namespace _rvxlib_
