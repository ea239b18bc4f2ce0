#include "support/cpu_features.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace {

#if defined(__x86_64__) || defined(__i386__)
// The register state the system saves on a task switch (XCR0), or 0 when
// it has not enabled XGETBV. The processor may have AVX2 or AVX-512 while
// the system does not save their registers; both must hold before such code
// may run.
uint32_t SavedRegisterState(unsigned ecx1) {
    const bool osxsave = (ecx1 & (1u << 27)) != 0;
    const bool avx = (ecx1 & (1u << 28)) != 0;
    if (!osxsave || !avx) return 0;
    uint32_t low = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return low;
}

constexpr uint32_t kYmmState = 0x6;     // XMM and YMM
constexpr uint32_t kZmmState = 0xe6;    // and the opmasks, ZMM_Hi256 and Hi16_ZMM

// Leaf 7: AVX512F (EBX 16), BW (EBX 30), VL (EBX 31); VBMI (ECX 1), VNNI (ECX 11).
constexpr unsigned kAvx512Ebx = (1u << 16) | (1u << 30) | (1u << 31);
constexpr unsigned kAvx512Ecx = (1u << 1) | (1u << 11);
#endif

uint32_t Detect() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return 0;
    uint32_t word = 0;
    if (edx & (1u << 15)) word |= kCpuCmov;
    if (edx & (1u << 23)) word |= kCpuMmx;
    if (edx & (1u << 25)) word |= kCpuSse;
    if (edx & (1u << 26)) word |= kCpuSse2;
    if (ecx & (1u << 1)) word |= kCpuClmul;
    const unsigned ecx1 = ecx;
    if (__get_cpuid_max(0, nullptr) >= 7) {
        __cpuid_count(7, 0, eax, ebx, ecx, edx);
        const uint32_t saved = SavedRegisterState(ecx1);
        if ((ebx & (1u << 5)) && (saved & kYmmState) == kYmmState) {
            word |= kCpuAvx2;
            if ((ebx & kAvx512Ebx) == kAvx512Ebx && (ecx & kAvx512Ecx) == kAvx512Ecx &&
                (saved & kZmmState) == kZmmState)
                word |= kCpuAvx512;
        }
        if ((ebx & (1u << 29)) && (ecx1 & (1u << 19)) && (ecx1 & (1u << 9))) word |= kCpuSha;
    }
    return word;
#else
    return 0;
#endif
}

uint32_t CapByEnvironment(uint32_t features) {
    if (std::getenv("RVX_NO_SIMD") != nullptr) return CapFeatures(features, CpuLevel::kPortable);
    const char* cap = std::getenv("RVX_SIMD");
    if (cap == nullptr || *cap == '\0') return features;
    CpuLevel level;
    if (!ParseCpuLevel(cap, &level)) {
        // A misspelt cap must not silently test the fastest routines instead.
        std::fprintf(stderr, "RVX_SIMD=%s is not none, sse2, avx2 or avx512; using the portable routines\n", cap);
        level = CpuLevel::kPortable;
    }
    return CapFeatures(features, level);
}

}  // namespace

uint32_t DetectedProcessorFeatures() {
    static const uint32_t word = Detect();
    return word;
}

uint32_t ProcessorFeatures() {
    static const uint32_t word = CapByEnvironment(DetectedProcessorFeatures());
    return word;
}

uint32_t CapFeatures(uint32_t features, CpuLevel level) {
    switch (level) {
    case CpuLevel::kPortable: return 0;
    case CpuLevel::kSse2: return features & ~uint32_t(kCpuAvx2 | kCpuAvx512);
    case CpuLevel::kAvx2: return features & ~uint32_t(kCpuAvx512);
    case CpuLevel::kAvx512: return features;
    }
    return 0;
}

CpuLevel FeatureLevel(uint32_t features) {
    const bool avx2 = (features & kCpuAvx2) && (features & kCpuSse2);
    if (avx2 && (features & kCpuAvx512)) return CpuLevel::kAvx512;
    if (avx2) return CpuLevel::kAvx2;
    if (features & kCpuSse2) return CpuLevel::kSse2;
    return CpuLevel::kPortable;
}

const char* CpuLevelName(CpuLevel level) {
    switch (level) {
    case CpuLevel::kPortable: return "none";
    case CpuLevel::kSse2: return "sse2";
    case CpuLevel::kAvx2: return "avx2";
    case CpuLevel::kAvx512: return "avx512";
    }
    return "?";
}

bool ParseCpuLevel(const char* name, CpuLevel* level) {
    for (CpuLevel l : {CpuLevel::kPortable, CpuLevel::kSse2, CpuLevel::kAvx2, CpuLevel::kAvx512}) {
        if (std::strcmp(name, CpuLevelName(l)) == 0) {
            *level = l;
            return true;
        }
    }
    return false;
}
