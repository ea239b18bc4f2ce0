#include "support/sha256_blocks.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

// The rounds instruction keeps the state as the lanes (A,B,E,F) and
// (C,D,G,H), each most significant lane first, and does two rounds per call
// with the two message-plus-constant words in the low lanes; the state is
// rearranged into that order once per call, not per block.
__attribute__((target("sha,sse4.1,ssse3"))) void Sha256BlocksSha(uint32_t state[8], const uint8_t* blocks,
                                                                 std::size_t count) {
    // Message words are big-endian in the block.
    const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);

    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (std::size_t n = 0; n < count; ++n, blocks += 64) {
        const __m128i abef_before = abef;
        const __m128i cdgh_before = cdgh;
        // w[g % 4] holds message words 4g..4g+3 while group g is used; the
        // groups from 4 on are made from the four before them.
        __m128i w[4];
#pragma GCC unroll 16
        for (int g = 0; g < 16; ++g) {
            if (g < 4) {
                w[g] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * g)),
                                        byte_swap);
            } else {
                const __m128i& back4 = w[g & 3];
                const __m128i& back3 = w[(g + 1) & 3];
                const __m128i& back2 = w[(g + 2) & 3];
                const __m128i& back1 = w[(g + 3) & 3];
                const __m128i partial =
                    _mm_add_epi32(_mm_sha256msg1_epu32(back4, back3), _mm_alignr_epi8(back1, back2, 4));
                w[g & 3] = _mm_sha256msg2_epu32(partial, back1);
            }
            __m128i k = _mm_add_epi32(
                w[g & 3], _mm_loadu_si128(reinterpret_cast<const __m128i*>(kSha256RoundConstants + 4 * g)));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, k);
            k = _mm_shuffle_epi32(k, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, k);
        }
        abef = _mm_add_epi32(abef, abef_before);
        cdgh = _mm_add_epi32(cdgh, cdgh_before);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), hgfe);
}
#endif
