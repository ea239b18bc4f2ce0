#include "rvxlib/dsp/motion_kernels.h"

#include "support/cpu_features.h"

#include <algorithm>

namespace _rvxlib_ {
namespace {

// Squares are taken unsigned so that extreme working values wrap like the
// 32-bit sums they feed instead of overflowing a signed product.
inline uint32_t magnitude(int32_t d) { return d < 0 ? uint32_t(-d) : uint32_t(d); }

void ssd16xn_c(const int16_t* cur, const uint8_t* ref, ptrdiff_t pitch, int rows, uint32_t out[4]) {
    // Four running sums, one per channel, written out so the compiler can
    // keep them in one vector register.
    uint32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    for (int r = 0; r < rows; ++r) {
        const int16_t* c = cur + 64 * r;
        const uint8_t* p = ref + pitch * r;
        for (int i = 0; i < 64; i += 4) {
            const uint32_t d0 = magnitude(int32_t(c[i]) - p[i]);
            const uint32_t d1 = magnitude(int32_t(c[i + 1]) - p[i + 1]);
            const uint32_t d2 = magnitude(int32_t(c[i + 2]) - p[i + 2]);
            const uint32_t d3 = magnitude(int32_t(c[i + 3]) - p[i + 3]);
            s0 += d0 * d0;
            s1 += d1 * d1;
            s2 += d2 * d2;
            s3 += d3 * d3;
        }
    }
    out[0] = s0;
    out[1] = s1;
    out[2] = s2;
    out[3] = s3;
}

void ssd16x16_c(const int16_t* cur, const uint8_t* ref, ptrdiff_t pitch, uint32_t out[4]) {
    ssd16xn_c(cur, ref, pitch, 16, out);
}

void activity16x16_c(const int16_t* cur, uint32_t out[4]) {
    int32_t total[4] = {0, 0, 0, 0};
    for (int i = 0; i < 1024; ++i) total[i & 3] += cur[i];
    int32_t mean[4];
    for (int k = 0; k < 4; ++k) mean[k] = (total[k] + 128) >> 8;
    uint32_t sum[4] = {0, 0, 0, 0};
    for (int i = 0; i < 1024; ++i) {
        const uint32_t d = magnitude(cur[i] - mean[i & 3]);
        sum[i & 3] += d * d;
    }
    for (int k = 0; k < 4; ++k) out[k] = sum[k];
}

inline uint8_t avg(uint32_t a, uint32_t b) { return uint8_t((a + b + 1) >> 1); }

// Horizontal then vertical rounded means: with both offsets odd this is two
// successive means, not a four-pixel mean, and the decoder must do the same.
void halfpel_c(uint8_t* dst, ptrdiff_t dst_pitch, const uint8_t* ref, ptrdiff_t pitch, int hx_odd,
               int hy_odd) {
    const int rows = hy_odd ? 17 : 16;
    for (int r = 0; r < rows; ++r) {
        const uint8_t* s = ref + pitch * r;
        uint8_t* d = dst + dst_pitch * r;
        if (hx_odd) {
            for (int i = 0; i < 64; ++i) d[i] = avg(s[i], s[i + 4]);
        } else {
            for (int i = 0; i < 64; ++i) d[i] = s[i];
        }
    }
    if (hy_odd) {
        for (int r = 0; r < 16; ++r) {
            uint8_t* d = dst + dst_pitch * r;
            const uint8_t* below = d + dst_pitch;
            for (int i = 0; i < 64; ++i) d[i] = avg(d[i], below[i]);
        }
    }
}

// No clamping: the pixel block saturates when it stores the block.
void add_prediction_c(int16_t* cur, const uint8_t* pred, ptrdiff_t pitch) {
    for (int r = 0; r < 16; ++r)
        for (int i = 0; i < 64; ++i) cur[64 * r + i] = int16_t(cur[64 * r + i] + pred[pitch * r + i]);
}

void subtract_prediction_c(int16_t* cur, const uint8_t* pred, ptrdiff_t pitch) {
    for (int r = 0; r < 16; ++r)
        for (int i = 0; i < 64; ++i) cur[64 * r + i] = int16_t(cur[64 * r + i] - pred[pitch * r + i]);
}

void arrange_bytes_c(const int16_t* cur, int16_t* arranged) {
    std::copy(cur, cur + 1024, arranged);
}

}  // namespace

MotionKernels motion_kernels_portable() {
    return {ssd16x16_c,      ssd16xn_c, ssd16x16_narrow_bounded_by_parts<ssd16xn_c>,
            arrange_bytes_c, ssd16x16_narrow_bounded_by_parts<ssd16xn_c>,
            halfpel_bytes_bounded_by_prediction<halfpel_c, ssd16x16_narrow_bounded_by_parts<ssd16xn_c>>,
            activity16x16_c, activity16x16_c, halfpel_c,
            add_prediction_c, subtract_prediction_c, nullptr};
}

BlockSamples PrepareBlock(const MotionKernels& kernels, const int16_t* cur, int16_t* arranged,
                          uint32_t activity[4]) {
    if (kernels.prepare_block) return kernels.prepare_block(cur, arranged, activity);
    int16_t low = INT16_MAX, high = INT16_MIN;
    for (int i = 0; i < 1024; ++i) {
        low = cur[i] < low ? cur[i] : low;
        high = cur[i] > high ? cur[i] : high;
    }
    if (low < 0 || high > 255) return low >= kNarrowSampleMin ? BlockSamples::kNarrow : BlockSamples::kWide;
    kernels.arrange_bytes(cur, arranged);
    kernels.activity16x16_bytes(cur, activity);
    return BlockSamples::kBytes;
}

bool motion_block_is_narrow(const int16_t* cur) {
    int16_t low = INT16_MAX;
    for (int i = 0; i < 1024; ++i) low = cur[i] < low ? cur[i] : low;
    return low >= kNarrowSampleMin;
}

MotionKernels motion_kernels_for(uint32_t features) {
    MotionKernels kernels = motion_kernels_portable();
#if defined(__x86_64__) && defined(__GNUC__)
    if (FeatureLevel(features) >= CpuLevel::kSse2) motion_kernels_sse2(kernels);
    if (FeatureLevel(features) >= CpuLevel::kAvx2) motion_kernels_avx2(kernels);
    if (FeatureLevel(features) >= CpuLevel::kAvx512) motion_kernels_avx512(kernels);
#else
    (void)features;
#endif
    return kernels;
}

}  // namespace _rvxlib_
