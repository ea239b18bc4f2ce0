#include "pqxlib/dct_float_llm_kernels.h"

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
// at `stride` floats apart: 4 along a row, 32 down a column. The order of the
// operations below is the definition of the results; keep it.
inline void Forward1D(float* p, int stride, const float* kc) {
    const float k0 = kc[kK0], k1 = kc[kK1], k2 = kc[kK2], k3 = kc[kK3];
    const float k5 = kc[kK5], k6 = kc[kK6], k7 = kc[kK7];
    for (int lane = 0; lane < kLanes; ++lane) {
        float* x = p + lane;
        const float x0 = x[0], x1 = x[stride], x2 = x[2 * stride], x3 = x[3 * stride];
        const float x4 = x[4 * stride], x5 = x[5 * stride], x6 = x[6 * stride], x7 = x[7 * stride];

        const float s07 = x0 + x7, s16 = x1 + x6, s25 = x2 + x5, s34 = x3 + x4;
        const float d07 = x0 - x7, d16 = x1 - x6, d25 = x2 - x5, d34 = x3 - x4;

        const float a = s07 + s34, b = s16 + s25;
        const float e = s07 - s34, f = s16 - s25;
        x[0] = a + b;
        x[4 * stride] = a - b;
        x[2 * stride] = k2 * e + k6 * f;
        x[6 * stride] = k6 * e - k2 * f;

        // Rotations by 3*pi/16 and pi/16 (scaled by sqrt 2), a butterfly,
        // and the outer pair brought back to scale by cos(pi/4).
        const float r4 = k3 * d34 + k5 * d07;
        const float r7 = k3 * d07 - k5 * d34;
        const float r5 = k1 * d25 + k7 * d16;
        const float r6 = k1 * d16 - k7 * d25;
        const float lo = r4 + r6, hi = r7 + r5;
        x[3 * stride] = r7 - r5;
        x[5 * stride] = r4 - r6;
        x[stride] = (hi + lo) * k0;
        x[7 * stride] = (hi - lo) * k0;
    }
}

inline void Inverse1D(float* p, int stride, const float* kc) {
    for (int lane = 0; lane < kLanes; ++lane) {
        float* x = p + lane;
        const float y0 = x[0], y1 = x[stride], y2 = x[2 * stride], y3 = x[3 * stride];
        const float y4 = x[4 * stride], y5 = x[5 * stride], y6 = x[6 * stride], y7 = x[7 * stride];

        const float z = (y2 + y6) * kc[kK6];
        const float even2 = z - y6 * kc[kK2PlusK6];
        const float even3 = z + y2 * kc[kK2MinusK6];
        const float even0 = y0 + y4, even1 = y0 - y4;
        const float e10 = even0 + even3, e13 = even0 - even3;
        const float e11 = even1 + even2, e12 = even1 - even2;

        float z1 = y7 + y1, z2 = y5 + y3, z3 = y7 + y3, z4 = y5 + y1;
        const float z5 = (z3 + z4) * kc[kK3];
        float o0 = y7 * kc[kK5K3MinusK1K7];
        float o1 = y5 * kc[kK7K3K1MinusK5];
        float o2 = y3 * kc[kK5K3K1MinusK7];
        float o3 = y1 * kc[kK3K1MinusK5K7];
        z1 = z1 * kc[kK7MinusK3];
        z2 = z2 * kc[kMinusK3MinusK1];
        z3 = z3 * kc[kMinusK3MinusK5];
        z4 = z4 * kc[kK5MinusK3];
        z3 = z3 + z5;
        z4 = z4 + z5;
        o0 = o0 + (z1 + z3);
        o1 = o1 + (z2 + z4);
        o2 = o2 + (z2 + z3);
        o3 = o3 + (z1 + z4);

        x[0] = e10 + o3;
        x[7 * stride] = e10 - o3;
        x[stride] = e11 + o2;
        x[6 * stride] = e11 - o2;
        x[2 * stride] = e12 + o1;
        x[5 * stride] = e12 - o1;
        x[3 * stride] = e13 + o0;
        x[4 * stride] = e13 - o0;
    }
}

void RowForward(float* work, const float* kc) {
    for (int r = 0; r < 8; ++r) Forward1D(work + 32 * r, 4, kc);
}
void ColumnForward(float* work, const float* kc) {
    for (int c = 0; c < 8; ++c) Forward1D(work + 4 * c, 32, kc);
}
void RowInverse(float* work, const float* kc) {
    for (int r = 0; r < 8; ++r) Inverse1D(work + 32 * r, 4, kc);
}
void ColumnInverse(float* work, const float* kc) {
    for (int c = 0; c < 8; ++c) Inverse1D(work + 4 * c, 32, kc);
}

void Load(const int16_t* block, float* work, int lanes, const float* steps) {
    for (int i = 0; i < 256; i += 4) {
        for (int k = 0; k < 4; ++k) {
            const float v = k < lanes ? static_cast<float>(block[i + k]) : 0.0f;
            work[i + k] = steps != nullptr ? v * steps[i + k] : v;
        }
    }
}

// Truncation after adding a quarter away from zero: values reach the next
// integer only from three quarters on (a dead zone that favours zeros).
// Out-of-range results saturate instead of wrapping.
inline int16_t RoundQuarter(float v) {
    float t = v;
    if (v > 0.0f) t = v + 0.25f;
    else if (v < 0.0f) t = v - 0.25f;
    if (t >= 32767.0f) return 32767;
    if (t <= -32768.0f) return -32768;
    return static_cast<int16_t>(static_cast<int32_t>(t));
}

void StoreForward(const float* work, int16_t* block, int lanes, const float* steps, float scale) {
    for (int i = 0; i < 256; i += 4) {
        for (int k = 0; k < lanes; ++k) {
            block[i + k] = RoundQuarter((2.0f * work[i + k]) / (scale * steps[i + k]));
        }
    }
}

void StoreInverse(const float* work, int16_t* block, int lanes, float scale) {
    for (int i = 0; i < 256; i += 4) {
        for (int k = 0; k < lanes; ++k) block[i + k] = RoundQuarter((work[i + k] * scale) / 128.0f);
    }
}

}  // namespace

FloatLLMRoutines FloatLLMPortable() {
    return {RowForward, ColumnForward, RowInverse, ColumnInverse, Load, StoreForward, StoreInverse};
}

}  // namespace _pqxlib_
