// SSE2 twins of the macroblock load and store: widening with zeros and
// saturating packs give exactly the portable bytes.

#include "rvxlib/dsp/pixel_block_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace _rvxlib_ {
namespace {

void LoadSse2(int16_t* block, const uint8_t* picture, std::size_t pitch) {
    const __m128i zero = _mm_setzero_si128();
    for (int r = 0; r < 16; ++r, picture += pitch, block += 64) {
        for (int i = 0; i < 64; i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(picture + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(block + i), _mm_unpacklo_epi8(v, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(block + i + 8), _mm_unpackhi_epi8(v, zero));
        }
    }
}

void StoreSse2(uint8_t* picture, std::size_t pitch, const int16_t* block) {
    for (int r = 0; r < 16; ++r, picture += pitch, block += 64) {
        for (int i = 0; i < 64; i += 16) {
            const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i));
            const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i + 8));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(picture + i), _mm_packus_epi16(lo, hi));
        }
    }
}

}  // namespace

bool pixel_block_kernels_sse2(PixelBlockKernels& kernels) {
    kernels.load = LoadSse2;
    kernels.store = StoreSse2;
    return true;
}

}  // namespace _rvxlib_

#else

namespace _rvxlib_ {
bool pixel_block_kernels_sse2(PixelBlockKernels&) { return false; }
}  // namespace _rvxlib_

#endif
