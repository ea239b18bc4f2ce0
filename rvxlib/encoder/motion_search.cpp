#include "rvxlib/encoder/motion_search.h"

#include <algorithm>
#include <cstdlib>

namespace _rvxlib_ {
namespace {

constexpr int32_t kDiamond[4][2] = {{0, 1}, {0, -1}, {1, 0}, {-1, 0}};
constexpr int32_t kRing[16][2] = {{4, 2},   {4, 1},   {4, 0},  {4, -1}, {4, -2}, {2, -3},
                                  {0, -4},  {-2, -3}, {-4, -2}, {-4, -1}, {-4, 0}, {-4, 1},
                                  {-4, 2},  {-2, 3},  {0, 4},  {2, 3}};
// It has no (+-2, 0) points. Adding them would not break any decoder, but it
// would change which vectors the encoder picks and so the files it writes.
constexpr int32_t kSixPoint[6][2] = {{0, 2}, {1, -2}, {-1, -2}, {0, -2}, {-1, 2}, {1, 2}};
constexpr int32_t kHalfPel[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0},
                                    {1, 0},   {-1, 1}, {0, 1},  {1, 1}};
constexpr int32_t kRingScales = 5;

uint32_t Weighted(const uint32_t value[4], const uint32_t weights[4]) {
    return WeightedCost(value, weights);
}

uint32_t RoundUp16(uint32_t v) { return (v + 15u) & ~15u; }

}  // namespace

void RVXVisitedSet::Start(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    x0_ = x0;
    y0_ = y0;
    columns_ = x1 - x0 + 1;
    const std::size_t needed = std::size_t(columns_) * std::size_t(y1 - y0 + 1);
    if (stamps_.size() < needed) stamps_.resize(needed, 0);
    if (++generation_ == 0) {  // wrapped: old stamps could look current
        std::fill(stamps_.begin(), stamps_.end(), 0);
        generation_ = 1;
    }
}

bool RVXVisitedSet::TestAndMark(int32_t x, int32_t y) {
    uint32_t& stamp = stamps_[std::size_t(y - y0_) * std::size_t(columns_) + std::size_t(x - x0_)];
    const bool seen = stamp == generation_;
    stamp = generation_;
    return seen;
}

IRVXMovingBlock::IRVXMovingBlock(uint32_t padded_width, uint32_t padded_height, bool for_encoding,
                                 int32_t default_range)
    : width_(int32_t(RoundUp16(padded_width))),
      height_(int32_t(RoundUp16(padded_height))),
      pitch_(width_ * 4),
      default_range_(default_range) {
    if (for_encoding) visited_ = std::make_unique<RVXVisitedSet>();
}

CRVXMovingBlockUnSigned::CRVXMovingBlockUnSigned(uint32_t padded_width, uint32_t padded_height,
                                                 bool for_encoding, int32_t default_range)
    : IRVXMovingBlock(padded_width, padded_height, for_encoding, default_range),
      kernels_(motion_kernels_portable()),
      compensation_(padded_width, padded_height),
      arranged_(1024) {}

int32_t CRVXMovingBlockUnSigned::Init(uint32_t features) {
    kernels_ = motion_kernels_for(features);
    return compensation_.Init(features);
}

// The block stays the same for the whole search, so one look at its samples
// decides for every cost taken in it. With samples and reference bytes in
// 0..255 a channel's cost is at most 256 * 255^2, and when the weighted sum
// of those maxima stays below 2^32 no sum wraps: the cost of the top rows
// then bounds the whole from below, and a candidate dropped on it could never
// have been chosen. The costs of the candidates that are kept are the same
// bits either way.
void CRVXMovingBlockUnSigned::PrepareSearch(const uint32_t weights[4]) {
    const BlockSamples samples = PrepareBlock(kernels_, current_, arranged_.data(), prepared_activity_);
    narrow_ = samples != BlockSamples::kWide;
    bytes_ = samples == BlockSamples::kBytes;
    constexpr uint64_t kMaxChannelCost = 256 * 255 * 255;
    uint64_t largest = 0;
    for (int k = 0; k < 4; ++k) largest += uint64_t(weights[k]) * kMaxChannelCost;
    partial_ = bytes_ && largest <= UINT32_MAX;
}

bool CRVXMovingBlockUnSigned::SearchCost(const uint8_t* ref, ptrdiff_t pitch,
                                         const uint32_t weights[4], uint64_t bound,
                                         uint32_t out[4]) const {
    if (bytes_)
        return kernels_.ssd16x16_bytes_bounded(arranged_.data(), ref, pitch, weights,
                                               partial_ ? bound : UINT64_MAX, out);
    if (!narrow_) {
        kernels_.ssd16x16(current_, ref, pitch, out);
        return true;
    }
    if (!partial_ || bound == UINT64_MAX) {
        kernels_.ssd16xn_narrow(current_, ref, pitch, 16, out);
        return true;
    }
    return kernels_.ssd16x16_narrow_bounded(current_, ref, pitch, weights, bound, out);
}

int32_t CRVXMovingBlockUnSigned::FullPelSearchCost(uint32_t out[4], int32_t x, int32_t y,
                                                   const uint32_t weights[4], uint64_t bound) {
    if (x < 0 || y < 0 || x >= width_ - 16 || y >= height_ - 16) return 0;
    return SearchCost(reference_ + std::ptrdiff_t(y) * pitch_ + std::ptrdiff_t(x) * 4, pitch_,
                      weights, bound, out)
               ? 1
               : -1;
}

int32_t CRVXMovingBlockUnSigned::HalfPelSearchCost(uint32_t out[4], int32_t hx, int32_t hy,
                                                   const uint32_t weights[4], uint64_t bound) {
    if (!HalfPelAllowed(hx, hy)) return 0;
    if (bytes_) {
        const uint8_t* src =
            reference_ + std::ptrdiff_t(hy >> 1) * pitch_ + std::ptrdiff_t(hx >> 1) * 4;
        return kernels_.halfpel_bytes_bounded(arranged_.data(), src, pitch_, hx & 1, hy & 1, weights,
                                              partial_ ? bound : UINT64_MAX, out)
                   ? 1
                   : -1;
    }
    return SearchCost(BuildPrediction(hx, hy), kPredictionPitch, weights, bound, out) ? 1 : -1;
}

void CRVXMovingBlockUnSigned::MeasurePreparedActivity(uint32_t out[4]) {
    if (!current_ || !bytes_) {
        MeasureActivity(out);
        return;
    }
    std::copy(prepared_activity_, prepared_activity_ + 4, out);
}

void CRVXMovingBlockUnSigned::MeasureActivity(uint32_t out[4]) {
    if (!current_) {
        std::fill(out, out + 4, 0u);
        return;
    }
    kernels_.activity16x16(current_, out);
}

int32_t CRVXMovingBlockUnSigned::FullPelCost(uint32_t out[4], int32_t x, int32_t y) {
    if (!current_ || !reference_) return 0;
    if (x < 0 || y < 0 || x >= width_ - 16 || y >= height_ - 16) return 0;
    kernels_.ssd16x16(current_, reference_ + std::ptrdiff_t(y) * pitch_ + std::ptrdiff_t(x) * 4,
                      pitch_, out);
    return 1;
}

int32_t CRVXMovingBlockUnSigned::HalfPelCost(uint32_t out[4], int32_t hx, int32_t hy) {
    if (!current_ || !reference_ || !HalfPelAllowed(hx, hy)) return 0;
    kernels_.ssd16x16(current_, BuildPrediction(hx, hy), kPredictionPitch, out);
    return 1;
}

int32_t CRVXMovingBlockUnSigned::SubtractPrediction(int32_t x, int32_t y, int32_t dx, int32_t dy) {
    return compensation_.SubtractPrediction(x, y, dx, dy);
}

int32_t CRVXMovingBlockUnSigned::AddPrediction(int32_t x, int32_t y, int32_t dx, int32_t dy) {
    return compensation_.AddPrediction(x, y, dx, dy);
}

bool CRVXMovingBlockUnSigned::MakeWindow(int32_t x, int32_t y, int32_t range,
                                         Window& window) const {
    const int64_t r = range;
    window.x0 = int32_t(std::max<int64_t>(int64_t(x) - r, 0));
    window.y0 = int32_t(std::max<int64_t>(int64_t(y) - r, 0));
    window.x1 = int32_t(std::min<int64_t>(int64_t(x) + r, width_ - 16));
    window.y1 = int32_t(std::min<int64_t>(int64_t(y) + r, height_ - 16));
    return window.x0 <= window.x1 && window.y0 <= window.y1;
}

bool CRVXMovingBlockUnSigned::TryCandidate(int32_t x, int32_t y, const Window& window,
                                           const uint32_t weights[4], uint64_t bound,
                                           Position& candidate) {
    if (!window.Contains(x, y) || visited_->TestAndMark(x, y)) return false;
    // A refused or beaten position stays marked: it would be refused again,
    // or beaten by the better match that is only ever replaced by a better one.
    if (FullPelSearchCost(candidate.cost, x, y, weights, bound) != 1) return false;
    candidate.x = x;
    candidate.y = y;
    candidate.weighted = Weighted(candidate.cost, weights);
    return true;
}

// One pattern step moves B to the strictly best candidate around it (the
// first evaluated wins ties); steps repeat until nothing improves, the match
// is good enough or the step budget (max_steps < 0: none) is used up.
bool CRVXMovingBlockUnSigned::PatternSteps(const int32_t (*points)[2], int count, int max_steps,
                                           const Window& window, const uint32_t weights[4],
                                           uint64_t target, Position& best) {
    for (int step = 0; max_steps < 0 || step < max_steps; ++step) {
        if (best.weighted < target) return true;
        Position remembered = best;
        bool moved = false;
        for (int i = 0; i < count; ++i) {
            Position candidate;
            if (!TryCandidate(best.x + points[i][0], best.y + points[i][1], window, weights,
                              remembered.weighted, candidate))
                continue;
            if (candidate.weighted < remembered.weighted) {
                remembered = candidate;
                moved = true;
            }
        }
        if (!moved) break;
        best = remembered;
    }
    return best.weighted < target;
}

CRVXMovingBlockUnSigned::Position CRVXMovingBlockUnSigned::FullPelSearch(
    int32_t x, int32_t y, const Window& window, uint32_t activity, uint64_t target,
    const uint32_t weights[4], const Position* guess) {
    visited_->Start(window.x0, window.y0, window.x1, window.y1);
    Position best{x, y, {0, 0, 0, 0}, 0};
    visited_->TestAndMark(x, y);
    // The last macroblock column and row are refused: the start then counts
    // as a perfect match and nothing can beat it.
    if (FullPelSearchCost(best.cost, x, y, weights, UINT64_MAX) == 1) {
        best.weighted = Weighted(best.cost, weights);
        Position candidate;
        if (guess && best.weighted >= target &&
            TryCandidate(guess->x, guess->y, window, weights, best.weighted, candidate) &&
            candidate.weighted < best.weighted)
            best = candidate;
    }

    if (PatternSteps(kDiamond, 4, 4, window, weights, target, best)) return best;

    if (best.weighted > std::max<uint32_t>(activity >> 2, 384)) {
        const int32_t cx = best.x, cy = best.y;
        for (int32_t s = 1; s <= kRingScales; ++s) {
            for (const auto& point : kRing) {
                Position candidate;
                if (TryCandidate(cx + s * point[0], cy + s * point[1], window, weights,
                                 best.weighted, candidate) &&
                    candidate.weighted < best.weighted)
                    best = candidate;
            }
            if (best.weighted < target) return best;
        }
    }

    if (best.weighted > std::max<uint32_t>(activity >> 3, 256)) {
        if (PatternSteps(kSixPoint, 6, -1, window, weights, target, best)) return best;
    }

    PatternSteps(kDiamond, 4, -1, window, weights, target, best);
    return best;
}

int32_t CRVXMovingBlockUnSigned::SearchMotion(RVXSearchRecord& record) {
    if (!reference_ || !current_ || !visited_) return 0;
    if (!record.activity_known) {
        PrepareSearch(record.weights);
        MeasurePreparedActivity(record.activity);
    }
    const uint32_t activity = Weighted(record.activity, record.weights);
    int32_t range = record.range ? record.range : default_range_;
    Position guess{record.x + record.guess_dx / 2, record.y + record.guess_dy / 2, {0, 0, 0, 0}, 0};
    if (record.guessed) {
        // Room to walk on past the guess, as far as a vector reaches.
        constexpr int32_t kBeyondGuess = 8;
        const int32_t reach = std::max(std::abs(record.guess_dx), std::abs(record.guess_dy)) / 2 + kBeyondGuess;
        range = std::min(std::max(range, reach), kMaxVectorRange);
    }
    Window window;
    if (!MakeWindow(record.x, record.y, range, window)) return 0;
    // The centre must lie in the window for the visited set; a macroblock
    // position outside the picture has no window.
    if (!window.Contains(record.x, record.y)) return 0;

    Position best = FullPelSearch(record.x, record.y, window, activity, 1, record.weights,
                                  record.guessed ? &guess : nullptr);

    int32_t best_hx = 2 * best.x, best_hy = 2 * best.y;
    uint32_t best_cost[4] = {best.cost[0], best.cost[1], best.cost[2], best.cost[3]};
    uint32_t best_weighted = best.weighted;
    for (const auto& n : kHalfPel) {
        if (!window.Contains(best.x + n[0], best.y + n[1])) continue;
        uint32_t cost[4];
        if (HalfPelSearchCost(cost, 2 * best.x + n[0], 2 * best.y + n[1], record.weights,
                              best_weighted) != 1)
            continue;
        const uint32_t weighted = Weighted(cost, record.weights);
        if (weighted < best_weighted) {
            best_weighted = weighted;
            best_hx = 2 * best.x + n[0];
            best_hy = 2 * best.y + n[1];
            std::copy(cost, cost + 4, best_cost);
        }
    }
    record.dx = int16_t(best_hx - 2 * record.x);
    record.dy = int16_t(best_hy - 2 * record.y);
    std::copy(best_cost, best_cost + 4, record.cost);
    return 1;
}

int32_t CRVXMovingBlockUnSigned::TestMatch(int32_t x, int32_t y, const uint32_t weights[4],
                                           uint32_t threshold) {
    if (!reference_ || !current_ || !visited_) return 0;
    PrepareSearch(weights);
    uint32_t values[4];
    MeasurePreparedActivity(values);
    const uint32_t activity = Weighted(values, weights);
    Window window;
    if (!MakeWindow(x, y, default_range_, window) || !window.Contains(x, y)) return 0;
    const uint64_t target = std::max<uint64_t>((uint64_t(activity) * 3) >> 2, uint64_t(threshold) * 256);
    const Position best = FullPelSearch(x, y, window, activity, target, weights);
    return best.weighted < target ? 1 : 0;
}

}  // namespace _rvxlib_
