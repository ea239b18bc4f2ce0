#include "rvxlib/encoder/frame_store.h"

#include <new>

namespace _rvxlib_ {
namespace {

uint32_t RoundUp16(uint32_t v) { return uint32_t((uint64_t(v) + 15) & ~uint64_t(15)); }

// A GOP length of 0 would leave the rings without room; one frame per group
// is the smallest structure the encoder can make.
uint32_t AtLeastOne(uint32_t v) { return v ? v : 1; }

}  // namespace

IRVXFrameBuffer::IRVXFrameBuffer(uint32_t padded_width, uint32_t padded_height,
                                 uint32_t gop_length, uint32_t groups_in_flight)
    : free_capacity_((2 + std::size_t(AtLeastOne(groups_in_flight))) * AtLeastOne(gop_length)),
      width_(RoundUp16(padded_width)),
      height_(RoundUp16(padded_height)),
      picture_size_(uint64_t(width_) * height_ * 4) {}

AlignedBuffer<uint8_t> IRVXFrameBuffer::TakePicture() {
    if (!free_.empty()) {
        AlignedBuffer<uint8_t> picture = std::move(free_.back());
        free_.pop_back();
        return picture;
    }
    AlignedBuffer<uint8_t> picture;
    if (picture_size_ == 0 || picture_size_ > SIZE_MAX / 2) return picture;
    try {
        picture.Resize(std::size_t(picture_size_));
    } catch (const std::bad_alloc&) {
        return AlignedBuffer<uint8_t>();
    }
    return picture;
}

void IRVXFrameBuffer::GivePicture(AlignedBuffer<uint8_t>&& picture) {
    if (!picture.data()) return;
    if (free_.size() < free_capacity_) {
        free_.push_back(std::move(picture));
        return;
    }
    AlignedBuffer<uint8_t> freed_on_return(std::move(picture));
}

IRVXFrameQueue::IRVXFrameQueue(uint32_t gop_length, uint32_t groups_in_flight)
    : entries_((3 + std::size_t(AtLeastOne(groups_in_flight))) * AtLeastOne(gop_length)),
      gop_length_(AtLeastOne(gop_length)) {}

CRVXEncodeFrame::CRVXEncodeFrame(uint32_t padded_width, uint32_t padded_height,
                                 uint32_t gop_length, uint32_t groups_in_flight)
    : IRVXFrameBuffer(padded_width, padded_height, gop_length, groups_in_flight),
      IRVXFrameQueue(gop_length, groups_in_flight) {}

CRVXEncodeFrame::~CRVXEncodeFrame() = default;

int32_t CRVXEncodeFrame::Init(uint32_t /*features*/) { return ResetStore(0); }

int32_t CRVXEncodeFrame::CloseStore() {
    std::lock_guard<std::mutex> lock(mutex_);
    Reset(0);
    entries_.clear();
    entries_.shrink_to_fit();
    return kFrameStoreOk;
}

void CRVXEncodeFrame::ClearEntry(RVXFrameEntry& entry) {
    GivePicture(std::move(entry.picture));
    entry.picture = AlignedBuffer<uint8_t>();
    entry.frame_number = 0;
    entry.kind = kFrameUncoded;
    entry.back_reference = entry.forward_reference = kNoReference;
    entry.references = 0;
}

int32_t CRVXEncodeFrame::ResetStore(uint32_t first_frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    return Reset(first_frame);
}

int32_t CRVXEncodeFrame::Reset(uint32_t first_frame) {
    for (auto& entry : entries_) ClearEntry(entry);
    head_ = tail_ = first_uncoded_ = 0;
    base_frame_ = first_frame;
    FreeAllPictures();
    return kFrameStoreOk;
}

uint32_t CRVXEncodeFrame::FrameCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return Count();
}

uint32_t CRVXEncodeFrame::BaseFrame() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return base_frame_;
}

uint32_t CRVXEncodeFrame::Count() const {
    if (entries_.empty()) return 0;
    return tail_ >= head_ ? tail_ - head_ : tail_ + Capacity() - head_;
}

uint32_t CRVXEncodeFrame::CodedBeforeFirstUncoded() const {
    return first_uncoded_ >= head_ ? first_uncoded_ - head_ : first_uncoded_ + Capacity() - head_;
}

int32_t CRVXEncodeFrame::AcquireFrame(uint8_t** picture) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entries_.empty() || Next(tail_) == head_) return kFrameStoreFull;
    AlignedBuffer<uint8_t> buffer = TakePicture();
    if (!buffer.data()) return kFrameStoreOutOfMemory;
    const bool empty = head_ == tail_;
    RVXFrameEntry& entry = entries_[tail_];
    if (empty) {
        entry.frame_number = base_frame_;
    } else {
        const uint32_t previous = tail_ == 0 ? Capacity() - 1 : tail_ - 1;
        entry.frame_number = entries_[previous].frame_number + 1;
    }
    entry.kind = kFrameUncoded;
    entry.back_reference = entry.forward_reference = kNoReference;
    entry.references = 1;
    entry.picture = std::move(buffer);
    if (picture) *picture = entry.picture.data();
    tail_ = Next(tail_);
    return kFrameStoreOk;
}

int32_t CRVXEncodeFrame::Find(uint32_t frame, RVXFrameEntry** entry) {
    if (entries_.empty() || head_ == tail_) return kFrameStoreEmpty;
    if (frame < base_frame_) return kFrameRecycled;
    if (uint64_t(frame) - base_frame_ >= Count()) return kFrameNotStored;
    *entry = &entries_[(head_ + (frame - base_frame_)) % Capacity()];
    return kFrameStoreOk;
}

int32_t CRVXEncodeFrame::ReleaseFrame(uint32_t frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    RVXFrameEntry* entry = nullptr;
    if (const int32_t code = Find(frame, &entry)) return code;
    if (entry->references > 0) --entry->references;
    // Keep the last L coded frames: later frames of the open group may still
    // predict from them.
    while (head_ != tail_ && head_ != first_uncoded_ && CodedBeforeFirstUncoded() >= gop_length_ &&
           entries_[head_].references == 0) {
        ClearEntry(entries_[head_]);
        head_ = Next(head_);
        ++base_frame_;
    }
    return kFrameStoreOk;
}

int32_t CRVXEncodeFrame::SetFrameKind(uint32_t frame, RVXFrameKind kind, uint16_t back_reference,
                                      uint16_t forward_reference) {
    std::lock_guard<std::mutex> lock(mutex_);
    RVXFrameEntry* entry = nullptr;
    if (const int32_t code = Find(frame, &entry)) return code;
    entry->kind = kind;
    entry->back_reference = back_reference;
    entry->forward_reference = forward_reference;
    while (first_uncoded_ != tail_ && entries_[first_uncoded_].kind != kFrameUncoded)
        first_uncoded_ = Next(first_uncoded_);
    return kFrameStoreOk;
}

int32_t CRVXEncodeFrame::GetFramePicture(uint32_t frame, uint8_t** picture) {
    std::lock_guard<std::mutex> lock(mutex_);
    RVXFrameEntry* entry = nullptr;
    if (const int32_t code = Find(frame, &entry)) return code;
    if (picture) *picture = entry->picture.data();
    return kFrameStoreOk;
}

int32_t CRVXEncodeFrame::GetReferencePicture(uint32_t reference, uint32_t frame,
                                             uint8_t** picture) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t distance = reference > frame ? uint64_t(reference) - frame : uint64_t(frame) - reference;
    if (distance >= gop_length_) return kReferenceTooFar;
    RVXFrameEntry* entry = nullptr;
    if (const int32_t code = Find(reference, &entry)) return code;
    if (entry->kind == kFrameKindB) return kReferenceIsBFrame;
    if (picture) *picture = entry->picture.data();
    return kFrameStoreOk;
}

int32_t CRVXEncodeFrame::GetFrameKind(uint32_t frame, RVXFrameKind* kind, uint16_t* back_reference,
                                      uint16_t* forward_reference) {
    std::lock_guard<std::mutex> lock(mutex_);
    RVXFrameEntry* entry = nullptr;
    if (const int32_t code = Find(frame, &entry)) return code;
    if (kind) *kind = entry->kind;
    if (back_reference) *back_reference = entry->back_reference;
    if (forward_reference) *forward_reference = entry->forward_reference;
    return kFrameStoreOk;
}

}  // namespace _rvxlib_
