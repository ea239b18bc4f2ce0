#include "rvxlib/encoder/group_coder.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "pqxlib/conv_interface.h"
#include "rvxlib/dsp/block_convert.h"
#include "rvxlib/dsp/color_space.h"
#include "rvxlib/dsp/deblock.h"
#include "rvxlib/dsp/pixel_block.h"
#include "rvxlib/encoder/motion_search.h"
#include "rvxlib/encoder/row_workers.h"
#include "rvxlib/encoder/stage_timer.h"
#include "rvxlib/format/format_word.h"

namespace _rvxlib_ {
namespace {

// Beyond this a Diff2D residual risks the coder's +-2047 after prediction;
// the macroblock is then coded without prediction.
constexpr int kDiffPredictionLimit = 1020;
constexpr uint32_t kPixelsPerFrameOfRange = 15;
constexpr uint32_t kMaxSearchRange = 60;
// The coarsest quality at which a source goes half the way towards undoing
// the deblocking filter rather than a quarter.
constexpr uint16_t kFineUndoQuality = 8;

// Channel-weighted sum with each product shifted on its own, so that a large
// weight on one channel cannot hide a mismatch in the others.
uint64_t WeightedShifted(const uint32_t value[4], const uint32_t weights[4]) {
    uint64_t sum = 0;
    for (int k = 0; k < 4; ++k) sum += (uint64_t(value[k]) * weights[k]) >> 8;
    return sum;
}

// The searched vector of `before`, coded `distance_before` frames from its
// reference, scaled to `distance` (negative: a later reference).
void GuessMotion(bool known, int8_t dx, int8_t dy, int32_t distance, int32_t distance_before,
                 RVXSearchRecord& record) {
    record.guessed = known;
    if (!known) return;
    auto scale = [&](int32_t v) {
        const int32_t scaled = int32_t(std::lround(double(v) * distance / distance_before));
        return int16_t(std::clamp(scaled, -2 * kMaxVectorRange, 2 * kMaxVectorRange));
    };
    record.guess_dx = scale(dx);
    record.guess_dy = scale(dy);
}

int32_t SearchRange(uint32_t a, uint32_t b) {
    const uint64_t distance = a > b ? uint64_t(a) - b : uint64_t(b) - a;
    return int32_t(std::min<uint64_t>(distance * kPixelsPerFrameOfRange, kMaxSearchRange));
}

// Values a direct caller could get wrong: a quantiser no header can carry,
// references too far apart for a record's fields, an empty group.
bool UsableSettings(const RVXGroupSettings& s) {
    return QualityInRange(s.quality_i) && QualityInRange(s.quality_p) && QualityInRange(s.quality_b) &&
           s.scene_change <= kMaxSceneChange && s.b_count <= kMaxBFrames && s.gop_length >= 1 &&
           s.gop_length <= GopLength(kMaxPFrames, kMaxBFrames);
}

}  // namespace


void UseDesignWeights(RVXGroupSettings* settings) {
    const uint32_t alpha = FormatHasAlpha(settings->format) ? 1 : 0;
    settings->weights[0] = settings->weights[1] = settings->weights[2] = 1;
    settings->weights[3] = alpha;
    settings->threshold = (3 + alpha) * 64;
}

CRVXGroupCoder::CRVXGroupCoder() = default;

CRVXGroupCoder::~CRVXGroupCoder() {
    // The group threads use the lanes and the store: they end first.
    for (auto& job : jobs_)
        if (job->thread.joinable()) job->thread.join();
}

bool CRVXGroupCoder::Open(const RVXCodecSet& codecs, const RVXGroupSettings& settings,
                          uint32_t features, IRVXFrameSink* sink) {
    for (auto& job : jobs_)
        if (job->thread.joinable()) job->thread.join();
    in_flight_.clear();
    jobs_.clear();
    main_ = Crew();
    extra_lanes_.clear();
    times_ = RVXCodingTimes();
    store_.reset();
    records_.clear();
    sink_ = nullptr;
    next_frame_ = group_start_ = 0;
    failed_ = false;
    finished_ = false;
    if (!codecs.transform || !codecs.color || !codecs.pixel || !codecs.block || !codecs.moving ||
        !codecs.deblock || !sink || !UsableSettings(settings))
        return false;
    codecs_ = codecs;
    settings_ = settings;
    const uint32_t columns = codecs.pixel->MacroblockColumns();
    const uint32_t rows = codecs.pixel->MacroblockRows();
    if (columns == 0 || rows == 0) return false;
    // Every object walks the same pictures; one made for another size would
    // read or write outside them.
    const uint32_t width = codecs.pixel->PaddedWidth(), height = codecs.pixel->PaddedHeight();
    if (codecs.color->PaddedWidth() != width || codecs.color->PaddedHeight() != height ||
        uint32_t(codecs.moving->Width()) != width || uint32_t(codecs.moving->Height()) != height ||
        codecs.deblock->PaddedWidth() != width || codecs.deblock->PaddedHeight() != height)
        return false;
    features_ = features;
    sink_ = sink;
    // Decisions by cost need the transform's unrounded values to measure
    // what a choice loses; the lossless transforms lose nothing. A transform
    // that cannot tell keeps the fixed decisions.
    const RVXEncoderTuning& tuning = settings_.tuning;
    by_cost_ = false;
    steerable_ = false;
    if (FormatTransform(settings_.format) == kTransformDiff2D) {
        by_cost_ = tuning.decides_by_cost;
    } else if (tuning.decides_by_cost || SteersPastMaxQuality(tuning, settings_.format)) {
        RVXLevelRule probe;
        probe.choose = ChooseLevels;
        const bool rule_taken = codecs.block->SetLevelRule(&probe);
        codecs.block->SetLevelRule(nullptr);
        // The rate plan counts on quantisers past 32 by the same test; a
        // block converter that refuses the rule then must refuse the movie
        // rather than clamp what the plan counted on.
        steerable_ = SteersPastMaxQuality(tuning, settings_.format);
        if (steerable_ && !rule_taken) {
            sink_ = nullptr;
            return false;
        }
        by_cost_ = tuning.decides_by_cost && rule_taken;
    }
    undo_filter_ = tuning.precompensates_filter && FormatTransform(settings_.format) == kTransformDct &&
                   !(settings_.format & kFormatNoDeblock);
    store_ = std::make_unique<CRVXEncodeFrame>(width, height, settings_.gop_length);
    store_->Init(features);
    main_.motion.assign(std::size_t(columns) * rows, RVXMotionEntry());
    main_.quantisers.assign(std::size_t(columns) * rows, 0);
    main_.searched.assign(std::size_t(columns) * rows, Searched());
    main_.lanes.push_back(Lane(codecs.transform, codecs.pixel, codecs.block, codecs.moving));
    return true;
}

uint32_t CRVXGroupCoder::SetThreads(uint32_t threads, const RVXLaneFactory& make) {
    WaitForGroup();
    main_.workers.reset();
    jobs_.clear();
    if (main_.lanes.empty()) return 0;
    main_.lanes.resize(1);
    extra_lanes_.clear();
    // Whole groups share out best (no waiting at every frame), so threads
    // first become group threads; those to spare share a group's rows, at
    // most one per row.
    const uint32_t rows = codecs_.pixel->MacroblockRows();
    const uint32_t group_threads = threads > 1 ? std::min(threads, kMostGroupsInFlight) : 0;
    const uint32_t lanes_per_group =
        group_threads ? std::clamp<uint32_t>(threads / group_threads, 1, rows) : 0;
    std::vector<Lane> lanes;
    for (uint32_t k = 0; k < group_threads * lanes_per_group && make; ++k) {
        RVXCodingLane lane;
        if (!make(lane) || !lane.transform || !lane.pixel || !lane.block || !lane.moving) break;
        // Each lane walks the same pictures; one made for another size
        // would read or write outside them.
        if (lane.pixel->PaddedWidth() != codecs_.pixel->PaddedWidth() ||
            lane.pixel->PaddedHeight() != codecs_.pixel->PaddedHeight() ||
            lane.moving->Width() != codecs_.moving->Width() ||
            lane.moving->Height() != codecs_.moving->Height() ||
            lane.block->BlocksPerMacroblock() != codecs_.block->BlocksPerMacroblock())
            break;
        lanes.push_back(Lane(lane.transform.get(), lane.pixel.get(), lane.block.get(), lane.moving.get()));
        extra_lanes_.push_back(std::move(lane));
    }
    for (std::size_t at = 0; lanes_per_group > 0 && at + lanes_per_group <= lanes.size();
         at += lanes_per_group) {
        auto job = std::make_unique<GroupJob>();
        job->crew.lanes.assign(lanes.begin() + at, lanes.begin() + at + lanes_per_group);
        if (lanes_per_group > 1) job->crew.workers = std::make_unique<CRowWorkers>(lanes_per_group - 1);
        job->crew.motion = main_.motion;
        job->crew.quantisers = main_.quantisers;
        job->crew.searched = main_.searched;
        jobs_.push_back(std::move(job));
    }
    // Room in the store for every group in flight besides the arriving one.
    if (!jobs_.empty() && next_frame_ == 0) {
        store_ = std::make_unique<CRVXEncodeFrame>(codecs_.pixel->PaddedWidth(),
                                                   codecs_.pixel->PaddedHeight(),
                                                   settings_.gop_length, uint32_t(jobs_.size()));
        store_->Init(features_);
    }
    return uint32_t(1 + jobs_.size() * lanes_per_group);
}

void CRVXGroupCoder::AddTimes(Crew& crew) {
    times_.motion += crew.times.motion;
    times_.transform += crew.times.transform;
    times_.entropy += crew.times.entropy;
    times_.deblock += crew.times.deblock;
    crew.times = RVXCodingTimes();
}

RVXCodingTimes CRVXGroupCoder::Times() const {
    RVXCodingTimes sum = times_;
    sum.motion += main_.times.motion;
    sum.transform += main_.times.transform;
    sum.entropy += main_.times.entropy;
    sum.deblock += main_.times.deblock;
    return sum;
}

void CRVXGroupCoder::WaitForGroup() {
    while (!in_flight_.empty()) JoinOldest();
}

bool CRVXGroupCoder::JoinOldest() {
    GroupJob& job = *in_flight_.front();
    in_flight_.pop_front();
    job.thread.join();
    AddTimes(job.crew);
    if (job.ok) sink_->TakeGroup(job.first, job.records);
    job.records.clear();
    Note(job.ok);
    if (job.failure) {
        std::exception_ptr failure = job.failure;
        job.failure = nullptr;
        std::rethrow_exception(failure);
    }
    return job.ok;
}

bool CRVXGroupCoder::CodeAndHandGroup(uint32_t first, uint32_t count) {
    const bool coded = CodeGroup(main_, first, count, records_);
    if (coded) sink_->TakeGroup(first, records_);
    records_.clear();
    Note(coded);
    return coded;
}

void CRVXGroupCoder::StartGroup(uint32_t first, uint32_t count) {
    if (jobs_.empty()) {
        CodeAndHandGroup(first, count);
        return;
    }
    if (in_flight_.size() == jobs_.size()) JoinOldest();
    GroupJob* job = nullptr;
    for (auto& candidate : jobs_) {
        if (std::find(in_flight_.begin(), in_flight_.end(), candidate.get()) == in_flight_.end()) {
            job = candidate.get();
            break;
        }
    }
    job->first = first;
    job->ok = true;
    job->failure = nullptr;
    job->thread = std::thread([this, job, first, count] {
        try {
            job->ok = CodeGroup(job->crew, first, count, job->records);
        } catch (...) {
            job->ok = false;
            job->failure = std::current_exception();
        }
    });
    in_flight_.push_back(job);
}

void CRVXGroupCoder::RunRows(Crew& crew, uint32_t count,
                             const std::function<void(Lane& lane, uint32_t item)>& code) {
    if (!crew.workers) {
        for (uint32_t i = 0; i < count; ++i) code(crew.lanes[0], i);
    } else {
        crew.workers->Run(count,
                          [&](uint32_t lane, uint32_t item) { code(crew.lanes[lane], item); });
    }
    // Stage times are summed over the threads, like processor time.
    for (Lane& lane : crew.lanes) {
        crew.times.motion += lane.times.motion;
        crew.times.transform += lane.times.transform;
        lane.times = RVXCodingTimes();
    }
}

bool CRVXGroupCoder::SetUpFrame(Crew& crew, uint32_t n, bool intra, FrameSetup& setup) {
    if (!store_ || store_->GetFramePicture(n, &setup.picture) != kFrameStoreOk) return false;
    IRVXPixelBlock& pixel = *codecs_.pixel;
    setup.columns = pixel.MacroblockColumns();
    setup.rows = pixel.MacroblockRows();
    setup.row_blocks = setup.columns * codecs_.block->BlocksPerMacroblock();
    setup.diff2d = FormatTransform(settings_.format) == kTransformDiff2D;
    uint32_t count = 0;
    // Each crew's first block holds its frames' coefficients, so the two
    // sides never share a buffer.
    setup.coefficients = crew.lanes[0].block->AllocCoefficients(setup.columns, setup.rows, &count);
    if (!setup.coefficients) return false;
    for (Lane& lane : crew.lanes) PrepareLane(lane, setup, intra);
    return true;
}

bool CRVXGroupCoder::BeginFrame(Crew& crew, uint32_t n, RVXFrameKind kind, FrameSetup& setup) {
    const bool intra = kind == kFrameKindI;
    const RVXFrameTarget target = FrameTarget(n, kind);
    setup.steered = target.quantiser;
    setup.quality = ClampQuality(setup.steered);
    if (!SetUpFrame(crew, n, intra, setup)) return false;
    if (undo_filter_) {
        // Measured on camera footage (luma PSNR against size): half the way
        // at fine qualities, where the filter's smoothing costs most, a
        // quarter at coarser ones, where it also hides some coding error.
        StageTimer timer(measure_, crew.times.deblock);
        const uint32_t width = codecs_.pixel->PaddedWidth();
        UndoDeblocking(setup.picture, width, codecs_.pixel->PaddedHeight(), std::size_t{4} * width,
                       setup.quality <= kFineUndoQuality ? 2 : 1);
    }
    // Past quality 32 the fixed decisions have no coarser step left: their
    // levels are chosen by cost too, weighing bits as that quality does.
    setup.levels_by_cost = !setup.diff2d && (by_cost_ || (steerable_ && setup.steered > kMaxQuality));
    if (by_cost_ || setup.levels_by_cost) PrepareCostRule(crew, setup, intra, kind);
    if (settings_.tuning.prices_vectors && !intra && !setup.diff2d) {
        // A prediction must save the bits of its fields as well; costs here
        // are squared errors over 256.
        const float lambda = LambdaForQuantiser(setup.steered, settings_.inter_matrix);
        setup.vector_price = SearchCostOfBits(lambda, kPredictionExtraBits);
    }
    for (Lane& lane : crew.lanes) lane.block->SetLevelRule(setup.levels_by_cost ? &setup.rule : nullptr);
    setup.adaptive = settings_.adaptive_quantisation && !setup.diff2d;
    if (setup.adaptive) PlanQuantisers(crew, setup);
    BeginRowSteering(crew, kind, target.goal_bytes, setup);
    return true;
}

void CRVXGroupCoder::PrepareLane(Lane& lane, const FrameSetup& setup, bool intra) const {
    lane.pixel->SetSourcePicture(setup.picture);
    lane.block->SetInput(lane.pixel->Buffer());
    lane.moving->SetCurrent(lane.pixel->Buffer());
    const uint8_t* matrix = intra ? settings_.intra_matrix : settings_.inter_matrix;
    const uint8_t* const tables[4] = {matrix, matrix, matrix, matrix};
    // The lossless transforms have no quantiser and refuse the tables.
    lane.transform->SetQuantTables(tables);
}

bool CRVXGroupCoder::FinishFrame(Crew& crew, uint32_t n, RVXFrameKind kind, uint16_t back_reference,
                                 uint16_t forward_reference, FrameSetup& setup,
                                 const RVXMotionEntry* motion) {
    {
        // The filter keeps no state of its own, so both sides may use it.
        StageTimer timer(measure_, crew.times.deblock);
        codecs_.deblock->FilterPicture(setup.picture);
    }
    {
        StageTimer timer(measure_, crew.times.entropy);
        const RVXFrameLayout layout{setup.columns, setup.rows,
                                    codecs_.block->BlocksPerMacroblock()};
        if (!CodeFramePayload(layout, setup.quality, setup.coefficients, motion, &crew.payload,
                              by_cost_ || setup.adaptive || setup.steer_rows ? crew.quantisers.data() : nullptr) ||
            !sink_->TakeFrame(n, crew.payload.data(), crew.payload.size()))
            return false;
        if (settings_.rate_control) settings_.rate_control->EndFrame(n, crew.payload.size());
    }
    if (by_cost_ || setup.levels_by_cost) LearnCosts(crew, setup);
    KeepRowHistory(crew, setup);
    store_->SetFrameKind(n, kind, back_reference, forward_reference);
    if (observer_) {
        std::lock_guard<std::mutex> lock(observer_mutex_);
        observer_(n, kind, setup.picture);
    }
    return true;
}

// Each macroblock row codes into its own stretch of the coefficient buffer:
// the stretches lie end to end in row order, so the buffer is the same
// whichever thread coded which row.
void CRVXGroupCoder::CodeIntraRow(const Crew& crew, Lane& lane, const FrameSetup& setup, uint32_t i) {
    StageTimer timer(measure_, lane.times.transform);
    IRVXPixelBlock& pixel = *lane.pixel;
    IRVXConvBlock& block = *lane.block;
    block.SetOutput(setup.coefficients + std::size_t(i) * setup.row_blocks * kValuesPerBlock,
                    setup.row_blocks);
    block.ResetPredictors();
    for (uint32_t j = 0; j < setup.columns; ++j) {
        block.SetQuantiser(StartQuantiser(crew, setup, std::size_t(i) * setup.columns + j));
        pixel.LoadMacroblock(j, i);
        block.CodeMacroblock();
        block.ReconstructMacroblock();
        pixel.StoreMacroblock(j, i);
    }
}

bool CRVXGroupCoder::CodeIFrame(uint32_t n) {
    WaitForGroup();
    return CodeIFrame(main_, n);
}

bool CRVXGroupCoder::CodeIFrame(Crew& crew, uint32_t n) {
    FrameSetup setup;
    if (!BeginFrame(crew, n, kFrameKindI, setup)) return false;
    RunRows(crew, setup.rows, [&](Lane& lane, uint32_t i) {
        if (by_cost_)
            CodeRowByCost(crew, lane, setup, i, nullptr, nullptr);
        else
            CodeIntraRow(crew, lane, setup, i);
    });
    return FinishFrame(crew, n, kFrameKindI, kNoReference, kNoReference, setup, nullptr);
}

RVXFrameTarget CRVXGroupCoder::FrameTarget(uint32_t n, RVXFrameKind kind) const {
    if (!settings_.rate_control) return {settings_.FixedQuantisers().Of(kind), 0.0};
    RVXFrameTarget target = settings_.rate_control->StartFrame(n, kind);
    target.quantiser = steerable_ ? std::clamp(target.quantiser, kMinQuality, kMaxSteeredQuality)
                                  : ClampQuality(target.quantiser);
    return target;
}

bool CRVXGroupCoder::DiffOverflow(const IRVXConvBlock& block) {
    const int16_t* values = block.CurrentBlocks();
    const std::size_t count = std::size_t(block.BlocksPerMacroblock()) * 64;
    for (std::size_t i = 0; i < count; ++i)
        if (values[i] > kDiffPredictionLimit || values[i] < -kDiffPredictionLimit) return true;
    return false;
}

bool CRVXGroupCoder::CodePFrame(uint32_t n, uint32_t reference) {
    WaitForGroup();
    return CodeInterFrame(main_, n, reference, 0, false);
}

bool CRVXGroupCoder::CodeBFrame(uint32_t n, uint32_t earlier, uint32_t later) {
    WaitForGroup();
    return CodeInterFrame(main_, n, earlier, later, true);
}

// A P frame predicts from `earlier` only. A B frame searches both references
// and predicts each macroblock from the better one, or not at all; equal
// costs choose the earlier reference. Predictions are never averaged.
bool CRVXGroupCoder::CodeInterFrame(Crew& crew, uint32_t n, uint32_t earlier, uint32_t later,
                                    bool bidirectional) {
    FrameSetup setup;
    if (!BeginFrame(crew, n, bidirectional ? kFrameKindB : kFrameKindP, setup)) return false;
    uint8_t* earlier_picture = nullptr;
    uint8_t* later_picture = nullptr;
    if (store_->GetReferencePicture(earlier, n, &earlier_picture) != kFrameStoreOk) return false;
    if (bidirectional &&
        store_->GetReferencePicture(later, n, &later_picture) != kFrameStoreOk)
        return false;
    const int32_t range_back = SearchRange(n, earlier);
    const int32_t range_forward = bidirectional ? SearchRange(later, n) : 0;
    std::fill(crew.motion.begin(), crew.motion.end(), RVXMotionEntry());
    // The searches read only the source macroblock and the references, so
    // they all run first, one macroblock per item; the rows, chained by
    // their DC predictors, follow.
    for (Lane& lane : crew.lanes) lane.moving->SetCurrent(lane.pixel->Buffer());
    crew.searched_before.swap(crew.searched);
    crew.searched.resize(crew.searched_before.size());
    RunRows(crew, setup.columns * setup.rows, [&](Lane& lane, uint32_t index) {
        SearchMacroblock(crew, lane, setup, index, earlier_picture, later_picture, range_back,
                         range_forward, n - earlier, bidirectional ? later - n : 0);
    });
    crew.distance_before = n - earlier;
    RunRows(crew, setup.rows, [&](Lane& lane, uint32_t i) {
        try {
            const FrameSetup& row = SteerRow(crew, lane, setup, i);
            if (by_cost_)
                CodeRowByCost(crew, lane, row, i, earlier_picture, later_picture);
            else
                CodeInterRow(crew, lane, row, i, earlier_picture, later_picture);
            RowCoded(crew, setup, i);
        } catch (...) {
            AbandonRows(crew);
            throw;
        }
    });
    if (bidirectional)
        return FinishFrame(crew, n, kFrameKindB, uint16_t(earlier), uint16_t(later), setup,
                           crew.motion.data());
    return FinishFrame(crew, n, kFrameKindP, uint16_t(earlier), kNoReference, setup,
                       crew.motion.data());
}

// Chooses the prediction of one macroblock; later is null for a P frame.
void CRVXGroupCoder::SearchMacroblock(Crew& crew, Lane& lane, const FrameSetup& setup,
                                      uint32_t index,
                                      const uint8_t* earlier, const uint8_t* later,
                                      int32_t range_back, int32_t range_forward,
                                      uint32_t distance_back, uint32_t distance_forward) {
    StageTimer timer(measure_, lane.times.motion);
    const bool bidirectional = later != nullptr;
    const uint64_t threshold = settings_.threshold;
    IRVXMovingBlock& moving = *lane.moving;
    const uint32_t i = index / setup.columns, j = index % setup.columns;
    const int32_t x = int32_t(16 * j), y = int32_t(16 * i);
    RVXMotionEntry& entry = crew.motion[index];
    lane.pixel->LoadMacroblock(j, i);
    RVXSearchRecord back;
    back.x = x;
    back.y = y;
    back.range = range_back;
    std::copy(settings_.weights, settings_.weights + 4, back.weights);
    // Motion goes on from frame to frame: the same macroblock of the frame
    // coded before, its vector scaled to this frame's distances, is a good
    // place to start. The fixed decisions start from the zero vector only.
    const Searched& before = crew.searched_before[index];
    const bool known = settings_.tuning.guesses_motion && crew.distance_before > 0 && before.found[0];
    GuessMotion(known, before.dx[0], before.dy[0], int32_t(distance_back), int32_t(crew.distance_before), back);
    moving.SetReference(earlier);
    const bool searched = moving.SearchMotion(back);
    Searched& found = crew.searched[index];
    found = Searched();
    found.found[0] = searched;
    found.dx[0] = int8_t(back.dx);
    found.dy[0] = int8_t(back.dy);
    const uint64_t activity = WeightedShifted(back.activity, settings_.weights);
    const uint64_t cost_back = WeightedShifted(back.cost, settings_.weights);
    found.activity = activity;
    found.cost[0] = cost_back;
    if (!bidirectional) {
        if (searched && activity >= threshold && activity >= cost_back + setup.vector_price)
            entry = {1, 1, int8_t(back.dx), int8_t(back.dy)};
        return;
    }
    RVXSearchRecord forward = back;
    forward.range = range_forward;
    // The same block and weights: the first search's measurements hold.
    forward.activity_known = true;
    GuessMotion(known, before.dx[0], before.dy[0], -int32_t(distance_forward), int32_t(crew.distance_before),
                forward);
    moving.SetReference(later);
    const bool searched_forward = moving.SearchMotion(forward);
    found.found[1] = searched_forward;
    found.dx[1] = int8_t(forward.dx);
    found.dy[1] = int8_t(forward.dy);
    const uint64_t cost_forward = WeightedShifted(forward.cost, settings_.weights);
    found.cost[1] = cost_forward;
    if (searched && searched_forward && activity >= threshold) {
        if (cost_forward < cost_back) {
            if (activity >= cost_forward + setup.vector_price)
                entry = {1, 0, int8_t(forward.dx), int8_t(forward.dy)};
        } else if (activity >= cost_back + setup.vector_price) {
            entry = {1, 1, int8_t(back.dx), int8_t(back.dy)};
        }
    }
}

// Codes one row with the predictions chosen for it; later is null for a P
// frame.
void CRVXGroupCoder::CodeInterRow(Crew& crew, Lane& lane, const FrameSetup& setup, uint32_t i,
                                  const uint8_t* earlier, const uint8_t* later) {
    IRVXPixelBlock& pixel = *lane.pixel;
    IRVXConvBlock& block = *lane.block;
    IRVXMovingBlock& moving = *lane.moving;
    block.SetOutput(setup.coefficients + std::size_t(i) * setup.row_blocks * kValuesPerBlock,
                    setup.row_blocks);
    block.ResetPredictors();
    for (uint32_t j = 0; j < setup.columns; ++j) {
        const int32_t x = int32_t(16 * j), y = int32_t(16 * i);
        RVXMotionEntry& entry = crew.motion[std::size_t(i) * setup.columns + j];
        block.SetQuantiser(StartQuantiser(crew, setup, std::size_t(i) * setup.columns + j));
        pixel.LoadMacroblock(j, i);
        if (entry.use) {
            StageTimer timer(measure_, lane.times.motion);
            moving.SetReference(entry.direction || !later ? earlier : later);
            // Where no prediction can be formed (the last macroblock column
            // and row at the zero vector) the fixed rule still writes one.
            if (!moving.SubtractPrediction(x, y, entry.dx, entry.dy) && settings_.tuning.drops_unformed_predictions)
                entry.use = 0;
        }
        {
            StageTimer timer(measure_, lane.times.transform);
            block.CodeMacroblock();
            if (setup.diff2d && entry.use && DiffOverflow(block)) {
                pixel.LoadMacroblock(j, i);
                block.CodeMacroblock();
                entry.use = 0;
            }
            block.ReconstructMacroblock();
        }
        if (entry.use) {
            StageTimer timer(measure_, lane.times.motion);
            moving.AddPrediction(x, y, entry.dx, entry.dy);
        }
        pixel.StoreMacroblock(j, i);
    }
}

// How far the macroblocks of picture `to` are from their best matches in
// picture `from`, on every fourth macroblock of every fourth row: the sum
// of the root of each one's squared error (or of its own variance, when
// that is smaller: it would not be predicted), roughly what it costs.
double CRVXGroupCoder::SampledMotionCost(Crew& crew, uint32_t from, uint32_t to) {
    uint8_t* reference = nullptr;
    uint8_t* current = nullptr;
    if (store_->GetFramePicture(from, &reference) != kFrameStoreOk ||
        store_->GetFramePicture(to, &current) != kFrameStoreOk)
        return 0;
    Lane& lane = crew.lanes[0];
    lane.pixel->SetSourcePicture(current);
    lane.moving->SetCurrent(lane.pixel->Buffer());
    lane.moving->SetReference(reference);
    const uint32_t columns = codecs_.pixel->MacroblockColumns(), rows = codecs_.pixel->MacroblockRows();
    const int32_t range = SearchRange(from, to);
    double total = 0;
    for (uint32_t i = rows > 2 ? 1 : 0; i < rows; i += 4)
        for (uint32_t j = columns > 2 ? 1 : 0; j < columns; j += 4) {
            lane.pixel->LoadMacroblock(j, i);
            RVXSearchRecord record;
            record.x = int32_t(16 * j);
            record.y = int32_t(16 * i);
            record.range = range;
            std::copy(settings_.weights, settings_.weights + 4, record.weights);
            if (!lane.moving->SearchMotion(record)) continue;
            total += std::sqrt(double(std::min(WeightedShifted(record.cost, settings_.weights),
                                               WeightedShifted(record.activity, settings_.weights))));
        }
    return total;
}

}  // namespace _rvxlib_
