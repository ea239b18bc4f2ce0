#include "gst/group_lanes.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "rvxlib/format/frame_record.h"
#include "support/cpu_features.h"

namespace {

// The memory a lane may fill with pictures made ahead of the output. A lane
// decodes the next group while an earlier one is shown, so it runs ahead by
// up to a whole group: nearly all of a 16-picture group of 1920x1080
// pictures fits, and larger pictures make the lanes wait sooner.
constexpr std::size_t kReadyBytesPerLane = std::size_t(128) << 20;
constexpr std::size_t kFewestReadyPictures = 2;

}  // namespace

bool CGroupLanes::Open(const _rvxlib_::RVXDecoderSettings& settings, uint32_t gop_length, uint32_t lanes) {
    Close();
    settings_ = settings;
    gop_length_ = gop_length;
    for (uint32_t k = 0; k < std::max<uint32_t>(lanes, 1); ++k) {
        auto lane = std::make_unique<Lane>();
        if (!lane->decoder.Open(settings, ProcessorFeatures()) ||
            !lane->shown.Open(settings.width, settings.height, settings.format, ProcessorFeatures())) {
            Close();
            return false;
        }
        lanes_.push_back(std::move(lane));
    }
    const std::size_t picture_bytes = std::max<std::size_t>(lanes_.front()->shown.Pitch() * settings.height, 1);
    most_ready_ = std::max(kFewestReadyPictures, kReadyBytesPerLane / picture_bytes);
    try {
        for (auto& lane : lanes_) lane->thread = std::thread([this, l = lane.get()] { Run(*l); });
    } catch (const std::exception&) {
        Close();
        return false;
    }
    return true;
}

void CGroupLanes::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    work_.notify_all();
    ready_.notify_all();
    for (auto& lane : lanes_) {
        if (lane->thread.joinable()) lane->thread.join();
    }
    lanes_.clear();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        groups_.clear();
    }
    current_ = nullptr;
    next_lane_ = 0;
    stopping_ = false;
}

bool CGroupLanes::Reset() {
    const uint32_t lanes = Lanes();
    if (lanes == 0) return false;
    return Open(settings_, gop_length_, lanes);
}

void CGroupLanes::Enqueue(Lane& lane, Job&& job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lane.jobs.push_back(std::move(job));
    }
    work_.notify_all();
}

void CGroupLanes::Push(CodedFrame&& frame) {
    if (lanes_.empty()) return;
    if (_rvxlib_::RecordType(frame.type_word) == _rvxlib_::kRecordI || current_ == nullptr) {
        if (current_) Enqueue(*current_, Job{Job::kEnd, nullptr, 0, {}});
        current_ = lanes_[next_lane_].get();
        next_lane_ = (next_lane_ + 1) % lanes_.size();
        auto group = std::make_shared<Group>();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            groups_.push_back(group);
        }
        ready_.notify_all();
        const uint32_t position = _rvxlib_::RecordPosition(frame.type_word);
        const uint32_t first = frame.display_number >= position ? frame.display_number - position : 0;
        Enqueue(*current_, Job{Job::kBegin, group, first, {}});
    }
    Enqueue(*current_, Job{Job::kFrame, nullptr, 0, std::move(frame)});
}

void CGroupLanes::Finish() {
    if (current_) Enqueue(*current_, Job{Job::kEnd, nullptr, 0, {}});
    current_ = nullptr;
}

bool CGroupLanes::Pop(ShownFrame* out, Wait wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t interrupts = interrupts_;
    for (;;) {
        if (interrupted_ || interrupts_ != interrupts) return false;
        if (groups_.empty() && wait == Wait::kUntilEmpty) return false;
        if (!groups_.empty()) {
            Group& front = *groups_.front();
            if (!front.ready.empty()) {
                *out = std::move(front.ready.front());
                front.ready.pop_front();
                ready_.notify_all();
                return true;
            }
            if (front.done) {
                groups_.pop_front();
                ready_.notify_all();
                continue;
            }
        }
        if (wait == Wait::kNo) return false;
        ready_.wait(lock);
    }
}

bool CGroupLanes::WaitForRoom(std::size_t most) {
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t interrupts = interrupts_;
    ready_.wait(lock, [&] { return interrupted_ || interrupts_ != interrupts || groups_.size() <= most; });
    return groups_.size() <= most;
}

void CGroupLanes::Interrupt() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        interrupted_ = true;
        ++interrupts_;
    }
    ready_.notify_all();
}

void CGroupLanes::Resume() {
    std::lock_guard<std::mutex> lock(mutex_);
    interrupted_ = false;
}

void CGroupLanes::Recycle(std::vector<uint8_t>&& rows) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (spare_rows_.size() < lanes_.size()) spare_rows_.push_back(std::move(rows));
}

void CGroupLanes::Run(Lane& lane) {
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            work_.wait(lock, [&] { return stopping_ || !lane.jobs.empty(); });
            if (stopping_) return;
            job = std::move(lane.jobs.front());
            lane.jobs.pop_front();
        }
        Work(lane, job);
    }
}

void CGroupLanes::Work(Lane& lane, Job& job) {
    switch (job.kind) {
    case Job::kBegin:
        lane.group = job.group;
        lane.damaged.clear();
        lane.decoder.BeginGroup(job.first_frame, gop_length_);
        return;
    case Job::kFrame:
        if (!lane.group) return;
        if (job.frame.damaged) {
            lane.decoder.ConcealFrame(job.frame.type_word);
            lane.damaged.insert(job.frame.display_number);
        } else {
            lane.decoder.DecodeFrame(job.frame.type_word, job.frame.payload.data(), job.frame.payload.size());
        }
        TakePictures(lane);
        return;
    case Job::kEnd:
        if (!lane.group) return;
        lane.decoder.EndGroup();
        TakePictures(lane);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            lane.group->done = true;
        }
        lane.group.reset();
        ready_.notify_all();
        return;
    }
}

void CGroupLanes::TakePictures(Lane& lane) {
    uint32_t number = 0;
    while (const uint8_t* picture = lane.decoder.NextPicture(&number)) {
        ShownFrame shown;
        shown.display_number = number;
        shown.damaged = lane.damaged.count(number) != 0;
        shown.pitch = lane.shown.Pitch();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!spare_rows_.empty()) {
                shown.rows = std::move(spare_rows_.back());
                spare_rows_.pop_back();
            }
        }
        try {
            shown.rows.resize(shown.pitch * settings_.height);
        } catch (const std::bad_alloc&) {
            continue;  // the picture is lost; the frame waiting for it is released
        }
        // A damaged picture is never shown, so it needs no conversion.
        if (!shown.damaged) lane.shown.ConvertInto(picture, shown.rows.data());
        {
            // The output takes the front group's pictures and then moves on,
            // so every lane waiting here gets its turn.
            std::unique_lock<std::mutex> lock(mutex_);
            const uint64_t interrupts = interrupts_;
            // The group being shown needs only a picture or two in hand;
            // later groups run ahead so that the lanes overlap.
            ready_.wait(lock, [&] {
                const std::size_t most = lane.group == groups_.front() ? kFewestReadyPictures : most_ready_;
                return stopping_ || interrupted_ || interrupts_ != interrupts || lane.group->ready.size() < most;
            });
            lane.group->ready.push_back(std::move(shown));
        }
        ready_.notify_all();
    }
}
