#pragma once
// The codec objects the group coder drives: the picture objects of the plan
// and a moving block that searches motion.

#include <cstdint>
#include <memory>

#include "rvxlib/dsp/codec_objects.h"

namespace _rvxlib_ {

class IRVXMovingBlock;

// The codec objects the group coder drives (borrowed).
struct RVXCodecSet {
    _pqxlib_::IPQXConvInterface* transform = nullptr;
    IRVXColorSpace* color = nullptr;
    IRVXPixelBlock* pixel = nullptr;
    IRVXConvBlock* block = nullptr;
    IRVXMovingBlock* moving = nullptr;  // made for encoding (with a visited set)
    IRVXDeblockEdgeFilter* deblock = nullptr;
};

// The objects one more thread needs to code macroblock rows beside the
// others: made like the set's own (same kinds, sizes and feature word).
struct RVXCodingLane {
    std::unique_ptr<_pqxlib_::IPQXConvInterface> transform;
    std::unique_ptr<IRVXPixelBlock> pixel;
    std::unique_ptr<IRVXConvBlock> block;  // driving this lane's transform
    std::unique_ptr<IRVXMovingBlock> moving;
};

// Every codec object of a plan, owned.
struct RVXCodecObjects : RVXPictureObjects {
    RVXCodecObjects();
    ~RVXCodecObjects();
    RVXCodecObjects(RVXCodecObjects&&) noexcept;
    RVXCodecObjects& operator=(RVXCodecObjects&&) noexcept;

    RVXCodecSet Set() const;
    void Reset();

    std::unique_ptr<IRVXMovingBlock> moving;
};

// Builds and initialises every object of the plan for the processor feature
// word; false (and objects left empty) when one fails to initialise.
bool MakeCodecObjects(const CodecPlan& plan, uint32_t features, RVXCodecObjects* objects);
bool MakeCodingLane(const CodecPlan& plan, uint32_t features, RVXCodingLane* lane);

}  // namespace _rvxlib_
