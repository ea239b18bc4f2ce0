#include "pqxlib/diff2d.h"

namespace _pqxlib_ {
namespace {

// Wrap-around arithmetic keeps the pair exact for every 16-bit input.
inline int16_t Sub16(int16_t a, int16_t b) { return static_cast<int16_t>(a - b); }
inline int16_t Add16(int16_t a, int16_t b) { return static_cast<int16_t>(a + b); }

// Walking from the far end lets each step still see its original neighbour.
void DiffForwardPortable(int16_t* b) {
    for (int r = 0; r < 8; ++r) {
        for (int c = 7; c >= 1; --c) {
            for (int k = 0; k < 4; ++k) {
                b[BlockIndex(r, c, k)] = Sub16(b[BlockIndex(r, c, k)], b[BlockIndex(r, c - 1, k)]);
            }
        }
    }
    for (int r = 7; r >= 1; --r) {
        for (int i = 0; i < 32; ++i) b[32 * r + i] = Sub16(b[32 * r + i], b[32 * (r - 1) + i]);
    }
}

void DiffInversePortable(int16_t* b) {
    for (int r = 1; r < 8; ++r) {
        for (int i = 0; i < 32; ++i) b[32 * r + i] = Add16(b[32 * r + i], b[32 * (r - 1) + i]);
    }
    for (int r = 0; r < 8; ++r) {
        for (int c = 1; c < 8; ++c) {
            for (int k = 0; k < 4; ++k) {
                b[BlockIndex(r, c, k)] = Add16(b[BlockIndex(r, c, k)], b[BlockIndex(r, c - 1, k)]);
            }
        }
    }
}

}  // namespace

CDiff2D::CDiff2D() : forward_(DiffForwardPortable), inverse_(DiffInversePortable) {}

CDiff2D::~CDiff2D() { Flush(); }

int32_t CDiff2D::Init(uint32_t) {
    forward_ = DiffForwardPortable;
    inverse_ = DiffInversePortable;
    return 1;
}

int32_t CDiff2D::Flush() {
    clean_ = 1;
    return 1;
}

int32_t CDiff2D::Forward(int16_t* block) {
    if (block == nullptr) return 0;
    clean_ = 0;
    forward_(block);
    return 1;
}

int32_t CDiff2D::Inverse(int16_t* block) {
    if (block == nullptr) return 0;
    clean_ = 0;
    inverse_(block);
    return 1;
}

}  // namespace _pqxlib_
