#pragma once
// A movie coded to a target size that came out larger than the target
// allows: how far over, and the words both front ends use for it.

#include <cstdint>
#include <string>

// How far over its target the movie came out, in percent (negative when
// under); 0 without a target.
double TargetOverPercent(uint64_t target_bytes, uint64_t written_bytes);

// "目標サイズを超えました: 目標 400000 バイト、実際 630211 バイト (+57.6 %)".
std::string TargetMissText(uint64_t target_bytes, uint64_t written_bytes);
