#include "app/progress_text.h"

#include <cmath>
#include <cstdio>

namespace {

// The first frames include opening the encoder and the first group's setup,
// so an estimate from them runs far too long.
constexpr uint32_t kReportsBeforeEstimate = 3;

}  // namespace

std::string ProgressStatusText(const JobProgress& progress) {
    switch (progress.stage) {
    case JobStage::kLoad:
        break;
    case JobStage::kFrames:
        return progress.name + "をエンコード中... " + std::to_string(progress.frame) + "/" +
               std::to_string(progress.total);
    case JobStage::kSound:
        return progress.name + "をエンコード中...";
    case JobStage::kWriting:
        return progress.name + "を出力中...";
    }
    return progress.name;
}

double RemainingSeconds(double elapsed_seconds, double fraction, uint32_t reports) {
    if (reports < kReportsBeforeEstimate || !(fraction > 0.0) || fraction >= 1.0 || !(elapsed_seconds >= 0.0))
        return -1.0;
    const double remaining = elapsed_seconds * (1.0 - fraction) / fraction;
    return std::isfinite(remaining) && remaining <= 359999.0 ? remaining : -1.0;
}

std::string ClockText(double seconds) {
    const auto total = static_cast<uint32_t>(std::lround(seconds > 0.0 ? seconds : 0.0));
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%u:%02u:%02u", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%u:%02u", total / 60, total % 60);
    return text;
}

std::string RemainingTimeText(double elapsed_seconds, double fraction, uint32_t reports) {
    const double remaining = RemainingSeconds(elapsed_seconds, fraction, reports);
    return remaining < 0.0 ? std::string() : "残り " + ClockText(remaining);
}

std::string TitleWithPercent(const std::string& title, double fraction) {
    if (!(fraction >= 0.0)) fraction = 0.0;
    if (fraction > 1.0) fraction = 1.0;
    return std::to_string(static_cast<int>(fraction * 100.0)) + "% - " + title;
}
