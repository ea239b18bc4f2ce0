#include "rvxlib/ratecontrol/first_pass_control.h"

#include "rvxlib/ratecontrol/rate_plan.h"

namespace _rvxlib_ {

CRVXFirstPassControl::CRVXFirstPassControl(const RVXFrameQuantisers& fine, const RVXFrameQuantisers& coarse,
                                           uint32_t gop_length, uint32_t first_frame)
    : fine_(fine), coarse_(coarse), gop_length_(gop_length), first_frame_(first_frame) {}

RVXFrameTarget CRVXFirstPassControl::StartFrame(uint32_t frame, RVXFrameKind kind) {
    const RVXFrameQuantisers& level =
        FirstPassLevel(first_frame_ + frame, gop_length_) == kFirstPassFineLevel ? fine_ : coarse_;
    const uint16_t quantiser = level.Of(kind);
    std::lock_guard<std::mutex> hold(mutex_);
    if (frame >= given_.size()) given_.resize(frame + 1, 0);
    given_[frame] = quantiser;
    return {quantiser, 0.0};
}

uint16_t CRVXFirstPassControl::QuantiserGiven(uint32_t frame) const {
    std::lock_guard<std::mutex> hold(mutex_);
    return frame < given_.size() ? given_[frame] : 0;
}

}  // namespace _rvxlib_
