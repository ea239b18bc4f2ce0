#include "jobs/target_miss.h"

#include <cstdio>

double TargetOverPercent(uint64_t target_bytes, uint64_t written_bytes) {
    if (target_bytes == 0) return 0.0;
    return (double(written_bytes) - double(target_bytes)) * 100.0 / double(target_bytes);
}

std::string TargetMissText(uint64_t target_bytes, uint64_t written_bytes) {
    char text[160];
    std::snprintf(text, sizeof text, "目標サイズを超えました: 目標 %llu バイト、実際 %llu バイト (%+.1f %%)",
                  static_cast<unsigned long long>(target_bytes), static_cast<unsigned long long>(written_bytes),
                  TargetOverPercent(target_bytes, written_bytes));
    return text;
}
