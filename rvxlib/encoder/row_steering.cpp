// Steering the macroblock rows of a P or B frame onto the bytes a rate plan
// counts on for it. The plan sets each frame's quality from what the frames
// before it cost; inside the frame, a row's quality follows what the rows
// above it cost against the goal, so that a frame the plan misjudged is
// caught while it is coded rather than only by the frames after it.
//
// Rows are shared among threads, so a row steers only by rows kRowLag or
// more above it, and waits until they are coded: the file is the same
// whichever thread codes which row. What the rows above cost is estimated
// from their levels with the crew's symbol costs; how the frame's bytes
// fall over its rows, and what an estimated bit is worth in payload bytes,
// come from the frame of the same kind coded before in the group.

#include <algorithm>
#include <cmath>

#include "rvxlib/encoder/group_coder.h"
#include "rvxlib/format/frame_bitstream.h"

namespace _rvxlib_ {
namespace {

constexpr uint32_t kRowLag = 2;
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

void CRVXGroupCoder::BeginRowSteering(Crew& crew, uint32_t n, uint32_t kind, FrameSetup& setup) const {
    setup.goal = 0;
    setup.steer_rows = false;
    if (!settings_.frame_goal || kind == kFrameKindI || setup.diff2d) return;
    setup.goal = settings_.frame_goal(n);
    if (!(setup.goal > 0)) {
        setup.goal = 0;
        return;
    }
    setup.kind = CostIndex(kind);
    const Crew::RowHistory& before = crew.rows_before[setup.kind];
    setup.steer_rows = before.cumulative.size() == setup.rows && before.cumulative.back() > 0 && before.bytes > 0;
    if (!setup.steer_rows) return;
    if (!crew.progress) crew.progress = std::make_unique<RowProgress>();
    RowProgress& progress = *crew.progress;
    progress.bits.assign(setup.rows, 0.0);
    progress.done.assign(setup.rows, 0);
    progress.done_from_top = 0;
    progress.abandoned = false;
}

const CRVXGroupCoder::FrameSetup& CRVXGroupCoder::SteerRow(Crew& crew, Lane& lane, const FrameSetup& setup,
                                                             uint32_t row) const {
    if (!setup.steer_rows) return setup;
    lane.row = setup;
    FrameSetup& steered = lane.row;
    if (setup.levels_by_cost) lane.block->SetLevelRule(&steered.rule);
    const uint32_t counted = row >= kRowLag ? row - kRowLag + 1 : 0;
    double spent_bits = 0;
    {
        RowProgress& progress = *crew.progress;
        std::unique_lock<std::mutex> lock(progress.mutex);
        progress.changed.wait(lock, [&] { return progress.done_from_top >= counted || progress.abandoned; });
        for (uint32_t r = 0; r < counted; ++r) spent_bits += progress.bits[r];
    }
    double factor = 1.0;
    const Crew::RowHistory& before = crew.rows_before[setup.kind];
    const double share = counted ? before.cumulative[counted - 1] / before.cumulative.back() : 0.0;
    if (share >= kLeastShare && spent_bits > 0) {
        const double spent = spent_bits * before.bytes / before.cumulative.back();
        const double stray = spent / (setup.goal * share);
        const double rest = stray > 1 + kDeadZone ? stray / (1 + kDeadZone)
                            : stray < 1 / (1 + kDeadZone) ? stray * (1 + kDeadZone) : 1.0;
        factor = std::clamp(std::pow(rest, kRowGain), kLeastRowFactor, kMostRowFactor);
    }
    if (factor != 1.0) {
        const uint16_t top = setup.levels_by_cost && steerable_ ? kMaxSteeredQuality : kMaxQuality;
        steered.steered = uint16_t(std::clamp<long>(std::lround(setup.steered * factor), kMinQuality, top));
        steered.quality = ClampQuality(steered.steered);
        if (setup.levels_by_cost) {
            steered.lambda = LambdaForQuantiser(steered.steered, settings_.inter_matrix);
            steered.rule.lambda = steered.lambda;
        }
    }
    // Every macroblock's quantiser goes into the payload: the row's, or the
    // detail's moved as far as the row's.
    for (uint32_t j = 0; j < setup.columns; ++j) {
        uint8_t& q = crew.quantisers[std::size_t(row) * setup.columns + j];
        q = setup.adaptive ? uint8_t(std::clamp<long>(std::lround(q * double(steered.quality) / setup.quality),
                                                       kMinQuality, kMaxQuality))
                           : uint8_t(steered.quality);
    }
    return steered;
}

double CRVXGroupCoder::RowBits(const Crew& crew, const FrameSetup& setup, uint32_t row) const {
    const RVXSymbolCosts& costs = crew.costs[setup.kind];
    const uint32_t blocks_per_macroblock = codecs_.block->BlocksPerMacroblock();
    const int16_t* blocks = setup.coefficients + std::size_t(row) * setup.row_blocks * kValuesPerBlock;
    double bits = 0;
    for (uint32_t j = 0; j < setup.columns; ++j) {
        const bool predicted = crew.motion[std::size_t(row) * setup.columns + j].use != 0;
        // Counted as in an inter frame in I frames too: a use flag more per
        // macroblock than the writer writes there.
        bits += MacroblockHeaderBits(true, predicted);
        for (uint32_t b = 0; b < blocks_per_macroblock; ++b, blocks += kValuesPerBlock)
            bits += costs.BlockBits(blocks);
    }
    return bits;
}

void CRVXGroupCoder::RowCoded(Crew& crew, const FrameSetup& setup, uint32_t row) const {
    if (!setup.steer_rows) return;
    const double bits = RowBits(crew, setup, row);
    RowProgress& progress = *crew.progress;
    std::lock_guard<std::mutex> lock(progress.mutex);
    progress.bits[row] = bits;
    progress.done[row] = 1;
    while (progress.done_from_top < setup.rows && progress.done[progress.done_from_top]) ++progress.done_from_top;
    progress.changed.notify_all();
}

void CRVXGroupCoder::AbandonRows(Crew& crew) const {
    if (!crew.progress) return;
    std::lock_guard<std::mutex> lock(crew.progress->mutex);
    crew.progress->abandoned = true;
    crew.progress->changed.notify_all();
}

void CRVXGroupCoder::KeepRowHistory(Crew& crew, const FrameSetup& setup) const {
    if (!setup.goal) return;
    // Estimated with the costs the frame's own symbols now set, as the next
    // frame's rows will be.
    Crew::RowHistory& history = crew.rows_before[setup.kind];
    history.cumulative.resize(setup.rows);
    double sum = 0;
    for (uint32_t r = 0; r < setup.rows; ++r) history.cumulative[r] = sum += RowBits(crew, setup, r);
    history.bytes = double(crew.payload.size());
}

}  // namespace _rvxlib_
