#pragma once
// The processor feature word: every codec object's Init takes it and only
// chooses among implementations that give identical results.

#include <cstdint>

enum CpuFeature : uint32_t {
    kCpuCmov = 0x01,
    kCpuMmx = 0x02,
    kCpuSse = 0x10,
    kCpuSse2 = 0x20,
    kCpuAvx2 = 0x100,   // AVX2 with the YMM state saved by the system
    // AVX-512 F, BW, VL, VBMI and VNNI with the opmask and ZMM state saved by
    // the system; only ever set together with kCpuAvx2.
    kCpuAvx512 = 0x200,
    kCpuSha = 0x400,    // SHA-256 instructions, with the SSSE3 and SSE4.1 they need
    kCpuClmul = 0x800,  // carry-less multiply (PCLMULQDQ)
};

// The levels the hot routines climb, each including the ones below.
enum class CpuLevel { kPortable, kSse2, kAvx2, kAvx512 };

// The processor's features, capped by the environment: RVX_SIMD=none, sse2,
// avx2 or avx512 allows up to that level (RVX_NO_SIMD=1 is the same as
// none), so the whole suite can be re-run on the slower routines.
uint32_t ProcessorFeatures();
// What the processor has, whatever the environment says.
uint32_t DetectedProcessorFeatures();

// The feature word reduced to what a level allows.
uint32_t CapFeatures(uint32_t features, CpuLevel level);
// The highest level a feature word reaches.
CpuLevel FeatureLevel(uint32_t features);
const char* CpuLevelName(CpuLevel level);
// The level named by an RVX_SIMD value; false for an unknown name.
bool ParseCpuLevel(const char* name, CpuLevel* level);
