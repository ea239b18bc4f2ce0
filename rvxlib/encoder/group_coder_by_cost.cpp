// The decisions of the medium and slow presets. Each macroblock is tried in
// the ways worth trying (no prediction, the references' searched vectors,
// the zero vector, neighbouring macroblocks' vectors, quantisers either side
// of the frame's); a row then takes the ways whose distortion plus lambda
// times bits is smallest together, since each macroblock's DCs are
// predicted from the one before; the levels of the blocks coded are chosen
// by cost as well (rate_distortion.h).

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "pqxlib/huffman.h"
#include "pqxlib/zigzag.h"
#include "rvxlib/encoder/group_coder.h"
#include "rvxlib/encoder/stage_timer.h"

namespace _rvxlib_ {
namespace {

constexpr float kRefused = std::numeric_limits<float>::max();
// No prediction, and per reference the searched, zero, left and upper vectors.
constexpr uint32_t kMostCandidates = 1 + 2 * 4;
// Below this many times the match's error, a block's own detail may code
// cheaper without prediction.
constexpr uint64_t kIntraWorthTrying = 4;

}  // namespace

void CRVXGroupCoder::PrepareCostRule(Crew& crew, FrameSetup& setup, bool intra, RVXFrameKind kind) const {
    const uint8_t* matrix = intra ? settings_.intra_matrix : settings_.inter_matrix;
    for (uint32_t i = 0; i < kValuesPerBlock; ++i) setup.rule.steps[i] = matrix[_pqxlib_::kZigZag[i]];
    setup.kind = FrameKindIndex(kind);
    setup.costs = &crew.costs[setup.kind];
    setup.lambda = setup.diff2d ? 1.0f : LambdaForQuantiser(setup.steered, matrix);
    setup.rule.lambda = setup.lambda;
    setup.rule.costs = setup.costs;
    setup.rule.choose = ChooseLevels;
    setup.rule.trellis_reach = settings_.tuning.trellis_reach;
    setup.spread = setup.diff2d ? 0 : settings_.tuning.quantiser_spread;
    // Search costs are squared errors over 256.
    setup.vector_price = SearchCostOfBits(setup.lambda, kPredictedFieldsBits);
}

void CRVXGroupCoder::PlanQuantisers(Crew& crew, const FrameSetup& setup) {
    // Luma (or the third channel) variance of every macroblock; a block
    // busier than the frame's geometric mean hides a coarser step, a calm
    // one shows every step, so the quantiser follows the sixth root of the
    // ratio, within half and twice the frame's.
    IRVXPixelBlock& pixel = *crew.lanes[0].pixel;
    const std::size_t count = std::size_t(setup.columns) * setup.rows;
    std::vector<float>& logs = crew.detail;
    logs.resize(count);
    double sum = 0;
    for (std::size_t index = 0; index < count; ++index) {
        pixel.LoadMacroblock(uint32_t(index % setup.columns), uint32_t(index / setup.columns));
        const int16_t* samples = pixel.Buffer();
        int64_t total = 0, squares = 0;
        for (int k = 0; k < 256; ++k) {
            const int32_t v = samples[4 * k + 2];
            total += v;
            squares += v * v;
        }
        const double variance = (double(squares) - double(total) * double(total) / 256.0) / 256.0;
        logs[index] = float(std::log2(variance + 1.0));
        sum += logs[index];
    }
    const float mean = float(sum / double(count));
    const float q = float(setup.quality);
    for (std::size_t index = 0; index < count; ++index) {
        const float scaled = q * std::exp2((logs[index] - mean) / 6.0f);
        const float bounded = std::clamp(scaled, std::max(q / 2, float(kMinQuality)), std::min(q * 2, float(kMaxQuality)));
        crew.quantisers[index] = uint8_t(std::lround(bounded));
    }
}

void CRVXGroupCoder::LearnCosts(Crew& crew, const FrameSetup& setup) const {
    crew.costs[setup.kind].LearnFrom(setup.coefficients,
                                     std::size_t(setup.columns) * setup.rows * codecs_.block->BlocksPerMacroblock());
}

// Codes the macroblock at (column, row) afresh with one prediction and
// quantiser, and returns what that costs apart from the DCs continuing the
// row's chains (see ChainCost), or kRefused when the prediction
// cannot be formed there or would overflow a lossless block.
float CRVXGroupCoder::TryMacroblock(Lane& lane, const FrameSetup& setup, uint32_t column, uint32_t row,
                                    const RVXMotionEntry& entry, uint16_t quantiser, const uint8_t* earlier,
                                    const uint8_t* later) {
    IRVXConvBlock& block = *lane.block;
    block.SetQuantiser(quantiser);
    lane.pixel->LoadMacroblock(column, row);
    if (entry.use) {
        StageTimer timer(measure_, lane.times.motion);
        lane.moving->SetReference(entry.direction || !later ? earlier : later);
        if (!lane.moving->SubtractPrediction(int32_t(16 * column), int32_t(16 * row), entry.dx, entry.dy))
            return kRefused;
    }
    StageTimer timer(measure_, lane.times.transform);
    block.CodeMacroblock();
    if (setup.diff2d && entry.use && DiffOverflow(block)) return kRefused;
    float bits = float(MacroblockHeaderBits(earlier != nullptr, entry.use != 0));
    // The DCs that continue a row's chain were coded from a predictor of
    // 0 and are priced by the row (ChainCost); the others are known only
    // now, after their prediction inside the macroblock.
    const int16_t* blocks = block.CurrentBlocks();
    auto dc_bits = [&](uint32_t b) {
        const int16_t dc = blocks[b * kValuesPerBlock];
        const int32_t magnitude = std::min(std::abs(int32_t(dc)), _pqxlib_::kMaxCoefficientMagnitude);
        return dc == 0 ? 0.0f : setup.costs->ValueBits(0, uint32_t(magnitude));
    };
    if (setup.diff2d) {
        for (uint32_t b = 0; b < block.BlocksPerMacroblock(); ++b) {
            bits += setup.costs->BlockBits(blocks + b * kValuesPerBlock);
            if (block.ChainChannel(b) >= 0) bits -= dc_bits(b);
        }
    } else {
        // The rule priced the AC values.
        bits += block.AcBits();
        for (uint32_t b = 0; b < block.BlocksPerMacroblock(); ++b)
            if (block.ChainChannel(b) < 0) bits += dc_bits(b);
    }
    return block.Distortion() + setup.lambda * bits;
}

// The ways worth trying for macroblock `index`: medium the better
// reference's searched vector and no prediction where that may pay; slow no
// prediction and from each reference its searched and zero vectors and
// those searched for the macroblocks left of and above it. Returns the
// count.
uint32_t CRVXGroupCoder::Candidates(const Crew& crew, const FrameSetup& setup, std::size_t index, bool inter,
                                    bool bidirectional, RVXMotionEntry* out) const {
    uint32_t count = 0;
    const Searched& own = crew.searched[index];
    if (settings_.tuning.candidates == RVXCandidateSet::kBetterMatch) {
        // The vectors of this format all cost the same bits, so the match
        // with the smaller error is the one to try; no prediction is worth
        // a trial only when the match is poor against the block's detail.
        int ref = -1;
        for (int r = 0; inter && r < (bidirectional ? 2 : 1); ++r)
            if (own.found[r] && (ref < 0 || own.cost[r] < own.cost[ref])) ref = r;
        if (ref < 0 || own.activity <= kIntraWorthTrying * own.cost[ref] + setup.vector_price)
            out[count++] = RVXMotionEntry();
        if (ref >= 0) out[count++] = {1, uint8_t(ref == 0 ? 1 : 0), own.dx[ref], own.dy[ref]};
        return count;
    }
    out[count++] = RVXMotionEntry();
    const uint32_t column = uint32_t(index % setup.columns);
    for (uint32_t ref = 0; inter && ref < (bidirectional ? 2u : 1u); ++ref) {
        const uint8_t direction = ref == 0 ? 1 : 0;
        auto add = [&](const Searched& searched) {
            if (!searched.found[ref]) return;
            for (uint32_t k = 1; k < count; ++k)
                if (out[k].direction == direction && out[k].dx == searched.dx[ref] && out[k].dy == searched.dy[ref])
                    return;
            out[count++] = {1, direction, searched.dx[ref], searched.dy[ref]};
        };
        add(own);
        Searched zero;
        zero.found[0] = zero.found[1] = true;
        add(zero);
        if (settings_.tuning.candidates == RVXCandidateSet::kNeighbours) {
            if (column > 0) add(crew.searched[index - 1]);
            if (index >= setup.columns) add(crew.searched[index - setup.columns]);
        }
    }
    return count;
}

// What the row's DC chains add to a trial after the trial `before` (null at
// the start of the row, where the predictors are 0). The predictors are
// rescaled to the trial's quantiser the way the decoder rescales them.
float CRVXGroupCoder::ChainCost(const FrameSetup& setup, const Trial& trial, const Trial* before,
                                uint32_t chains) const {
    if (trial.untried) return 0;
    float bits = 0;
    for (uint32_t c = 0; c < 4; ++c) {
        if (!(chains & (1u << c))) continue;
        int32_t predictor = 0;
        if (before)
            predictor = before->quantiser == trial.quantiser
                            ? before->chain_dc[c]
                            : int32_t(before->quantiser) * before->chain_dc[c] / int32_t(trial.quantiser);
        const int32_t difference = std::abs(trial.chain_dc[c] - predictor);
        if (difference != 0)
            bits += setup.costs->ValueBits(0, uint32_t(std::min(difference, _pqxlib_::kMaxCoefficientMagnitude)));
    }
    return setup.lambda * bits;
}

// One row of any frame; earlier and later are null for an I frame, later
// for a P frame. Every way worth trying is coded once with rounded levels;
// the choices along the row are then made together, since each
// macroblock's DCs are predicted from the previous one's (a block without
// prediction after predicted ones pays for its whole DC, and the other way
// round); finally the row is coded as chosen, with the trellis.
void CRVXGroupCoder::CodeRowByCost(Crew& crew, Lane& lane, const FrameSetup& setup, uint32_t i,
                                   const uint8_t* earlier, const uint8_t* later) {
    IRVXConvBlock& block = *lane.block;
    block.SetOutput(setup.coefficients + std::size_t(i) * setup.row_blocks * kValuesPerBlock, setup.row_blocks);
    block.ResetPredictors();
    const IRVXConvBlock::State row_start = block.SaveState();

    block.SuspendTrellis(true);
    const uint32_t chains = TryRow(crew, lane, setup, i, earlier, later, row_start);
    block.SuspendTrellis(false);

    const std::vector<Trial>& trials = lane.trials;
    lane.trial_costs.resize(trials.size());
    for (std::size_t k = 0; k < trials.size(); ++k) lane.trial_costs[k] = trials[k].cost;
    ChooseRowPath(
        lane.first_trial, lane.trial_costs,
        [&](uint32_t k, uint32_t before) {
            return ChainCost(setup, trials[k], before == kRowStart ? nullptr : &trials[before], chains);
        },
        lane.path, lane.chosen);

    CodeRowAsChosen(crew, lane, setup, i, earlier, later, row_start);
}

// Codes one way of coding macroblock (column, row) from the row's start and
// keeps it as a trial unless it is refused; chains gathers the DC chains
// the trials continue.
void CRVXGroupCoder::AddTrial(Lane& lane, const FrameSetup& setup, uint32_t column, uint32_t row,
                              const RVXMotionEntry& entry, uint16_t quantiser, const uint8_t* earlier,
                              const uint8_t* later, const IRVXConvBlock::State& row_start, uint32_t& chains) {
    IRVXConvBlock& block = *lane.block;
    block.RestoreState(row_start);
    const float cost = TryMacroblock(lane, setup, column, row, entry, quantiser, earlier, later);
    if (cost == kRefused) return;
    Trial trial;
    trial.entry = entry;
    trial.quantiser = quantiser;
    const int16_t* blocks = block.CurrentBlocks();
    for (uint32_t b = 0; b < block.BlocksPerMacroblock(); ++b) {
        const int8_t channel = block.ChainChannel(b);
        if (channel < 0) continue;
        trial.chain_dc[channel] = blocks[b * kValuesPerBlock];
        chains |= 1u << channel;
    }
    trial.cost = cost;
    lane.trials.push_back(trial);
}

// Fills lane.trials with the ways worth trying for each macroblock of the
// row, column j's from lane.first_trial[j]: the candidates at the start
// quantiser, then the cheapest of them at the quantisers of the spread.
// Returns the DC chains the trials continue.
uint32_t CRVXGroupCoder::TryRow(Crew& crew, Lane& lane, const FrameSetup& setup, uint32_t i,
                                const uint8_t* earlier, const uint8_t* later,
                                const IRVXConvBlock::State& row_start) {
    const uint32_t columns = setup.columns;
    std::vector<Trial>& trials = lane.trials;
    std::vector<uint32_t>& first = lane.first_trial;
    trials.clear();
    first.assign(columns + 1, 0);
    uint32_t chains = 0;
    for (uint32_t j = 0; j < columns; ++j) {
        first[j] = uint32_t(trials.size());
        RVXMotionEntry candidates[kMostCandidates];
        const uint32_t count =
            Candidates(crew, setup, std::size_t(i) * columns + j, earlier != nullptr, later != nullptr, candidates);
        const uint16_t start = StartQuantiser(crew, setup, std::size_t(i) * columns + j);
        if (count == 1 && setup.spread == 0) {
            Trial only;
            only.entry = candidates[0];
            only.quantiser = start;
            only.untried = true;
            trials.push_back(only);
            continue;
        }
        for (uint32_t k = 0; k < count; ++k)
            AddTrial(lane, setup, j, i, candidates[k], start, earlier, later, row_start, chains);
        // Nothing could be coded (a lossless block beyond the coder's range):
        // the frame fails at its payload, as with the fixed rule.
        if (trials.size() == first[j]) {
            Trial none;
            none.quantiser = start;
            trials.push_back(none);
            continue;
        }
        if (setup.spread == 0) continue;
        const Trial* cheapest = &trials[first[j]];
        for (uint32_t k = first[j]; k < trials.size(); ++k)
            if (trials[k].cost < cheapest->cost) cheapest = &trials[k];
        const RVXMotionEntry entry = cheapest->entry;
        for (int step = -int(setup.spread); step <= int(setup.spread); ++step) {
            const uint16_t q = ClampQuality(uint16_t(int(start) + step));
            if (q != start) AddTrial(lane, setup, j, i, entry, q, earlier, later, row_start, chains);
        }
    }
    first[columns] = uint32_t(trials.size());
    return chains;
}

// Codes the row the way lane.chosen says, reconstructing each macroblock so
// the next ones predict from what the decoder will see.
void CRVXGroupCoder::CodeRowAsChosen(Crew& crew, Lane& lane, const FrameSetup& setup, uint32_t i,
                                     const uint8_t* earlier, const uint8_t* later,
                                     const IRVXConvBlock::State& row_start) {
    IRVXConvBlock& block = *lane.block;
    const uint32_t columns = setup.columns;
    block.RestoreState(row_start);
    for (uint32_t j = 0; j < columns; ++j) {
        Trial& trial = lane.trials[lane.chosen[j]];
        if (TryMacroblock(lane, setup, j, i, trial.entry, trial.quantiser, earlier, later) == kRefused) {
            // An untried prediction that cannot be formed here.
            trial.entry = RVXMotionEntry();
            TryMacroblock(lane, setup, j, i, trial.entry, trial.quantiser, earlier, later);
        }
        {
            StageTimer timer(measure_, lane.times.transform);
            block.ReconstructMacroblock();
        }
        if (trial.entry.use) {
            StageTimer timer(measure_, lane.times.motion);
            lane.moving->AddPrediction(int32_t(16 * j), int32_t(16 * i), trial.entry.dx, trial.entry.dy);
        }
        lane.pixel->StoreMacroblock(j, i);
        const std::size_t index = std::size_t(i) * columns + j;
        if (earlier) crew.motion[index] = trial.entry;
        crew.quantisers[index] = uint8_t(trial.quantiser);
    }
}

}  // namespace _rvxlib_
