#pragma once
// Plays a verified-or-not movie back picture by picture in display order:
// reads each group's records in coding order through the reader, decodes
// them with the frame decoder and hands out the pictures as they become
// ready.
//
// From a strict reader, damaged frames (unreadable, failing their CRC, not
// decoding) still give a picture (as far as it decoded), so a player keeps
// its timing; DamagedFrames() counts them. From a
// tolerant reader, a frame whose payload fails its CRC, or whose reference
// did, is skipped: its place shows the picture shown before it (a movie that
// starts with one hands out nothing until a whole picture comes).

#include <cstdint>
#include <set>
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
    // The next NextPicture gives picture `frame` (or, when that position has
    // no picture, the first one after it); past the last picture moves to
    // the end. Decodes from the I frame of the picture's group.
    void Seek(uint32_t frame);
    // Whether the picture of this display number is damaged: its payload was
    // unreadable, failed its CRC or did not decode (a tolerant reader shows
    // the picture before it instead).
    bool IsDamaged(uint32_t frameNumber) const;

    uint32_t PaddedWidth() const { return decoder_.PaddedWidth(); }
    uint32_t PaddedHeight() const { return decoder_.PaddedHeight(); }
    uint32_t DamagedFrames() const { return damaged_; }

private:
    bool Tolerant() const { return reader_->Reading() == RVXReading::kTolerant; }
    const uint8_t* DecodeNext(uint32_t* frameNumber);
    // Index of the group that shows picture frame, or the group count.
    uint32_t GroupOf(uint32_t frame) const;
    void NoteDamaged(const RVXFrameInfo& frame);
    void DecodeRecord(const RVXFrameInfo& frame);
    // Tolerant reading: whether the record's payload checks out and the
    // pictures it is predicted from do.
    bool RecordIntact(const RVXFrameInfo& frame) const;
    // What is handed out for the decoder's picture: the picture itself, or
    // for a skipped one the picture shown last (null when there is none).
    const uint8_t* Shown(const uint8_t* picture, uint32_t number);
    void KeepForStandIn(const uint8_t* picture);

    CRVXReader* reader_ = nullptr;
    _rvxlib_::CRVXFrameDecoder decoder_;
    std::vector<uint8_t> payload_;
    size_t next_record_ = 0;
    uint32_t current_group_ = UINT32_MAX;
    uint32_t damaged_ = 0;
    std::vector<uint8_t> damaged_numbers_;   // by display number
    std::set<uint32_t> skipped_positions_;   // of the current group
    std::set<uint32_t> skipped_numbers_;     // display numbers not yet handed out
    std::vector<uint8_t> stand_in_;          // what a skipped picture shows
    const uint8_t* last_shown_ = nullptr;    // valid until the decoder's next hand-out
    bool stand_in_kept_ = false;             // stand_in_ holds the picture shown last
    // A picture a seek decoded to find its target, handed out next.
    const uint8_t* held_ = nullptr;
    uint32_t held_number_ = 0;
};
