#include "jobs/rate_control.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "container/quant_matrices.h"
#include "container/rvx_layout.h"
#include "rvxlib/format/coding_defaults.h"
#include "rvxlib/format/format_word.h"
#include "rvxlib/format/frame_record.h"
#include "rvxlib/ratecontrol/first_pass_control.h"

namespace {

// The first pass's level: the middle of the quality range on a logarithmic
// scale, so that the model's step to any target quality stays short.
constexpr uint16_t kFirstPassLevel = 8;

// A decimal number with an optional fraction, then one of the suffixes with
// its multiplier; false for anything else.
bool ParseScaled(const std::string& text, const std::vector<std::pair<const char*, uint64_t>>& suffixes,
                 uint64_t* result) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    const size_t start = i;
    long double value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') value = value * 10 + (text[i++] - '0');
    bool digits = i > start;
    if (i < text.size() && text[i] == '.') {
        long double scale = 0.1L;
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, scale /= 10) {
            value += scale * (text[i] - '0');
            digits = true;
        }
    }
    if (!digits) return false;
    size_t end = text.size();
    while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    const std::string unit = text.substr(i, end - i);
    for (const auto& [name, multiplier] : suffixes) {
        if (unit != name) continue;
        const long double product = std::floor(value * multiplier + 0.5L);
        if (product < 1 || product > 18446744073709551615.0L) return false;
        *result = uint64_t(product);
        return true;
    }
    return false;
}

// Pictures narrower or lower than this are coded whole in the first pass:
// halved they would keep too few macroblocks to stand for the movie.
constexpr uint32_t kLeastReducedDimension = 32;

}  // namespace

bool ParseTargetSize(const std::string& text, uint64_t* bytes) {
    static const std::vector<std::pair<const char*, uint64_t>> units = {
        {"", 1},          {"B", 1},
        {"k", 1000},      {"K", 1000},           {"kB", 1000},         {"KB", 1000},
        {"M", 1000000},   {"MB", 1000000},       {"G", 1000000000},    {"GB", 1000000000},
        {"KiB", 1024},    {"MiB", 1024 * 1024},  {"GiB", 1024ull * 1024 * 1024}};
    return ParseScaled(text, units, bytes);
}

bool ParseTargetBitrate(const std::string& text, uint64_t* bits_per_second) {
    static const std::vector<std::pair<const char*, uint64_t>> units = {
        {"", 1}, {"k", 1000}, {"K", 1000}, {"M", 1000000}, {"G", 1000000000}};
    return ParseScaled(text, units, bits_per_second);
}

bool HasRateTarget(const EncodeSettings& settings) {
    return settings.target_bytes != 0 || settings.target_bits_per_second != 0;
}

std::string RateTargetRefusal(const EncodeSettings& settings) {
    if (!HasRateTarget(settings)) return "";
    if (settings.target_bytes != 0 && settings.target_bits_per_second != 0)
        return "a target size and a target bitrate cannot both be given";
    if (((settings.transform >> 12) & 0xF) == _rvxlib_::kTransformDiff2D)
        return "Diff2D is lossless and has no quantiser to steer, so it cannot be coded to a target size or "
               "bitrate";
    return "";
}

namespace {

_rvxlib_::RVXFrameQuantisers FirstPassLevelQualities(const EncodeSettings& settings, uint16_t level) {
    uint8_t intra[64], inter[64];
    LoadQuantMatrices(kMatrixSelectorMpeg, intra, inter);
    LoadQuantMatrices(settings.matrix, intra, inter);
    return _rvxlib_::QuantisersForLevel(settings.preset, level, intra, inter);
}

}  // namespace

EncodeSettings FirstPassSettings(const EncodeSettings& settings) {
    EncodeSettings first = settings;
    // The presets that decide by cost spend their bits unlike the classic
    // decisions at the same quality; fast decisions on the same balance of
    // I, P and B cost what those presets cost far more closely, and no more
    // time than the classic ones. They also meet the same runs of B frames
    // (chosen by looking ahead) and the same pictures (moved against the
    // deblocking filter) as the second pass.
    first.preset = _rvxlib_::TuningFor(settings.preset).first_pass;
    // Adaptive quantisation moves bits between macroblocks and changes what
    // frames cost: the first pass measures it where the second pass uses it.
    first.adaptive_quantisation =
        settings.adaptive_quantisation && _rvxlib_::TuningFor(first.preset).adapts_quantisers;
    const _rvxlib_::RVXFrameQuantisers q = FirstPassLevelQualities(settings, kFirstPassLevel);
    first.quality_i = q.i;
    first.quality_p = q.p;
    first.quality_b = q.b;
    first.target_bytes = first.target_bits_per_second = 0;
    return first;
}

EncodeSettings SizeSampleSettings(const EncodeSettings& settings) {
    EncodeSettings sample = FirstPassSettings(settings);
    sample.preset = settings.preset;
    sample.adaptive_quantisation = settings.adaptive_quantisation;
    return sample;
}

bool ReducedFirstPass(const EncodeSettings& settings, uint32_t width, uint32_t height) {
    return _rvxlib_::TuningFor(settings.preset).reduced_first_pass && width >= kLeastReducedDimension &&
           height >= kLeastReducedDimension;
}

std::shared_ptr<_rvxlib_::IRVXRateControl> MakeFirstPassControl(const EncodeSettings& settings,
                                                                uint32_t first_frame) {
    const uint32_t gop = _rvxlib_::ClampGopShape(settings.p_frames, settings.b_frames).Length();
    return std::make_shared<_rvxlib_::CRVXFirstPassControl>(
        FirstPassLevelQualities(settings, _rvxlib_::kFirstPassFineLevel),
        FirstPassLevelQualities(settings, _rvxlib_::kFirstPassCoarseLevel), gop, first_frame);
}

uint64_t TargetMovieBytes(const EncodeSettings& settings, uint64_t frames, uint32_t rate_numerator,
                          uint32_t rate_denominator) {
    if (settings.target_bytes) return settings.target_bytes;
    if (!settings.target_bits_per_second || !rate_numerator) return 0;
    const long double seconds = (long double)frames * rate_denominator / rate_numerator;
    return uint64_t(std::floor(seconds * settings.target_bits_per_second / 8 + 0.5L));
}

uint64_t SmallestMovieBytes(uint64_t frames, uint32_t gop_length, uint32_t macroblocks,
                            uint32_t blocks_per_macroblock, uint64_t sound_bytes) {
    const uint64_t groups = gop_length ? (frames + gop_length - 1) / gop_length : frames;
    const uint64_t intra = _rvxlib_::SmallestFrameBytes(macroblocks, blocks_per_macroblock, false);
    const uint64_t inter = _rvxlib_::SmallestFrameBytes(macroblocks, blocks_per_macroblock, true);
    return rvx_layout::MovieOverheadBytes(frames, groups) + groups * intra + (frames - groups) * inter +
           sound_bytes;
}

std::shared_ptr<_rvxlib_::CRVXRatePlan> MakeRatePlan(const EncodeSettings& settings,
                                                     std::vector<_rvxlib_::RVXPassFrame> frames,
                                                     uint32_t macroblocks, uint32_t blocks_per_macroblock,
                                                     uint64_t payload_budget) {
    _rvxlib_::RVXRatePlanSettings plan;
    uint8_t intra[64], inter[64];
    LoadQuantMatrices(kMatrixSelectorMpeg, intra, inter);
    LoadQuantMatrices(settings.matrix, intra, inter);
    // A movie the coder steers past quality 32 keeps its P and B frames in
    // the preset's balance with the I frames along every level rather than
    // resting at 32 while only the I frames move. The coder decides the
    // same way, so the plan never counts on a quantiser it would clamp.
    if (_rvxlib_::SteersPastMaxQuality(_rvxlib_::TuningFor(settings.preset), settings.FormatBits()))
        plan.coarsest_quantiser = _rvxlib_::kMaxSteeredQuality;
    for (uint16_t level = _rvxlib_::kMinQuality; level <= _rvxlib_::kMaxQuality; ++level)
        plan.quantisers_at_level[level - _rvxlib_::kMinQuality] =
            _rvxlib_::QuantisersForLevel(settings.preset, level, intra, inter, plan.coarsest_quantiser);
    plan.macroblocks = macroblocks;
    plan.blocks_per_macroblock = blocks_per_macroblock;
    auto result = std::make_shared<_rvxlib_::CRVXRatePlan>(std::move(frames), plan);
    result->Plan(payload_budget);
    return result;
}

std::string ByteCountText(uint64_t bytes) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f MB (%llu bytes)", bytes / 1e6, static_cast<unsigned long long>(bytes));
    return text;
}
