#pragma once
// Motion compensation: the 16x16 area a macroblock's vector points at in a
// reference picture, to half-pixel precision, subtracted from the block
// before coding and added back after reconstruction. A decoder needs only
// this; the encoder's motion search builds its candidates the same way.
//
// Positions: (x, y) is a macroblock's top-left pixel; (hx, hy) a position in
// half pixels; a vector (dx, dy) is in half pixels relative to (2x, 2y). The
// current block is the pixel block's working buffer (motion_kernels.h).

#include <cstdint>

#include "rvxlib/dsp/motion_kernels.h"
#include "rvxlib/dsp/rvx_interface.h"
#include "support/aligned_alloc.h"

namespace _rvxlib_ {

class CRVXMotionCompensation : public IRVXInterface {
public:
    CRVXMotionCompensation(uint32_t padded_width, uint32_t padded_height);

    int32_t Init(uint32_t features) override;

    void SetReference(const uint8_t* picture) { reference_ = picture; }
    void SetCurrent(int16_t* block) { current_ = block; }

    // Whether a prediction may be taken at (hx, hy).
    bool Allowed(int32_t hx, int32_t hy) const;
    // Builds the prediction at an allowed (hx, hy) of the reference and
    // returns it: 16 rows of 64 bytes at kPredictionPitch.
    const uint8_t* Build(int32_t hx, int32_t hy);

    // 1 when the vector is allowed and the block was changed, else 0.
    int32_t SubtractPrediction(int32_t x, int32_t y, int32_t dx, int32_t dy);
    int32_t AddPrediction(int32_t x, int32_t y, int32_t dx, int32_t dy);

    // The prediction last built.
    static constexpr int32_t kPredictionPitch = 80;
    const uint8_t* Prediction() const { return prediction_.data(); }

    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }

private:
    // The half-pel position of a vector, false when it is refused.
    bool VectorPosition(int32_t x, int32_t y, int32_t dx, int32_t dy, int32_t* hx, int32_t* hy) const;

    MotionKernels kernels_;
    AlignedBuffer<uint8_t> prediction_;
    const uint8_t* reference_ = nullptr;
    int16_t* current_ = nullptr;
    int32_t width_;
    int32_t height_;
    int32_t pitch_;
};

}  // namespace _rvxlib_
