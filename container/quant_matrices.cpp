#include "container/quant_matrices.h"

#include <cstring>

namespace {

// Default intra quantiser matrix of MPEG-2 video.
const uint8_t kMpegIntra[64] = {
    8,  16, 19, 22, 26, 27, 29, 34,
    16, 16, 22, 24, 27, 29, 34, 37,
    19, 22, 26, 27, 29, 34, 34, 38,
    22, 22, 26, 27, 29, 34, 37, 40,
    22, 26, 27, 29, 32, 35, 40, 48,
    26, 27, 29, 32, 35, 40, 48, 58,
    26, 27, 29, 34, 38, 46, 56, 69,
    27, 29, 35, 38, 46, 56, 69, 83,
};

// Default non-intra quantiser matrix of MPEG-4 visual.
const uint8_t kMpegInter[64] = {
    16, 17, 18, 19, 20, 21, 22, 23,
    17, 18, 19, 20, 21, 22, 23, 24,
    18, 19, 20, 21, 22, 23, 24, 25,
    19, 20, 21, 22, 23, 24, 26, 27,
    20, 21, 22, 23, 25, 26, 27, 28,
    21, 22, 23, 24, 26, 27, 28, 30,
    22, 23, 24, 26, 27, 28, 30, 31,
    23, 24, 25, 27, 28, 30, 31, 33,
};

}  // namespace

void LoadQuantMatrices(uint16_t selector, uint8_t* intra, uint8_t* inter) {
    switch (selector) {
    case kMatrixSelectorKeep:
        return;
    case kMatrixSelectorFlat:
        // Flat steps keep the sharp edges of drawn pictures.
        std::memset(intra, 32, 64);
        intra[0] = 8;
        std::memset(inter, 16, 64);
        return;
    default:
        std::memcpy(intra, kMpegIntra, 64);
        std::memcpy(inter, kMpegInter, 64);
        return;
    }
}
