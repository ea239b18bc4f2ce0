#include "support/cpu_features.h"

#include <cstdlib>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace {

uint32_t DetectFeatures() {
    if (std::getenv("RVX_NO_SIMD") != nullptr) return 0;
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return 0;
    uint32_t word = 0;
    if (edx & (1u << 15)) word |= kCpuCmov;
    if (edx & (1u << 23)) word |= kCpuMmx;
    if (edx & (1u << 25)) word |= kCpuSse;
    if (edx & (1u << 26)) word |= kCpuSse2;
    return word;
#else
    return 0;
#endif
}

}  // namespace

uint32_t ProcessorFeatures() {
    static const uint32_t word = DetectFeatures();
    return word;
}
