#pragma once
// Where the group coder's output goes. Each frame's payload is handed over as
// soon as the frame is coded, each group's records once every frame of the
// group is: the coder keeps neither. What becomes of them (files, offsets,
// CRCs) is the business of whoever owns the sink, usually the container
// writer.

#include <cstddef>
#include <cstdint>
#include <span>

#include "rvxlib/format/frame_record.h"

namespace _rvxlib_ {

class IRVXFrameSink {
public:
    virtual ~IRVXFrameSink() = default;

    // The payload of display frame `frame`, valid only during the call.
    // Called on the thread that coded the frame: frames of different groups
    // may arrive at the same time from different threads. False when the
    // payload could not be kept; the coder then counts the frame as failed.
    virtual bool TakeFrame(uint32_t frame, const uint8_t* payload, std::size_t size) = 0;

    // A group whose frames have all been taken: the display number of its I
    // frame and its records in coding order (type words only; length and CRC
    // are 0). Groups arrive in display order, one at a time, on the thread
    // that adds the pictures. A group that failed to code never arrives.
    virtual void TakeGroup(uint32_t first_frame, std::span<const RVXFrameRecord> records) = 0;
};

}  // namespace _rvxlib_
