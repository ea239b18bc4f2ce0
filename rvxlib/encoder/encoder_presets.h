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
#include "rvxlib/ratecontrol/rate_control.h"

namespace _rvxlib_ {

enum class RVXPreset : uint8_t { kClassic = 0, kFast, kMedium, kSlow };

// "classic", "fast", "medium", "slow".
const char* PresetName(RVXPreset preset);
// False for a name that is none of them (case as written above).
bool PresetFromName(const std::string& name, RVXPreset* preset);

// The ways a macroblock is tried in when deciding by cost.
enum class RVXCandidateSet : uint8_t {
    kBetterMatch,  // no prediction where it may pay, and the better reference's searched vector
    kNeighbours,   // no prediction, and per reference the searched, zero, left and upper vectors
};

// What a preset decides, field by field: the only place where presets differ.
struct RVXEncoderTuning {
    // Each macroblock's way of coding and its levels are chosen by cost
    // rather than by the fixed rules (group_coder_by_cost.cpp).
    bool decides_by_cost = false;
    RVXCandidateSet candidates = RVXCandidateSet::kBetterMatch;
    // Coefficients the level trellis looks back over whenever levels are
    // chosen by cost, also past quality 32 under the fixed decisions.
    int trellis_reach = 0;
    // Quantisers tried either side of the frame's, not with the lossless transform.
    uint16_t quantiser_spread = 0;
    // The fixed decisions still charge a prediction the bits of its fields.
    bool prices_vectors = false;
    // A search starts from the vector found for the same macroblock of the
    // frame coded before, scaled to the distance, not from zero only.
    bool guesses_motion = false;
    // A prediction that cannot be formed (the last macroblock column and row
    // at the zero vector) is dropped instead of written as the fixed rule does.
    bool drops_unformed_predictions = false;
    // References are moved against the deblocking filter before coding.
    bool precompensates_filter = false;
    // Each run of B frames is chosen by looking ahead rather than fixed.
    bool looks_ahead_for_b_runs = false;
    // Adaptive quantisation may be asked for.
    bool adapts_quantisers = false;
    // The P and B qualities of a level follow the matrices' balance rather
    // than the fixed N, N+2, N+4.
    bool balances_frame_qualities = false;
    // A two-pass encode's first pass codes with this preset, on halved
    // pictures where they are large enough to stand for the movie.
    RVXPreset first_pass = RVXPreset::kClassic;
    bool reduced_first_pass = false;
    // A rate plan may steer past quality 32, where the transform allows
    // (SteersPastMaxQuality).
    bool steers_past_max_quality = false;
    // The share of the first pass's estimate of its smallest movie (every
    // frame at the coarsest quantiser) below which a movie of this preset
    // surely cannot come out, so that a smaller target is refused before
    // coding. Over two camera clips, a noisy test pattern, a fractal zoom and
    // a calm drawn scene, with and without the filter, the smallest movies
    // came to 0.90 to 1.10 of the estimate for classic (a first pass of its
    // own decisions at full size), 0.77 to 1.55 for fast, 0.57 to 1.51 for
    // medium and 0.43 to 0.99 for slow, whose decisions at coarse quantisers
    // beat the first pass's most on calm pictures. A target between this
    // bound and the real smallest is coded and reported as missed.
    double smallest_share_of_estimate = 0.85;
};

RVXEncoderTuning TuningFor(RVXPreset preset);

// Whether a rate plan may ask this movie's frames for quantisers past 32:
// past 32 the levels are chosen by cost, which needs a transform that keeps
// its unrounded values (the float DCT; the integer one and the lossless one
// do not). The coder and the rate plan both go by it, so a plan never
// counts on a quantiser the coder would clamp.
bool SteersPastMaxQuality(const RVXEncoderTuning& tuning, uint32_t format);

// The three frame quantisers a single quality level stands for. classic keeps
// the spacing of the defaults (N, N+2, N+4); the other presets balance the
// frame types for the matrices in use, so that a P or B frame is never
// quantised finer than the I frame it predicts from. Results lie in
// 2..coarsest (a rate plan may steer the decisions by cost past 32).
RVXFrameQuantisers QuantisersForLevel(RVXPreset preset, uint16_t level, const uint8_t intra_matrix[64],
                                    const uint8_t inter_matrix[64], uint16_t coarsest = kMaxQuality);

}  // namespace _rvxlib_
