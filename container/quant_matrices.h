#pragma once
// The quantisation matrices that the matrix selector of the quality settings
// chooses between. Entry 8 * r + c is the step of coefficient row r, column c.

#include <cstdint>

inline constexpr uint16_t kMatrixSelectorMpeg = 1;   // "MPEG標準"
inline constexpr uint16_t kMatrixSelectorFlat = 2;   // "CG動画"
inline constexpr uint16_t kMatrixSelectorKeep = 3;   // leave the matrices as they are
inline constexpr uint16_t kMatrixSelectorEven = 4;   // one step for every coefficient

// Writes the intra and inter matrices of the selector (64 bytes each). Selector
// 3 writes nothing, 4 writes one step everywhere; every other selector gives
// the MPEG defaults.
void LoadQuantMatrices(uint16_t selector, uint8_t* intra, uint8_t* inter);
