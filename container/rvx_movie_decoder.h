#pragma once
// Plays a verified-or-not movie back picture by picture in display order:
// reads each group's records in coding order through the reader, decodes
// them with the frame decoder and hands out the pictures as they become
// ready. Damaged frames still give a picture (as far as it decoded), so a
// player keeps its timing; DamagedFrames() counts them.

#include <cstdint>
#include <vector>

#include "container/rvx_reader.h"
#include "rvxlib/decoder/frame_decoder.h"

class CRVXMovieDecoder {
public:
    // reader must be open and outlive the decoder.
    bool Open(CRVXReader& reader, _rvxlib_::RVXInverseDct inverse = _rvxlib_::RVXInverseDct::kFloat);
    // The next picture buffer in display order (padded width x padded height
    // pixels, 4 bytes each, V, U, Y, A or B, G, R, A), with its display
    // number; null at the end of the movie. Valid until the next call.
    const uint8_t* NextPicture(uint32_t* frameNumber);
    // The next NextPicture gives picture `frame` (or, when that position
    // never got a record, the first picture after it); FrameCount() or more
    // moves to the end. Decodes from the I frame of the picture's group.
    void Seek(uint32_t frame);
    // Whether the record of this display number failed to decode.
    bool IsDamaged(uint32_t frameNumber) const;

    uint32_t PaddedWidth() const { return decoder_.PaddedWidth(); }
    uint32_t PaddedHeight() const { return decoder_.PaddedHeight(); }
    uint32_t DamagedFrames() const { return damaged_; }

private:
    const uint8_t* DecodeNext(uint32_t* frameNumber);
    // Index of the group that shows picture frame, or the group count.
    uint32_t GroupOf(uint32_t frame) const;

    CRVXReader* reader_ = nullptr;
    _rvxlib_::CRVXFrameDecoder decoder_;
    std::vector<uint8_t> payload_;
    std::vector<uint8_t> damaged_numbers_;  // by display number
    size_t next_record_ = 0;
    uint32_t current_group_ = UINT32_MAX;
    uint32_t damaged_ = 0;
    // A picture a seek decoded to find its target, handed out next.
    const uint8_t* held_ = nullptr;
    uint32_t held_number_ = 0;
};
