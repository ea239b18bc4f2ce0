#pragma once
// Two-pass rate control seen from a job: the size or rate a person asks for,
// what the first pass codes with, the budget the plan spreads over the
// frames, and the smallest movie a target may ask for.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "jobs/encode_settings.h"
#include "rvxlib/ratecontrol/rate_plan.h"

// "50M", "700MiB", "1.5G", "123456": k, M, G are powers of 1000; KiB, MiB,
// GiB powers of 1024; a bare number is bytes. False for anything else, for
// 0, and beyond 64 bits.
bool ParseTargetSize(const std::string& text, uint64_t* bytes);
// "4M", "800k", "2500000": bits per second (k, M, G powers of 1000).
bool ParseTargetBitrate(const std::string& text, uint64_t* bits_per_second);

bool HasRateTarget(const EncodeSettings& settings);
// Why the settings cannot be coded to a target; empty when they can.
std::string RateTargetRefusal(const EncodeSettings& settings);

// The first pass: the classic decisions for a classic second pass, the fast
// ones for every preset that decides by cost; the picture format, transform,
// matrix and groups of pictures stay the user's, so the groups fall where
// they will fall again.
EncodeSettings FirstPassSettings(const EncodeSettings& settings);
// The size sample's runs (size_sample.h): the first pass's quantisers, but the
// movie's own preset and adaptive quantisation, so that what they cost at
// full size is what the second pass will spend rather than what the first
// pass's quicker decisions spend. The plan's first group, coded before any
// frame shows how far its model is off, depends on it most.
EncodeSettings SizeSampleSettings(const EncodeSettings& settings);
// Whether the first pass codes the analysis picture of half the width and
// height (analysis_picture.h, size_sample.h): for the presets that decide by
// cost, on pictures large enough to keep a few macroblocks after halving.
// The classic decisions keep a first pass of their own at full size.
bool ReducedFirstPass(const EncodeSettings& settings, uint32_t width, uint32_t height);
// The first pass's quantiser for each frame: the second pass's balance of I,
// P and B at one of the two levels FirstPassLevel picks for the frame. Its
// frame k is display frame first_frame + k.
std::shared_ptr<_rvxlib_::IRVXRateControl> MakeFirstPassControl(const EncodeSettings& settings,
                                                                uint32_t first_frame);

// The whole movie's size the settings ask for; the rate is taken over the
// frames at numerator/denominator frames per second.
uint64_t TargetMovieBytes(const EncodeSettings& settings, uint64_t frames, uint32_t rate_numerator,
                          uint32_t rate_denominator);

// The smallest movie of `frames` pictures in regular groups of gop_length:
// every macroblock at quality 32 without coefficients, the container around
// them and the sound.
uint64_t SmallestMovieBytes(uint64_t frames, uint32_t gop_length, uint32_t macroblocks,
                            uint32_t blocks_per_macroblock, uint64_t sound_bytes);

// A plan for the second pass from the first pass's frames, spreading what
// the target leaves after the container and the sound.
std::shared_ptr<_rvxlib_::CRVXRatePlan> MakeRatePlan(const EncodeSettings& settings,
                                                     std::vector<_rvxlib_::RVXPassFrame> frames,
                                                     uint32_t macroblocks, uint32_t blocks_per_macroblock,
                                                     uint64_t payload_budget);

// "12.3 MB (12345678 bytes)".
std::string ByteCountText(uint64_t bytes);
