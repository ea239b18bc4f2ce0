#include "rvxlib/ratecontrol/row_steering.h"

#include <algorithm>
#include <cmath>

namespace _rvxlib_ {
namespace {

// Rows above that carry less than this share of the bytes tell too little.
constexpr double kLeastShare = 0.1;
// How far the rows above may stray from the goal before the rows below
// move: frames are judged by the model one by one, and the frames after
// take up small errors at less cost to the picture than uneven rows.
constexpr double kDeadZone = 0.15;
// The rows below move by this power of the rest of the stray, within the
// bounds: partly, since the frames after make up the rest.
constexpr double kRowGain = 0.5;
constexpr double kLeastRowFactor = 0.75;
constexpr double kMostRowFactor = 1.33;

}  // namespace

double RowQuantiserFactor(const RVXRowHistory& before, uint32_t counted, double spent_bits, double goal_bytes) {
    const double share = counted ? before.cumulative[counted - 1] / before.cumulative.back() : 0.0;
    if (share < kLeastShare || !(spent_bits > 0)) return 1.0;
    const double spent = spent_bits * before.bytes / before.cumulative.back();
    const double stray = spent / (goal_bytes * share);
    const double rest = stray > 1 + kDeadZone       ? stray / (1 + kDeadZone)
                        : stray < 1 / (1 + kDeadZone) ? stray * (1 + kDeadZone)
                                                      : 1.0;
    return std::clamp(std::pow(rest, kRowGain), kLeastRowFactor, kMostRowFactor);
}

}  // namespace _rvxlib_
