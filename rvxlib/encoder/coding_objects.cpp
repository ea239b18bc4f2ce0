#include "rvxlib/encoder/coding_objects.h"

#include "pqxlib/conv_interface.h"
#include "rvxlib/dsp/block_convert.h"
#include "rvxlib/dsp/color_space.h"
#include "rvxlib/dsp/deblock.h"
#include "rvxlib/dsp/pixel_block.h"
#include "rvxlib/encoder/motion_search.h"

namespace _rvxlib_ {

RVXCodecObjects::RVXCodecObjects() = default;
RVXCodecObjects::~RVXCodecObjects() { Reset(); }
RVXCodecObjects::RVXCodecObjects(RVXCodecObjects&&) noexcept = default;
RVXCodecObjects& RVXCodecObjects::operator=(RVXCodecObjects&&) noexcept = default;

void RVXCodecObjects::Reset() {
    moving.reset();
    RVXPictureObjects::Reset();
}

RVXCodecSet RVXCodecObjects::Set() const {
    return {transform.get(), colour.get(), pixel.get(), block.get(), moving.get(), deblock.get()};
}

bool MakeCodecObjects(const CodecPlan& plan, uint32_t features, RVXCodecObjects* objects) {
    objects->Reset();
    RVXCodecObjects made;
    if (!MakePictureObjects(plan, features, &made)) return false;
    const bool encoding = plan.use == CodecUse::kEncode;
    made.moving = std::make_unique<CRVXMovingBlockUnSigned>(plan.padded_width, plan.padded_height, encoding);
    if (made.moving->Init(features) != 1) return false;
    *objects = std::move(made);
    return true;
}

bool MakeCodingLane(const CodecPlan& plan, uint32_t features, RVXCodingLane* lane) {
    lane->transform = MakeTransform(plan);
    lane->pixel = MakePixelBlock(plan);
    lane->block = MakeBlockConverter(plan, lane->transform.get());
    lane->moving = std::make_unique<CRVXMovingBlockUnSigned>(plan.padded_width, plan.padded_height, true);
    return lane->transform && lane->block && lane->transform->Init(features) == 1 &&
           lane->pixel->Init(features) == 1 && lane->block->Init(features) == 1 &&
           lane->moving->Init(features) == 1;
}

}  // namespace _rvxlib_
