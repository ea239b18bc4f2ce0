// The coder's side of steering rows (ratecontrol/row_steering.h): rows wait
// for the rows they steer by, and each coded row's bits are estimated from
// its levels with the crew's symbol costs.

#include <algorithm>
#include <cmath>

#include "rvxlib/encoder/group_coder.h"
#include "rvxlib/format/frame_bitstream.h"
#include "rvxlib/ratecontrol/row_steering.h"

namespace _rvxlib_ {

void CRVXGroupCoder::BeginRowSteering(Crew& crew, RVXFrameKind kind, double goal, FrameSetup& setup) const {
    setup.goal = 0;
    setup.steer_rows = false;
    if (kind == kFrameKindI || setup.diff2d || !(goal > 0)) return;
    setup.goal = goal;
    setup.kind = FrameKindIndex(kind);
    setup.steer_rows = crew.rows_before[setup.kind].Tells(setup.rows);
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
    const uint32_t counted = SteeringRows(row);
    double spent_bits = 0;
    {
        RowProgress& progress = *crew.progress;
        std::unique_lock<std::mutex> lock(progress.mutex);
        progress.changed.wait(lock, [&] { return progress.done_from_top >= counted || progress.abandoned; });
        for (uint32_t r = 0; r < counted; ++r) spent_bits += progress.bits[r];
    }
    const double factor = RowQuantiserFactor(crew.rows_before[setup.kind], counted, spent_bits, setup.goal);
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
    RVXRowHistory& history = crew.rows_before[setup.kind];
    history.cumulative.resize(setup.rows);
    double sum = 0;
    for (uint32_t r = 0; r < setup.rows; ++r) history.cumulative[r] = sum += RowBits(crew, setup, r);
    history.bytes = double(crew.payload.size());
}

}  // namespace _rvxlib_
