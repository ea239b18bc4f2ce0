#pragma once
// The picture objects of a codec plan, made and initialised for a processor
// feature word: what the writer and every reader convert, transform and
// filter pictures with.

#include <cstdint>
#include <memory>

#include "rvxlib/format/codec_plan.h"

namespace _pqxlib_ {
class IPQXConvInterface;
}

namespace _rvxlib_ {

class IRVXColorSpace;
class IRVXPixelBlock;
class IRVXConvBlock;
class IRVXDeblockEdgeFilter;

// Every picture object of a plan, owned.
struct RVXPictureObjects {
    RVXPictureObjects();
    ~RVXPictureObjects();
    RVXPictureObjects(RVXPictureObjects&&) noexcept;
    RVXPictureObjects& operator=(RVXPictureObjects&&) noexcept;

    void Reset();

    // Declared in the reverse of the order they are destroyed in: the block
    // converter points at the transform.
    std::unique_ptr<_pqxlib_::IPQXConvInterface> transform;
    std::unique_ptr<IRVXColorSpace> colour;
    std::unique_ptr<IRVXPixelBlock> pixel;
    std::unique_ptr<IRVXConvBlock> block;
    std::unique_ptr<IRVXDeblockEdgeFilter> deblock;
};

// Builds and initialises every picture object of the plan; false (and
// objects left empty) when one fails to initialise.
bool MakePictureObjects(const CodecPlan& plan, uint32_t features, RVXPictureObjects* objects);

// The single objects of a plan, not yet initialised.
std::unique_ptr<_pqxlib_::IPQXConvInterface> MakeTransform(const CodecPlan& plan);
std::unique_ptr<IRVXPixelBlock> MakePixelBlock(const CodecPlan& plan);
// The transform is not owned and must outlive the converter.
std::unique_ptr<IRVXConvBlock> MakeBlockConverter(const CodecPlan& plan, _pqxlib_::IPQXConvInterface* transform);
std::unique_ptr<IRVXColorSpace> MakeColourConverter(const CodecPlan& plan);

}  // namespace _rvxlib_
