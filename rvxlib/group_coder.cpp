#include "rvxlib/group_coder.h"

#include <algorithm>

#include "pqxlib/conv_interface.h"
#include "rvxlib/block_convert.h"
#include "rvxlib/color_space.h"
#include "rvxlib/deblock.h"
#include "rvxlib/motion_search.h"
#include "rvxlib/pixel_block.h"

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
    uint16_t quality = 0;
};

CRVXGroupCoder::CRVXGroupCoder() = default;
CRVXGroupCoder::~CRVXGroupCoder() = default;

bool CRVXGroupCoder::Open(const RVXCodecSet& codecs, const RVXGroupSettings& settings,
                          uint32_t features) {
    store_.reset();
    records_.clear();
    groups_.clear();
    next_frame_ = group_start_ = 0;
    failed_ = false;
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
    features_ = features;
    store_ = std::make_unique<CRVXEncodeFrame>(codecs.pixel->PaddedWidth(),
                                               codecs.pixel->PaddedHeight(), settings_.gop_length);
    store_->Init(features);
    motion_.assign(std::size_t(columns) * rows, RVXMotionEntry());
    return true;
}

std::string CRVXGroupCoder::FrameFileName(uint32_t n) const {
    return _rvxlib_::FrameFileName(settings_.frame_prefix, n);
}

bool CRVXGroupCoder::AddFrame(const uint8_t* source) {
    if (!store_ || !source) return false;
    uint8_t* picture = nullptr;
    if (store_->AcquireFrame(&picture) != kFrameStoreOk) {
        failed_ = true;
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
    const bool coded = CodeGroup(group_start_, next_frame_ - group_start_);
    Note(coded);
    return coded;
}

bool CRVXGroupCoder::IsSceneChange(uint32_t n) {
    uint8_t* previous = nullptr;
    uint8_t* current = nullptr;
    if (n == 0 || store_->GetFramePicture(n - 1, &previous) != kFrameStoreOk ||
        store_->GetFramePicture(n, &current) != kFrameStoreOk)
        return true;
    StageTimer timer(measure_, times_.motion);
    IRVXPixelBlock& pixel = *codecs_.pixel;
    IRVXMovingBlock& moving = *codecs_.moving;
    moving.SetReference(previous);
    pixel.SetSourcePicture(current);
    moving.SetCurrent(pixel.Buffer());
    const uint32_t columns = pixel.MacroblockColumns(), rows = pixel.MacroblockRows();
    const uint64_t limit = (uint64_t(settings_.scene_change) * columns * rows) >> 8;
    uint64_t unmatched = 0;
    // Once the limit is reached the answer cannot change.
    for (uint32_t i = 0; i < rows && unmatched < limit; ++i) {
        for (uint32_t j = 0; j < columns && unmatched < limit; ++j) {
            pixel.LoadMacroblock(j, i);
            if (!moving.TestMatch(int32_t(16 * j), int32_t(16 * i), settings_.weights,
                                  settings_.threshold))
                ++unmatched;
        }
    }
    return unmatched >= limit;
}

bool CRVXGroupCoder::BeginFrame(uint32_t n, bool intra, FrameSetup& setup) {
    if (!store_ || store_->GetFramePicture(n, &setup.picture) != kFrameStoreOk) return false;
    IRVXPixelBlock& pixel = *codecs_.pixel;
    setup.columns = pixel.MacroblockColumns();
    setup.rows = pixel.MacroblockRows();
    pixel.SetSourcePicture(setup.picture);
    codecs_.block->SetInput(pixel.Buffer());
    uint32_t count = 0;
    setup.coefficients = codecs_.block->AllocCoefficients(setup.columns, setup.rows, &count);
    if (!setup.coefficients) return false;
    const uint8_t* matrix = intra ? settings_.intra_matrix : settings_.inter_matrix;
    const uint8_t* const tables[4] = {matrix, matrix, matrix, matrix};
    // The lossless transforms have no quantiser and refuse the tables.
    codecs_.transform->SetQuantTables(tables);
    return true;
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

bool CRVXGroupCoder::CodeIFrame(uint32_t n) {
    FrameSetup setup;
    if (!BeginFrame(n, true, setup)) return false;
    setup.quality = settings_.quality_i;
    IRVXPixelBlock& pixel = *codecs_.pixel;
    IRVXConvBlock& block = *codecs_.block;
    {
        StageTimer timer(measure_, times_.transform);
        for (uint32_t i = 0; i < setup.rows; ++i) {
            block.ResetPredictors();
            for (uint32_t j = 0; j < setup.columns; ++j) {
                block.SetQuantiser(setup.quality);
                pixel.LoadMacroblock(j, i);
                block.CodeMacroblock();
                block.ReconstructMacroblock();
                pixel.StoreMacroblock(j, i);
            }
        }
    }
    return FinishFrame(n, kFrameKindI, kNoReference, kNoReference, setup, nullptr);
}

bool CRVXGroupCoder::DiffOverflow() const {
    const int16_t* values = codecs_.block->CurrentBlocks();
    const std::size_t count = std::size_t(codecs_.block->BlocksPerMacroblock()) * 64;
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

    IRVXPixelBlock& pixel = *codecs_.pixel;
    IRVXConvBlock& block = *codecs_.block;
    IRVXMovingBlock& moving = *codecs_.moving;
    moving.SetReference(earlier_picture);
    moving.SetCurrent(pixel.Buffer());
    std::fill(motion_.begin(), motion_.end(), RVXMotionEntry());
    const bool diff2d = (settings_.format & kTransformMask) == kTransformDiff2D;
    const uint64_t threshold = settings_.threshold;

    for (uint32_t i = 0; i < setup.rows; ++i) {
        block.ResetPredictors();
        for (uint32_t j = 0; j < setup.columns; ++j) {
            const int32_t x = int32_t(16 * j), y = int32_t(16 * i);
            RVXMotionEntry& entry = motion_[std::size_t(i) * setup.columns + j];
            block.SetQuantiser(setup.quality);
            pixel.LoadMacroblock(j, i);
            {
                StageTimer timer(measure_, times_.motion);
                RVXSearchRecord back;
                back.x = x;
                back.y = y;
                back.range = range_back;
                std::copy(settings_.weights, settings_.weights + 4, back.weights);
                if (bidirectional) moving.SetReference(earlier_picture);
                const bool searched = moving.SearchMotion(back);
                const uint64_t activity = WeightedShifted(back.activity, settings_.weights);
                const uint64_t cost_back = WeightedShifted(back.cost, settings_.weights);
                if (!bidirectional) {
                    if (searched && activity >= threshold && activity >= cost_back)
                        entry = {1, 1, int8_t(back.dx), int8_t(back.dy)};
                } else {
                    RVXSearchRecord forward = back;
                    forward.range = range_forward;
                    moving.SetReference(later_picture);
                    const bool searched_forward = moving.SearchMotion(forward);
                    const uint64_t cost_forward = WeightedShifted(forward.cost, settings_.weights);
                    if (searched && searched_forward && activity >= threshold) {
                        if (cost_forward < cost_back) {
                            if (activity >= cost_forward)
                                entry = {1, 0, int8_t(forward.dx), int8_t(forward.dy)};
                        } else if (activity >= cost_back) {
                            entry = {1, 1, int8_t(back.dx), int8_t(back.dy)};
                        }
                    }
                    if (entry.use && entry.direction) moving.SetReference(earlier_picture);
                }
                if (entry.use) moving.SubtractPrediction(x, y, entry.dx, entry.dy);
            }
            {
                StageTimer timer(measure_, times_.transform);
                block.CodeMacroblock();
                if (diff2d && entry.use && DiffOverflow()) {
                    pixel.LoadMacroblock(j, i);
                    block.CodeMacroblock();
                    entry.use = 0;
                }
                block.ReconstructMacroblock();
            }
            if (entry.use) {
                StageTimer timer(measure_, times_.motion);
                moving.AddPrediction(x, y, entry.dx, entry.dy);
            }
            pixel.StoreMacroblock(j, i);
        }
    }
    if (bidirectional)
        return FinishFrame(n, kFrameKindB, uint16_t(earlier), uint16_t(later), setup,
                           motion_.data());
    return FinishFrame(n, kFrameKindP, uint16_t(earlier), kNoReference, setup, motion_.data());
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
