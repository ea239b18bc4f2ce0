#pragma once
// Steering the macroblock rows of a P or B frame onto the bytes a rate plan
// counts on for it. The plan sets each frame's quantiser from what the frames
// before it cost; inside the frame, a row's quantiser follows what the rows
// above it cost against the goal, so that a frame the plan misjudged is
// caught while it is coded rather than only by the frames after it.
//
// Rows are shared among threads, so a row steers only by rows kSteeringRowLag
// or more above it, and the coder has it wait until they are coded: the file
// is the same whichever thread codes which row. How the frame's bytes fall
// over its rows, and what an estimated bit is worth in payload bytes, come
// from the frame of the same kind coded before in the group.

#include <cstdint>
#include <vector>

namespace _rvxlib_ {

inline constexpr uint32_t kSteeringRowLag = 2;

// The frame of a kind coded before: its rows' estimated bits added up from
// the top, and its payload bytes.
struct RVXRowHistory {
    std::vector<double> cumulative;
    double bytes = 0;

    // Whether it can tell how a frame of `rows` rows spends its bytes.
    bool Tells(uint32_t rows) const { return cumulative.size() == rows && cumulative.back() > 0 && bytes > 0; }
};

// The rows above `row` that steer it.
inline uint32_t SteeringRows(uint32_t row) { return row >= kSteeringRowLag ? row - kSteeringRowLag + 1 : 0; }

// The factor on the frame's quantiser for a row, once the `counted` rows
// above it are estimated at `spent_bits`; 1 where they tell too little or
// stay near the goal.
double RowQuantiserFactor(const RVXRowHistory& before, uint32_t counted, double spent_bits, double goal_bytes);

}  // namespace _rvxlib_
