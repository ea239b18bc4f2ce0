#include "rvxlib/group_coder.h"

#include <algorithm>
#include <atomic>
#include <new>

#include "pqxlib/conv_interface.h"
#include "rvxlib/block_convert.h"
#include "rvxlib/color_space.h"
#include "rvxlib/deblock.h"
#include "rvxlib/motion_search.h"
#include "rvxlib/pixel_block.h"
#include "rvxlib/row_workers.h"

namespace _rvxlib_ {
namespace {

constexpr uint32_t kTransformMask = 0xF000;
constexpr uint32_t kTransformDiff2D = 0x1000;
// Beyond this a Diff2D residual risks the coder's +-2047 after prediction;
// the macroblock is then coded without prediction.
constexpr int kDiffPredictionLimit = 1020;
constexpr uint32_t kPixelsPerFrameOfRange = 15;
constexpr uint32_t kMaxSearchRange = 60;

uint16_t ClampQuality(uint16_t q) { return std::clamp<uint16_t>(q, 2, 32); }

// Channel-weighted sum with each product shifted on its own, so that a large
// weight on one channel cannot hide a mismatch in the others.
uint64_t WeightedShifted(const uint32_t value[4], const uint32_t weights[4]) {
    uint64_t sum = 0;
    for (int k = 0; k < 4; ++k) sum += (uint64_t(value[k]) * weights[k]) >> 8;
    return sum;
}

int32_t SearchRange(uint32_t a, uint32_t b) {
    const uint64_t distance = a > b ? uint64_t(a) - b : uint64_t(b) - a;
    return int32_t(std::min<uint64_t>(distance * kPixelsPerFrameOfRange, kMaxSearchRange));
}

class StageTimer {
public:
    StageTimer(bool on, std::chrono::nanoseconds& total)
        : total_(on ? &total : nullptr),
          start_(on ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point()) {}
    ~StageTimer() {
        if (total_) *total_ += std::chrono::steady_clock::now() - start_;
    }

private:
    std::chrono::nanoseconds* total_;
    std::chrono::steady_clock::time_point start_;
};

enum class PlannedType { I, P, B };

}  // namespace

struct CRVXGroupCoder::FrameSetup {
    uint8_t* picture = nullptr;
    int16_t* coefficients = nullptr;
    uint32_t columns = 0;
    uint32_t rows = 0;
    uint32_t row_blocks = 0;  // coded blocks per macroblock row
    uint16_t quality = 0;
    bool diff2d = false;
};

CRVXGroupCoder::CRVXGroupCoder() = default;
CRVXGroupCoder::~CRVXGroupCoder() = default;

bool CRVXGroupCoder::Open(const RVXCodecSet& codecs, const RVXGroupSettings& settings,
                          uint32_t features) {
    workers_.reset();
    lanes_.clear();
    extra_lanes_.clear();
    times_ = RVXCodingTimes();
    store_.reset();
    records_.clear();
    groups_.clear();
    next_frame_ = group_start_ = 0;
    failed_ = false;
    finished_ = false;
    if (!codecs.transform || !codecs.color || !codecs.pixel || !codecs.block || !codecs.moving ||
        !codecs.deblock)
        return false;
    codecs_ = codecs;
    settings_ = settings;
    settings_.quality_i = ClampQuality(settings.quality_i);
    settings_.quality_p = ClampQuality(settings.quality_p);
    settings_.quality_b = ClampQuality(settings.quality_b);
    if (settings_.gop_length == 0) settings_.gop_length = 1;
    settings_.scene_change = std::min<uint16_t>(settings_.scene_change, 256);
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
    store_ = std::make_unique<CRVXEncodeFrame>(width, height, settings_.gop_length);
    store_->Init(features);
    motion_.assign(std::size_t(columns) * rows, RVXMotionEntry());
    lanes_.push_back({codecs.transform, codecs.pixel, codecs.block, codecs.moving, {}});
    return true;
}

uint32_t CRVXGroupCoder::SetThreads(uint32_t threads, const RVXLaneFactory& make) {
    workers_.reset();
    extra_lanes_.clear();
    if (lanes_.empty()) return 0;
    lanes_.resize(1);
    // More threads than rows would only wait.
    threads = std::min(threads, codecs_.pixel->MacroblockRows());
    for (uint32_t k = 1; k < threads && make; ++k) {
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
        lanes_.push_back({lane.transform.get(), lane.pixel.get(), lane.block.get(),
                          lane.moving.get(), {}});
        extra_lanes_.push_back(std::move(lane));
    }
    if (lanes_.size() > 1) workers_ = std::make_unique<CRowWorkers>(uint32_t(lanes_.size()) - 1);
    return uint32_t(lanes_.size());
}

void CRVXGroupCoder::RunRows(uint32_t count,
                             const std::function<void(Lane& lane, uint32_t item)>& code) {
    if (!workers_) {
        for (uint32_t i = 0; i < count; ++i) code(lanes_[0], i);
    } else {
        workers_->Run(count, [&](uint32_t lane, uint32_t item) { code(lanes_[lane], item); });
    }
    // Stage times are summed over the threads, like processor time.
    for (Lane& lane : lanes_) {
        times_.motion += lane.times.motion;
        times_.transform += lane.times.transform;
        lane.times = RVXCodingTimes();
    }
}

std::string CRVXGroupCoder::FrameFileName(uint32_t n) const {
    return _rvxlib_::FrameFileName(settings_.frame_prefix, n);
}

bool CRVXGroupCoder::AddFrame(const uint8_t* source) {
    if (!store_ || !source || finished_) return false;
    uint8_t* picture = nullptr;
    const int32_t acquired = store_->AcquireFrame(&picture);
    if (acquired != kFrameStoreOk) {
        failed_ = true;
        // The one failure a caller can do nothing about but give up: it is
        // reported as such rather than as a frame that would not code.
        if (acquired == kFrameStoreOutOfMemory) throw std::bad_alloc();
        return false;
    }
    codecs_.color->ConvertPicture(source, picture);
    const uint32_t n = next_frame_;
    if (n == 0) {
        Note(CodeIFrame(0));
        group_start_ = 0;
    } else if (n >= group_start_ + settings_.gop_length || IsSceneChange(n)) {
        Note(CodeIFrame(n));
        Note(CodeGroup(group_start_, n - group_start_));
        group_start_ = n;
    }
    next_frame_ = n + 1;
    return true;
}

bool CRVXGroupCoder::FinishFrames() {
    if (!store_ || next_frame_ == 0) return false;
    // The open group is coded once; coding it again would re-code its frames
    // from their reconstructions and append its records a second time.
    if (finished_) return true;
    finished_ = true;
    const bool coded = CodeGroup(group_start_, next_frame_ - group_start_);
    Note(coded);
    return coded;
}

bool CRVXGroupCoder::IsSceneChange(uint32_t n) {
    uint8_t* previous = nullptr;
    uint8_t* current = nullptr;
    if (!store_ || n == 0 || store_->GetFramePicture(n - 1, &previous) != kFrameStoreOk ||
        store_->GetFramePicture(n, &current) != kFrameStoreOk)
        return true;
    const uint32_t columns = codecs_.pixel->MacroblockColumns();
    const uint32_t rows = codecs_.pixel->MacroblockRows();
    const uint64_t limit = (uint64_t(settings_.scene_change) * columns * rows) >> 8;
    // The count only grows, so the answer is the same however the rows are
    // shared out; once the limit is reached it cannot change and the
    // remaining tests are skipped.
    std::atomic<uint64_t> unmatched{0};
    for (Lane& lane : lanes_) {
        lane.moving->SetReference(previous);
        lane.pixel->SetSourcePicture(current);
        lane.moving->SetCurrent(lane.pixel->Buffer());
    }
    // One macroblock per item: a thread held up elsewhere then keeps the
    // others waiting for one test at most.
    RunRows(columns * rows, [&](Lane& lane, uint32_t index) {
        if (unmatched.load(std::memory_order_relaxed) >= limit) return;
        StageTimer timer(measure_, lane.times.motion);
        const uint32_t i = index / columns, j = index % columns;
        lane.pixel->LoadMacroblock(j, i);
        if (!lane.moving->TestMatch(int32_t(16 * j), int32_t(16 * i), settings_.weights,
                                    settings_.threshold))
            unmatched.fetch_add(1, std::memory_order_relaxed);
    });
    return unmatched.load() >= limit;
}

bool CRVXGroupCoder::BeginFrame(uint32_t n, bool intra, FrameSetup& setup) {
    if (!store_ || store_->GetFramePicture(n, &setup.picture) != kFrameStoreOk) return false;
    IRVXPixelBlock& pixel = *codecs_.pixel;
    setup.columns = pixel.MacroblockColumns();
    setup.rows = pixel.MacroblockRows();
    setup.row_blocks = setup.columns * codecs_.block->BlocksPerMacroblock();
    setup.diff2d = (settings_.format & kTransformMask) == kTransformDiff2D;
    uint32_t count = 0;
    setup.coefficients = codecs_.block->AllocCoefficients(setup.columns, setup.rows, &count);
    if (!setup.coefficients) return false;
    for (Lane& lane : lanes_) PrepareLane(lane, setup, intra);
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

bool CRVXGroupCoder::FinishFrame(uint32_t n, uint32_t kind, uint16_t value1, uint16_t value2,
                                 FrameSetup& setup, const RVXMotionEntry* motion) {
    {
        StageTimer timer(measure_, times_.deblock);
        codecs_.deblock->FilterPicture(setup.picture);
    }
    {
        StageTimer timer(measure_, times_.entropy);
        const RVXFrameLayout layout{setup.columns, setup.rows,
                                    codecs_.block->BlocksPerMacroblock()};
        if (!WriteFramePayload(FrameFileName(n), layout, setup.quality, setup.coefficients,
                               motion))
            return false;
    }
    store_->SetFrameKind(n, kind, value1, value2);
    if (observer_) observer_(n, kind, setup.picture);
    return true;
}

// Each macroblock row codes into its own stretch of the coefficient buffer:
// the stretches lie end to end in row order, so the buffer is the same
// whichever thread coded which row.
void CRVXGroupCoder::CodeIntraRow(Lane& lane, const FrameSetup& setup, uint32_t i) {
    StageTimer timer(measure_, lane.times.transform);
    IRVXPixelBlock& pixel = *lane.pixel;
    IRVXConvBlock& block = *lane.block;
    block.SetOutput(setup.coefficients + std::size_t(i) * setup.row_blocks * kValuesPerBlock,
                    setup.row_blocks);
    block.ResetPredictors();
    for (uint32_t j = 0; j < setup.columns; ++j) {
        block.SetQuantiser(setup.quality);
        pixel.LoadMacroblock(j, i);
        block.CodeMacroblock();
        block.ReconstructMacroblock();
        pixel.StoreMacroblock(j, i);
    }
}

bool CRVXGroupCoder::CodeIFrame(uint32_t n) {
    FrameSetup setup;
    if (!BeginFrame(n, true, setup)) return false;
    setup.quality = settings_.quality_i;
    RunRows(setup.rows, [&](Lane& lane, uint32_t i) { CodeIntraRow(lane, setup, i); });
    return FinishFrame(n, kFrameKindI, kNoReference, kNoReference, setup, nullptr);
}

bool CRVXGroupCoder::DiffOverflow(const IRVXConvBlock& block) {
    const int16_t* values = block.CurrentBlocks();
    const std::size_t count = std::size_t(block.BlocksPerMacroblock()) * 64;
    for (std::size_t i = 0; i < count; ++i)
        if (values[i] > kDiffPredictionLimit || values[i] < -kDiffPredictionLimit) return true;
    return false;
}

bool CRVXGroupCoder::CodePFrame(uint32_t n, uint32_t reference) {
    return CodeInterFrame(n, reference, 0, false);
}

bool CRVXGroupCoder::CodeBFrame(uint32_t n, uint32_t earlier, uint32_t later) {
    return CodeInterFrame(n, earlier, later, true);
}

// A P frame predicts from `earlier` only. A B frame searches both references
// and predicts each macroblock from the better one, or not at all; equal
// costs choose the earlier reference. Predictions are never averaged.
bool CRVXGroupCoder::CodeInterFrame(uint32_t n, uint32_t earlier, uint32_t later,
                                    bool bidirectional) {
    FrameSetup setup;
    if (!BeginFrame(n, false, setup)) return false;
    uint8_t* earlier_picture = nullptr;
    uint8_t* later_picture = nullptr;
    if (store_->GetReferencePicture(earlier, n, &earlier_picture) != kFrameStoreOk) return false;
    if (bidirectional &&
        store_->GetReferencePicture(later, n, &later_picture) != kFrameStoreOk)
        return false;
    setup.quality = bidirectional ? settings_.quality_b : settings_.quality_p;
    const int32_t range_back = SearchRange(n, earlier);
    const int32_t range_forward = bidirectional ? SearchRange(later, n) : 0;
    std::fill(motion_.begin(), motion_.end(), RVXMotionEntry());
    // The searches read only the source macroblock and the references, so
    // they all run first, one macroblock per item; the rows, chained by
    // their DC predictors, follow.
    for (Lane& lane : lanes_) lane.moving->SetCurrent(lane.pixel->Buffer());
    RunRows(setup.columns * setup.rows, [&](Lane& lane, uint32_t index) {
        SearchMacroblock(lane, setup, index, earlier_picture, later_picture, range_back,
                         range_forward);
    });
    RunRows(setup.rows, [&](Lane& lane, uint32_t i) {
        CodeInterRow(lane, setup, i, earlier_picture, later_picture);
    });
    if (bidirectional)
        return FinishFrame(n, kFrameKindB, uint16_t(earlier), uint16_t(later), setup,
                           motion_.data());
    return FinishFrame(n, kFrameKindP, uint16_t(earlier), kNoReference, setup, motion_.data());
}

// Chooses the prediction of one macroblock; later is null for a P frame.
void CRVXGroupCoder::SearchMacroblock(Lane& lane, const FrameSetup& setup, uint32_t index,
                                      const uint8_t* earlier, const uint8_t* later,
                                      int32_t range_back, int32_t range_forward) {
    StageTimer timer(measure_, lane.times.motion);
    const bool bidirectional = later != nullptr;
    const uint64_t threshold = settings_.threshold;
    IRVXMovingBlock& moving = *lane.moving;
    const uint32_t i = index / setup.columns, j = index % setup.columns;
    const int32_t x = int32_t(16 * j), y = int32_t(16 * i);
    RVXMotionEntry& entry = motion_[index];
    lane.pixel->LoadMacroblock(j, i);
    RVXSearchRecord back;
    back.x = x;
    back.y = y;
    back.range = range_back;
    std::copy(settings_.weights, settings_.weights + 4, back.weights);
    moving.SetReference(earlier);
    const bool searched = moving.SearchMotion(back);
    const uint64_t activity = WeightedShifted(back.activity, settings_.weights);
    const uint64_t cost_back = WeightedShifted(back.cost, settings_.weights);
    if (!bidirectional) {
        if (searched && activity >= threshold && activity >= cost_back)
            entry = {1, 1, int8_t(back.dx), int8_t(back.dy)};
        return;
    }
    RVXSearchRecord forward = back;
    forward.range = range_forward;
    moving.SetReference(later);
    const bool searched_forward = moving.SearchMotion(forward);
    const uint64_t cost_forward = WeightedShifted(forward.cost, settings_.weights);
    if (searched && searched_forward && activity >= threshold) {
        if (cost_forward < cost_back) {
            if (activity >= cost_forward) entry = {1, 0, int8_t(forward.dx), int8_t(forward.dy)};
        } else if (activity >= cost_back) {
            entry = {1, 1, int8_t(back.dx), int8_t(back.dy)};
        }
    }
}

// Codes one row with the predictions chosen for it; later is null for a P
// frame.
void CRVXGroupCoder::CodeInterRow(Lane& lane, const FrameSetup& setup, uint32_t i,
                                  const uint8_t* earlier, const uint8_t* later) {
    IRVXPixelBlock& pixel = *lane.pixel;
    IRVXConvBlock& block = *lane.block;
    IRVXMovingBlock& moving = *lane.moving;
    block.SetOutput(setup.coefficients + std::size_t(i) * setup.row_blocks * kValuesPerBlock,
                    setup.row_blocks);
    block.ResetPredictors();
    for (uint32_t j = 0; j < setup.columns; ++j) {
        const int32_t x = int32_t(16 * j), y = int32_t(16 * i);
        RVXMotionEntry& entry = motion_[std::size_t(i) * setup.columns + j];
        block.SetQuantiser(setup.quality);
        pixel.LoadMacroblock(j, i);
        if (entry.use) {
            StageTimer timer(measure_, lane.times.motion);
            moving.SetReference(entry.direction || !later ? earlier : later);
            moving.SubtractPrediction(x, y, entry.dx, entry.dy);
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

bool CRVXGroupCoder::CodeGroup(uint32_t first, uint32_t count) {
    if (!store_ || count == 0) return false;
    std::vector<PlannedType> plan(count);
    uint32_t run = 0;
    for (uint32_t j = 0; j < count; ++j) {
        uint32_t kind = kFrameUncoded;
        store_->GetFrameKind(first + j, &kind, nullptr, nullptr);
        if (kind == kFrameKindI) {
            plan[j] = PlannedType::I;
        } else if (run < settings_.b_count) {
            plan[j] = PlannedType::B;
            ++run;
        } else {
            plan[j] = PlannedType::P;
            run = 0;
        }
    }
    // A group never ends on a B frame: it would have no later reference.
    if (plan[count - 1] == PlannedType::B) plan[count - 1] = PlannedType::P;

    uint32_t last_ref = first, next_ref = first;
    for (uint32_t j = 0; j < count;) {
        const uint32_t g = first + j;
        switch (plan[j]) {
        case PlannedType::I:
            records_.push_back({kRecordI | j, 0, 0});
            last_ref = next_ref = first;
            store_->ReleaseFrame(g);
            ++j;
            break;
        case PlannedType::P:
            if (g == next_ref) {  // coded on the earlier visit
                last_ref = next_ref;
                ++j;
                break;
            }
            if (!CodePFrame(g, last_ref)) return false;
            store_->ReleaseFrame(g);
            records_.push_back({kRecordP | j | ((g - last_ref) & 63) << 16, 0, 0});
            next_ref = g;
            // The B frames between the two references come next.
            j = last_ref - first + 1;
            break;
        case PlannedType::B:
            if (last_ref < g && g < next_ref) {
                if (!CodeBFrame(g, last_ref, next_ref)) return false;
                store_->ReleaseFrame(g);
                records_.push_back({kRecordB | j | ((g - last_ref) & 63) << 16 |
                                        ((next_ref - g) & 15) << 28,
                                    0, 0});
            }
            ++j;
            break;
        }
    }
    groups_.push_back({first, count, 0, 0});
    return true;
}

}  // namespace _rvxlib_
