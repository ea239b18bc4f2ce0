#pragma once
// The processor feature word: every codec object's Init takes it and only
// chooses among implementations that give identical results.

#include <cstdint>

enum CpuFeature : uint32_t {
    kCpuCmov = 0x01,
    kCpuMmx = 0x02,
    kCpuSse = 0x10,
    kCpuSse2 = 0x20,
};

// CPUID leaf 1, EDX, reduced to the bits above; 0 on other processors.
// Setting the environment variable RVX_NO_SIMD forces 0, so the whole suite
// can be re-run on the portable routines.
uint32_t ProcessorFeatures();
