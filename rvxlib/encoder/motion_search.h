#pragma once
// The moving block: finds, for one 16x16 macroblock, the best matching area of
// a reference picture to half-pixel precision, and forms its prediction by
// motion compensation (dsp/motion_compensation.h) to subtract before coding
// and add back after reconstruction.
//
// Positions: (x, y) is a macroblock's top-left pixel; (hx, hy) a position in
// half pixels; a motion vector (dx, dy) is in half pixels relative to
// (2x, 2y). Costs are per-channel sums of squared differences in pixel byte
// order; a weighted cost is sum(weight * value) in unsigned 32 bits.

#include <cstdint>
#include <memory>
#include <vector>

#include "rvxlib/dsp/motion_compensation.h"
#include "rvxlib/dsp/motion_kernels.h"
#include "rvxlib/dsp/rvx_interface.h"
#include "support/aligned_alloc.h"

namespace _rvxlib_ {

constexpr int32_t kDefaultSearchRange = 30;
// The farthest full-pel offset whose half-pel vector, refined by one half
// pixel, still fits the vector's signed byte.
constexpr int32_t kMaxVectorRange = 63;

// Filled by the caller; SearchMotion writes dx, dy, activity and cost.
struct RVXSearchRecord {
    int32_t x = 0;
    int32_t y = 0;
    int16_t dx = 0;
    int16_t dy = 0;
    int32_t range = 0;  // 0 = the default range
    uint32_t activity[4] = {0, 0, 0, 0};
    uint32_t cost[4] = {0, 0, 0, 0};
    uint32_t weights[4] = {0, 0, 0, 0};
    // Set by the caller when the block and weights are those of the search
    // that filled activity (the second reference of a B frame): the block
    // is then not measured again.
    bool activity_known = false;
    // A vector (half pixels) the block probably moved by, from the frames
    // before: the search tries it beside the zero vector, and the window
    // widens to take it in.
    bool guessed = false;
    int16_t guess_dx = 0;
    int16_t guess_dy = 0;
};

// Full-pel positions already evaluated in the current search, stamped with a
// search generation so clearing is free.
class RVXVisitedSet {
public:
    void Start(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
    // Marks (x, y) and returns whether it had been marked before. (x, y)
    // must lie in the window given to Start.
    bool TestAndMark(int32_t x, int32_t y);

private:
    std::vector<uint32_t> stamps_;
    uint32_t generation_ = 0;
    int32_t x0_ = 0, y0_ = 0, columns_ = 0;
};

class IRVXMovingBlock : public IRVXInterface {
public:
    // The visited set exists only in an object made for encoding; without it
    // TestMatch and SearchMotion refuse to run.
    IRVXMovingBlock(uint32_t padded_width, uint32_t padded_height, bool for_encoding,
                    int32_t default_range = kDefaultSearchRange);

    virtual int32_t TestMatch(int32_t x, int32_t y, const uint32_t weights[4], uint32_t threshold) = 0;
    virtual int32_t SearchMotion(RVXSearchRecord& record) = 0;
    virtual int32_t SubtractPrediction(int32_t x, int32_t y, int32_t dx, int32_t dy) = 0;
    virtual int32_t AddPrediction(int32_t x, int32_t y, int32_t dx, int32_t dy) = 0;
    virtual void SetReference(const uint8_t* picture) = 0;
    virtual void SetCurrent(int16_t* block) = 0;
    virtual void MeasureActivity(uint32_t out[4]) = 0;
    virtual int32_t FullPelCost(uint32_t out[4], int32_t x, int32_t y) = 0;
    virtual int32_t HalfPelCost(uint32_t out[4], int32_t hx, int32_t hy) = 0;

    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }

protected:
    int16_t* current_ = nullptr;
    const uint8_t* reference_ = nullptr;
    std::unique_ptr<RVXVisitedSet> visited_;
    int32_t width_;
    int32_t height_;
    int32_t pitch_;
    int32_t default_range_;
};

class CRVXMovingBlockUnSigned : public IRVXMovingBlock {
public:
    CRVXMovingBlockUnSigned(uint32_t padded_width, uint32_t padded_height, bool for_encoding,
                            int32_t default_range = kDefaultSearchRange);

    int32_t Init(uint32_t features) override;
    int32_t TestMatch(int32_t x, int32_t y, const uint32_t weights[4], uint32_t threshold) override;
    int32_t SearchMotion(RVXSearchRecord& record) override;
    int32_t SubtractPrediction(int32_t x, int32_t y, int32_t dx, int32_t dy) override;
    int32_t AddPrediction(int32_t x, int32_t y, int32_t dx, int32_t dy) override;
    void SetReference(const uint8_t* picture) override {
        reference_ = picture;
        compensation_.SetReference(picture);
    }
    void SetCurrent(int16_t* block) override {
        current_ = block;
        compensation_.SetCurrent(block);
    }
    void MeasureActivity(uint32_t out[4]) override;
    int32_t FullPelCost(uint32_t out[4], int32_t x, int32_t y) override;
    int32_t HalfPelCost(uint32_t out[4], int32_t hx, int32_t hy) override;

    // The prediction last built by HalfPelCost or a prediction operation:
    // 16 rows of 64 bytes at kPredictionPitch.
    static constexpr int32_t kPredictionPitch = CRVXMotionCompensation::kPredictionPitch;
    const uint8_t* Prediction() const { return compensation_.Prediction(); }

private:
    struct Window {
        int32_t x0, y0, x1, y1;
        bool Contains(int32_t x, int32_t y) const { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
    };
    struct Position {
        int32_t x, y;
        uint32_t cost[4];
        uint32_t weighted;
    };

    // Looks at the block about to be searched to pick how its costs are
    // taken.
    void PrepareSearch(const uint32_t weights[4]);
    // MeasureActivity of the block PrepareSearch has just looked at.
    void MeasurePreparedActivity(uint32_t out[4]);
    // The cost of the area at ref within the search under way, or false
    // when its weighted cost is sure to reach `bound` (out is then
    // incomplete).
    bool SearchCost(const uint8_t* ref, ptrdiff_t pitch, const uint32_t weights[4], uint64_t bound,
                    uint32_t out[4]) const;
    // Search costs at a full-pel or half-pel position; 0 when the position
    // is refused, -1 when it cannot beat `bound`.
    int32_t FullPelSearchCost(uint32_t out[4], int32_t x, int32_t y, const uint32_t weights[4],
                              uint64_t bound);
    int32_t HalfPelSearchCost(uint32_t out[4], int32_t hx, int32_t hy, const uint32_t weights[4],
                              uint64_t bound);
    bool MakeWindow(int32_t x, int32_t y, int32_t range, Window& window) const;
    bool HalfPelAllowed(int32_t hx, int32_t hy) const { return compensation_.Allowed(hx, hy); }
    const uint8_t* BuildPrediction(int32_t hx, int32_t hy) { return compensation_.Build(hx, hy); }
    // Starts at (x, y), moves to the guess (gx, gy) when that matches
    // better, and walks from there.
    Position FullPelSearch(int32_t x, int32_t y, const Window& window, uint32_t activity,
                           uint64_t target, const uint32_t weights[4], const Position* guess = nullptr);
    // Fills candidate when (x, y) is new, allowed and its weighted cost
    // stays below bound.
    bool TryCandidate(int32_t x, int32_t y, const Window& window, const uint32_t weights[4],
                      uint64_t bound, Position& candidate);
    bool PatternSteps(const int32_t (*points)[2], int count, int max_steps, const Window& window,
                      const uint32_t weights[4], uint64_t target, Position& best);

    MotionKernels kernels_;
    // For the search under way: the block's differences fit 16 bits; and
    // its partial weighted costs can only grow, so a candidate whose top
    // rows already reach the best cost so far is dropped there.
    bool narrow_ = false;
    bool partial_ = false;
    bool bytes_ = false;  // every sample of the block is 0..255
    uint32_t prepared_activity_[4] = {0, 0, 0, 0};  // a byte block's, from PrepareSearch
    CRVXMotionCompensation compensation_;
    // A byte block as the kernels' bytes_bounded cost reads it, made once per
    // search.
    AlignedBuffer<int16_t> arranged_;
};

}  // namespace _rvxlib_
