#pragma once
// What the window adds to a job's own progress reports: the time still to go
// and the percentage for the title bar.

#include <cstdint>
#include <string>

// Seconds still to go at the pace so far, once enough reports are in to
// judge it; negative before that, or when the fraction says nothing (0, 1
// or more) or the estimate is beyond 100 hours.
double RemainingSeconds(double elapsed_seconds, double fraction, uint32_t reports);

// "1:05" for 65 seconds, "1:02:03" past an hour.
std::string ClockText(double seconds);

// "残り m:ss" (or "残り h:mm:ss") from RemainingSeconds; empty when it has
// no estimate.
std::string RemainingTimeText(double elapsed_seconds, double fraction, uint32_t reports);

// "42% - RVX Encoder"; the fraction is truncated like the progress bar.
std::string TitleWithPercent(const std::string& title, double fraction);
