#include "support/png_channel_order.h"

#include "support/cpu_features.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace {

void Swap24(uint8_t* dst, const uint8_t* src, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x, src += 3, dst += 3) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
    }
}

void Swap32(uint8_t* dst, const uint8_t* src, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x, src += 4, dst += 4) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
        dst[3] = src[3];
    }
}

void Rgb24ToBgrx32(uint8_t* dst, const uint8_t* src, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x, src += 3, dst += 4) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
        dst[3] = 0xFF;
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// Five pixels per shuffle: 16 bytes are read and written for 15, the byte
// past them rewritten by the next step, so the loop stops while a sixth
// pixel remains in the row and the plain routine ends it. Built for SSSE3,
// chosen only at the AVX2 level, which includes it.
__attribute__((target("ssse3"))) void Swap24Ssse3(uint8_t* dst, const uint8_t* src, uint32_t width) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    uint32_t x = 0;
    for (; x + 6 <= width; x += 5) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * x), _mm_shuffle_epi8(v, order));
    }
    Swap24(dst + 3 * x, src + 3 * x, width - x);
}

__attribute__((target("ssse3"))) void Swap32Ssse3(uint8_t* dst, const uint8_t* src, uint32_t width) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
    uint32_t x = 0;
    for (; x + 4 <= width; x += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * x), _mm_shuffle_epi8(v, order));
    }
    Swap32(dst + 4 * x, src + 4 * x, width - x);
}
// Four pixels per shuffle, eight per step; a load takes 16 bytes for 12, so
// a step stops while the last load still ends inside the row and the plain
// routine ends it.
__attribute__((target("ssse3"))) void Rgb24ToBgrx32Ssse3(uint8_t* dst, const uint8_t* src, uint32_t width) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
    const __m128i opaque = _mm_set1_epi32(int32_t(0xFF000000u));
    uint32_t x = 0;
    for (; x + 10 <= width; x += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * x));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * x + 12));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * x), _mm_or_si128(_mm_shuffle_epi8(a, order), opaque));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * x + 16),
                         _mm_or_si128(_mm_shuffle_epi8(b, order), opaque));
    }
    Rgb24ToBgrx32(dst + 4 * x, src + 3 * x, width - x);
}
#endif

}  // namespace

ChannelSwapRow ChannelSwapRowFor(uint32_t features, uint32_t bytes_per_pixel) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (FeatureLevel(features) >= CpuLevel::kAvx2) return bytes_per_pixel == 3 ? Swap24Ssse3 : Swap32Ssse3;
#else
    (void)features;
#endif
    return bytes_per_pixel == 3 ? Swap24 : Swap32;
}

ChannelSwapRow PngRowTo32BitsFor(uint32_t features, uint32_t bytes_per_pixel) {
    // Four-byte pixels keep their size: the swap alone is the whole move.
    if (bytes_per_pixel == 4) return ChannelSwapRowFor(features, 4);
#if defined(__x86_64__) && defined(__GNUC__)
    if (FeatureLevel(features) >= CpuLevel::kAvx2) return Rgb24ToBgrx32Ssse3;
#else
    (void)features;
#endif
    return Rgb24ToBgrx32;
}
