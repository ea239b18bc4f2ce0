#pragma once
// The first pass of two-pass rate control codes at known quantisers: every
// other run of gop_length frames at a coarser level (FirstPassLevel), so that
// neighbouring groups show how fast this movie's payloads fall with the
// quantiser.

#include <cstdint>
#include <mutex>
#include <vector>

#include "rvxlib/ratecontrol/rate_control.h"

namespace _rvxlib_ {

class CRVXFirstPassControl : public IRVXRateControl {
public:
    // Frame k of this coder is display frame first_frame + k of the movie (a
    // run of a size sample starts inside it).
    CRVXFirstPassControl(const RVXFrameQuantisers& fine, const RVXFrameQuantisers& coarse, uint32_t gop_length,
                         uint32_t first_frame = 0);

    RVXFrameTarget StartFrame(uint32_t frame, RVXFrameKind kind) override;
    void EndFrame(uint32_t, uint64_t) override {}
    bool SettleBeforeGroup(uint32_t) override { return false; }
    uint16_t QuantiserGiven(uint32_t frame) const override;

private:
    RVXFrameQuantisers fine_, coarse_;
    uint32_t gop_length_;
    uint32_t first_frame_;
    mutable std::mutex mutex_;
    std::vector<uint16_t> given_;
};

}  // namespace _rvxlib_
