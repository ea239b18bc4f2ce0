#pragma once
// Copies of a decoded picture in the layouts the interface hands out.

#include <cstddef>
#include <cstdint>

#include "rvx/rvx.h"

// Top-down B, G, R, A rows into R, G, B, A rows stride bytes apart.
void CopyBgraToRgba(const uint8_t* bgra, size_t pitch, uint32_t width, uint32_t height, uint8_t* rgba,
                    ptrdiff_t stride);

// The same within rows pitch bytes apart.
void SwapRedBlueInPlace(uint8_t* pixels, size_t pitch, uint32_t width, uint32_t height);

// A picture buffer (4 bytes per pixel: V, U, Y, A or B, G, R, A, pitch bytes
// a row) into separate planes; alpha is 255 unless the movie codes it.
void CopyPlanes(const uint8_t* picture, size_t pitch, uint32_t width, uint32_t height, bool alpha,
                const RvxPlanes& planes);
