#pragma once
// The processor levels the harness compares against the portable routines:
// every level this machine reaches, whatever RVX_SIMD caps the codec to.

#include <cstdint>
#include <vector>

#include "support/cpu_features.h"

namespace kernel_test {

struct Level {
    CpuLevel level;
    uint32_t features;  // the machine's feature word capped to the level
    const char* name;
};

inline std::vector<Level> AllLevels() {
    std::vector<Level> levels;
    const uint32_t detected = DetectedProcessorFeatures();
    for (CpuLevel level : {CpuLevel::kPortable, CpuLevel::kSse2, CpuLevel::kAvx2, CpuLevel::kAvx512}) {
        if (FeatureLevel(detected) < level) break;
        levels.push_back({level, CapFeatures(detected, level), CpuLevelName(level)});
    }
    return levels;
}

// The levels above the portable one.
inline std::vector<Level> SimdLevels() {
    std::vector<Level> levels = AllLevels();
    levels.erase(levels.begin());
    return levels;
}

}  // namespace kernel_test
