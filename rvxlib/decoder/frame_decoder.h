#pragma once
// Decodes coded frames back into picture buffers, in the order the records
// of a group are stored (coding order), and hands the pictures out in display
// order. Every macroblock is rebuilt exactly as the encoder rebuilt it, so
// with the float inverse DCT (the default) the pictures equal, byte for byte,
// the references the encoder predicted from; the integer inverse DCT is what
// a decoder built on integer arithmetic shows.
//
// Payloads are untrusted: code tables, runs and symbols that do not form a
// valid stream make the frame fail, and a motion vector pointing outside the
// reference picture on any side is refused (the block stays as decoded).

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "rvxlib/dsp/codec_objects.h"
#include "rvxlib/dsp/motion_compensation.h"
#include "rvxlib/format/codec_plan.h"
#include "support/aligned_alloc.h"

namespace _rvxlib_ {

enum class RVXInverseDct {
    kFloat,    // the encoder's own inverse: pictures equal its references
    kInteger,  // the integer inverse
};

struct RVXDecoderSettings {
    uint32_t width = 0;   // picture size in pixels
    uint32_t height = 0;
    uint32_t format = 0;  // the stored format flags (bits 0..19)
    uint8_t intra_matrix[64] = {};
    uint8_t inter_matrix[64] = {};
    RVXInverseDct inverse_dct = RVXInverseDct::kFloat;
};

class CRVXFrameDecoder {
public:
    CRVXFrameDecoder();
    ~CRVXFrameDecoder();
    CRVXFrameDecoder(const CRVXFrameDecoder&) = delete;
    CRVXFrameDecoder& operator=(const CRVXFrameDecoder&) = delete;

    // Builds the codec objects for the format. False for an empty or absurd
    // picture size, or a format word no encoder writes (undefined bits, an
    // unknown layout or transform).
    bool Open(const RVXDecoderSettings& settings, uint32_t features);

    // Starts a group whose I frame has display number first_frame and which
    // holds record_count records. Pictures of the previous group that were
    // decoded but not yet handed out remain available through NextPicture.
    void BeginGroup(uint32_t first_frame, uint32_t record_count);

    // Decodes the group's next record (type word as stored, payload bytes).
    // False when the payload is damaged or its references are missing; the
    // frame still gets a picture (as far as it decoded, the rest black) so
    // that display order goes on.
    bool DecodeFrame(uint32_t type_word, const uint8_t* payload, std::size_t size);

    // Gives the group's next record, whose payload is lost, a picture all the
    // same: a copy of its earlier reference (or of the nearest earlier
    // picture), so frames predicted from it find a whole picture. False when
    // there is nothing to copy (the picture is then black).
    bool ConcealFrame(uint32_t type_word);

    // The next picture in display order once it is decoded, with its display
    // number; null when it is not ready. Positions that never got a record
    // are skipped once the group is ended (EndGroup or BeginGroup), or as
    // soon as too many later pictures wait behind one. The pointer stays
    // valid until the next call on the decoder.
    const uint8_t* NextPicture(uint32_t* frame_number);
    // Marks the current group complete so its remaining pictures come out.
    void EndGroup();
    // Forgets every group and the pictures waiting in them, as after Open,
    // so that decoding can start again at any group (groups are closed).
    void Restart();

    uint32_t PaddedWidth() const { return padded_width_; }
    uint32_t PaddedHeight() const { return padded_height_; }
    std::size_t PictureSize() const { return picture_size_; }

private:
    struct Slot {
        AlignedBuffer<uint8_t> picture;
        uint32_t kind = 0;
        uint64_t decode_index = 0;
    };
    struct Group {
        uint32_t first_frame = 0;
        uint32_t record_count = 0;
        uint32_t next_position = 0;  // next display position to hand out
        bool ended = false;
        std::map<uint32_t, Slot> slots;  // by display position
    };

    AlignedBuffer<uint8_t> NewPicture();
    // A fresh picture for the open group's next record; false when the record
    // cannot be taken (no open group, a position outside it or taken).
    bool StartRecord(uint32_t type_word, Slot* slot);
    // Files a decoded or concealed picture under its display position.
    void Store(Group& group, uint32_t position, Slot&& slot);
    void Recycle(AlignedBuffer<uint8_t>&& picture);
    void DropUnneeded(Group& group);
    const Slot* Reference(const Group& group, uint32_t position) const;
    bool DecodePayload(uint8_t* picture, bool inter, const uint8_t* earlier, const uint8_t* later,
                       const uint8_t* payload, std::size_t size);

    RVXPictureObjects codec_;
    std::unique_ptr<CRVXMotionCompensation> compensation_;
    RVXDecoderSettings settings_;
    uint32_t padded_width_ = 0;
    uint32_t padded_height_ = 0;
    std::size_t picture_size_ = 0;
    std::vector<Group> groups_;  // the current group last; earlier ones drain
    std::vector<AlignedBuffer<uint8_t>> free_;
    AlignedBuffer<uint8_t> handed_out_;
    uint64_t decode_count_ = 0;
};

}  // namespace _rvxlib_
