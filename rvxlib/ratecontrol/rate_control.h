#pragma once
// What the coder asks of rate control, and nothing more: at the start of a
// frame its quantiser and the bytes it should come to, at its end what it
// cost, and before a group whether every earlier group must be coded first.
// A first pass answers with fixed quantisers (first_pass_control.h), a
// second pass with its plan (rate_plan.h); without either the coder takes the
// frame types' quantisers.

#include <cstdint>

#include "rvxlib/format/frame_record.h"

namespace _rvxlib_ {

// The quantisers of an I, a P and a B frame.
struct RVXFrameQuantisers {
    uint16_t i = 0;
    uint16_t p = 0;
    uint16_t b = 0;

    uint16_t Of(RVXFrameKind kind) const { return kind == kFrameKindI ? i : kind == kFrameKindB ? b : p; }
};

// The groups before a group that are surely coded when any of its frames is
// started, whatever the threads: the coder keeps at most kMostGroupsInFlight
// groups in flight beside the arriving one, and codes an arriving group's I
// frame before the previous group's others (group_coder.h asserts the two
// together). A control that learns from coded frames may count on these.
inline constexpr uint32_t kSettledGroups = 5;

// What a frame is coded towards.
struct RVXFrameTarget {
    uint16_t quantiser = 0;  // 2..32, or past 32 where the movie can be steered there
    double goal_bytes = 0;   // 0: no goal; a P or B frame with one steers its rows onto it
};

class IRVXRateControl {
public:
    virtual ~IRVXRateControl() = default;
    // Display frame `frame` is about to be coded as `kind`. Asked once per
    // frame by whichever thread codes it, so the answer may depend only on
    // the arguments and on frames that are certainly coded, never on timing.
    virtual RVXFrameTarget StartFrame(uint32_t frame, RVXFrameKind kind) = 0;
    // The payload bytes of a coded frame.
    virtual void EndFrame(uint32_t frame, uint64_t bytes) = 0;
    // Whether every group before the one whose I frame is display frame
    // `first` is to be coded before that I frame. Asked by the thread that
    // codes the I frames.
    virtual bool SettleBeforeGroup(uint32_t first) = 0;
    // The quantiser StartFrame gave a frame, 0 before it was asked.
    virtual uint16_t QuantiserGiven(uint32_t frame) const = 0;
};

}  // namespace _rvxlib_
