#pragma once
// How much thought the encoder puts into its decisions. `classic` makes the
// fixed decisions every earlier movie was made with, so the same settings
// still give the same file. The others choose by rate-distortion cost
// (distortion plus lambda times bits): `fast` only where it costs little
// time, `slow` wherever it pays. None of them changes the picture format,
// the transform or the matrices a user chose.

#include <cstdint>
#include <string>

#include "rvxlib/format/coding_defaults.h"

namespace _rvxlib_ {

enum class RVXPreset : uint8_t { kClassic = 0, kFast, kMedium, kSlow };

// "classic", "fast", "medium", "slow".
const char* PresetName(RVXPreset preset);
// False for a name that is none of them (case as written above).
bool PresetFromName(const std::string& name, RVXPreset* preset);

struct RVXFrameQualities {
    uint16_t i = 0;
    uint16_t p = 0;
    uint16_t b = 0;
};

// The three frame qualities a single quality level stands for. classic keeps
// the spacing of the defaults (N, N+2, N+4); the other presets balance the
// frame types for the matrices in use, so that a P or B frame is never
// quantised finer than the I frame it predicts from. Results lie in
// 2..coarsest (a rate plan may steer the decisions by cost past 32).
RVXFrameQualities QualitiesForLevel(RVXPreset preset, uint16_t level, const uint8_t intra_matrix[64],
                                    const uint8_t inter_matrix[64], uint16_t coarsest = kMaxQuality);

}  // namespace _rvxlib_
