#pragma once
// The arithmetic of two-pass rate control. The first pass codes every frame
// at known qualities and reports what each cost; the plan gives every frame
// of the second pass a quality so that the payloads add up to a budget.
//
// A frame's cost is modelled as its smallest possible payload plus the rest
// of what the first pass measured, scaled by (first quality / quality)^alpha.
// The plan moves one continuous level along the preset's own balance of I, P
// and B qualities, and bends each frame's quality by its complexity (curve
// compression: busy frames a little coarser, calm ones a little finer) and
// by its place in its group's chain of references.
//
// While the second pass runs, the plan learns from the frames that are done,
// in ways that do not depend on how many threads code:
// - the second group waits until the first is coded, so that every later
//   group knows how far the model is off for I, P and B frames of this
//   movie (the first pass decides and measures more cheaply);
// - a group's quality level is solved once, from the actual sizes of the
//   groups kSettledGroups and more before it (certainly coded, whatever the
//   threads), of the first group, and the plan of the groups in between;
// - the groups still being coded then are counted at their own shares,
//   which their frames steer onto;
// - the last groups wait until every frame shown before them is coded, and
//   set their I frame's quality and their share from what all of those cost;
// - inside a group, frames are coded one after another by one thread, so
//   each frame's quality follows what the group's earlier frames (in coding
//   order) cost against the group's share of the budget.
// Fractional qualities become whole ones by carrying the rounding error to
// the next frame of the same kind in the group (I frames: to the next I
// frame), so the average over frames is the fractional one.

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include "rvxlib/format/coding_defaults.h"
#include "rvxlib/ratecontrol/rate_control.h"

namespace _rvxlib_ {

// What the first pass learnt of one frame, listed in display order.
struct RVXPassFrame {
    RVXFrameKind kind = kFrameKindI;  // I, P or B
    uint32_t group = 0;            // index of its group of pictures in the movie
    uint32_t coding_position = 0;  // 0 for the group's I frame, then in coding order
    uint16_t quantiser = 0;        // the quantiser it was coded at
    uint64_t bytes = 0;            // its payload
};

// Payload of a frame whose macroblocks all carry no coefficient and no
// motion: the code table with only the end-of-block symbol, then per
// macroblock the quantiser, one use-flag bit in P and B frames, and one
// end-of-block bit per block.
uint64_t SmallestFrameBytes(uint32_t macroblocks, uint32_t blocks_per_macroblock, bool inter);

// The first pass codes every other run of gop_length frames at a coarser
// level, so that neighbouring groups show how fast this movie's payloads fall
// with the quality. Whole runs keep each P and B frame's references at its
// own level: a frame predicted from a finer or coarser picture would cost
// what the difference in references costs, not what its own quality does.
inline constexpr uint16_t kFirstPassFineLevel = 4;
inline constexpr uint16_t kFirstPassCoarseLevel = 20;
inline uint16_t FirstPassLevel(uint32_t frame, uint32_t gop_length) {
    return gop_length && (frame / gop_length) % 2 ? kFirstPassCoarseLevel : kFirstPassFineLevel;
}

struct RVXRatePlanSettings {
    // The preset's frame quantisers for every whole level 2..32 (index level - 2).
    std::array<RVXFrameQuantisers, 31> quantisers_at_level{};
    uint32_t macroblocks = 0;
    uint32_t blocks_per_macroblock = 0;
    // Curve compression: 1 keeps the preset's fixed qualities, lower values
    // spend more on calm frames.
    double compression = 0.8;
    // A group's P frames are coded finer early in its chain of references
    // and coarser late, by up to this share either way (TaperReferences;
    // 0 to 0.4). Measured at the sizes of fixed-quality encodes: 0.08, 0.16,
    // 0.25 and 0.4 gained more and more at middle qualities, 0.6 lost on
    // some footage.
    double reference_taper = 0.4;
    // How strongly a frame's payload follows its quality, where the first
    // pass does not show it (fewer than kLeastAlphaPairs neighbouring groups
    // at different qualities).
    double alpha = 0.9;
    // The coarsest quantiser the coder takes: 32, or kMaxSteeredQuality for
    // a movie it can steer past 32 (SteersPastMaxQuality).
    uint16_t coarsest_quantiser = kMaxQuality;
};

inline constexpr uint32_t kLeastAlphaPairs = 1;

class CRVXRatePlan : public IRVXRateControl {
public:
    CRVXRatePlan(std::vector<RVXPassFrame> frames, const RVXRatePlanSettings& settings);

    // Spreads `budget` payload bytes over the frames. Call before coding.
    void Plan(uint64_t budget);
    // The model's payload total when every frame is at quality q.
    uint64_t PredictedAtQuality(uint16_t quality) const;
    // Sum of the frames' smallest payloads.
    uint64_t SmallestBytes() const;
    // The model's payload total at the coarsest level the plan can choose:
    // the least this movie can be planned to.
    uint64_t SmallestPlannedBytes() const;
    // The level Plan found (below 2 and above 32 where even the finest or
    // the coarsest qualities do not reach the budget).
    double Level() const { return level_; }
    // The exponent the first pass showed for I, P and B frames.
    double Alpha(RVXFrameKind kind) const;

    // The quantiser of display frame `frame` of `kind` and, for a P or B
    // frame, the payload bytes the plan counts on at that quantiser (0 for I
    // frames and where it counts on none). Safe from several threads; the
    // answer depends only on the plan and on frames that are certainly coded
    // (see above), never on thread timing.
    RVXFrameTarget StartFrame(uint32_t frame, RVXFrameKind kind) override;
    // The payload size of a coded frame of the second pass.
    void EndFrame(uint32_t frame, uint64_t bytes) override;
    uint16_t QuantiserGiven(uint32_t frame) const override;

    // Whether the group whose I frame is display frame `first` is to wait,
    // before its I frame is coded, until every frame shown before it is
    // coded. The last groups do: what every earlier frame cost then sets
    // their I frame's quality and their share exactly, whatever the threads.
    // Asked by the thread that codes the I frames, before that I frame.
    bool SettleBeforeGroup(uint32_t first) override;

    // Whether every frame asked for so far got this quantiser (the plan could
    // not go finer or coarser to meet the budget).
    bool AllAssigned(uint16_t quantiser);
    // Whether every frame asked for so far got the coarsest quantiser.
    bool AllCoarsest() { return AllAssigned(settings_.coarsest_quantiser); }

    // Whether any settled frame had no size when it was needed (which would
    // make the plan depend on timing). For the tests.
    bool MissedSettledFrame() const { return missed_settled_; }

private:
    // Actual bytes over model bytes, for I, P and B frames that the first
    // pass coded at its finer level, then for those at its coarser one: the
    // model is off differently where it reaches from a finer quality.
    static constexpr uint32_t kBiasClasses = 6;
    using Biases = std::array<double, kBiasClasses>;
    struct Group {
        std::vector<uint32_t> frames;  // display numbers, in coding order
        Biases bias = Unbiased();  // of the settled groups
        double level = 0.0;
        double target = 0.0;   // the group's share of the budget, in bytes
        double carry[3] = {};  // rounding carried to the next frame, per kind
        bool over = false;       // no level meets the budget by the model (Over)
        bool settle_over = false;
        bool settle = false;     // waits for every earlier frame (SettleBeforeGroup)
        bool resettled = false;  // its share was set again from them:
        Biases settle_bias = Unbiased();
        double settle_target = 0.0;
    };
    struct Frame {
        RVXPassFrame pass;
        uint32_t bias_class = 0;  // its place in Biases
        double weight = 1.0;     // curve compression factor on its quality
        double taper = 1.0;      // factor for its place in the chain of references (TaperReferences)
        double planned = 0.0;    // fractional quality from its group's level
        uint16_t assigned = 0;   // the whole quality given out, 0 before
        double goal = 0.0;       // FrameGoal
        uint64_t coded = 0;
        bool has_coded = false;
    };

    double Coarsest() const { return double(settings_.coarsest_quantiser); }
    double KindQuality(double level, RVXFrameKind kind) const;
    double QualityAt(const Frame& frame, double level) const;
    double Bytes(const Frame& frame, double quality) const;
    double Smallest(const Frame& frame) const;
    // The model's bytes times the bias of the frame's class.
    double Expected(const Frame& frame, double quality, const Biases& bias) const;
    // Expected bytes at `level` of every group from `group` on; without
    // `group`'s own I frame when with_intra is false (a settling group whose
    // I frame is coded).
    double BytesFrom(uint32_t group, double level, const Biases& bias, bool with_intra = true) const;
    // The level at which they come to `budget`.
    double SolveLevel(uint32_t group, double budget, const Biases& bias, bool with_intra = true) const;
    // The biases actual over model bytes show, each class's drawn towards
    // the whole's where the class has few bytes to tell.
    static Biases BiasesOf(const Biases& actual, const Biases& model);
    static Biases Unbiased() {
        Biases bias;
        bias.fill(1.0);
        return bias;
    }
    void ClassifyForBias();
    void ComputeWeights();
    void TaperReferences();
    void FitAlphas();
    void SolveGroup(uint32_t group);
    bool Over(uint32_t group, double level) const;
    // What every frame before `frame` cost, all of them coded; the biases of
    // the model over the nearest groups.
    double SettledBytes(uint32_t frame, uint32_t group, Biases* bias);
    void SettleIntra(uint32_t group);
    void Resettle(uint32_t group);
    // Follows the I frames asked for against the groups of the first pass.
    void NoteIFrame(uint32_t frame);
    uint16_t Assign(uint32_t frame);

    std::vector<Frame> frames_;
    std::vector<Group> groups_;
    RVXRatePlanSettings settings_;
    double alpha_[3] = {};  // I, P, B
    double budget_ = 0.0;
    double level_ = 0.0;
    uint32_t solved_groups_ = 0;
    Biases settled_actual_{};  // over the groups before settled_upto_, per class
    Biases settled_model_{};
    uint32_t settled_upto_ = 0;
    double carry_i_error_ = 0.0;
    bool missed_settled_ = false;
    uint32_t i_frames_matched_ = 0;  // groups whose I frame came where the first pass had it
    bool diverged_ = false;          // an I frame came elsewhere: no group settles
    mutable std::mutex mutex_;
};

}  // namespace _rvxlib_
