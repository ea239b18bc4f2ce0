// SSE2 twin of the edge filter. The byte average with upward rounding is
// exactly pavgb, so every result equals the portable routine's.

#include "rvxlib/dsp/deblock_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace _rvxlib_ {
namespace {

void DeblockPictureSse2(uint8_t* picture, uint32_t width, uint32_t height, std::size_t pitch) {
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = picture + y * pitch;
        for (uint32_t x = 8; x + 1 < width; x += 8) {
            // Columns x-2 .. x+1 are 16 contiguous bytes: p6, p7, p8, p9.
            uint8_t* at = row + std::size_t{4} * (x - 2);
            const __m128i p6789 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
            const __m128i p789 = _mm_srli_si128(p6789, 4);
            const __m128i p89 = _mm_srli_si128(p6789, 8);
            // Low 8 bytes: avg(p6, p8), avg(p7, p9); then avg(p7, .), avg(p8, .).
            const __m128i outer = _mm_avg_epu8(p6789, p89);
            const __m128i result = _mm_avg_epu8(p789, outer);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(at + 4), result);
        }
    }
    if (height < 10) return;
    const std::size_t bytes = std::size_t{4} * width;
    for (uint32_t y = 8; y + 1 < height; y += 8) {
        uint8_t* r6 = picture + (y - 2) * pitch;
        uint8_t* r7 = r6 + pitch;
        uint8_t* r8 = r7 + pitch;
        uint8_t* r9 = r8 + pitch;
        std::size_t i = 0;
        for (; i + 16 <= bytes; i += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r6 + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r7 + i));
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r8 + i));
            const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r9 + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(r7 + i), _mm_avg_epu8(b, _mm_avg_epu8(a, c)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(r8 + i), _mm_avg_epu8(c, _mm_avg_epu8(b, d)));
        }
        for (; i < bytes; ++i) {
            const uint32_t a = r6[i], b = r7[i], c = r8[i], d = r9[i];
            r7[i] = static_cast<uint8_t>((b + ((a + c + 1) >> 1) + 1) >> 1);
            r8[i] = static_cast<uint8_t>((c + ((b + d + 1) >> 1) + 1) >> 1);
        }
    }
}

}  // namespace

bool deblock_kernels_sse2(DeblockKernels& kernels) {
    kernels.filter_picture = DeblockPictureSse2;
    return true;
}

}  // namespace _rvxlib_

#else

namespace _rvxlib_ {
bool deblock_kernels_sse2(DeblockKernels&) { return false; }
}  // namespace _rvxlib_

#endif
