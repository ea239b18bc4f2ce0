#pragma once
// Row routines of the colour converters. The portable ones define every
// result; the twins color_kernels_for picks must give the same bytes.

#include <cstdint>

namespace _rvxlib_ {

using ColorRowRoutine = void (*)(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t alpha_mask);

struct ColorRowRoutines {
    ColorRowRoutine forward;
    ColorRowRoutine back;
};

enum class ColorConversion { kBgr24ToBgra, kBgraToBgra, kBgr24ToVuya, kBgraToVuya };
inline constexpr int kColorConversionCount = 4;

// Forward and back rows of every conversion.
struct ColorKernels {
    ColorRowRoutines rows[kColorConversionCount];
    const ColorRowRoutines& operator[](ColorConversion c) const { return rows[static_cast<int>(c)]; }
};

ColorKernels color_kernels_portable();
// The fastest routines the processor feature word allows.
ColorKernels color_kernels_for(uint32_t features);
// Replaces the routines that have an SSE2 twin (the plain copies vectorise
// as they are); false when this build has none.
bool color_kernels_sse2(ColorKernels& kernels);
// The same for the AVX2 twins (the forward rows to V, U, Y, A); the caller
// makes sure the processor has AVX2.
bool color_kernels_avx2(ColorKernels& kernels);
// The same for the AVX-512 twins (F, BW, VL, VBMI, VNNI); the caller makes
// sure the processor has them.
bool color_kernels_avx512(ColorKernels& kernels);

}  // namespace _rvxlib_
