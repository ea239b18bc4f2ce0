// AVX-512 twins of the search's byte costs and of the byte block activity.
// Built for AVX-512 (F, BW, VL, VBMI, VNNI) function by function, so the
// rest of the program keeps running on processors without it; results equal
// the portable routines for every input they are given.

#include "rvxlib/dsp/motion_kernels.h"
#include "support/avx512_target.h"

#if defined(__x86_64__) && defined(__GNUC__)

#include <array>

namespace _rvxlib_ {
namespace {

// This level's arranged layout. A row's 16 pixels are two halves of eight,
// one register of 32 samples each. Within a half, 32-bit lane j = 4 q + k
// pairs channel k of pixels 2 q and 2 q + 1, so one vpdpwssd of the
// differences with themselves squares and sums a channel, and every 128-bit
// lane of the sums holds channels 0..3 in order.
//
// The sample a half's word w comes from, as an index among the half's own
// 32 samples (4 per pixel).
constexpr int ArrangedSource(int w) {
    const int j = w / 2, t = w % 2;
    const int q = j / 4, k = j % 4;
    return (2 * q + t) * 4 + k;
}

constexpr std::array<uint16_t, 32> MakeArrangeOrder() {
    std::array<uint16_t, 32> order{};
    for (int w = 0; w < 32; ++w) order[w] = uint16_t(ArrangedSource(w));
    return order;
}

// For a reference row of 64 bytes: half h's byte 2 w takes the reference byte
// of word w; the odd bytes are zeroed by kLowBytes, widening as it reorders.
constexpr std::array<uint8_t, 64> MakeReferenceOrder(int half) {
    std::array<uint8_t, 64> order{};
    for (int b = 0; b < 64; b += 2) order[b] = uint8_t(32 * half + ArrangedSource(b / 2));
    return order;
}

alignas(64) constexpr std::array<uint16_t, 32> kArrangeOrder = MakeArrangeOrder();
alignas(64) constexpr std::array<uint8_t, 64> kReferenceOrder0 = MakeReferenceOrder(0);
alignas(64) constexpr std::array<uint8_t, 64> kReferenceOrder1 = MakeReferenceOrder(1);
constexpr __mmask64 kLowBytes = 0x5555555555555555ull;

RVX_TARGET_AVX512 inline __m512i Load(const void* p) { return _mm512_loadu_si512(p); }

// Within each 128-bit lane, the two pixels' samples paired by channel:
// 32-bit lane k then holds channel k, as in the arranged layout.
RVX_TARGET_AVX512 inline __m512i ChannelPairOrder() {
    return _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15));
}

RVX_TARGET_AVX512 inline __m512i PairedByChannel(const int16_t* p) {
    return _mm512_shuffle_epi8(Load(p), ChannelPairOrder());
}

RVX_TARGET_AVX512 inline __m128i ChannelSums(__m512i acc) {
    const __m256i s = _mm256_add_epi32(_mm512_castsi512_si256(acc), _mm512_extracti64x4_epi64(acc, 1));
    return _mm_add_epi32(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
}

// The weighted partial cost of the channel sums (wrapping modulo 2^32, as
// the portable routine's) has reached the bound.
RVX_TARGET_AVX512 inline bool PartialCostReaches(__m512i acc, __m128i weights, uint64_t bound) {
    __m128i weighted = _mm_mullo_epi32(ChannelSums(acc), weights);
    weighted = _mm_add_epi32(weighted, _mm_srli_si128(weighted, 8));
    weighted = _mm_add_epi32(weighted, _mm_srli_si128(weighted, 4));
    return uint32_t(_mm_cvtsi128_si32(weighted)) >= bound;
}

RVX_TARGET_AVX512 void arrange_bytes_avx512(const int16_t* cur, int16_t* arranged) {
    const __m512i order = Load(kArrangeOrder.data());
    for (int i = 0; i < 1024; i += 32)
        _mm512_storeu_si512(arranged + i, _mm512_permutexvar_epi16(order, Load(cur + i)));
}

// One row of the narrow cost: the differences to the widened reference fit
// 16 bits; paired by channel, a lane's two squares may reach 2^31 and wrap,
// which vpdpwssd does modulo 2^32 exactly like the portable sums.
RVX_TARGET_AVX512 inline void AddNarrowRow(__m512i& acc0, __m512i& acc1, const int16_t* c,
                                           const uint8_t* p, __m512i order) {
    const __m512i d0 = _mm512_shuffle_epi8(
        _mm512_sub_epi16(Load(c), _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)))),
        order);
    const __m512i d1 = _mm512_shuffle_epi8(
        _mm512_sub_epi16(Load(c + 32),
                         _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)))),
        order);
    acc0 = _mm512_dpwssd_epi32(acc0, d0, d0);
    acc1 = _mm512_dpwssd_epi32(acc1, d1, d1);
}

RVX_TARGET_AVX512 void ssd16xn_narrow_avx512(const int16_t* cur, const uint8_t* ref, ptrdiff_t pitch,
                                             int rows, uint32_t out[4]) {
    const __m512i order = ChannelPairOrder();
    __m512i acc0 = _mm512_setzero_si512(), acc1 = _mm512_setzero_si512();
    for (int r = 0; r < rows; ++r) AddNarrowRow(acc0, acc1, cur + 64 * r, ref + pitch * r, order);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), ChannelSums(_mm512_add_epi32(acc0, acc1)));
}

RVX_TARGET_AVX512 bool ssd16x16_narrow_bounded_avx512(const int16_t* cur, const uint8_t* ref,
                                                      ptrdiff_t pitch, const uint32_t weights[4],
                                                      uint64_t bound, uint32_t out[4]) {
    const __m512i order = ChannelPairOrder();
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights));
    __m512i acc0 = _mm512_setzero_si512(), acc1 = _mm512_setzero_si512();
    for (int r = 0; r < 16; ++r) {
        AddNarrowRow(acc0, acc1, cur + 64 * r, ref + pitch * r, order);
        if (r % kSearchCostRows == kSearchCostRows - 1 && r != 15 &&
            PartialCostReaches(_mm512_add_epi32(acc0, acc1), w, bound))
            return false;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), ChannelSums(_mm512_add_epi32(acc0, acc1)));
    return true;
}

// One row of 16 prediction pixels against the arranged row: the two halves'
// differences squared and summed by channel into acc0 and acc1. Differences
// of bytes are at most 255 in size, so a lane's pair of squares cannot
// overflow, and the sums wrap modulo 2^32 as the portable ones do.
struct RowCost {
    __m512i order0, order1;
    RVX_TARGET_AVX512 void Add(__m512i& acc0, __m512i& acc1, const int16_t* c, __m512i row) const {
        const __m512i d0 = _mm512_sub_epi16(Load(c), _mm512_maskz_permutexvar_epi8(kLowBytes, order0, row));
        const __m512i d1 =
            _mm512_sub_epi16(Load(c + 32), _mm512_maskz_permutexvar_epi8(kLowBytes, order1, row));
        acc0 = _mm512_dpwssd_epi32(acc0, d0, d0);
        acc1 = _mm512_dpwssd_epi32(acc1, d1, d1);
    }
};

// Rows alternate between two pairs of sums so that consecutive rows do not
// wait on each other's accumulation; the looks fall after rows 3, 7 and 11,
// exactly where the portable routine weighs its partial cost.
template <typename RowAt>
RVX_TARGET_AVX512 inline bool BoundedCost(const int16_t* arranged, RowAt row_at,
                                          const uint32_t weights[4], uint64_t bound, uint32_t out[4]) {
    const RowCost cost{Load(kReferenceOrder0.data()), Load(kReferenceOrder1.data())};
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights));
    __m512i a0 = _mm512_setzero_si512(), a1 = _mm512_setzero_si512();
    __m512i b0 = _mm512_setzero_si512(), b1 = _mm512_setzero_si512();
    for (int r = 0; r < 16; r += 2) {
        cost.Add(a0, a1, arranged + 64 * r, row_at(r));
        cost.Add(b0, b1, arranged + 64 * (r + 1), row_at(r + 1));
        if (r % kSearchCostRows == kSearchCostRows - 2 && r != 14) {
            const __m512i sum = _mm512_add_epi32(_mm512_add_epi32(a0, a1), _mm512_add_epi32(b0, b1));
            if (PartialCostReaches(sum, w, bound)) return false;
        }
    }
    const __m512i sum = _mm512_add_epi32(_mm512_add_epi32(a0, a1), _mm512_add_epi32(b0, b1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), ChannelSums(sum));
    return true;
}

RVX_TARGET_AVX512 bool ssd16x16_bytes_bounded_avx512(const int16_t* arranged, const uint8_t* ref,
                                                     ptrdiff_t pitch, const uint32_t weights[4],
                                                     uint64_t bound, uint32_t out[4]) {
    auto row_at = [=](int r) RVX_TARGET_AVX512 { return Load(ref + pitch * r); };
    return BoundedCost(arranged, row_at, weights, bound, out);
}

// A row of the half-pel prediction, rounded up horizontally first and then
// vertically, as halfpel builds it; the row below, once interpolated
// across, is kept for the next row.
template <bool kHx>
RVX_TARGET_AVX512 inline __m512i HalfpelAcross(const uint8_t* s) {
    const __m512i v = Load(s);
    return kHx ? _mm512_avg_epu8(v, Load(s + 4)) : v;
}

// The interpolated rows in order, each keeping its lower neighbour for the
// next (a function object: GCC and Clang disagree on where a lambda's
// target attribute may stand next to `mutable`).
template <bool kHx, bool kHy>
struct HalfpelRows {
    const uint8_t* ref;
    ptrdiff_t pitch;
    __m512i above;
    RVX_TARGET_AVX512 __m512i operator()(int r) {
        if (!kHy) return HalfpelAcross<kHx>(ref + pitch * r);
        const __m512i below = HalfpelAcross<kHx>(ref + pitch * (r + 1));
        const __m512i v = _mm512_avg_epu8(above, below);
        above = below;
        return v;
    }
};

template <bool kHx, bool kHy>
RVX_TARGET_AVX512 bool halfpel_bytes_bounded_avx512_t(const int16_t* arranged, const uint8_t* ref,
                                                      ptrdiff_t pitch, const uint32_t weights[4],
                                                      uint64_t bound, uint32_t out[4]) {
    const HalfpelRows<kHx, kHy> rows{ref, pitch, kHy ? HalfpelAcross<kHx>(ref) : _mm512_setzero_si512()};
    return BoundedCost(arranged, rows, weights, bound, out);
}

bool halfpel_bytes_bounded_avx512(const int16_t* arranged, const uint8_t* ref, ptrdiff_t pitch,
                                  int hx_odd, int hy_odd, const uint32_t weights[4], uint64_t bound,
                                  uint32_t out[4]) {
    if (hx_odd && hy_odd)
        return halfpel_bytes_bounded_avx512_t<true, true>(arranged, ref, pitch, weights, bound, out);
    if (hx_odd) return halfpel_bytes_bounded_avx512_t<true, false>(arranged, ref, pitch, weights, bound, out);
    if (hy_odd) return halfpel_bytes_bounded_avx512_t<false, true>(arranged, ref, pitch, weights, bound, out);
    return halfpel_bytes_bounded_avx512_t<false, false>(arranged, ref, pitch, weights, bound, out);
}

// For samples 0..255 the rounded means are too, every difference fits a
// 16-bit lane, and no sum can wrap (256 squares of at most 255^2 per
// channel).
RVX_TARGET_AVX512 void activity16x16_bytes_avx512(const int16_t* cur, uint32_t out[4]) {
    const __m512i ones = _mm512_set1_epi16(1);
    __m512i sums0 = _mm512_setzero_si512(), sums1 = _mm512_setzero_si512();
    for (int i = 0; i < 1024; i += 64) {
        sums0 = _mm512_dpwssd_epi32(sums0, PairedByChannel(cur + i), ones);
        sums1 = _mm512_dpwssd_epi32(sums1, PairedByChannel(cur + i + 32), ones);
    }
    const __m128i total = ChannelSums(_mm512_add_epi32(sums0, sums1));
    const __m128i mean = _mm_srai_epi32(_mm_add_epi32(total, _mm_set1_epi32(128)), 8);
    // Each channel's mean in both 16-bit halves of its lane.
    const __m512i means = _mm512_broadcast_i32x4(_mm_or_si128(mean, _mm_slli_epi32(mean, 16)));
    __m512i acc0 = _mm512_setzero_si512(), acc1 = _mm512_setzero_si512();
    for (int i = 0; i < 1024; i += 64) {
        const __m512i d0 = _mm512_sub_epi16(PairedByChannel(cur + i), means);
        const __m512i d1 = _mm512_sub_epi16(PairedByChannel(cur + i + 32), means);
        acc0 = _mm512_dpwssd_epi32(acc0, d0, d0);
        acc1 = _mm512_dpwssd_epi32(acc1, d1, d1);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), ChannelSums(_mm512_add_epi32(acc0, acc1)));
}

// PrepareBlock in one pass: the block is classified, arranged, and its
// channel sums and sums of squares gathered from the arranged pairs (each
// 32-bit lane pairs one channel). For bytes the activity then follows
// exactly from sum (x - m)^2 = sum x^2 - 2 m sum x + 256 m^2, all of it far
// inside 64 bits; other blocks discard the sums (their squares may wrap).
RVX_TARGET_AVX512 BlockSamples prepare_block_avx512(const int16_t* cur, int16_t* arranged,
                                                    uint32_t activity[4]) {
    const __m512i order = Load(kArrangeOrder.data());
    const __m512i ones = _mm512_set1_epi16(1);
    __m512i low = _mm512_set1_epi16(INT16_MAX), high = _mm512_set1_epi16(INT16_MIN);
    __m512i sums0 = _mm512_setzero_si512(), sums1 = _mm512_setzero_si512();
    __m512i squares0 = _mm512_setzero_si512(), squares1 = _mm512_setzero_si512();
    for (int i = 0; i < 1024; i += 64) {
        const __m512i v0 = Load(cur + i), v1 = Load(cur + i + 32);
        low = _mm512_min_epi16(low, _mm512_min_epi16(v0, v1));
        high = _mm512_max_epi16(high, _mm512_max_epi16(v0, v1));
        const __m512i a0 = _mm512_permutexvar_epi16(order, v0);
        const __m512i a1 = _mm512_permutexvar_epi16(order, v1);
        _mm512_storeu_si512(arranged + i, a0);
        _mm512_storeu_si512(arranged + i + 32, a1);
        sums0 = _mm512_dpwssd_epi32(sums0, a0, ones);
        sums1 = _mm512_dpwssd_epi32(sums1, a1, ones);
        squares0 = _mm512_dpwssd_epi32(squares0, a0, a0);
        squares1 = _mm512_dpwssd_epi32(squares1, a1, a1);
    }
    if (_mm512_cmplt_epi16_mask(low, _mm512_setzero_si512()) != 0 ||
        _mm512_cmpgt_epi16_mask(high, _mm512_set1_epi16(255)) != 0)
        return _mm512_cmplt_epi16_mask(low, _mm512_set1_epi16(kNarrowSampleMin)) != 0 ? BlockSamples::kWide
                                                                                      : BlockSamples::kNarrow;
    alignas(16) int32_t sums[4], squares[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(sums), ChannelSums(_mm512_add_epi32(sums0, sums1)));
    _mm_store_si128(reinterpret_cast<__m128i*>(squares), ChannelSums(_mm512_add_epi32(squares0, squares1)));
    for (int k = 0; k < 4; ++k) {
        const int64_t mean = (int64_t(sums[k]) + 128) >> 8;
        activity[k] = uint32_t(int64_t(squares[k]) - 2 * mean * sums[k] + 256 * mean * mean);
    }
    return BlockSamples::kBytes;
}

}  // namespace

bool motion_kernels_avx512(MotionKernels& kernels) {
    kernels.ssd16xn_narrow = ssd16xn_narrow_avx512;
    kernels.ssd16x16_narrow_bounded = ssd16x16_narrow_bounded_avx512;
    kernels.arrange_bytes = arrange_bytes_avx512;
    kernels.ssd16x16_bytes_bounded = ssd16x16_bytes_bounded_avx512;
    kernels.halfpel_bytes_bounded = halfpel_bytes_bounded_avx512;
    kernels.activity16x16_bytes = activity16x16_bytes_avx512;
    kernels.prepare_block = prepare_block_avx512;
    return true;
}

}  // namespace _rvxlib_

#else

namespace _rvxlib_ {
bool motion_kernels_avx512(MotionKernels&) { return false; }
}  // namespace _rvxlib_

#endif
