#pragma once
// The frame encoder: takes source pictures in display order, decides where
// each group of pictures begins (GOP length or scene change), plans every
// frame as I, P or B, codes the frames in coding order macroblock by
// macroblock, writes each coded frame to its payload file and keeps the
// frame records and group entries that the container is assembled from.
//
// The container writer owns the codec objects and hands them over with
// Open; the group coder owns the frame store and the two lists. Groups are
// closed: no frame refers outside its group. A group's I frame is coded as
// soon as it arrives, its other frames when the next group begins or at
// FinishFrames. With more than one thread those other frames are coded on
// group threads while the next group's pictures keep arriving; a few groups
// are in flight at most, each group's records are appended in group order,
// and every frame is coded from the same pictures, so the records and
// payload files are the same as with one thread.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pqxlib/conv_interface.h"
#include "rvxlib/block_convert.h"
#include "rvxlib/codec_plan.h"
#include "rvxlib/frame_bitstream.h"
#include "rvxlib/frame_record.h"
#include "rvxlib/frame_store.h"
#include "rvxlib/motion_search.h"
#include "rvxlib/pixel_block.h"

namespace _rvxlib_ {

class IRVXColorSpace;
class IRVXDeblockEdgeFilter;
class CRowWorkers;

using RVXLaneFactory = std::function<bool(RVXCodingLane& lane)>;

struct RVXGroupSettings {
    uint32_t format = 0;         // format word; bits 12..15 give the transform
    uint16_t b_count = 2;        // B frames between references
    uint16_t gop_length = 16;    // P x (B + 1) + 1
    uint16_t scene_change = 192; // 0..256
    uint16_t quality_i = 4;      // quantiser scales 2..32
    uint16_t quality_p = 6;
    uint16_t quality_b = 8;
    uint32_t weights[4] = {1, 1, 1, 0};  // V, U, Y, A
    uint32_t threshold = 192;            // prediction threshold T
    uint8_t intra_matrix[64] = {};
    uint8_t inter_matrix[64] = {};
    std::string frame_prefix;  // payload file n is frame_prefix + "%06d.hjx"
};

// Time spent in each stage while Measure is on (for the benchmark).
struct RVXCodingTimes {
    std::chrono::nanoseconds motion{0};     // scene tests, searches, predictions
    std::chrono::nanoseconds transform{0};  // code and reconstruct macroblocks
    std::chrono::nanoseconds entropy{0};    // payload files
    std::chrono::nanoseconds deblock{0};
};

class CRVXGroupCoder {
public:
    CRVXGroupCoder();
    ~CRVXGroupCoder();
    CRVXGroupCoder(const CRVXGroupCoder&) = delete;
    CRVXGroupCoder& operator=(const CRVXGroupCoder&) = delete;

    // Takes the codec objects and settings, replaces the frame store by a new
    // one for the pixel block's padded size and the GOP length, and empties
    // the lists; the next frame number and the group start become 0.
    // False when an object is missing or the settings are unusable.
    bool Open(const RVXCodecSet& codecs, const RVXGroupSettings& settings, uint32_t features);

    // One source picture, in display order, laid out as the colour converter
    // expects. Coding failures are not reported here: a frame that failed has
    // no payload file, which the container then finds missing (HasFailed
    // tells at once). Returns false only when the picture could not be
    // stored at all, or after FinishFrames; throws std::bad_alloc when there
    // was no memory to store it.
    bool AddFrame(const uint8_t* source);
    // Codes the open group; false when no frame was ever added or coding
    // failed. Later calls do nothing, and AddFrame refuses frames after it
    // until the next Open.
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
    bool CodeGroup(uint32_t first, uint32_t count);
    bool IsSceneChange(uint32_t n);

    std::string FrameFileName(uint32_t n) const;

    // Records in coding order and groups in index order. The container fills
    // in lengths, CRCs, offsets and group lengths as it assembles the file.
    std::vector<RVXFrameRecord>& Records() { return records_; }
    std::vector<RVXGroupEntry>& Groups() { return groups_; }
    const std::vector<RVXFrameRecord>& Records() const { return records_; }
    const std::vector<RVXGroupEntry>& Groups() const { return groups_; }

    CRVXEncodeFrame* FrameStore() { return store_.get(); }
    uint32_t NextFrame() const { return next_frame_; }
    uint32_t GroupStart() const { return group_start_; }
    const RVXGroupSettings& Settings() const { return settings_; }

    // Called after every coded frame with its number, kind and the finished
    // (reconstructed and deblocked) picture, as a decoder will show it.
    using FrameObserver = std::function<void(uint32_t frame, uint32_t kind, const uint8_t* picture)>;
    void SetFrameObserver(FrameObserver observer) { observer_ = std::move(observer); }

    // True once any frame failed to be stored or coded since Open; the
    // caller may stop early instead of waiting for the missing payload.
    bool HasFailed() const { return failed_; }

    // Waits until every group in flight has been coded.
    void WaitForGroup();

    void Measure(bool on) { measure_ = on; }
    RVXCodingTimes Times() const;

private:
    struct FrameSetup;
    // The objects one thread codes rows with; lane 0 is the codec set's.
    struct Lane {
        _pqxlib_::IPQXConvInterface* transform;
        IRVXPixelBlock* pixel;
        IRVXConvBlock* block;
        IRVXMovingBlock* moving;
        RVXCodingTimes times;
    };
    // The lanes one side codes with, the threads that share its rows, and
    // what its frames need apart from the other side's.
    struct Crew {
        std::vector<Lane> lanes;
        std::unique_ptr<CRowWorkers> workers;
        std::vector<RVXMotionEntry> motion;
        RVXCodingTimes times;  // deblocking and payload files
    };
    // Calls code for every item (a macroblock row, or one macroblock) in
    // [0, count), spread over the crew's lanes.
    void RunRows(Crew& crew, uint32_t count,
                 const std::function<void(Lane& lane, uint32_t item)>& code);
    void CodeIntraRow(Lane& lane, const FrameSetup& setup, uint32_t row);
    void SearchMacroblock(Crew& crew, Lane& lane, const FrameSetup& setup, uint32_t index,
                          const uint8_t* earlier, const uint8_t* later, int32_t range_back,
                          int32_t range_forward);
    void CodeInterRow(Crew& crew, Lane& lane, const FrameSetup& setup, uint32_t row,
                      const uint8_t* earlier, const uint8_t* later);
    void PrepareLane(Lane& lane, const FrameSetup& setup, bool intra) const;
    bool BeginFrame(Crew& crew, uint32_t n, bool intra, FrameSetup& setup);
    bool FinishFrame(Crew& crew, uint32_t n, uint32_t kind, uint16_t value1, uint16_t value2,
                     FrameSetup& setup, const RVXMotionEntry* motion);
    bool CodeIFrame(Crew& crew, uint32_t n);
    bool CodeInterFrame(Crew& crew, uint32_t n, uint32_t earlier, uint32_t later,
                        bool bidirectional);
    bool CodeGroup(Crew& crew, uint32_t first, uint32_t count,
                   std::vector<RVXFrameRecord>& records, std::vector<RVXGroupEntry>& groups);
    // One group coded on a thread of its own, with what it makes until it
    // is joined.
    struct GroupJob {
        Crew crew;
        std::thread thread;
        bool ok = true;
        std::exception_ptr failure;
        std::vector<RVXFrameRecord> records;
        std::vector<RVXGroupEntry> groups;
    };
    // Codes a finished group's P and B frames: on a free group thread when
    // there are any (joining the oldest when all are busy), else at once.
    void StartGroup(uint32_t first, uint32_t count);
    // Joins the oldest group in flight and appends its records and entry;
    // returns whether it was coded.
    bool JoinOldest();
    void AddTimes(Crew& crew);
    static bool DiffOverflow(const IRVXConvBlock& block);
    void Note(bool ok) { failed_ = failed_ || !ok; }

    RVXCodecSet codecs_;
    RVXGroupSettings settings_;
    std::unique_ptr<CRVXEncodeFrame> store_;
    std::vector<RVXFrameRecord> records_;
    std::vector<RVXGroupEntry> groups_;
    uint32_t next_frame_ = 0;
    uint32_t group_start_ = 0;
    uint32_t features_ = 0;
    FrameObserver observer_;
    bool failed_ = false;
    bool finished_ = false;
    bool measure_ = false;
    RVXCodingTimes times_;
    std::vector<RVXCodingLane> extra_lanes_;
    Crew main_;  // the arriving pictures
    std::vector<std::unique_ptr<GroupJob>> jobs_;  // none with one thread
    std::deque<GroupJob*> in_flight_;              // oldest first
    std::mutex observer_mutex_;
};

}  // namespace _rvxlib_
