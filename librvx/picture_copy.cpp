#include "librvx/picture_copy.h"

#include <cstring>
#include <vector>

namespace {

// B, G, R, A in memory is R, G, B, A with the first and third bytes
// swapped; done on whole pixels so that the compiler vectorises it.
inline uint32_t SwapRedBlue(uint32_t pixel) {
    return (pixel & 0xFF00FF00u) | ((pixel >> 16) & 0xFFu) | ((pixel & 0xFFu) << 16);
}

}  // namespace

void CopyBgraToRgba(const uint8_t* bgra, size_t pitch, uint32_t width, uint32_t height, uint8_t* rgba,
                    ptrdiff_t stride) {
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* in = bgra + y * pitch;
        uint8_t* out = rgba + ptrdiff_t(y) * stride;
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t pixel;
            std::memcpy(&pixel, in + 4 * x, 4);
            pixel = SwapRedBlue(pixel);
            std::memcpy(out + 4 * x, &pixel, 4);
        }
    }
}

void SwapRedBlueInPlace(uint8_t* pixels, size_t pitch, uint32_t width, uint32_t height) {
    CopyBgraToRgba(pixels, pitch, width, height, pixels, ptrdiff_t(pitch));
}

void CopyPlanes(const uint8_t* picture, size_t pitch, uint32_t width, uint32_t height, bool alpha,
                const RvxPlanes& planes) {
    // Bytes 2, 1, 0 of a pixel are Y, Cb, Cr in a YUV movie and R, G, B in
    // an RGB one; byte 3 is alpha. One pass over each row fills every plane
    // asked for.
    static const int kByteOfPlane[4] = {2, 1, 0, 3};
    uint8_t* dummy = nullptr;
    std::vector<uint8_t> unused;
    uint8_t* rows[4];
    ptrdiff_t strides[4];
    for (int p = 0; p < 4; ++p) {
        rows[p] = planes.data[p];
        strides[p] = planes.stride[p];
        if (rows[p] == nullptr || (p == 3 && !alpha)) {
            // A plane not asked for (or a constant alpha) goes to a scratch row.
            if (dummy == nullptr) {
                unused.resize(width);
                dummy = unused.data();
            }
            rows[p] = dummy;
            strides[p] = 0;
        }
    }
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* in = picture + y * pitch;
        uint8_t* out[4];
        for (int p = 0; p < 4; ++p) out[p] = rows[p] + ptrdiff_t(y) * strides[p];
        for (uint32_t x = 0; x < width; ++x) {
            out[0][x] = in[4 * x + kByteOfPlane[0]];
            out[1][x] = in[4 * x + kByteOfPlane[1]];
            out[2][x] = in[4 * x + kByteOfPlane[2]];
            out[3][x] = in[4 * x + kByteOfPlane[3]];
        }
        if (planes.data[3] != nullptr && !alpha) std::memset(planes.data[3] + ptrdiff_t(y) * planes.stride[3], 255, width);
    }
}
