#pragma once
// The frame store of the encoder: the pictures of recent frames in display
// order, each with its coding kind and references, and a ring of free
// pictures so that pictures are recycled rather than allocated per frame.
//
// A picture is a picture buffer: padded width x padded height pixels of
// 4 bytes, rows top to bottom, 16-byte aligned. It holds the converted source
// until its frame is coded and the deblocked reconstruction afterwards.

#include <cstdint>
#include <mutex>
#include <vector>

#include "rvxlib/dsp/rvx_interface.h"
#include "rvxlib/format/frame_record.h"
#include "support/aligned_alloc.h"

namespace _rvxlib_ {

// Results of the frame store operations.
enum RVXFrameStoreCode : int32_t {
    kFrameStoreOk = 0,
    kFrameStoreOutOfMemory = 1,
    kFrameStoreEmpty = 2,
    kFrameStoreFull = 3,
    kFrameRecycled = 4,
    kFrameNotStored = 5,
    kReferenceTooFar = 7,
    kReferenceIsBFrame = 8,
};

constexpr uint16_t kNoReference = 0xFFFF;

// Pictures not in use, kept for the next frame.
class IRVXFrameBuffer : public IRVXInterface {
public:
    IRVXFrameBuffer(uint32_t padded_width, uint32_t padded_height, uint32_t gop_length,
                    uint32_t groups_in_flight = 1);

    uint32_t PaddedWidth() const { return width_; }
    uint32_t PaddedHeight() const { return height_; }
    uint64_t PictureSize() const { return picture_size_; }

protected:
    // Takes a free picture or allocates one; an empty buffer means no memory.
    AlignedBuffer<uint8_t> TakePicture();
    // Keeps the picture for reuse, or frees it when the ring is full.
    void GivePicture(AlignedBuffer<uint8_t>&& picture);
    void FreeAllPictures() { free_.clear(); }

private:
    std::vector<AlignedBuffer<uint8_t>> free_;
    std::size_t free_capacity_;
    uint32_t width_;
    uint32_t height_;
    uint64_t picture_size_;
};

struct RVXFrameEntry {
    uint32_t frame_number = 0;
    RVXFrameKind kind = kFrameUncoded;
    uint16_t back_reference = kNoReference;
    uint16_t forward_reference = kNoReference;
    uint32_t references = 0;
    AlignedBuffer<uint8_t> picture;
};

// The frames in the store, oldest first.
class IRVXFrameQueue : public IRVXInterface {
public:
    explicit IRVXFrameQueue(uint32_t gop_length, uint32_t groups_in_flight = 1);

protected:
    std::vector<RVXFrameEntry> entries_;  // ring; one slot always stays empty
    uint32_t head_ = 0;
    uint32_t tail_ = 0;
    uint32_t first_uncoded_ = 0;  // ring index of the first entry of kind 0
    uint32_t gop_length_;
    uint32_t base_frame_ = 0;  // frame number of the head entry
};

class CRVXEncodeFrame : public IRVXFrameBuffer, public IRVXFrameQueue {
public:
    // groups_in_flight: groups whose P and B frames may be coded at once
    // while the next group arrives; each adds a group's room to the rings.
    CRVXEncodeFrame(uint32_t padded_width, uint32_t padded_height, uint32_t gop_length,
                    uint32_t groups_in_flight = 1);
    ~CRVXEncodeFrame() override;

    // All operations return an RVXFrameStoreCode.
    int32_t Init(uint32_t features) override;
    int32_t CloseStore();
    int32_t ResetStore(uint32_t first_frame);
    int32_t AcquireFrame(uint8_t** picture);
    int32_t ReleaseFrame(uint32_t frame);
    int32_t SetFrameKind(uint32_t frame, RVXFrameKind kind, uint16_t back_reference, uint16_t forward_reference);
    int32_t GetFramePicture(uint32_t frame, uint8_t** picture);
    int32_t GetReferencePicture(uint32_t reference, uint32_t frame, uint8_t** picture);
    int32_t GetFrameKind(uint32_t frame, RVXFrameKind* kind, uint16_t* back_reference, uint16_t* forward_reference);

    // Number of frames in the store and the frame number that AcquireFrame
    // gives next (meaningful only when the store is not empty).
    uint32_t FrameCount() const;
    uint32_t BaseFrame() const;

private:
    uint32_t Count() const;
    int32_t Reset(uint32_t first_frame);
    uint32_t Capacity() const { return uint32_t(entries_.size()); }
    uint32_t Next(uint32_t index) const { return index + 1 == Capacity() ? 0 : index + 1; }
    int32_t Find(uint32_t frame, RVXFrameEntry** entry);
    uint32_t CodedBeforeFirstUncoded() const;
    void ClearEntry(RVXFrameEntry& entry);

    // The group thread codes one group while the next group's pictures
    // arrive: every operation holds the lock. Pictures themselves are not
    // guarded; the two sides never touch the same one.
    mutable std::mutex mutex_;
};

}  // namespace _rvxlib_
