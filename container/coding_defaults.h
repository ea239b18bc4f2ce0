#pragma once
// The coding settings a movie gets when nobody chooses others: the writer's
// defaults, and the values the option fields start with in the window and
// in rvxenc.

#include <cstdint>

#include "snxlib/snx_format.h"

inline constexpr uint16_t kDefaultPFrames = 5;
inline constexpr uint16_t kDefaultBFrames = 2;
inline constexpr uint16_t kDefaultSceneChange = 192;
inline constexpr uint16_t kDefaultQualityI = 4;
inline constexpr uint16_t kDefaultQualityP = 6;
inline constexpr uint16_t kDefaultQualityB = 8;
inline constexpr uint32_t kDefaultAudioBlockSize = _snxlib_::kDefaultSNXBlockSize;
