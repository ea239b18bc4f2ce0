#include "rvxlib/ratecontrol/rate_plan.h"

#include <algorithm>
#include <cmath>

#include "rvxlib/format/coding_defaults.h"
#include "rvxlib/format/frame_record.h"

namespace _rvxlib_ {

// The groups in flight, the arriving one, and the previous group whose P and
// B frames wait behind the arriving I frame: only groups further back are
// surely coded, at every thread count. A plan that settled by nearer groups
// would make the file depend on the threads.

namespace {

// Bits of a code-length table in which only end-of-block is used: one bit for
// each of the 191 unused symbols, one bit and a 4-bit length for it.
constexpr uint64_t kEmptyTableBits = 191 + 5;
constexpr uint64_t kQuantiserBits = 6;

// A level below 2 or above 32 scales the end qualities, so that the search
// can reach quality 2 (or 32) in every frame however the weights bend them.
constexpr double kLowestLevel = 0.5;
constexpr double kHighestLevel = 512.0;
constexpr int kSolveSteps = 40;

// How far one group's earlier frames may move its later ones: a group that
// runs over keeps its pictures watchable rather than meeting its share at
// any price; later groups take up the rest.
constexpr double kLeastGroupFactor = 0.4;
constexpr double kMostGroupFactor = 2.5;
// Model bytes that stand for "as predicted" in the ratio a group learns from
// its own frames, as a share of its target: one frame alone does not swing it.
constexpr double kGroupPriorShare = 0.25;
// The groups at the end of the movie that settle (SettleBeforeGroup).
constexpr uint32_t kLastGroupsThatSettle = 3;
// How many groups before a settling group show how far the model is off:
// the nearest say most of the frames to come.
constexpr uint32_t kBiasGroups = 2;
// Model bytes that stand for the whole's bias in each class's, as a share of
// all the settled model bytes: one I frame alone does not swing the I frames'.
constexpr double kKindPriorShare = 0.05;
// The bias the settled groups show is believed within these bounds.
constexpr double kLeastBias = 0.25;
constexpr double kMostBias = 4.0;
constexpr double kComplexityQuality = 8.0;
// How much more slowly payloads fall with the quality past 32 than below
// (measured on camera footage: about half as fast).
constexpr double kSteeredFall = 0.5;
// The taper of references: whole between kTaperFull and kTaperFade, none
// below kTaperStart or above kTaperEnd (measured on camera footage: it
// gains most at middle qualities; at fine ones and past 32 it made sizes
// miss by up to 1.1 %). Fades this gradual keep a frame's quality rising
// with the level for tapers up to 0.4.
constexpr double kTaperStart = 6.0;
constexpr double kTaperFull = 18.0;
constexpr double kTaperFade = 19.0;
constexpr double kTaperEnd = 32.0;
// Measured: 1280x720 and 1920x1080 clips of three and two groups missed
// their sizes by up to 1.5 % more with the taper.
constexpr uint32_t kLeastTaperGroups = 4;
// Exponents beyond these are noise, not a movie.
constexpr double kLeastAlpha = 0.4;
constexpr double kMostAlpha = 2.0;



}  // namespace

uint64_t SmallestFrameBytes(uint32_t macroblocks, uint32_t blocks_per_macroblock, bool inter) {
    const uint64_t per_macroblock = kQuantiserBits + (inter ? 1 : 0) + blocks_per_macroblock;
    return (kEmptyTableBits + uint64_t(macroblocks) * per_macroblock + 7) / 8;
}

CRVXRatePlan::CRVXRatePlan(std::vector<RVXPassFrame> frames, const RVXRatePlanSettings& settings)
    : settings_(settings) {
    frames_.resize(frames.size());
    uint32_t group_count = 0;
    for (size_t n = 0; n < frames.size(); ++n) {
        frames_[n].pass = frames[n];
        group_count = std::max(group_count, frames[n].group + 1);
    }
    groups_.resize(group_count);
    // Coding order inside each group, from the positions the first pass saw.
    for (uint32_t n = 0; n < frames_.size(); ++n) groups_[frames_[n].pass.group].frames.push_back(n);
    for (Group& group : groups_)
        std::stable_sort(group.frames.begin(), group.frames.end(), [this](uint32_t a, uint32_t b) {
            return frames_[a].pass.coding_position < frames_[b].pass.coding_position;
        });
    FitAlphas();
    ComputeWeights();
    TaperReferences();
    ClassifyForBias();
}

void CRVXRatePlan::ClassifyForBias() {
    // The first pass codes each kind at two qualities; those up to the
    // middle of the ones a kind saw count as its finer.
    uint16_t lowest[3] = {0xFFFF, 0xFFFF, 0xFFFF}, highest[3] = {0, 0, 0};
    for (const Frame& f : frames_) {
        const uint32_t k = FrameKindIndex(f.pass.kind);
        lowest[k] = std::min(lowest[k], f.pass.quantiser);
        highest[k] = std::max(highest[k], f.pass.quantiser);
    }
    for (Frame& f : frames_) {
        const uint32_t k = FrameKindIndex(f.pass.kind);
        f.bias_class = k + (2 * f.pass.quantiser > lowest[k] + highest[k] ? 3 : 0);
    }
}

void CRVXRatePlan::FitAlphas() {
    // What each group's frames of a kind cost above their smallest payload,
    // and the one quality they were coded at (0 when they differ).
    struct KindInGroup {
        double above = 0.0;
        uint32_t count = 0;
        uint16_t quality = 0;
        bool mixed = false;
    };
    std::vector<std::array<KindInGroup, 3>> sums(groups_.size());
    for (const Frame& f : frames_) {
        KindInGroup& s = sums[f.pass.group][FrameKindIndex(f.pass.kind)];
        s.above += std::max(0.0, double(f.pass.bytes) - Smallest(f));
        if (s.count++ > 0 && s.quality != f.pass.quantiser) s.mixed = true;
        s.quality = f.pass.quantiser;
    }
    // Each pair of neighbouring groups at different qualities gives one
    // estimate; the median keeps a scene cut between two from swaying it.
    for (uint32_t k = 0; k < 3; ++k) {
        std::vector<double> list;
        for (size_t g = 1; g < sums.size(); ++g) {
            const KindInGroup& a = sums[g - 1][k];
            const KindInGroup& b = sums[g][k];
            if (!a.count || !b.count || a.mixed || b.mixed || a.quality == b.quality || a.above <= 0 || b.above <= 0)
                continue;
            list.push_back(std::log((a.above / a.count) / (b.above / b.count)) /
                           std::log(double(b.quality) / double(a.quality)));
        }
        alpha_[k] = settings_.alpha;
        if (list.size() < kLeastAlphaPairs) continue;
        std::nth_element(list.begin(), list.begin() + list.size() / 2, list.end());
        alpha_[k] = std::clamp(list[list.size() / 2], kLeastAlpha, kMostAlpha);
    }
}

double CRVXRatePlan::Alpha(RVXFrameKind kind) const { return alpha_[FrameKindIndex(kind)]; }

void CRVXRatePlan::ComputeWeights() {
    // Complexity is what a frame cost above its smallest payload, smoothed
    // over the neighbours of its kind so that qualities do not flicker.
    std::vector<uint32_t> by_kind[3];
    for (uint32_t n = 0; n < frames_.size(); ++n) by_kind[FrameKindIndex(frames_[n].pass.kind)].push_back(n);
    const double exponent = 1.0 - settings_.compression;
    for (const std::vector<uint32_t>& list : by_kind) {
        if (list.empty()) continue;
        std::vector<double> smooth(list.size());
        double log_sum = 0.0;
        for (size_t k = 0; k < list.size(); ++k) {
            double sum = 0.0, weights = 0.0;
            for (int d = -2; d <= 2; ++d) {
                const int64_t j = int64_t(k) + d;
                if (j < 0 || j >= int64_t(list.size())) continue;
                const double w = d == 0 ? 1.0 : std::abs(d) == 1 ? 0.5 : 0.25;
                const Frame& f = frames_[list[size_t(j)]];
                // At one quality for all, since the first pass used two.
                sum += w * std::max(1.0, Bytes(f, kComplexityQuality) - Smallest(f));
                weights += w;
            }
            smooth[k] = sum / weights;
            log_sum += std::log(smooth[k]);
        }
        const double mean = log_sum / double(list.size());
        for (size_t k = 0; k < list.size(); ++k)
            frames_[list[k]].weight = std::exp(exponent * (std::log(smooth[k]) - mean));
    }
}

void CRVXRatePlan::TaperReferences() {
    // Every frame after a P frame in its group is predicted from it, directly
    // or through the P frames after it: what the first one keeps lives on
    // in all of them, what the last keeps only in its own B frames. The
    // qualities along the chain are tilted, the middle one unchanged.
    // A movie of few groups has too few after the first, which is planned
    // blind, to make up for a tilt the model misjudged.
    if (groups_.size() < kLeastTaperGroups) return;
    for (const Group& group : groups_) {
        std::vector<uint32_t> chain;
        for (uint32_t n : group.frames)
            if (frames_[n].pass.kind == kFrameKindP) chain.push_back(n);
        if (chain.size() < 2) continue;
        const double middle = double(chain.size() - 1) / 2.0;
        for (size_t k = 0; k < chain.size(); ++k)
            frames_[chain[k]].taper = 1.0 + settings_.reference_taper * (double(k) - middle) / middle;
    }
}

double CRVXRatePlan::KindQuality(double level, RVXFrameKind kind) const {
    const auto& levels = settings_.quantisers_at_level;
    if (level <= 2.0) return levels[0].Of(kind) * level / 2.0;
    if (level >= 32.0) return levels[30].Of(kind) * level / 32.0;
    const double below = std::floor(level);
    const double t = level - below;
    const size_t at = size_t(below) - 2;
    const double low = levels[at].Of(kind);
    const double high = at + 1 < levels.size() ? levels[at + 1].Of(kind) : low;
    return low + (high - low) * t;
}

double CRVXRatePlan::QualityAt(const Frame& frame, double level) const {
    const double quality = KindQuality(level, frame.pass.kind) * frame.weight;
    // The taper fades out towards the finest steps, where the first pass
    // shows least of what a finer reference costs, and towards the
    // coarsest, where payloads hardly follow the quality.
    const double fade = std::clamp((quality - kTaperStart) / (kTaperFull - kTaperStart), 0.0, 1.0) *
                        std::clamp((kTaperEnd - quality) / (kTaperEnd - kTaperFade), 0.0, 1.0);
    return std::clamp(quality * (1.0 + (frame.taper - 1.0) * fade), double(kMinQuality), Coarsest());
}

double CRVXRatePlan::Smallest(const Frame& frame) const {
    return double(SmallestFrameBytes(settings_.macroblocks, settings_.blocks_per_macroblock,
                                     frame.pass.kind != kFrameKindI));
}

double CRVXRatePlan::Bytes(const Frame& frame, double quality) const {
    const double smallest = Smallest(frame);
    const double above = std::max(0.0, double(frame.pass.bytes) - smallest);
    const double q0 = std::max<double>(frame.pass.quantiser, kMinQuality);
    const double alpha = Alpha(frame.pass.kind);
    if (quality <= kMaxQuality || q0 > kMaxQuality) return smallest + above * std::pow(q0 / quality, alpha);
    // Past 32 the step stays and only the weight of bits grows: what the
    // coefficients cost falls more slowly, and the vectors hardly at all.
    const double at_coarsest = above * std::pow(q0 / kMaxQuality, alpha);
    return smallest + at_coarsest * std::pow(kMaxQuality / quality, alpha * kSteeredFall);
}

uint64_t CRVXRatePlan::PredictedAtQuality(uint16_t quality) const {
    double sum = 0.0;
    for (const Frame& f : frames_) sum += Bytes(f, ClampQuality(quality));
    return uint64_t(std::llround(sum));
}

uint64_t CRVXRatePlan::SmallestBytes() const {
    uint64_t sum = 0;
    for (const Frame& f : frames_) sum += uint64_t(Smallest(f));
    return sum;
}

uint64_t CRVXRatePlan::SmallestPlannedBytes() const {
    return uint64_t(std::llround(BytesFrom(0, kHighestLevel, Unbiased())));
}

double CRVXRatePlan::Expected(const Frame& frame, double quality, const Biases& bias) const {
    return bias[frame.bias_class] * Bytes(frame, quality);
}

CRVXRatePlan::Biases CRVXRatePlan::BiasesOf(const Biases& actual, const Biases& model) {
    double all_actual = 0.0, all_model = 0.0;
    for (uint32_t k = 0; k < kBiasClasses; ++k) {
        all_actual += actual[k];
        all_model += model[k];
    }
    const double whole = all_model > 0.0 ? all_actual / all_model : 1.0;
    const double prior = kKindPriorShare * all_model;
    Biases bias;
    for (uint32_t k = 0; k < kBiasClasses; ++k) {
        const double ratio = model[k] + prior > 0.0 ? (actual[k] + prior * whole) / (model[k] + prior) : whole;
        bias[k] = std::clamp(ratio, kLeastBias, kMostBias);
    }
    return bias;
}

double CRVXRatePlan::BytesFrom(uint32_t group, double level, const Biases& bias, bool with_intra) const {
    double sum = 0.0;
    for (uint32_t g = group; g < groups_.size(); ++g)
        for (uint32_t n : groups_[g].frames)
            if (g > group || with_intra || frames_[n].pass.kind != kFrameKindI)
                sum += Expected(frames_[n], QualityAt(frames_[n], level), bias);
    return sum;
}

double CRVXRatePlan::SolveLevel(uint32_t group, double budget, const Biases& bias, bool with_intra) const {
    // Bytes fall as the level rises: bisection on the level's logarithm.
    double low = std::log(kLowestLevel), high = std::log(kHighestLevel);
    if (BytesFrom(group, std::exp(low), bias, with_intra) <= budget) return std::exp(low);
    if (BytesFrom(group, std::exp(high), bias, with_intra) >= budget) return std::exp(high);
    for (int step = 0; step < kSolveSteps; ++step) {
        const double mid = 0.5 * (low + high);
        if (BytesFrom(group, std::exp(mid), bias, with_intra) > budget)
            low = mid;
        else
            high = mid;
    }
    return std::exp(high);
}

void CRVXRatePlan::Plan(uint64_t budget) {
    std::lock_guard<std::mutex> hold(mutex_);
    budget_ = double(budget);
    level_ = SolveLevel(0, budget_, Unbiased());
}

void CRVXRatePlan::SolveGroup(uint32_t g) {
    // The groups that are surely coded by now tell how far the model is off:
    // those kSettledGroups back, and the first once the second waited for it.
    uint32_t settled = g >= kSettledGroups ? g - kSettledGroups + 1 : 0;
    if (g >= 1 && groups_.size() > 1 && groups_[1].settle) settled = std::max(settled, 1u);
    for (; settled_upto_ < settled; ++settled_upto_) {
        for (uint32_t n : groups_[settled_upto_].frames) {
            const Frame& f = frames_[n];
            const double model = Bytes(f, f.assigned ? f.assigned : f.planned);
            if (!f.has_coded) missed_settled_ = true;
            settled_actual_[f.bias_class] += f.has_coded ? double(f.coded) : model;
            settled_model_[f.bias_class] += model;
        }
    }
    Group& group = groups_[g];
    const Biases bias = BiasesOf(settled_actual_, settled_model_);
    // Each group in flight steers its own frames onto its share, so that
    // share is what it is expected to cost.
    double in_flight = 0.0;
    for (uint32_t k = settled; k < g; ++k) in_flight += groups_[k].target;
    double spent = 0.0;
    for (double bytes : settled_actual_) spent += bytes;
    const double left = std::max(g == 0 ? budget_ : budget_ - spent - in_flight, 0.0);
    group.bias = bias;
    group.level = g == 0 ? level_ : SolveLevel(g, left, bias);
    double model = 0.0;
    for (uint32_t n : group.frames) {
        Frame& f = frames_[n];
        f.planned = QualityAt(f, group.level);
        model += Expected(f, f.planned, bias);
    }
    // Where no level meets the budget (all at quality 2 or 32 by the model),
    // the group still aims at its share of what is left: the model may be
    // wrong at the ends, and the frames then move as far as they can.
    const double rest = BytesFrom(g, group.level, bias);
    group.target = rest > 0.0 ? model * left / rest : model;
    group.over = Over(g, group.level);
}

bool CRVXRatePlan::Over(uint32_t g, double level) const {
    // Where even the coarsest qualities overspend by the model, a group that
    // spends less than it expected keeps its frames coarse rather than
    // spending its share: the model may be off unlike in the groups after
    // it, which could then no longer go coarser. The last group takes
    // whatever is left.
    return level >= kHighestLevel * 0.999 && g + 1 < groups_.size();
}

uint16_t CRVXRatePlan::Assign(uint32_t n) {
    Frame& frame = frames_[n];
    if (frame.assigned) return frame.assigned;
    const uint32_t g = frame.pass.group;
    while (solved_groups_ <= g) SolveGroup(solved_groups_++);
    Group& group = groups_[g];
    const uint32_t kind = FrameKindIndex(frame.pass.kind);
    if (kind == 0) {
        if (group.settle) SettleIntra(g);
        // I frames carry their rounding from group to group, in order. How
        // far earlier frames ran from the model is already in the group's
        // biases: moving the I frame again for its own kind's error would
        // count it twice, and I frames coarser than the preset's balance
        // cost more in the frames predicted from them than they save.
        for (uint32_t k = 0; k < g; ++k)
            if (!groups_[k].frames.empty()) Assign(groups_[k].frames.front());
        const double wanted = frame.planned + carry_i_error_;
        frame.assigned = uint16_t(std::lround(std::clamp(wanted, 2.0, Coarsest())));
        carry_i_error_ = wanted - frame.assigned;
        return frame.assigned;
    }
    if (group.settle && !group.resettled) Resettle(g);
    // Only this group's own thread reads what settling found, so the I
    // frames and the later groups, solved on other threads, never see it.
    const Biases& bias = group.resettled ? group.settle_bias : group.bias;
    const double target = group.resettled ? group.settle_target : group.target;
    // The frames of the group coded before this one, on this same thread.
    double spent = 0.0, spent_model = 0.0, rest_model = 0.0;
    bool before = true;
    for (uint32_t m : group.frames) {
        if (m == n) before = false;
        const Frame& f = frames_[m];
        if (before) {
            if (!f.assigned) Assign(m);
            spent += f.has_coded ? double(f.coded) : Expected(f, f.assigned, bias);
            spent_model += Expected(f, f.assigned, bias);
        } else {
            rest_model += Expected(f, f.planned, bias);
        }
    }
    const double prior = kGroupPriorShare * target;
    const double ratio = (spent + prior) / (spent_model + prior);
    double factor = 1.0;
    if (rest_model > 0.0) factor = (target - spent) / (ratio * rest_model);
    factor = std::clamp(factor, kLeastGroupFactor, (group.resettled ? group.settle_over : group.over) ? 1.0 : kMostGroupFactor);
    // Past 32 payloads follow the quality more slowly (Bytes), so the same
    // factor takes a larger step there.
    const double slope = Alpha(frame.pass.kind) * (frame.planned > kMaxQuality ? kSteeredFall : 1.0);
    const double wanted = frame.planned * std::pow(factor, -1.0 / slope) + group.carry[kind];
    const double clamped = std::clamp(wanted, 2.0, Coarsest());
    frame.assigned = uint16_t(std::lround(clamped));
    group.carry[kind] = clamped - frame.assigned;
    // What the group's frames so far say this one will cost. A group that
    // keeps coarse where nothing can be spared counts on no exact size.
    if (!(group.resettled ? group.settle_over : group.over)) frame.goal = ratio * Expected(frame, frame.assigned, bias);
    return frame.assigned;
}

double CRVXRatePlan::SettledBytes(uint32_t first, uint32_t g, Biases* bias) {
    double actual = 0.0;
    Biases recent_actual{}, recent_model{};
    for (uint32_t n = 0; n < first; ++n) {
        const Frame& f = frames_[n];
        if (!f.has_coded) missed_settled_ = true;
        const double model = Bytes(f, f.assigned ? f.assigned : f.planned);
        const uint32_t k = f.bias_class;
        const double bytes = f.has_coded ? double(f.coded) : groups_[f.pass.group].bias[k] * model;
        actual += bytes;
        if (f.pass.group + kBiasGroups >= g) {
            recent_actual[k] += bytes;
            recent_model[k] += model;
        }
    }
    *bias = BiasesOf(recent_actual, recent_model);
    return actual;
}

void CRVXRatePlan::SettleIntra(uint32_t g) {
    // The coder waited for every frame shown before this group's I frame.
    // Only frames that are coded, and this group's own fields, are read or
    // written: other threads code nothing now.
    Frame& intra = frames_[groups_[g].frames.front()];
    Biases bias;
    const double left = std::max(budget_ - SettledBytes(groups_[g].frames.front(), g, &bias), 0.0);
    const double level = SolveLevel(g, left, bias);
    intra.planned = QualityAt(intra, level);
    groups_[g].over = Over(g, level);
}

void CRVXRatePlan::Resettle(uint32_t g) {
    Group& group = groups_[g];
    group.resettled = true;
    // Every frame before this group and its I frame are coded; the next
    // group's I frame waits for this group's frames.
    const uint32_t first = group.frames.front();
    Biases bias;
    double spent = SettledBytes(first, g, &bias);
    const Frame& intra = frames_[first];
    if (!intra.has_coded) missed_settled_ = true;
    const double intra_bytes = intra.has_coded ? double(intra.coded) : Expected(intra, intra.assigned, bias);
    spent += intra_bytes;
    const double left = std::max(budget_ - spent, 0.0);
    const double level = SolveLevel(g, left, bias, false);
    double rest = 0.0;
    for (uint32_t n : group.frames) {
        Frame& f = frames_[n];
        if (f.pass.kind == kFrameKindI) continue;
        f.planned = QualityAt(f, level);
        rest += Expected(f, f.planned, bias);
    }
    // As in SolveGroup: where no level meets what is left, the group still
    // aims at its share of it.
    const double all = BytesFrom(g, level, bias, false);
    group.settle_bias = bias;
    group.settle_target = intra_bytes + (all > 0.0 ? rest * left / all : rest);
    group.settle_over = Over(g, level);
}

void CRVXRatePlan::NoteIFrame(uint32_t frame) {
    if (diverged_) return;
    const uint32_t k = i_frames_matched_;
    if (k < groups_.size() && !groups_[k].frames.empty() && groups_[k].frames.front() == frame)
        ++i_frames_matched_;
    else if (!(k > 0 && groups_[k - 1].frames.front() == frame))
        diverged_ = true;
}

bool CRVXRatePlan::SettleBeforeGroup(uint32_t first) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (diverged_ || first >= frames_.size()) return false;
    const uint32_t g = frames_[first].pass.group;
    if (g == 0 || (g != 1 && g + kLastGroupsThatSettle < groups_.size()) || groups_[g].frames.front() != first)
        return false;
    // The groups so far began where the first pass began them, so every
    // frame before this one is in an earlier group.
    if (i_frames_matched_ != g) return false;
    groups_[g].settle = true;
    return true;
}

RVXFrameTarget CRVXRatePlan::StartFrame(uint32_t frame, RVXFrameKind kind) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (kind == kFrameKindI) NoteIFrame(frame);
    if (frame >= frames_.size()) {
        // A second pass that delivers more pictures than the first: they
        // take the plan's last level.
        return {uint16_t(std::lround(std::clamp(KindQuality(level_, kind), 2.0, Coarsest()))), 0.0};
    }
    const uint16_t quantiser = Assign(frame);
    return {quantiser, frames_[frame].goal};
}

uint16_t CRVXRatePlan::QuantiserGiven(uint32_t frame) const {
    std::lock_guard<std::mutex> hold(mutex_);
    return frame < frames_.size() ? frames_[frame].assigned : 0;
}

bool CRVXRatePlan::AllAssigned(uint16_t quantiser) {
    std::lock_guard<std::mutex> hold(mutex_);
    for (const Frame& f : frames_)
        if (f.assigned && f.assigned != quantiser) return false;
    return true;
}

void CRVXRatePlan::EndFrame(uint32_t frame, uint64_t bytes) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (frame >= frames_.size()) return;
    frames_[frame].coded = bytes;
    frames_[frame].has_coded = true;
}

}  // namespace _rvxlib_
