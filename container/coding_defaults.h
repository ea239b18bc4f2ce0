#pragma once
// The coding settings a movie gets when nobody chooses others, for the
// layers above the codec: the video defaults of rvxlib/format/coding_defaults.h by
// their plain names, and the sound's block size.

#include <cstdint>

#include "rvxlib/encoder/encoder_presets.h"
#include "rvxlib/format/coding_defaults.h"
#include "snxlib/snx_format.h"

using _rvxlib_::kDefaultBFrames;
using _rvxlib_::kDefaultPFrames;
using _rvxlib_::kDefaultQualityB;
using _rvxlib_::kDefaultQualityI;
using _rvxlib_::kDefaultQualityP;
using _rvxlib_::kDefaultSceneChange;
using _rvxlib_::RVXPreset;
inline constexpr uint32_t kDefaultAudioBlockSize = _snxlib_::kDefaultSNXBlockSize;
