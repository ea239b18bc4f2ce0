#include "support/pixel_convert.h"

#include "support/byte_order.h"
#include "support/cpu_features.h"
#include "support/pixel_format.h"

#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace {

template <uint32_t F>
inline uint32_t Unpack(const uint8_t* p) {
    if constexpr (F == PF_A8) {
        return uint32_t{p[0]} << 24;
    } else if constexpr (F == PF_A8X8) {
        return uint32_t{p[1]} << 24;
    } else if constexpr (F == PF_R5G6B5) {
        const uint32_t v = LoadLE16(p);
        return 0xFF000000u | (((v >> 11) & 0x1F) << 19) | (((v >> 5) & 0x3F) << 10) |
               ((v & 0x1F) << 3);
    } else if constexpr (F == PF_X4R4G4B4 || F == PF_A4R4G4B4) {
        const uint32_t v = LoadLE16(p);
        const uint32_t a = F == PF_A4R4G4B4 ? ((v >> 12) & 0xF) << 4 : 0xFF;
        return (a << 24) | (((v >> 8) & 0xF) << 20) | (((v >> 4) & 0xF) << 12) | ((v & 0xF) << 4);
    } else if constexpr (F == PF_B8G8R8 || F == PF_X8R8G8B8) {
        return 0xFF000000u | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
    } else if constexpr (F == PF_R8G8B8) {
        return 0xFF000000u | (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
    } else {
        static_assert(F == PF_A8R8G8B8);
        return (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
    }
}

template <uint32_t F>
inline uint32_t PackValue(uint32_t c) {
    const uint32_t a = c >> 24, r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
    if constexpr (F == PF_A8) {
        return a;
    } else if constexpr (F == PF_A8X8) {
        return a << 8;
    } else if constexpr (F == PF_R5G6B5) {
        return ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
    } else if constexpr (F == PF_X4R4G4B4) {
        return 0xF000 | ((r >> 4) << 8) | ((g >> 4) << 4) | (b >> 4);
    } else if constexpr (F == PF_A4R4G4B4) {
        return ((a >> 4) << 12) | ((r >> 4) << 8) | ((g >> 4) << 4) | (b >> 4);
    } else if constexpr (F == PF_B8G8R8) {
        return c & 0xFFFFFF;
    } else if constexpr (F == PF_R8G8B8) {
        return (b << 16) | (g << 8) | r;
    } else if constexpr (F == PF_X8R8G8B8) {
        return c | 0xFF000000u;
    } else {
        static_assert(F == PF_A8R8G8B8);
        return c;
    }
}

template <uint32_t F>
inline void Pack(uint8_t* p, uint32_t c) {
    const uint32_t v = PackValue<F>(c);
    constexpr uint32_t bytes = F == PF_A8 ? 1 : F <= PF_A4R4G4B4 ? 2 : F <= PF_R8G8B8 ? 3 : 4;
    p[0] = static_cast<uint8_t>(v);
    if constexpr (bytes > 1) p[1] = static_cast<uint8_t>(v >> 8);
    if constexpr (bytes > 2) p[2] = static_cast<uint8_t>(v >> 16);
    if constexpr (bytes > 3) p[3] = static_cast<uint8_t>(v >> 24);
}

template <uint32_t S, uint32_t D>
void ConvertGeneric(uint8_t* dst, const uint8_t* src, int32_t width) {
    constexpr uint32_t sb = S == PF_A8 ? 1 : S <= PF_A4R4G4B4 ? 2 : S <= PF_R8G8B8 ? 3 : 4;
    constexpr uint32_t db = D == PF_A8 ? 1 : D <= PF_A4R4G4B4 ? 2 : D <= PF_R8G8B8 ? 3 : 4;
    for (int32_t i = 0; i < width; ++i, src += sb, dst += db) Pack<D>(dst, Unpack<S>(src));
}

// The common case of every 24-bit picture: four bytes are read at once
// where the next pixel's bytes follow, the last pixel byte by byte.
void B8G8R8ToX8R8G8B8(uint8_t* dst, const uint8_t* src, int32_t width) {
    int32_t i = 0;
    for (; i + 1 < width; ++i) {
        StoreLE32(dst + 4 * i, LoadLE32(src + 3 * i) | 0xFF000000u);
    }
    for (; i < width; ++i) Pack<PF_X8R8G8B8>(dst + 4 * i, Unpack<PF_B8G8R8>(src + 3 * i));
}

#if defined(__x86_64__) && defined(__GNUC__)
// Four pixels per shuffle; a load takes 16 bytes for 12, so it stops while
// 16 remain in the row and the plain routine ends it. Built for SSSE3,
// chosen only at the AVX2 level, which includes it.
__attribute__((target("ssse3"))) void B8G8R8ToX8R8G8B8Ssse3(uint8_t* dst, const uint8_t* src,
                                                          int32_t width) {
    const __m128i order = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i opaque = _mm_set1_epi32(int32_t(0xFF000000u));
    int32_t i = 0;
    for (; i + 6 <= width; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i),
                         _mm_or_si128(_mm_shuffle_epi8(v, order), opaque));
    }
    B8G8R8ToX8R8G8B8(dst + 4 * i, src + 3 * i, width - i);
}
#endif

RowKernel WideningOf24Bits() {
#if defined(__x86_64__) && defined(__GNUC__)
    static const RowKernel chosen = FeatureLevel(ProcessorFeatures()) >= CpuLevel::kAvx2
                                        ? B8G8R8ToX8R8G8B8Ssse3
                                        : B8G8R8ToX8R8G8B8;
    return chosen;
#else
    return B8G8R8ToX8R8G8B8;
#endif
}

template <uint32_t Bytes>
void CopyPixels(uint8_t* dst, const uint8_t* src, int32_t width) {
    std::memmove(dst, src, static_cast<std::size_t>(width) * Bytes);
}

// Alpha-mask sources change only the alpha of the destination pixels.
void MaskToA8X8(uint8_t* dst, const uint8_t* src, int32_t width) {
    for (int32_t i = 0; i < width; ++i) dst[2 * i] = dst[2 * i + 1] = src[i];
}
void MaskToA4R4G4B4(uint8_t* dst, const uint8_t* src, int32_t width) {
    for (int32_t i = 0; i < width; ++i) {
        dst[2 * i + 1] = static_cast<uint8_t>((dst[2 * i + 1] & 0x0F) | (src[i] & 0xF0));
    }
}
void MaskToA8R8G8B8(uint8_t* dst, const uint8_t* src, int32_t width) {
    for (int32_t i = 0; i < width; ++i) dst[4 * i + 3] = src[i];
}

template <uint32_t S>
RowKernel ColourKernel(uint32_t dst_format) {
    switch (dst_format) {
        case PF_R5G6B5: return ConvertGeneric<S, PF_R5G6B5>;
        case PF_A4R4G4B4: return ConvertGeneric<S, PF_A4R4G4B4>;
        case PF_B8G8R8: return ConvertGeneric<S, PF_B8G8R8>;
        case PF_X8R8G8B8: return ConvertGeneric<S, PF_X8R8G8B8>;
        case PF_A8R8G8B8: return ConvertGeneric<S, PF_A8R8G8B8>;
        default: return nullptr;
    }
}

template <uint32_t S, uint32_t D>
void ConvertKeyed(uint8_t* dst, const uint8_t* src, int32_t width, uint32_t key) {
    constexpr uint32_t sb = S == PF_R5G6B5 ? 2 : S == PF_B8G8R8 ? 3 : 4;
    constexpr uint32_t db = D == PF_A4R4G4B4 ? 2 : 4;
    // The comparison happens in the source's own precision, so a key read back
    // from a 5-6-5 pixel matches that pixel even though its low bits are 0.
    const uint32_t narrow_key = S == PF_R5G6B5 ? PackValue<PF_R5G6B5>(key) : key & 0xFFFFFF;
    for (int32_t i = 0; i < width; ++i, src += sb, dst += db) {
        const uint32_t own = S == PF_R5G6B5 ? LoadLE16(src) : src[0] | (src[1] << 8) | (src[2] << 16);
        const uint32_t c = Unpack<S>(src) & 0xFFFFFF;
        Pack<D>(dst, own == narrow_key ? c : c | 0xFF000000u);
    }
}

}  // namespace

RowKernel RowConverterFor(uint32_t s, uint32_t d) {
    switch (s) {
        case PF_A8: return d == PF_A8 ? CopyPixels<1> : nullptr;
        case PF_A8X8: return d == PF_A8X8 ? CopyPixels<2> : nullptr;
        case PF_R5G6B5:
            return d == PF_R5G6B5 ? CopyPixels<2> : ColourKernel<PF_R5G6B5>(d);
        case PF_A4R4G4B4:
            return d == PF_A4R4G4B4 ? CopyPixels<2> : ColourKernel<PF_A4R4G4B4>(d);
        case PF_B8G8R8:
            if (d == PF_X8R8G8B8 || d == PF_A8R8G8B8) return WideningOf24Bits();
            return d == PF_B8G8R8 ? CopyPixels<3> : ColourKernel<PF_B8G8R8>(d);
        case PF_X8R8G8B8:
            if (d == PF_X8R8G8B8) return CopyPixels<4>;
            if (d == PF_B8G8R8 || d == PF_A8R8G8B8) return ColourKernel<PF_X8R8G8B8>(d);
            return nullptr;
        case PF_A8R8G8B8:
            // Both 32-bit targets take the four bytes as they are: a frame kept
            // as "no alpha" still carries its alpha byte along.
            if (d == PF_X8R8G8B8 || d == PF_A8R8G8B8) return CopyPixels<4>;
            return ColourKernel<PF_A8R8G8B8>(d);
        default: return nullptr;
    }
}

RowKernel BlitKernelFor(uint32_t s, uint32_t d) {
    switch (s) {
        case PF_A8:
            switch (d) {
                case PF_A8: return CopyPixels<1>;
                case PF_A8X8: return MaskToA8X8;
                case PF_A4R4G4B4: return MaskToA4R4G4B4;
                case PF_A8R8G8B8: return MaskToA8R8G8B8;
                default: return nullptr;
            }
        case PF_A8X8:
            switch (d) {
                case PF_A8: return ConvertGeneric<PF_A8X8, PF_A8>;
                case PF_A8X8: return CopyPixels<2>;
                // Read as black with the pixel's alpha, the same meaning that
                // GetPixel gives this format.
                case PF_A4R4G4B4: return ConvertGeneric<PF_A8X8, PF_A4R4G4B4>;
                case PF_A8R8G8B8: return ConvertGeneric<PF_A8X8, PF_A8R8G8B8>;
                default: return nullptr;
            }
        case PF_A4R4G4B4:
            if (d == PF_A8) return ConvertGeneric<PF_A4R4G4B4, PF_A8>;
            return RowConverterFor(s, d);
        case PF_R5G6B5:
        case PF_B8G8R8: return RowConverterFor(s, d);
        case PF_X8R8G8B8:
            if (d == PF_X8R8G8B8) return CopyPixels<4>;
            if (d == PF_R5G6B5 || d == PF_A4R4G4B4 || d == PF_B8G8R8 || d == PF_A8R8G8B8)
                return ColourKernel<PF_X8R8G8B8>(d);
            return nullptr;
        case PF_A8R8G8B8:
            if (d == PF_A8) return ConvertGeneric<PF_A8R8G8B8, PF_A8>;
            if (d == PF_A8R8G8B8) return CopyPixels<4>;
            return ColourKernel<PF_A8R8G8B8>(d);
        default: return nullptr;
    }
}

int32_t ConvertRow(void* dst, uint32_t dst_format, const void* src, uint32_t src_format,
                   int32_t width) {
    const RowKernel kernel = RowConverterFor(src_format, dst_format);
    if (kernel == nullptr || dst == nullptr || src == nullptr) return 0;
    if (width > 0) kernel(static_cast<uint8_t*>(dst), static_cast<const uint8_t*>(src), width);
    return 1;
}

int32_t ConvertRowKeyed(void* dst_row, uint32_t d, const void* src_row, uint32_t s,
                        uint32_t key, int32_t width) {
    if (!PixelFormatHasAlpha(d) || PixelFormatHasAlpha(s)) {
        return ConvertRow(dst_row, d, src_row, s, width);
    }
    if (dst_row == nullptr || src_row == nullptr) return 0;
    auto* dst = static_cast<uint8_t*>(dst_row);
    const auto* src = static_cast<const uint8_t*>(src_row);
    width = width > 0 ? width : 0;
    if (s == PF_R5G6B5 && d == PF_A4R4G4B4) ConvertKeyed<PF_R5G6B5, PF_A4R4G4B4>(dst, src, width, key);
    else if (s == PF_R5G6B5 && d == PF_A8R8G8B8) ConvertKeyed<PF_R5G6B5, PF_A8R8G8B8>(dst, src, width, key);
    else if (s == PF_B8G8R8 && d == PF_A4R4G4B4) ConvertKeyed<PF_B8G8R8, PF_A4R4G4B4>(dst, src, width, key);
    else if (s == PF_B8G8R8 && d == PF_A8R8G8B8) ConvertKeyed<PF_B8G8R8, PF_A8R8G8B8>(dst, src, width, key);
    else if (s == PF_X8R8G8B8 && d == PF_A8R8G8B8) ConvertKeyed<PF_X8R8G8B8, PF_A8R8G8B8>(dst, src, width, key);
    else return 0;
    return 1;
}

bool ExpandPixel(uint32_t format, const uint8_t* p, uint32_t* argb, uint32_t* raw) {
    uint32_t c = 0;
    switch (format) {
        case PF_A8: c = Unpack<PF_A8>(p); break;
        case PF_A8X8: c = Unpack<PF_A8X8>(p); break;
        case PF_R5G6B5: c = Unpack<PF_R5G6B5>(p); break;
        case PF_X4R4G4B4: c = Unpack<PF_X4R4G4B4>(p); break;
        case PF_A4R4G4B4: c = Unpack<PF_A4R4G4B4>(p); break;
        case PF_B8G8R8: c = Unpack<PF_B8G8R8>(p); break;
        case PF_R8G8B8: c = Unpack<PF_R8G8B8>(p); break;
        case PF_X8R8G8B8: c = Unpack<PF_X8R8G8B8>(p); break;
        case PF_A8R8G8B8: c = Unpack<PF_A8R8G8B8>(p); break;
        default:
            if (argb) *argb = 0;
            if (raw) *raw = 0;
            return false;
    }
    uint32_t r = 0;
    const uint32_t bytes = PixelFormatBytes(format);
    for (uint32_t i = 0; i < bytes; ++i) r |= uint32_t{p[i]} << (8 * i);
    if (argb) *argb = c;
    if (raw) *raw = r;
    return true;
}

bool FillValue(uint32_t format, uint32_t colour, uint32_t* value) {
    switch (format) {
        case PF_A8: *value = PackValue<PF_A8>(colour); return true;
        case PF_R5G6B5: *value = PackValue<PF_R5G6B5>(colour); return true;
        case PF_X4R4G4B4: *value = PackValue<PF_X4R4G4B4>(colour); return true;
        case PF_A4R4G4B4: *value = PackValue<PF_A4R4G4B4>(colour); return true;
        case PF_B8G8R8: *value = PackValue<PF_B8G8R8>(colour); return true;
        case PF_X8R8G8B8: *value = PackValue<PF_X8R8G8B8>(colour); return true;
        case PF_A8R8G8B8: *value = PackValue<PF_A8R8G8B8>(colour); return true;
        default: return false;
    }
}
