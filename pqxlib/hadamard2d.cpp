#include "pqxlib/hadamard2d.h"

namespace _pqxlib_ {
namespace {

// Natural (butterfly) order E0..E7 to sequency order, and back.
constexpr int kSequencyOf[8] = {0, 4, 6, 2, 3, 7, 5, 1};   // out[i] = E[kSequencyOf[i]]
constexpr int kNaturalOf[8] = {0, 7, 3, 4, 1, 6, 2, 5};    // E[i] = in[kNaturalOf[i]]

// Three butterfly stages at distances 1, 2 and 4 on eight values at stride
// `step`, in 16-bit wrap-around arithmetic.
inline void Butterflies(int16_t* x, int step) {
    for (int d = 1; d < 8; d *= 2) {
        for (int g = 0; g < 8; g += 2 * d) {
            for (int i = g; i < g + d; ++i) {
                const int16_t a = x[i * step], b = x[(i + d) * step];
                x[i * step] = static_cast<int16_t>(a + b);
                x[(i + d) * step] = static_cast<int16_t>(a - b);
            }
        }
    }
}

void Forward1D(int16_t* x, int step) {
    Butterflies(x, step);
    int16_t e[8];
    for (int i = 0; i < 8; ++i) e[i] = x[i * step];
    for (int i = 0; i < 8; ++i) x[i * step] = e[kSequencyOf[i]];
}

void Inverse1D(int16_t* x, int step) {
    int16_t s[8];
    for (int i = 0; i < 8; ++i) s[i] = x[i * step];
    for (int i = 0; i < 8; ++i) x[i * step] = s[kNaturalOf[i]];
    Butterflies(x, step);
}

// Rows, then columns; each coefficient becomes ceil(v / 8).
void HadamardForwardPortable(int16_t* b) {
    for (int k = 0; k < 4; ++k) {
        for (int r = 0; r < 8; ++r) Forward1D(b + 32 * r + k, 4);
        for (int c = 0; c < 8; ++c) Forward1D(b + 4 * c + k, 32);
    }
    for (int i = 0; i < kBlockValues; ++i) {
        b[i] = static_cast<int16_t>(static_cast<int16_t>(b[i] + 7) >> 3);
    }
}

// Columns, then rows; the two passes multiply by 64 and the forward divided
// by 8, so a final division by 8 restores the scale.
void HadamardInversePortable(int16_t* b) {
    for (int k = 0; k < 4; ++k) {
        for (int c = 0; c < 8; ++c) Inverse1D(b + 4 * c + k, 32);
        for (int r = 0; r < 8; ++r) Inverse1D(b + 32 * r + k, 4);
    }
    for (int i = 0; i < kBlockValues; ++i) b[i] = static_cast<int16_t>(b[i] >> 3);
}

}  // namespace

CHadamard2D::CHadamard2D() : forward_(HadamardForwardPortable), inverse_(HadamardInversePortable) {}

CHadamard2D::~CHadamard2D() { Flush(); }

int32_t CHadamard2D::Init(uint32_t) {
    forward_ = HadamardForwardPortable;
    inverse_ = HadamardInversePortable;
    return 1;
}

int32_t CHadamard2D::Flush() {
    clean_ = 1;
    return 1;
}

int32_t CHadamard2D::Forward(int16_t* block) {
    if (block == nullptr) return 0;
    clean_ = 0;
    forward_(block);
    return 1;
}

int32_t CHadamard2D::Inverse(int16_t* block) {
    if (block == nullptr) return 0;
    clean_ = 0;
    inverse_(block);
    return 1;
}

}  // namespace _pqxlib_
