#include "pqxlib/dct_int_aan_kernels.h"

#include <cmath>

#include "pqxlib/conv_interface.h"
#include "support/cpu_features.h"

namespace _pqxlib_ {

const int kIntAANRowTable[8] = {3, 0, 1, 2, 3, 2, 1, 0};

namespace {

constexpr double kPi = 3.14159265358979323846;

double CosSixteenth(int i) { return std::cos(i * kPi / 16.0); }

int16_t RoundHalfUp(double v) { return static_cast<int16_t>(static_cast<int32_t>(v + 0.5)); }

// The column passes keep every sum in 16 bits, as 16-bit vector lanes would;
// a product of two 16-bit values always fits in 32.
inline int16_t W16(int32_t v) { return static_cast<int16_t>(v); }
inline int32_t Mul(int16_t a, int16_t b) { return static_cast<int32_t>(a) * b; }

void ForwardColumnPass(int16_t* block, int channels, const IntAANConstants& k) {
    for (int c = 0; c < 8; ++c) {
        for (int ch = 0; ch < channels; ++ch) {
            int16_t* p = block + 4 * c + ch;
            const int32_t x0 = p[0], x1 = p[32], x2 = p[64], x3 = p[96];
            const int32_t x4 = p[128], x5 = p[160], x6 = p[192], x7 = p[224];

            const int16_t h = W16(8 * x1 + 8 * x6);
            const int16_t l = W16(8 * x2 + 8 * x5);
            const int16_t m = W16(8 * x3 + 8 * x4);
            const int16_t r = W16(8 * (x0 + x7));
            const int16_t t = W16(m + r);
            const int16_t hl_sum = W16(h + l);
            const int16_t hl_diff = W16(h - l);
            const int16_t d = W16(r - m);
            p[0] = W16(hl_sum + t);
            p[128] = W16(t - hl_sum);
            p[64] = W16(d + (Mul(k.tan2, hl_diff) >> 16));
            p[192] = W16((Mul(k.tan2, d) >> 16) - hl_diff);

            const int16_t o = W16(8 * (x0 - x7));
            const int16_t v = W16(16 * (x2 - x5));
            const int16_t w = W16(16 * (x1 - x6));
            const int16_t a = W16(Mul(W16(v + w), k.cos4) >> 16);
            const int16_t b = W16(o + a);
            const int16_t cc = W16(8 * x3 - 8 * x4);
            const int16_t dd = W16(Mul(W16(w - v), k.cos4) >> 16);
            const int16_t cd_sum = W16(cc + dd);
            const int16_t cd_diff = W16(cc - dd);
            p[32] = W16(b + (Mul(k.tan1, cd_sum) >> 16));
            p[224] = W16((Mul(k.tan1, b) >> 16) - cd_sum);
            const int16_t a2 = W16(o - a);
            p[160] = W16((Mul(k.tan3, a2) >> 15) + cd_diff);
            p[96] = W16(a2 - (Mul(k.tan3, cd_diff) >> 15));
        }
    }
}

void ForwardInterleave(const int16_t* block, int32_t* planar, int channels) {
    for (int ch = 0; ch < channels; ++ch) {
        for (int i = 0; i < 64; ++i) planar[64 * ch + i] = block[4 * i + ch];
    }
}

// Outputs stay 32-bit until quantised: a bright uncentred block (mean above
// about 127) has a DC term beyond 16 bits here, and would otherwise wrap.
void ForwardRowPass(int32_t* planar, int channels, const IntAANConstants& k) {
    for (int ch = 0; ch < channels; ++ch) {
        for (int row = 0; row < 8; ++row) {
            int32_t* x = planar + 64 * ch + 8 * row;
            const int16_t* t = k.rows[kIntAANRowTable[row]];
            const int64_t s07 = x[0] + x[7], s16 = x[1] + x[6];
            const int64_t s25 = x[2] + x[5], s34 = x[3] + x[4];
            const int64_t d0 = x[0] - x[7], d1 = x[1] - x[6];
            const int64_t d2 = x[2] - x[5], d3 = x[3] - x[4];
            const int64_t e = s07 - s34, f = s16 - s25;
            x[0] = static_cast<int32_t>(((s07 + s16 + s25 + s34) * t[4]) >> 15);
            x[4] = static_cast<int32_t>(((s07 + s34 - s16 - s25) * t[4]) >> 15);
            x[2] = static_cast<int32_t>((t[2] * e + t[6] * f) >> 15);
            x[6] = static_cast<int32_t>((t[6] * e - t[2] * f) >> 15);
            x[1] = static_cast<int32_t>((t[1] * d0 + t[3] * d1 + t[5] * d2 + t[7] * d3) >> 15);
            x[3] = static_cast<int32_t>((t[3] * d0 - t[7] * d1 - t[1] * d2 - t[5] * d3) >> 15);
            x[5] = static_cast<int32_t>((t[5] * d0 - t[1] * d1 + t[7] * d2 + t[3] * d3) >> 15);
            x[7] = static_cast<int32_t>((t[7] * d0 - t[5] * d1 + t[3] * d2 - t[1] * d3) >> 15);
        }
    }
}

// Quantising the magnitude and restoring the sign rounds toward zero
// symmetrically, so the quantiser has no bias between the signs. The sign is
// applied without branches: coefficient signs are unpredictable.
void ForwardQuantise(const int32_t* planar, int16_t* block, int channels,
                     const int32_t* reciprocals, int16_t scale_factor) {
    for (int ch = 0; ch < channels; ++ch) {
        for (int i = 0; i < 64; ++i) {
            const int64_t scaled = static_cast<int64_t>(scale_factor) * planar[64 * ch + i];
            const int64_t sign = scaled >> 63;  // 0 or -1
            const int64_t magnitude = (scaled ^ sign) - sign;
            const int64_t quantised = (reciprocals[4 * i + ch] * (magnitude >> 15)) >> 16;
            block[4 * i + ch] = static_cast<int16_t>((quantised ^ sign) - sign);
        }
    }
}

// The product is kept in 16 bits: for the coefficients a forward pass makes it
// is about 16 times the orthonormal coefficient, which fits. All 256 products
// are formed first (one straight loop), then sorted into the planar buffer.
void InverseDequantise(const int16_t* block, int16_t* planar, int channels, const int16_t* steps,
                       int16_t scale_factor) {
    const uint16_t a = static_cast<uint16_t>(scale_factor);
    int16_t products[256];
    for (int i = 0; i < 256; ++i) {
        const uint32_t step = static_cast<uint16_t>(steps[i]);
        const uint32_t c = static_cast<uint16_t>(block[i]);
        products[i] = static_cast<int16_t>(static_cast<uint16_t>(a * step * c));
    }
    for (int ch = 0; ch < channels; ++ch) {
        for (int i = 0; i < 64; ++i) planar[64 * ch + i] = products[4 * i + ch];
    }
}

// Sums of products wrap around in 32 bits: bits 15..30 of a sum, all that
// survives the shift and the cut to 16 bits, do not depend on the bits above.
inline int16_t Shift15(uint32_t sum) { return static_cast<int16_t>(static_cast<int32_t>(sum) >> 15); }
inline uint32_t Mul32(int16_t a, int16_t b) { return static_cast<uint32_t>(static_cast<int32_t>(a) * b); }

void InverseRowPass(int16_t* planar, int channels, const IntAANConstants& k) {
    for (int ch = 0; ch < channels; ++ch) {
        for (int row = 0; row < 8; ++row) {
            int16_t* x = planar + 64 * ch + 8 * row;
            const int16_t* t = k.rows[kIntAANRowTable[row]];
            // Most rows of a quantised block carry only their DC term.
            if ((x[1] | x[2] | x[3] | x[4] | x[5] | x[6] | x[7]) == 0) {
                const int16_t dc = Shift15(Mul32(x[0], t[4]));
                for (int i = 0; i < 8; ++i) x[i] = dc;
                continue;
            }
            const int16_t x0 = x[0], x1 = x[1], x2 = x[2], x3 = x[3];
            const int16_t x4 = x[4], x5 = x[5], x6 = x[6], x7 = x[7];
            const uint32_t a[4] = {
                Mul32(t[4], x0) + Mul32(t[4], x4) + Mul32(t[2], x2) + Mul32(t[6], x6),
                Mul32(t[4], x0) - Mul32(t[4], x4) + Mul32(t[6], x2) - Mul32(t[2], x6),
                Mul32(t[4], x0) - Mul32(t[4], x4) - Mul32(t[6], x2) + Mul32(t[2], x6),
                Mul32(t[4], x0) + Mul32(t[4], x4) - Mul32(t[2], x2) - Mul32(t[6], x6),
            };
            const uint32_t b[4] = {
                Mul32(t[1], x1) + Mul32(t[3], x3) + Mul32(t[5], x5) + Mul32(t[7], x7),
                Mul32(t[3], x1) - Mul32(t[7], x3) - Mul32(t[1], x5) - Mul32(t[5], x7),
                Mul32(t[5], x1) - Mul32(t[1], x3) + Mul32(t[7], x5) + Mul32(t[3], x7),
                Mul32(t[7], x1) - Mul32(t[5], x3) + Mul32(t[3], x5) - Mul32(t[1], x7),
            };
            for (int n = 0; n < 4; ++n) {
                x[n] = Shift15(a[n] + b[n]);
                x[7 - n] = Shift15(a[n] - b[n]);
            }
        }
    }
}

void InverseInterleave(const int16_t* planar, int16_t* block, int channels) {
    for (int ch = 0; ch < channels; ++ch) {
        for (int i = 0; i < 64; ++i) block[4 * i + ch] = planar[64 * ch + i];
    }
}

// The four channels of a column are worked on side by side; channels at and
// above the count are computed too but not written back.
void InverseColumnPass(int16_t* block, int channels, const IntAANConstants& k) {
    for (int c = 0; c < 8; ++c) {
        int16_t* p = block + 4 * c;
        int16_t in[8][4], out[8][4];
        for (int r = 0; r < 8; ++r)
            for (int ch = 0; ch < 4; ++ch) in[r][ch] = p[32 * r + ch];
        for (int ch = 0; ch < 4; ++ch) {
            const int16_t x0 = in[0][ch], x1 = in[1][ch], x2 = in[2][ch], x3 = in[3][ch];
            const int16_t x4 = in[4][ch], x5 = in[5][ch], x6 = in[6][ch], x7 = in[7][ch];

            const int16_t t = W16(x2 + (Mul(k.tan2, x6) >> 16));
            const int16_t u = W16(x0 + x4);
            const int16_t v = W16(x3 + (Mul(k.tan3, x5) >> 15));
            const int16_t w = W16(x1 + (Mul(k.tan1, x7) >> 16));
            out[0][ch] = W16(W16(u + t + v + w) >> 6);
            out[7][ch] = W16(W16(u + t - (v + w)) >> 6);

            const int16_t cc = W16((Mul(k.tan2, x2) >> 16) - x6);
            const int16_t d = W16((Mul(k.tan3, x3) >> 15) - x5);
            const int16_t e = W16((Mul(k.tan1, x1) >> 16) - x7);
            const int16_t f = W16(d + e);
            const int16_t wv = W16(w - v);
            const int16_t g = W16(Mul(k.cos4, W16(f + wv)) >> 15);
            const int16_t h = W16(x0 - x4 + cc);
            const int16_t i = W16(Mul(k.cos4, W16(wv - f)) >> 15);
            const int16_t kk = W16(x0 - x4 - cc);
            out[1][ch] = W16(W16(h + g) >> 6);
            out[6][ch] = W16(W16(h - g) >> 6);
            out[2][ch] = W16(W16(kk + i) >> 6);
            out[5][ch] = W16(W16(kk - i) >> 6);
            const int16_t ut = W16(u - t), ed = W16(e - d);
            out[3][ch] = W16(W16(ut + ed) >> 6);
            out[4][ch] = W16(W16(ut - ed) >> 6);
        }
        for (int r = 0; r < 8; ++r)
            for (int ch = 0; ch < channels; ++ch) p[32 * r + ch] = out[r][ch];
    }
}

}  // namespace

IntAANConstants BuildIntAANConstants() {
    IntAANConstants k{};
    k.tan1 = RoundHalfUp(CosSixteenth(7) / CosSixteenth(1) * 65536.0);
    k.tan2 = RoundHalfUp(CosSixteenth(6) / CosSixteenth(2) * 65536.0);
    k.tan3 = RoundHalfUp(CosSixteenth(5) / CosSixteenth(3) * 32768.0);
    k.cos4 = RoundHalfUp(CosSixteenth(4) * 32768.0);
    for (int j = 0; j < 4; ++j) {
        for (int i = 1; i < 8; ++i) {
            k.rows[j][i] = RoundHalfUp(CosSixteenth(j + 1) * CosSixteenth(i) * 32768.0);
        }
    }
    return k;
}

IntAANForwardKernels int_aan_forward_kernels_portable() {
    return {ForwardColumnPass, ForwardInterleave, ForwardRowPass, ForwardQuantise};
}

IntAANInverseKernels int_aan_inverse_kernels_portable() {
    return {InverseDequantise, InverseRowPass, InverseInterleave, InverseColumnPass};
}

IntAANForwardKernels int_aan_forward_kernels_for(uint32_t) { return int_aan_forward_kernels_portable(); }

IntAANInverseKernels int_aan_inverse_kernels_for(uint32_t features) {
    IntAANInverseKernels kernels = int_aan_inverse_kernels_portable();
#if defined(__x86_64__) && defined(__GNUC__)
    if (FeatureLevel(features) >= CpuLevel::kSse2) int_aan_inverse_kernels_sse2(kernels);
#else
    (void)features;
#endif
    return kernels;
}

// The 17-bit reciprocal of steps 1 and 2 (65537, 32768) is kept whole; cut to
// 16 signed bits it would turn into 1 and -32768 and wipe out or negate
// every coefficient quantised with it.
int32_t IntAANReciprocal(uint8_t step) {
    if (step == 0) return 0;
    return 65536 / step + step % 2;
}

int16_t IntAANForwardScaleFactor(uint16_t scale) {
    if (scale == 0) return 0;
    return static_cast<int16_t>(16384 / scale + scale % 2);
}

}  // namespace _pqxlib_
