#pragma once
// Pixel format codes of surfaces and bitmaps. Multi-byte pixels are
// little-endian; colours passed around are 0xAARRGGBB.

#include <cstdint>

enum PixelFormat : uint32_t {
    PF_NONE = 0,
    PF_A8 = 1,         // alpha mask byte
    PF_A8X8 = 2,       // high byte alpha, low byte a value
    PF_R5G6B5 = 3,
    PF_X4R4G4B4 = 4,
    PF_A4R4G4B4 = 5,
    PF_B8G8R8 = 6,     // bytes blue, green, red
    PF_R8G8B8 = 7,     // bytes red, green, blue
    PF_X8R8G8B8 = 8,   // bytes blue, green, red, ignored
    PF_A8R8G8B8 = 9,   // bytes blue, green, red, alpha
    PF_X32 = 10,       // reserved, no converter
    PF_A32 = 11,       // reserved, no converter
};

// Bits per pixel of a format code, 0 for codes outside 1..11.
uint32_t PixelFormatBits(uint32_t format);

// Bytes of one pixel for the formats that have a memory layout (1..9), else 0.
uint32_t PixelFormatBytes(uint32_t format);

bool PixelFormatHasAlpha(uint32_t format);

// The same depth with or without alpha (codes 1, 2 and 7 are their own twins).
uint32_t PixelFormatTwin(uint32_t format, bool with_alpha);

// Bytes from one row to the next: the row's bytes rounded up to 4. Computed in
// 64 bits; callers check the result against their own limits.
int64_t RowPitch(int64_t width, uint32_t bits);
