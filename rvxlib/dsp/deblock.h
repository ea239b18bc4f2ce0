#pragma once
// Deblocking: smooths every 8-pixel block edge of a reconstructed picture
// before it serves as a reference and before a decoder shows it.

#include "rvxlib/dsp/deblock_kernels.h"
#include "rvxlib/dsp/rvx_interface.h"

#include <cstddef>
#include <cstdint>

namespace _rvxlib_ {

class IRVXDeblockEdgeFilter : public IRVXInterface {
public:
    IRVXDeblockEdgeFilter(uint32_t padded_width, uint32_t padded_height);
    // Returns 0 for a null picture; the null filter accepts anything.
    virtual int32_t FilterPicture(uint8_t* picture) = 0;

    uint32_t PaddedWidth() const { return padded_width_; }
    uint32_t PaddedHeight() const { return padded_height_; }

protected:
    uint32_t padded_width_;
    uint32_t padded_height_;
    std::size_t pitch_;
    DeblockKernels kernels_{};
};

// Smooths the two pixels on each side of every vertical, then every
// horizontal, 8-pixel grid edge; no threshold.
class CRVXDeblockEdgeFilterUnSigned : public IRVXDeblockEdgeFilter {
public:
    CRVXDeblockEdgeFilterUnSigned(uint32_t padded_width, uint32_t padded_height);
    int32_t Init(uint32_t features) override;
    int32_t FilterPicture(uint8_t* picture) override;
};

// Moves the edge pixels of a source picture `quarters` quarters of the way
// towards the picture the filter above turns (nearly) into the source: a
// target to code towards, so that what a decoder shows after its filter
// keeps the detail the filter would smooth away. The whole way costs many
// bits for the sharpened edges, so an encoder goes part of it. Values the
// way leads beyond 0..255 are clamped.
void UndoDeblocking(uint8_t* picture, uint32_t width, uint32_t height, std::size_t pitch, int32_t quarters);

// For pictures that are never filtered (lossless transforms, filtering off).
class CRVXDeblockNullFilter : public IRVXDeblockEdgeFilter {
public:
    CRVXDeblockNullFilter(uint32_t padded_width, uint32_t padded_height);
    int32_t Init(uint32_t) override { return 1; }
    int32_t FilterPicture(uint8_t*) override { return 1; }
};

}  // namespace _rvxlib_
