#include "rvxlib/ratecontrol/analysis_picture.h"

namespace {

// One routine per pixel size, so that the channel loop unrolls.
template <uint32_t kBytes>
void ReduceRows(const uint8_t* source, uint32_t width, uint32_t height, std::size_t source_stride,
                uint8_t* reduced, std::size_t reduced_stride) {
    const uint32_t out_width = AnalysisDimension(width), out_height = AnalysisDimension(height);
    // The last column when the width is odd is averaged with itself.
    const uint32_t pairs = width / 2;
    for (uint32_t y = 0; y < out_height; ++y) {
        const uint8_t* top = source + std::size_t(2 * y) * source_stride;
        const uint8_t* bottom = 2 * y + 1 < height ? top + source_stride : top;
        uint8_t* out = reduced + std::size_t(y) * reduced_stride;
        for (uint32_t x = 0; x < pairs; ++x) {
            const uint8_t* a = top + std::size_t(2 * x) * kBytes;
            const uint8_t* b = bottom + std::size_t(2 * x) * kBytes;
            for (uint32_t c = 0; c < kBytes; ++c)
                out[x * kBytes + c] = uint8_t((a[c] + a[kBytes + c] + b[c] + b[kBytes + c] + 2) >> 2);
        }
        if (pairs < out_width) {
            const uint8_t* a = top + std::size_t(2 * pairs) * kBytes;
            const uint8_t* b = bottom + std::size_t(2 * pairs) * kBytes;
            for (uint32_t c = 0; c < kBytes; ++c)
                out[pairs * kBytes + c] = uint8_t((2 * a[c] + 2 * b[c] + 2) >> 2);
        }
    }
}

}  // namespace

void ReducePicture(const uint8_t* source, uint32_t width, uint32_t height, std::size_t source_stride,
                   uint32_t bytes_per_pixel, uint8_t* reduced, std::size_t reduced_stride) {
    switch (bytes_per_pixel) {
    case 3:
        ReduceRows<3>(source, width, height, source_stride, reduced, reduced_stride);
        break;
    case 4:
        ReduceRows<4>(source, width, height, source_stride, reduced, reduced_stride);
        break;
    default:
        break;
    }
}
