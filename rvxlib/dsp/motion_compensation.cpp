#include "rvxlib/dsp/motion_compensation.h"

#include <cstddef>

namespace _rvxlib_ {
namespace {

// 17 rows of up to 17 pixels before interpolation.
constexpr std::size_t kPredictionBytes = 17 * CRVXMotionCompensation::kPredictionPitch;

uint32_t RoundUp16(uint32_t v) { return (v + 15u) & ~15u; }

}  // namespace

CRVXMotionCompensation::CRVXMotionCompensation(uint32_t padded_width, uint32_t padded_height)
    : kernels_(motion_kernels_portable()),
      prediction_(kPredictionBytes),
      width_(int32_t(RoundUp16(padded_width))),
      height_(int32_t(RoundUp16(padded_height))),
      pitch_(width_ * 4) {}

int32_t CRVXMotionCompensation::Init(uint32_t features) {
    kernels_ = motion_kernels_for(features);
    return 1;
}

// The upper bounds leave the last macroblock column and row unpredicted;
// they are part of the format. Negative positions are refused as well, so a
// vector read from a damaged stream can never reach before the picture.
bool CRVXMotionCompensation::Allowed(int32_t hx, int32_t hy) const {
    return hx >= 0 && hy >= 0 && (hx >> 1) < width_ - 16 && (hy >> 1) < height_ - 16;
}

const uint8_t* CRVXMotionCompensation::Build(int32_t hx, int32_t hy) {
    const uint8_t* src =
        reference_ + std::ptrdiff_t(hy >> 1) * pitch_ + std::ptrdiff_t(hx >> 1) * 4;
    kernels_.halfpel(prediction_.data(), kPredictionPitch, src, pitch_, hx & 1, hy & 1);
    return prediction_.data();
}

bool CRVXMotionCompensation::VectorPosition(int32_t x, int32_t y, int32_t dx, int32_t dy, int32_t* hx,
                                            int32_t* hy) const {
    const int64_t wide_x = 2 * int64_t(x) + dx, wide_y = 2 * int64_t(y) + dy;
    if (!current_ || !reference_ || wide_x > INT32_MAX || wide_y > INT32_MAX ||
        !Allowed(int32_t(wide_x), int32_t(wide_y)))
        return false;
    *hx = int32_t(wide_x);
    *hy = int32_t(wide_y);
    return true;
}

int32_t CRVXMotionCompensation::SubtractPrediction(int32_t x, int32_t y, int32_t dx, int32_t dy) {
    int32_t hx = 0, hy = 0;
    if (!VectorPosition(x, y, dx, dy, &hx, &hy)) return 0;
    kernels_.subtract_prediction(current_, Build(hx, hy), kPredictionPitch);
    return 1;
}

int32_t CRVXMotionCompensation::AddPrediction(int32_t x, int32_t y, int32_t dx, int32_t dy) {
    int32_t hx = 0, hy = 0;
    if (!VectorPosition(x, y, dx, dy, &hx, &hy)) return 0;
    kernels_.add_prediction(current_, Build(hx, hy), kPredictionPitch);
    return 1;
}

}  // namespace _rvxlib_
