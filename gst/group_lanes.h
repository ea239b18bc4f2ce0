#pragma once
// Decodes the coded frames of a movie on several threads at once. Groups are
// closed (their P and B frames need only the group's own pictures), so each
// lane decodes whole groups with a frame decoder of its own while the next
// lane decodes the next group; the pictures come out in display order,
// converted to the rows a viewer shows, exactly as one decoder makes them.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "rvxlib/decoder/frame_decoder.h"
#include "rvxlib/decoder/shown_picture.h"

struct CodedFrame {
    uint32_t type_word = 0;
    uint32_t display_number = 0;
    bool damaged = false;          // concealed from its reference instead of decoded
    std::vector<uint8_t> payload;
};

struct ShownFrame {
    uint32_t display_number = 0;
    bool damaged = false;
    std::vector<uint8_t> rows;     // B, G, R, A rows, top row first
    std::size_t pitch = 0;         // bytes from one row to the next
};

class CGroupLanes {
public:
    CGroupLanes() = default;
    ~CGroupLanes() { Close(); }
    CGroupLanes(const CGroupLanes&) = delete;
    CGroupLanes& operator=(const CGroupLanes&) = delete;

    // False when the format cannot be decoded or shown, or no thread starts.
    bool Open(const _rvxlib_::RVXDecoderSettings& settings, uint32_t gop_length, uint32_t lanes);
    void Close();
    // Forgets every frame pushed and picture not yet taken (a flush).
    bool Reset();

    // Hands over the next frame in coding order; an I frame starts a group.
    void Push(CodedFrame&& frame);
    // Marks the last group complete, so that all its pictures come out.
    void Finish();
    enum class Wait {
        kNo,          // false when the next picture is not ready yet
        kForever,     // waits for one, also while nothing is pushed
        kUntilEmpty,  // false once every pushed frame has come out
    };
    // The next picture in display order; false too once Interrupt was called.
    bool Pop(ShownFrame* out, Wait wait);
    // Waits until at most `most` groups are pushed and not yet taken
    // completely, which bounds the memory pictures take; false when
    // interrupted.
    bool WaitForRoom(std::size_t most);
    // Wakes every wait, and makes them return false until Resume. A wait that
    // began before the interrupt returns false even when Resume came first.
    void Interrupt();
    void Resume();
    uint32_t Lanes() const { return uint32_t(lanes_.size()); }
    // Gives a taken picture's memory back for later pictures.
    void Recycle(std::vector<uint8_t>&& rows);

private:
    struct Group {
        std::deque<ShownFrame> ready;
        bool done = false;
    };
    struct Job {
        enum Kind { kBegin, kFrame, kEnd } kind = kFrame;
        std::shared_ptr<Group> group;
        uint32_t first_frame = 0;
        CodedFrame frame;
    };
    struct Lane {
        _rvxlib_::CRVXFrameDecoder decoder;
        _rvxlib_::CRVXShownPicture shown;
        std::deque<Job> jobs;
        std::shared_ptr<Group> group;   // the group being decoded
        std::set<uint32_t> damaged;     // display numbers concealed in it
        std::thread thread;
    };

    void Run(Lane& lane);
    void Work(Lane& lane, Job& job);
    void TakePictures(Lane& lane);
    void Enqueue(Lane& lane, Job&& job);

    _rvxlib_::RVXDecoderSettings settings_;
    uint32_t gop_length_ = 0;
    std::size_t most_ready_ = 0;      // pictures a lane may hold for the output
    std::vector<std::unique_ptr<Lane>> lanes_;
    std::mutex mutex_;
    std::condition_variable work_;    // a lane has a job, or the lanes stop
    std::condition_variable ready_;   // a picture is ready or a group done
    std::deque<std::shared_ptr<Group>> groups_;  // in stream order
    std::vector<std::vector<uint8_t>> spare_rows_;
    Lane* current_ = nullptr;         // the lane of the group being pushed
    std::size_t next_lane_ = 0;
    bool stopping_ = false;
    bool interrupted_ = false;
    uint64_t interrupts_ = 0;         // how many Interrupt calls there were
};
