#pragma once
// Row routines of the colour converters. The portable ones define every
// result; the SSE2 twins must give the same bytes.

#include <cstdint>

namespace _rvxlib_ {

using ColorRowRoutine = void (*)(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t alpha_mask);

struct ColorRowRoutines {
    ColorRowRoutine forward;
    ColorRowRoutine back;
};

enum class ColorConversion { kBgr24ToBgra, kBgraToBgra, kBgr24ToVuya, kBgraToVuya };

ColorRowRoutines ColorRowRoutinesPortable(ColorConversion conversion);
// The fastest routines the processor feature word allows.
ColorRowRoutines ColorRowRoutinesFor(ColorConversion conversion, uint32_t features);

#if defined(__SSE2__)
void BgraToVuyaSse2(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t alpha_mask);
void VuyaToBgraSse2(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t alpha_mask);
void Bgr24ToVuyaSse2(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t alpha_mask);
void VuyaToBgr24Sse2(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t alpha_mask);
#endif

}  // namespace _rvxlib_
