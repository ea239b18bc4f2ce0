#include "rvxlib/dsp/block_convert_kernels.h"

#include "pqxlib/scan_tables.h"
#include "rvxlib/dsp/pixel_block.h"
#include "support/cpu_features.h"

#include <cstring>

namespace _rvxlib_ {
namespace {

inline int PixelIndex(int r, int c, int k) { return 64 * r + 4 * c + k; }
inline int WorkIndex(int r, int c, int k) { return 32 * r + 4 * c + k; }

struct ScanTables {
    uint8_t table[4][64];
    ScanTables() { _pqxlib_::BuildInterleavedScanTables(table); }
};
const ScanTables kScan;

void GatherPlane(int16_t* work, const int16_t* in, int channel) {
    for (int q = 0; q < 4; ++q) {
        const int16_t* from = in + PixelIndex(8 * (q >> 1), 8 * (q & 1), channel);
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c) work[WorkIndex(r, c, q)] = from[PixelIndex(r, c, 0)];
    }
}

void ScatterPlane(int16_t* in, const int16_t* work, int channel) {
    for (int q = 0; q < 4; ++q) {
        int16_t* to = in + PixelIndex(8 * (q >> 1), 8 * (q & 1), channel);
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c) to[PixelIndex(r, c, 0)] = work[WorkIndex(r, c, q)];
    }
}

// A picture without alpha still leaves the codec with opaque pixels, so the
// reconstruction never depends on what the uncoded channel held before.
void SetOpaque(int16_t* in) {
    for (uint32_t i = 3; i < kMacroblockSamples; i += 4) in[i] = 255;
}

void ClearSlot(int16_t* work, int slot) {
    for (uint32_t i = 0; i < 64; ++i) work[4 * i + slot] = 0;
}

// Rounding down in even and up in odd columns keeps the bias from building
// up across a row.
void Gather422Chroma(int16_t* work, const int16_t* in) {
    for (int slot = 0; slot < 4; ++slot) {
        const int channel = slot < 2 ? 1 : 0;
        const int16_t* from = in + PixelIndex(8 * (slot & 1), 0, channel);
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c) {
                const int a = from[PixelIndex(r, 2 * c, 0)];
                const int b = from[PixelIndex(r, 2 * c + 1, 0)];
                work[WorkIndex(r, c, slot)] = static_cast<int16_t>((a + b + (c & 1)) >> 1);
            }
    }
}

void Scatter422Chroma(int16_t* in, const int16_t* work) {
    for (int slot = 0; slot < 4; ++slot) {
        const int channel = slot < 2 ? 1 : 0;
        int16_t* to = in + PixelIndex(8 * (slot & 1), 0, channel);
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c) {
                const int16_t v = work[WorkIndex(r, c, slot)];
                to[PixelIndex(r, 2 * c, 0)] = v;
                to[PixelIndex(r, 2 * c + 1, 0)] = v;
            }
    }
}

void Gather411Chroma(int16_t* work, const int16_t* in) {
    for (int slot = 0; slot < 2; ++slot) {
        const int channel = 1 - slot;
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c) {
                const int sum = in[PixelIndex(2 * r, 2 * c, channel)] + in[PixelIndex(2 * r + 1, 2 * c, channel)] +
                                in[PixelIndex(2 * r, 2 * c + 1, channel)] +
                                in[PixelIndex(2 * r + 1, 2 * c + 1, channel)];
                work[WorkIndex(r, c, slot)] = static_cast<int16_t>((sum + 1 + (c & 1)) >> 2);
            }
    }
    // Slots 2 and 3 carry nothing; zeros keep every transform's unused lanes
    // defined whether or not it honours the channel count.
    ClearSlot(work, 2);
    ClearSlot(work, 3);
}

void Scatter411Chroma(int16_t* in, const int16_t* work) {
    for (int slot = 0; slot < 2; ++slot) {
        const int channel = 1 - slot;
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c) {
                const int16_t v = work[WorkIndex(r, c, slot)];
                in[PixelIndex(2 * r, 2 * c, channel)] = v;
                in[PixelIndex(2 * r, 2 * c + 1, channel)] = v;
                in[PixelIndex(2 * r + 1, 2 * c, channel)] = v;
                in[PixelIndex(2 * r + 1, 2 * c + 1, channel)] = v;
            }
    }
}

void EmitSlots(int16_t* out, const int16_t* work, int first, int count) {
    for (int slot = first; slot < first + count; ++slot, out += 64) {
        const uint8_t* scan = kScan.table[slot];
        for (uint32_t i = 0; i < 64; ++i) out[i] = work[scan[i]];
    }
}

void FillSlots(int16_t* work, const int16_t* in, int first, int count) {
    for (int slot = first; slot < first + count; ++slot, in += 64) {
        const uint8_t* scan = kScan.table[slot];
        for (uint32_t i = 0; i < 64; ++i) work[scan[i]] = in[i];
    }
}

}  // namespace

BlockConvertKernels block_convert_kernels_portable() {
    return {GatherPlane,      ScatterPlane, Gather422Chroma, Scatter422Chroma, Gather411Chroma,
            Scatter411Chroma, SetOpaque,    ClearSlot,       EmitSlots,        FillSlots};
}

BlockConvertKernels block_convert_kernels_for(uint32_t features) {
    BlockConvertKernels kernels = block_convert_kernels_portable();
#if defined(__x86_64__) && defined(__GNUC__)
    if (FeatureLevel(features) >= CpuLevel::kSse2) block_convert_kernels_sse2(kernels);
#else
    (void)features;
#endif
    return kernels;
}

}  // namespace _rvxlib_
