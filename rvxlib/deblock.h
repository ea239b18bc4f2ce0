#pragma once
// Deblocking: smooths every 8-pixel block edge of a reconstructed picture
// before it serves as a reference and before a decoder shows it.

#include "rvxlib/deblock_kernels.h"
#include "rvxlib/rvx_interface.h"

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

// For pictures that are never filtered (lossless transforms, filtering off).
class CRVXDeblockNullFilter : public IRVXDeblockEdgeFilter {
public:
    CRVXDeblockNullFilter(uint32_t padded_width, uint32_t padded_height);
    int32_t Init(uint32_t) override { return 1; }
    int32_t FilterPicture(uint8_t*) override { return 1; }
};

}  // namespace _rvxlib_
