#include "pqxlib/hadamard2d.h"

namespace _pqxlib_ {
namespace {

// Natural (butterfly) order E0..E7 to sequency order, and back.
constexpr int kSequencyOf[8] = {0, 4, 6, 2, 3, 7, 5, 1};   // out[i] = E[kSequencyOf[i]]
constexpr int kNaturalOf[8] = {0, 7, 3, 4, 1, 6, 2, 5};    // E[i] = in[kNaturalOf[i]]

// Eight vectors of the four channels, gathered so the channels are worked on
// side by side. Arithmetic wraps around in 16 bits.
struct Vectors {
    int16_t x[8][4];
};

template <int kStride>
inline Vectors Gather(const int16_t* p) {
    Vectors v;
    for (int i = 0; i < 8; ++i)
        for (int k = 0; k < 4; ++k) v.x[i][k] = p[i * kStride + k];
    return v;
}

// Three butterfly stages at distances 1, 2 and 4 give the natural order.
inline void Butterflies(Vectors& v) {
    for (int d = 1; d < 8; d *= 2) {
        for (int g = 0; g < 8; g += 2 * d) {
            for (int i = g; i < g + d; ++i) {
                for (int k = 0; k < 4; ++k) {
                    const int16_t a = v.x[i][k], b = v.x[i + d][k];
                    v.x[i][k] = static_cast<int16_t>(a + b);
                    v.x[i + d][k] = static_cast<int16_t>(a - b);
                }
            }
        }
    }
}

template <int kStride>
inline void Forward1D(int16_t* p) {
    Vectors v = Gather<kStride>(p);
    Butterflies(v);
    for (int i = 0; i < 8; ++i)
        for (int k = 0; k < 4; ++k) p[i * kStride + k] = v.x[kSequencyOf[i]][k];
}

template <int kStride>
inline void Inverse1D(int16_t* p) {
    const Vectors s = Gather<kStride>(p);
    Vectors v;
    for (int i = 0; i < 8; ++i)
        for (int k = 0; k < 4; ++k) v.x[i][k] = s.x[kNaturalOf[i]][k];
    Butterflies(v);
    for (int i = 0; i < 8; ++i)
        for (int k = 0; k < 4; ++k) p[i * kStride + k] = v.x[i][k];
}

// Rows, then columns; each coefficient becomes ceil(v / 8).
void HadamardForwardPortable(int16_t* b) {
    for (int r = 0; r < 8; ++r) Forward1D<4>(b + 32 * r);
    for (int c = 0; c < 8; ++c) Forward1D<32>(b + 4 * c);
    for (int i = 0; i < kBlockValues; ++i) {
        b[i] = static_cast<int16_t>(static_cast<int16_t>(b[i] + 7) >> 3);
    }
}

// Columns, then rows; the two passes multiply by 64 and the forward divided
// by 8, so a final division by 8 restores the scale.
void HadamardInversePortable(int16_t* b) {
    for (int c = 0; c < 8; ++c) Inverse1D<32>(b + 4 * c);
    for (int r = 0; r < 8; ++r) Inverse1D<4>(b + 32 * r);
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
