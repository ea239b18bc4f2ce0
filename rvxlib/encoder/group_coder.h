#pragma once
// The frame encoder: takes source pictures in display order, decides where
// each group of pictures begins (GOP length or scene change), plans every
// frame as I, P or B, codes the frames in coding order macroblock by
// macroblock, and hands each coded frame's payload and each finished group's
// records to a frame sink. Payloads and records flow one way: the coder keeps
// none of them, and never learns where they end up.
//
// The container writer owns the codec objects and the sink and hands them
// over with Open; the group coder owns the frame store. Groups are closed:
// no frame refers outside its group. A group's I frame is coded as soon as
// it arrives, its other frames when the next group begins or at
// FinishFrames. With more than one thread those other frames are coded on
// group threads while the next group's pictures keep arriving; a few groups
// are in flight at most, groups reach the sink in display order, and every
// frame is coded from the same pictures, so the sink receives the same
// payloads and records as with one thread.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "pqxlib/conv_interface.h"
#include "rvxlib/dsp/block_convert.h"
#include "rvxlib/dsp/pixel_block.h"
#include "rvxlib/encoder/coding_objects.h"
#include "rvxlib/encoder/encoder_presets.h"
#include "rvxlib/encoder/frame_sink.h"
#include "rvxlib/encoder/frame_store.h"
#include "rvxlib/encoder/motion_search.h"
#include "rvxlib/encoder/rate_distortion.h"
#include "rvxlib/encoder/row_path_search.h"
#include "rvxlib/format/codec_plan.h"
#include "rvxlib/format/coding_defaults.h"
#include "rvxlib/format/frame_bitstream.h"
#include "rvxlib/format/frame_record.h"
#include "rvxlib/ratecontrol/rate_control.h"
#include "rvxlib/ratecontrol/row_steering.h"

namespace _rvxlib_ {

// Groups coded at once: each holds a group's pictures until it is joined.
// A two-pass plan counts on this bound to know which groups are surely
// coded (kSettledGroups).
inline constexpr uint32_t kMostGroupsInFlight = 3;
static_assert(kSettledGroups == kMostGroupsInFlight + 2,
              "a rate control counts on the groups the coder has surely coded");

class IRVXColorSpace;
class IRVXDeblockEdgeFilter;
class CRowWorkers;

using RVXLaneFactory = std::function<bool(RVXCodingLane& lane)>;

// What the frames are coded with. Open refuses values outside the ranges of
// coding_defaults.h; the writer brings a user's choices into them.
struct RVXGroupSettings {
    uint32_t format = 0;                          // format word; bits 12..15 give the transform
    uint16_t b_count = kDefaultBFrames;           // B frames between references, 0..7
    uint16_t gop_length = kDefaultGopLength;      // P x (B + 1) + 1
    uint16_t scene_change = kDefaultSceneChange;  // 0..256
    uint16_t quality_i = kDefaultQualityI;        // quantiser scales 2..32
    uint16_t quality_p = kDefaultQualityP;
    uint16_t quality_b = kDefaultQualityB;
    uint32_t weights[4] = {1, 1, 1, 0};  // V, U, Y, A
    uint32_t threshold = 192;            // prediction threshold T
    uint8_t intra_matrix[64] = {};
    uint8_t inter_matrix[64] = {};
    RVXEncoderTuning tuning = TuningFor(RVXPreset::kClassic);
    // Macroblocks of little detail get finer quantisers, busy ones coarser:
    // for the eye, at some cost in PSNR. Only where the tuning adapts quantisers.
    bool adaptive_quantisation = false;
    // Rate control: when set, each frame's quantiser (2..32, or up to
    // kMaxSteeredQuality where SteersPastMaxQuality) and goal instead of the
    // frame type's quantiser; it also learns what every frame cost and may
    // have a group wait for the groups before it. Borrowed: the owner keeps
    // it alive while the coder codes.
    IRVXRateControl* rate_control = nullptr;

    // The frame types' quantisers, taken without rate control.
    RVXFrameQuantisers FixedQuantisers() const { return {quality_i, quality_p, quality_b}; }
};

// The weights the design codes with: V, U and Y alike, and A too when the
// format word codes alpha; the prediction threshold is 64 per unit of weight.
void UseDesignWeights(RVXGroupSettings* settings);

// Time spent in each stage while Measure is on (for the benchmark).
struct RVXCodingTimes {
    std::chrono::nanoseconds motion{0};     // scene tests, searches, predictions
    std::chrono::nanoseconds transform{0};  // code and reconstruct macroblocks
    std::chrono::nanoseconds entropy{0};    // payloads, and handing them to the sink
    std::chrono::nanoseconds deblock{0};
};

class CRVXGroupCoder {
public:
    CRVXGroupCoder();
    ~CRVXGroupCoder();
    CRVXGroupCoder(const CRVXGroupCoder&) = delete;
    CRVXGroupCoder& operator=(const CRVXGroupCoder&) = delete;

    // Takes the codec objects, settings and sink (borrowed until the next
    // Open or the end of the coder), replaces the frame store by a new one
    // for the pixel block's padded size and the GOP length; the next frame
    // number and the group start become 0. False when an object or the sink
    // is missing or the settings are unusable.
    bool Open(const RVXCodecSet& codecs, const RVXGroupSettings& settings, uint32_t features,
              IRVXFrameSink* sink);

    // One source picture, in display order, laid out as the colour converter
    // expects. Coding failures are not reported here: a frame that failed
    // never reaches the sink, nor does its group (HasFailed tells at once).
    // Returns false only when the picture could not be stored at all, or
    // after FinishFrames; throws std::bad_alloc when there was no memory to
    // store it.
    bool AddFrame(const uint8_t* source);
    // Codes the open group and waits for every group in flight; false when
    // no frame was ever added or any frame since Open failed. Later calls
    // code nothing, and AddFrame refuses frames after it until the next Open.
    bool FinishFrames();

    // Lets up to `threads` threads code, asking make for the objects of each
    // lane beyond the first. From two threads on, the arriving pictures
    // (conversion, scene tests, I frames) keep the calling thread, and up
    // to three group threads code the P and B frames of finished groups,
    // each sharing its frames' macroblock rows among its own lanes when
    // there are threads to spare. The files written are the same for every
    // thread count. Call after Open, before the first frame (Open goes back
    // to one thread); returns the lanes in force, fewer when make fails.
    uint32_t SetThreads(uint32_t threads, const RVXLaneFactory& make);

    bool CodeIFrame(uint32_t n);
    bool CodePFrame(uint32_t n, uint32_t reference);
    bool CodeBFrame(uint32_t n, uint32_t earlier, uint32_t later);
    // Codes the frames of a group whose I frame is coded and hands the group
    // to the sink.
    bool CodeGroup(uint32_t first, uint32_t count);
    bool IsSceneChange(uint32_t n);

    CRVXEncodeFrame* FrameStore() { return store_.get(); }
    uint32_t NextFrame() const { return next_frame_; }
    uint32_t GroupStart() const { return group_start_; }
    const RVXGroupSettings& Settings() const { return settings_; }

    // Called after every coded frame with its number, kind and the finished
    // (reconstructed and deblocked) picture, as a decoder will show it.
    using FrameObserver = std::function<void(uint32_t frame, RVXFrameKind kind, const uint8_t* picture)>;
    void SetFrameObserver(FrameObserver observer) { observer_ = std::move(observer); }

    // True once any frame failed to be stored, coded or taken by the sink
    // since Open: the movie misses a group, so the caller may stop early.
    bool HasFailed() const { return failed_; }

    // Waits until every group in flight has been coded.
    void WaitForGroup();

    void Measure(bool on) { measure_ = on; }
    RVXCodingTimes Times() const;

private:
    // What coding one frame needs to know.
    struct FrameSetup {
        uint8_t* picture = nullptr;
        int16_t* coefficients = nullptr;
        uint32_t columns = 0;
        uint32_t rows = 0;
        uint32_t row_blocks = 0;  // coded blocks per macroblock row
        uint16_t quality = 0;
        uint16_t steered = 0;  // what bits weigh at: quality, or past 32 (kMaxSteeredQuality)
        bool levels_by_cost = false;  // the level rule chooses the levels
        bool diff2d = false;
        // Decisions by cost (see group_coder_by_cost.cpp).
        RVXLevelRule rule;
        const RVXSymbolCosts* costs = nullptr;
        float lambda = 0;
        uint32_t kind = 0;          // index into Crew::costs (FrameKindIndex)
        uint16_t spread = 0;        // quantisers tried either side of the frame's
        uint64_t vector_price = 0;  // what a prediction must save, in search cost units
        // Crew::quantisers holds each macroblock's own quantiser to start from.
        bool adaptive = false;
        // Steering rows onto a rate plan's goal (row_steering.cpp): the
        // frame's bytes, 0 without a goal, and whether a frame of its kind
        // coded before in the group shows how its rows share the bytes.
        double goal = 0;
        bool steer_rows = false;
    };
    // One way of coding a macroblock, as a trial found it (decisions by
    // cost): what it costs apart from the DCs that continue the row's
    // chains, and those DCs (coded from predictors of 0, so the values
    // themselves).
    struct Trial {
        RVXMotionEntry entry;
        uint16_t quantiser = 0;
        float cost = 0;
        int16_t chain_dc[4] = {0, 0, 0, 0};
        // The only way for its macroblock, not tried: it costs what it
        // costs, and its DCs are taken as those of a good prediction, 0.
        bool untried = false;
    };
    // The rows of a frame whose rows are steered: each one's estimated bits
    // once it is coded. A row waits for the rows it steers by; a row that
    // failed ends every wait.
    struct RowProgress {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<double> bits;
        std::vector<uint8_t> done;
        uint32_t done_from_top = 0;  // rows 0 .. done_from_top - 1 are all coded
        bool abandoned = false;
    };
    // The objects one thread codes rows with; lane 0 is the codec set's.
    struct Lane {
        Lane() = default;
        Lane(_pqxlib_::IPQXConvInterface* t, IRVXPixelBlock* p, IRVXConvBlock* b, IRVXMovingBlock* m)
            : transform(t), pixel(p), block(b), moving(m) {}
        _pqxlib_::IPQXConvInterface* transform = nullptr;
        IRVXPixelBlock* pixel = nullptr;
        IRVXConvBlock* block = nullptr;
        IRVXMovingBlock* moving = nullptr;
        RVXCodingTimes times;
        // A row's trials and the path through them (decisions by cost).
        std::vector<Trial> trials;
        std::vector<uint32_t> first_trial;
        std::vector<float> trial_costs;
        RowPathScratch path;
        std::vector<uint32_t> chosen;
        FrameSetup row;  // the frame's setup as a steered row codes with it
    };
    // What the motion search found for one macroblock, per reference
    // (0 earlier, 1 later), for the decisions by cost.
    struct Searched {
        bool found[2] = {false, false};
        int8_t dx[2] = {0, 0};
        int8_t dy[2] = {0, 0};
        uint64_t cost[2] = {0, 0};  // weighted squared error of the match
        uint64_t activity = 0;      // weighted variance of the macroblock
    };
    // The lanes one side codes with, the threads that share its rows, and
    // what its frames need apart from the other side's.
    struct Crew {
        std::vector<Lane> lanes;
        std::unique_ptr<CRowWorkers> workers;
        std::vector<RVXMotionEntry> motion;
        std::vector<uint8_t> payload;  // the frame being handed to the sink
        RVXCodingTimes times;          // deblocking and payloads
        // Decisions by cost: each macroblock's quantiser and search results,
        // and the bits of the symbols as the group's last frame of each kind
        // (I, P, B) coded them. A group starts from the generic estimate, so
        // the estimates never depend on which thread coded what before.
        std::vector<uint8_t> quantisers;
        std::vector<Searched> searched;
        // The frame coded before in the group: its searches and how far back
        // its earlier reference lay (0 at a group's start: nothing to go by).
        std::vector<Searched> searched_before;
        uint32_t distance_before = 0;
        std::vector<float> detail;  // adaptive quantisation: log2 of each macroblock's variance
        RVXSymbolCosts costs[3];
        // Steering rows: the estimated bits of each row of the frame coded
        // before of each kind in the group, added up from the top, and its
        // payload; the rows of the frame being coded.
        RVXRowHistory rows_before[3];
        std::unique_ptr<RowProgress> progress;
    };
    // Calls code for every item (a macroblock row, or one macroblock) in
    // [0, count), spread over the crew's lanes.
    void RunRows(Crew& crew, uint32_t count,
                 const std::function<void(Lane& lane, uint32_t item)>& code);
    void CodeIntraRow(const Crew& crew, Lane& lane, const FrameSetup& setup, uint32_t row);
    void SearchMacroblock(Crew& crew, Lane& lane, const FrameSetup& setup, uint32_t index,
                          const uint8_t* earlier, const uint8_t* later, int32_t range_back,
                          int32_t range_forward, uint32_t distance_back, uint32_t distance_forward);
    void CodeInterRow(Crew& crew, Lane& lane, const FrameSetup& setup, uint32_t row,
                      const uint8_t* earlier, const uint8_t* later);
    void PrepareLane(Lane& lane, const FrameSetup& setup, bool intra) const;
    // Decisions by cost (every preset but classic), in group_coder_by_cost.cpp.
    void PrepareCostRule(Crew& crew, FrameSetup& setup, bool intra, RVXFrameKind kind) const;
    void CodeRowByCost(Crew& crew, Lane& lane, const FrameSetup& setup, uint32_t row,
                       const uint8_t* earlier, const uint8_t* later);
    // The steps of CodeRowByCost: every way worth trying along the row (the
    // DC chains the trials continue come back), one tried way, the row coded
    // as chosen.
    uint32_t TryRow(Crew& crew, Lane& lane, const FrameSetup& setup, uint32_t row, const uint8_t* earlier,
                    const uint8_t* later, const IRVXConvBlock::State& row_start);
    void AddTrial(Lane& lane, const FrameSetup& setup, uint32_t column, uint32_t row, const RVXMotionEntry& entry,
                  uint16_t quantiser, const uint8_t* earlier, const uint8_t* later,
                  const IRVXConvBlock::State& row_start, uint32_t& chains);
    void CodeRowAsChosen(Crew& crew, Lane& lane, const FrameSetup& setup, uint32_t row, const uint8_t* earlier,
                         const uint8_t* later, const IRVXConvBlock::State& row_start);
    float TryMacroblock(Lane& lane, const FrameSetup& setup, uint32_t column, uint32_t row,
                        const RVXMotionEntry& entry, uint16_t quantiser, const uint8_t* earlier,
                        const uint8_t* later);
    void LearnCosts(Crew& crew, const FrameSetup& setup) const;
    // A kind's place in Crew::costs and Crew::rows_before.
    // Steering rows onto a rate plan's goal, in row_steering.cpp.
    void BeginRowSteering(Crew& crew, RVXFrameKind kind, double goal, FrameSetup& setup) const;
    // The setup row `row` codes with: the frame's, its quality moved by what
    // the rows above cost against the goal. Waits for those rows.
    const FrameSetup& SteerRow(Crew& crew, Lane& lane, const FrameSetup& setup, uint32_t row) const;
    double RowBits(const Crew& crew, const FrameSetup& setup, uint32_t row) const;
    void RowCoded(Crew& crew, const FrameSetup& setup, uint32_t row) const;
    void AbandonRows(Crew& crew) const;
    void KeepRowHistory(Crew& crew, const FrameSetup& setup) const;
    // Adaptive quantisation: a quantiser per macroblock from its detail.
    void PlanQuantisers(Crew& crew, const FrameSetup& setup);
    uint16_t StartQuantiser(const Crew& crew, const FrameSetup& setup, std::size_t index) const {
        return setup.adaptive ? crew.quantisers[index] : setup.quality;
    }
    float ChainCost(const FrameSetup& setup, const Trial& trial, const Trial* before, uint32_t chains) const;
    uint32_t Candidates(const Crew& crew, const FrameSetup& setup, std::size_t index, bool inter,
                        bool bidirectional, RVXMotionEntry* out) const;
    bool SetUpFrame(Crew& crew, uint32_t n, bool intra, FrameSetup& setup);
    // Sets the frame up with its quantiser and, deciding by cost, its level
    // rule.
    bool BeginFrame(Crew& crew, uint32_t n, RVXFrameKind kind, FrameSetup& setup);
    bool FinishFrame(Crew& crew, uint32_t n, RVXFrameKind kind, uint16_t back_reference, uint16_t forward_reference,
                     FrameSetup& setup, const RVXMotionEntry* motion);
    bool CodeIFrame(Crew& crew, uint32_t n);
    bool CodeInterFrame(Crew& crew, uint32_t n, uint32_t earlier, uint32_t later,
                        bool bidirectional);
    // Look-ahead for the presets that decide by cost: the length of each
    // run of B frames in a group.
    void PlanBFrames(Crew& crew, uint32_t first, uint32_t count, std::vector<RVXFrameKind>& plan);
    double SampledMotionCost(Crew& crew, uint32_t from, uint32_t to);
    // Codes the P and B frames of a group and puts its records in coding
    // order into records.
    bool CodeGroup(Crew& crew, uint32_t first, uint32_t count, std::vector<RVXFrameRecord>& records);
    // Codes a group on the calling thread and hands it to the sink.
    bool CodeAndHandGroup(uint32_t first, uint32_t count);
    // One group coded on a thread of its own, with its records until it is
    // joined.
    struct GroupJob {
        Crew crew;
        std::thread thread;
        uint32_t first = 0;
        bool ok = true;
        std::exception_ptr failure;
        std::vector<RVXFrameRecord> records;
    };
    // Codes a finished group's P and B frames: on a free group thread when
    // there are any (joining the oldest when all are busy), else at once.
    void StartGroup(uint32_t first, uint32_t count);
    // Joins the oldest group in flight and hands it to the sink when it was
    // coded; returns whether it was.
    bool JoinOldest();
    void AddTimes(Crew& crew);
    static bool DiffOverflow(const IRVXConvBlock& block);
    void Note(bool ok) { failed_ = failed_ || !ok; }
    // The quantiser and goal of display frame n: the rate control's, or
    // the frame type's quantiser without one.
    RVXFrameTarget FrameTarget(uint32_t n, RVXFrameKind kind) const;

    RVXCodecSet codecs_;
    RVXGroupSettings settings_;
    IRVXFrameSink* sink_ = nullptr;
    std::unique_ptr<CRVXEncodeFrame> store_;
    std::vector<RVXFrameRecord> records_;  // the group coded on the calling thread
    uint32_t next_frame_ = 0;
    uint32_t group_start_ = 0;
    uint32_t features_ = 0;
    FrameObserver observer_;
    bool failed_ = false;
    bool finished_ = false;
    bool by_cost_ = false;  // decisions by rate-distortion cost
    // A rate plan may steer past quality 32 (every preset but classic, with
    // a transform that tells its unrounded values).
    bool steerable_ = false;
    // Each source is moved towards the picture the deblocking filter turns
    // into it just before it is coded, as far as its quality calls for.
    bool undo_filter_ = false;
    bool measure_ = false;
    RVXCodingTimes times_;
    std::vector<RVXCodingLane> extra_lanes_;
    Crew main_;  // the arriving pictures
    std::vector<std::unique_ptr<GroupJob>> jobs_;  // none with one thread
    std::deque<GroupJob*> in_flight_;              // oldest first
    std::mutex observer_mutex_;
};

}  // namespace _rvxlib_
