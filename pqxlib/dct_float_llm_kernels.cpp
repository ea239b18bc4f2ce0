#include "pqxlib/dct_float_llm_kernels.h"

#include <algorithm>
#include <cmath>

#include "support/cpu_features.h"

namespace _pqxlib_ {

// Written out in hexadecimal so that every build, whatever its maths library,
// multiplies by the same floats.
const float kFloatLLMConstants[kFloatLLMConstantCount] = {
    0x1.6a09e6p-1f,   // K0 = cos(pi/4)
    0x1.63150cp+0f,   // K1
    0x1.4e7aeap+0f,   // K2
    0x1.2d062ep+0f,   // K3
    0x1.000000p+0f,   // K4
    0x1.92469cp-1f,   // K5
    0x1.1517a8p-1f,   // K6
    0x1.1a855ep-2f,   // K7
    0x1.87de2ap-1f,   // K2 - K6
    0x1.d906bcp+0f,   // K2 + K6
    -0x1.ccc9aep-1f,  // K7 - K3
    -0x1.480d9ep+1f,  // -K3 - K1
    -0x1.f6297cp+0f,  // -K3 - K5
    -0x1.8f8b84p-2f,  // K5 - K3
    0x1.31cc6ap-2f,   // K5 + K3 - K1 - K7
    0x1.06cca2p+1f,   // K7 + K3 + K1 - K5
    0x1.894e98p+1f,   // K5 + K3 + K1 - K7
    0x1.805694p+0f,   // K3 + K1 - K5 - K7
};

namespace {

constexpr int kLanes = 4;

// Every 1-D pass works on eight vectors of four lanes (the block's channels)
// at `kStride` floats apart: 4 along a row, 32 down a column. The lanes are
// gathered into local arrays so the compiler can see they never overlap and
// run the four lanes side by side. The order of the operations within a lane
// is the definition of the results; keep it.
struct Vectors {
    float x[8][kLanes];
};

template <int kStride>
inline Vectors Gather(const float* p) {
    Vectors v;
    for (int i = 0; i < 8; ++i)
        for (int lane = 0; lane < kLanes; ++lane) v.x[i][lane] = p[i * kStride + lane];
    return v;
}

template <int kStride>
inline void Scatter(const Vectors& v, float* p) {
    for (int i = 0; i < 8; ++i)
        for (int lane = 0; lane < kLanes; ++lane) p[i * kStride + lane] = v.x[i][lane];
}

template <int kStride>
inline void Forward1D(float* p, const float* kc) {
    const float k0 = kc[kK0], k1 = kc[kK1], k2 = kc[kK2], k3 = kc[kK3];
    const float k5 = kc[kK5], k6 = kc[kK6], k7 = kc[kK7];
    const Vectors in = Gather<kStride>(p);
    Vectors out;
    for (int lane = 0; lane < kLanes; ++lane) {
        const float x0 = in.x[0][lane], x1 = in.x[1][lane], x2 = in.x[2][lane], x3 = in.x[3][lane];
        const float x4 = in.x[4][lane], x5 = in.x[5][lane], x6 = in.x[6][lane], x7 = in.x[7][lane];

        const float s07 = x0 + x7, s16 = x1 + x6, s25 = x2 + x5, s34 = x3 + x4;
        const float d07 = x0 - x7, d16 = x1 - x6, d25 = x2 - x5, d34 = x3 - x4;

        const float a = s07 + s34, b = s16 + s25;
        const float e = s07 - s34, f = s16 - s25;
        out.x[0][lane] = a + b;
        out.x[4][lane] = a - b;
        out.x[2][lane] = k2 * e + k6 * f;
        out.x[6][lane] = k6 * e - k2 * f;

        // Rotations by 3*pi/16 and pi/16 (scaled by sqrt 2), a butterfly,
        // and the outer pair brought back to scale by cos(pi/4).
        const float r4 = k3 * d34 + k5 * d07;
        const float r7 = k3 * d07 - k5 * d34;
        const float r5 = k1 * d25 + k7 * d16;
        const float r6 = k1 * d16 - k7 * d25;
        const float lo = r4 + r6, hi = r7 + r5;
        out.x[3][lane] = r7 - r5;
        out.x[5][lane] = r4 - r6;
        out.x[1][lane] = (hi + lo) * k0;
        out.x[7][lane] = (hi - lo) * k0;
    }
    Scatter<kStride>(out, p);
}

template <int kStride>
inline void Inverse1D(float* p, const float* kc) {
    const float c6 = kc[kK6], c3 = kc[kK3], p26 = kc[kK2MinusK6], s26 = kc[kK2PlusK6];
    const float m0 = kc[kK5K3MinusK1K7], m1 = kc[kK7K3K1MinusK5];
    const float m2 = kc[kK5K3K1MinusK7], m3 = kc[kK3K1MinusK5K7];
    const float n1 = kc[kK7MinusK3], n2 = kc[kMinusK3MinusK1];
    const float n3 = kc[kMinusK3MinusK5], n4 = kc[kK5MinusK3];
    const Vectors in = Gather<kStride>(p);
    Vectors out;
    for (int lane = 0; lane < kLanes; ++lane) {
        const float y0 = in.x[0][lane], y1 = in.x[1][lane], y2 = in.x[2][lane], y3 = in.x[3][lane];
        const float y4 = in.x[4][lane], y5 = in.x[5][lane], y6 = in.x[6][lane], y7 = in.x[7][lane];

        const float z = (y2 + y6) * c6;
        const float even2 = z - y6 * s26;
        const float even3 = z + y2 * p26;
        const float even0 = y0 + y4, even1 = y0 - y4;
        const float e10 = even0 + even3, e13 = even0 - even3;
        const float e11 = even1 + even2, e12 = even1 - even2;

        float z1 = y7 + y1, z2 = y5 + y3, z3 = y7 + y3, z4 = y5 + y1;
        const float z5 = (z3 + z4) * c3;
        float o0 = y7 * m0;
        float o1 = y5 * m1;
        float o2 = y3 * m2;
        float o3 = y1 * m3;
        z1 = z1 * n1;
        z2 = z2 * n2;
        z3 = z3 * n3;
        z4 = z4 * n4;
        z3 = z3 + z5;
        z4 = z4 + z5;
        o0 = o0 + (z1 + z3);
        o1 = o1 + (z2 + z4);
        o2 = o2 + (z2 + z3);
        o3 = o3 + (z1 + z4);

        out.x[0][lane] = e10 + o3;
        out.x[7][lane] = e10 - o3;
        out.x[1][lane] = e11 + o2;
        out.x[6][lane] = e11 - o2;
        out.x[2][lane] = e12 + o1;
        out.x[5][lane] = e12 - o1;
        out.x[3][lane] = e13 + o0;
        out.x[4][lane] = e13 - o0;
    }
    Scatter<kStride>(out, p);
}

void RowForward(float* work, const float* kc) {
    for (int r = 0; r < 8; ++r) Forward1D<4>(work + 32 * r, kc);
}
void ColumnForward(float* work, const float* kc) {
    for (int c = 0; c < 8; ++c) Forward1D<32>(work + 4 * c, kc);
}
void RowInverse(float* work, const float* kc) {
    for (int r = 0; r < 8; ++r) Inverse1D<4>(work + 32 * r, kc);
}
void ColumnInverse(float* work, const float* kc) {
    for (int c = 0; c < 8; ++c) Inverse1D<32>(work + 4 * c, kc);
}

void Load(const int16_t* block, float* work, int lanes, const float* steps) {
    const float mask[4] = {1.0f, lanes > 1 ? 1.0f : 0.0f, lanes > 2 ? 1.0f : 0.0f,
                           lanes > 3 ? 1.0f : 0.0f};
    if (steps == nullptr) {
        for (int i = 0; i < 256; i += 4)
            for (int k = 0; k < 4; ++k) work[i + k] = static_cast<float>(block[i + k]) * mask[k];
    } else {
        for (int i = 0; i < 256; i += 4)
            for (int k = 0; k < 4; ++k)
                work[i + k] = (static_cast<float>(block[i + k]) * mask[k]) * steps[i + k];
    }
}

// Truncation after adding a quarter away from zero: values reach the next
// integer only from three quarters on (a dead zone that favours zeros); a
// zero gets +0.25 and still truncates to 0. Out-of-range results saturate
// instead of wrapping.
inline int16_t RoundQuarter(float v) {
    float t = v + std::copysign(0.25f, v);
    t = std::min(std::max(t, -32768.0f), 32767.0f);
    return static_cast<int16_t>(static_cast<int32_t>(t));
}

// All four lanes are computed; only lanes below the count are written.
template <typename F>
inline void StoreLanes(int16_t* block, int lanes, F value) {
    if (lanes == 4) {
        for (int i = 0; i < 256; ++i) block[i] = value(i);
        return;
    }
    for (int i = 0; i < 256; i += 4)
        for (int k = 0; k < lanes; ++k) block[i + k] = value(i + k);
}

void StoreForward(const float* work, int16_t* block, int lanes, const float* steps, float scale) {
    StoreLanes(block, lanes, [&](int i) { return RoundQuarter((2.0f * work[i]) / (scale * steps[i])); });
}

void StoreInverse(const float* work, int16_t* block, int lanes, float scale) {
    StoreLanes(block, lanes, [&](int i) { return RoundQuarter((work[i] * scale) / 128.0f); });
}

}  // namespace

FloatLLMKernels float_llm_kernels_portable() {
    return {RowForward, ColumnForward, RowInverse, ColumnInverse, Load, StoreForward, StoreInverse};
}

FloatLLMKernels float_llm_kernels_for(uint32_t features) {
    FloatLLMKernels kernels = float_llm_kernels_portable();
#if defined(__x86_64__) && defined(__GNUC__)
    if (FeatureLevel(features) >= CpuLevel::kSse2 && (features & kCpuSse) != 0) float_llm_kernels_sse2(kernels);
    if (FeatureLevel(features) >= CpuLevel::kAvx2) float_llm_kernels_avx2(kernels);
    if (FeatureLevel(features) >= CpuLevel::kAvx512) float_llm_kernels_avx512(kernels);
#else
    (void)features;
#endif
    return kernels;
}

}  // namespace _pqxlib_
