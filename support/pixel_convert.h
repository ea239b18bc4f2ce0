#pragma once
// Moving pixels between formats, one row at a time. Narrowing a channel keeps
// its top bits and widening leaves the new low bits 0, so every conversion is
// "expand to 0xAARRGGBB, then narrow" with no rounding or dithering.

#include <cstdint>

// Converts `width` pixels. Both row pointers address whole rows; returns 0 and
// writes nothing when the pair of formats has no row conversion.
using RowKernel = void (*)(uint8_t* dst, const uint8_t* src, int32_t width);

// Row conversion used by the loader and the image writers.
RowKernel RowConverterFor(uint32_t src_format, uint32_t dst_format);
int32_t ConvertRow(void* dst, uint32_t dst_format, const void* src, uint32_t src_format,
                   int32_t width);

// As ConvertRow, but when the destination has alpha and the source has none,
// source pixels equal to the colour key become transparent and all others opaque.
int32_t ConvertRowKeyed(void* dst, uint32_t dst_format, const void* src, uint32_t src_format,
                        uint32_t colour_key, int32_t width);

// Per-pixel effect of a blit between two formats; differs from the row
// converter for the alpha-mask formats (which write only alpha) and for 9 -> 8.
RowKernel BlitKernelFor(uint32_t src_format, uint32_t dst_format);

// One pixel of `format` at p as 0xAARRGGBB and as its raw little-endian bytes.
// Returns false for formats without a memory layout.
bool ExpandPixel(uint32_t format, const uint8_t* p, uint32_t* argb, uint32_t* raw);

// The pixel value that a fill with `colour` writes; false for formats that
// cannot be filled (2, 7, 10, 11).
bool FillValue(uint32_t format, uint32_t colour, uint32_t* value);
