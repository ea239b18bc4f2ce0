// Where groups of pictures begin (GOP length or a scene change) and which
// frames of a group are I, P or B, in the order they are coded. The frame
// coding itself is in group_coder.cpp.

#include <algorithm>
#include <atomic>
#include <map>
#include <new>
#include <vector>

#include "rvxlib/dsp/color_space.h"
#include "rvxlib/encoder/group_coder.h"
#include "rvxlib/encoder/stage_timer.h"

namespace _rvxlib_ {
bool CRVXGroupCoder::AddFrame(const uint8_t* source) {
    if (!store_ || !source || finished_) return false;
    uint8_t* picture = nullptr;
    int32_t stored = store_->AcquireFrame(&picture);
    // The group in flight holds its pictures until it is coded.
    while (stored == kFrameStoreFull && !in_flight_.empty()) {
        JoinOldest();
        stored = store_->AcquireFrame(&picture);
    }
    if (stored != kFrameStoreOk) {
        failed_ = true;
        // The one failure a caller can do nothing about but give up: it is
        // reported as such rather than as a frame that would not code.
        if (stored == kFrameStoreOutOfMemory) throw std::bad_alloc();
        return false;
    }
    codecs_.color->ConvertPicture(source, picture);
    const uint32_t n = next_frame_;
    if (n == 0) {
        Note(CodeIFrame(main_, 0));
        group_start_ = 0;
    } else if (n >= group_start_ + settings_.gop_length || IsSceneChange(n)) {
        if (settings_.rate_control && settings_.rate_control->SettleBeforeGroup(n)) {
            StartGroup(group_start_, n - group_start_);
            WaitForGroup();
            Note(CodeIFrame(main_, n));
        } else {
            Note(CodeIFrame(main_, n));
            StartGroup(group_start_, n - group_start_);
        }
        group_start_ = n;
    }
    next_frame_ = n + 1;
    return true;
}

bool CRVXGroupCoder::FinishFrames() {
    if (!store_ || next_frame_ == 0) return false;
    // The open group is coded once; coding it again would re-code its frames
    // from their reconstructions and append its records a second time.
    if (finished_) return !failed_;
    finished_ = true;
    // The last group goes beside the ones still in flight; it is joined last.
    StartGroup(group_start_, next_frame_ - group_start_);
    WaitForGroup();
    // A group that failed earlier is missing from the movie as surely as the
    // last one would be.
    return !failed_;
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
    for (Lane& lane : main_.lanes) {
        lane.moving->SetReference(previous);
        lane.pixel->SetSourcePicture(current);
        lane.moving->SetCurrent(lane.pixel->Buffer());
    }
    // One macroblock per item: a thread held up elsewhere then keeps the
    // others waiting for one test at most.
    RunRows(main_, columns * rows, [&](Lane& lane, uint32_t index) {
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

// Each run of B frames before a P frame is as long as the look-ahead finds
// cheapest (up to the settings' count): a P frame farther from its reference
// costs more, and every B frame between costs about what the better of its
// two references leaves, at the coarser B quality. The pictures are all
// still the sources here, so the plan does not depend on coding.
void CRVXGroupCoder::PlanBFrames(Crew& crew, uint32_t first, uint32_t count, std::vector<RVXFrameKind>& plan) {
    // What a B frame's error costs against a P frame's: its quality is
    // coarser and its error is left to no later picture. Measured on camera
    // footage with steady and changing motion.
    constexpr double kBShare = 0.4;
    std::map<std::pair<uint32_t, uint32_t>, double> known;
    auto cost = [&](uint32_t from, uint32_t to) {
        const auto key = std::pair{from, to};
        if (auto it = known.find(key); it != known.end()) return it->second;
        return known[key] = SampledMotionCost(crew, first + from, first + to);
    };
    uint32_t reference = 0;
    while (reference + 1 < count && plan[reference + 1] != kFrameKindI) {
        uint32_t end = reference + 1;  // the run up to the next I frame or the group's end
        while (end < count && plan[end] != kFrameKindI) ++end;
        // The P frame closing the run lies before `end`.
        const uint32_t most = std::min<uint32_t>(settings_.b_count, end - reference - 2);
        uint32_t chosen = 0;
        double cheapest = 0;
        for (uint32_t b = 0; b <= most; ++b) {
            const uint32_t p = reference + b + 1;
            double total = cost(reference, p);
            for (uint32_t k = reference + 1; k < p; ++k) total += kBShare * std::min(cost(reference, k), cost(p, k));
            const double per_frame = total / double(b + 1);
            if (b == 0 || per_frame <= cheapest) {
                cheapest = per_frame;
                chosen = b;
            }
        }
        for (uint32_t k = reference + 1; k <= reference + chosen; ++k) plan[k] = kFrameKindB;
        plan[reference + chosen + 1] = kFrameKindP;
        reference += chosen + 1;
    }
}

bool CRVXGroupCoder::CodeGroup(uint32_t first, uint32_t count) {
    WaitForGroup();
    return CodeAndHandGroup(first, count);
}

bool CRVXGroupCoder::CodeGroup(Crew& crew, uint32_t first, uint32_t count,
                               std::vector<RVXFrameRecord>& records) {
    records.clear();
    if (!store_ || count == 0) return false;
    // A group's P and B frames learn their bit costs from one another only
    // (the I frames, always coded in order on one thread, from each other).
    crew.costs[1] = crew.costs[2] = RVXSymbolCosts();
    for (RVXRowHistory& history : crew.rows_before) history = RVXRowHistory();
    crew.distance_before = 0;
    std::vector<RVXFrameKind> plan(count, kFrameKindP);
    uint32_t run = 0;
    for (uint32_t j = 0; j < count; ++j) {
        RVXFrameKind kind = kFrameUncoded;
        store_->GetFrameKind(first + j, &kind, nullptr, nullptr);
        if (kind == kFrameKindI) {
            plan[j] = kFrameKindI;
        } else if (run < settings_.b_count) {
            plan[j] = kFrameKindB;
            ++run;
        } else {
            plan[j] = kFrameKindP;
            run = 0;
        }
    }
    // A group never ends on a B frame: it would have no later reference.
    if (plan[count - 1] == kFrameKindB) plan[count - 1] = kFrameKindP;
    if (settings_.tuning.looks_ahead_for_b_runs && settings_.b_count > 0) PlanBFrames(crew, first, count, plan);

    uint32_t last_ref = first, next_ref = first;
    for (uint32_t j = 0; j < count;) {
        const uint32_t g = first + j;
        switch (plan[j]) {
        case kFrameKindI:
            records.push_back({kRecordI | j, 0, 0});
            last_ref = next_ref = first;
            store_->ReleaseFrame(g);
            ++j;
            break;
        case kFrameKindP:
            if (g == next_ref) {  // coded on the earlier visit
                last_ref = next_ref;
                ++j;
                break;
            }
            if (!CodeInterFrame(crew, g, last_ref, 0, false)) return false;
            store_->ReleaseFrame(g);
            records.push_back({kRecordP | j | ((g - last_ref) & kRecordBackMask) << kRecordBackShift, 0, 0});
            next_ref = g;
            // The B frames between the two references come next.
            j = last_ref - first + 1;
            break;
        default:  // B: the plan holds only I, P and B
            if (last_ref < g && g < next_ref) {
                if (!CodeInterFrame(crew, g, last_ref, next_ref, true)) return false;
                store_->ReleaseFrame(g);
                records.push_back({kRecordB | j | ((g - last_ref) & kRecordBackMask) << kRecordBackShift |
                                        ((next_ref - g) & kRecordForwardMask) << kRecordForwardShift,
                                    0, 0});
            }
            ++j;
            break;
        }
    }
    return true;
}

}  // namespace _rvxlib_
