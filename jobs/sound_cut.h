#pragma once
// The sound of the part of a movie that is kept: the WAVE file's samples
// from the first kept frame to the end of the last, as a WAVE file of their
// own for the sound encoder.

#include <cstdint>
#include <string>

constexpr const char* kCutSoundName = "tmpcut.wav";

// The first sample frame of the sound that plays with picture `frame` of a
// movie at numerator/denominator frames per second, to the nearest sample.
uint64_t SoundFrameAt(uint64_t frame, uint32_t sample_rate, uint32_t rate_numerator, uint32_t rate_denominator);

// Copies the sample frames of `wave` from picture `first_frame` up to
// picture `end_frame` (UINT64_MAX: to the end of the sound) into `out`,
// unchanged in their sample format and channels. A part beyond the end of
// the sound gives a file without samples. False, `failure` set, when `wave`
// is not a WAVE file the sound encoder reads or `out` cannot be written.
bool CutSound(const std::string& wave, const std::string& out, uint64_t first_frame, uint64_t end_frame,
              uint32_t rate_numerator, uint32_t rate_denominator, uint64_t& sample_frames, std::string& failure);
