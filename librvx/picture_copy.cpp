#include "librvx/picture_copy.h"

#include <cstring>

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
    // an RGB one; byte 3 is alpha.
    static const int kByteOfPlane[4] = {2, 1, 0, 3};
    for (int p = 0; p < 4; ++p) {
        uint8_t* plane = planes.data[p];
        if (plane == nullptr) continue;
        for (uint32_t y = 0; y < height; ++y) {
            uint8_t* out = plane + ptrdiff_t(y) * planes.stride[p];
            if (p == 3 && !alpha) {
                std::memset(out, 255, width);
                continue;
            }
            const uint8_t* in = picture + y * pitch + kByteOfPlane[p];
            for (uint32_t x = 0; x < width; ++x) out[x] = in[4 * x];
        }
    }
}
