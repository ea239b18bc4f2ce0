#include "support/pixel_format.h"

uint32_t PixelFormatBits(uint32_t format) {
    switch (format) {
        case PF_A8: return 8;
        case PF_A8X8:
        case PF_R5G6B5:
        case PF_X4R4G4B4:
        case PF_A4R4G4B4: return 16;
        case PF_B8G8R8:
        case PF_R8G8B8: return 24;
        case PF_X8R8G8B8:
        case PF_A8R8G8B8:
        case PF_X32:
        case PF_A32: return 32;
        default: return 0;
    }
}

uint32_t PixelFormatBytes(uint32_t format) {
    if (format == PF_NONE || format > PF_A8R8G8B8) return 0;
    return PixelFormatBits(format) / 8;
}

bool PixelFormatHasAlpha(uint32_t format) {
    return format == PF_A8 || format == PF_A8X8 || format == PF_A4R4G4B4 ||
           format == PF_A8R8G8B8 || format == PF_A32;
}

uint32_t PixelFormatTwin(uint32_t format, bool with_alpha) {
    switch (format) {
        case PF_R5G6B5: return with_alpha ? PF_A4R4G4B4 : PF_R5G6B5;
        case PF_X4R4G4B4:
        case PF_A4R4G4B4: return with_alpha ? PF_A4R4G4B4 : PF_X4R4G4B4;
        case PF_B8G8R8: return with_alpha ? PF_A8R8G8B8 : PF_B8G8R8;
        case PF_X8R8G8B8:
        case PF_A8R8G8B8: return with_alpha ? PF_A8R8G8B8 : PF_X8R8G8B8;
        case PF_X32:
        case PF_A32: return with_alpha ? PF_A32 : PF_X32;
        default: return format;
    }
}

int64_t RowPitch(int64_t width, uint32_t bits) {
    // A row's last partial byte counts: seven 1-bit pixels take a byte.
    return (width * bits + 31) / 32 * 4;
}
