#pragma once
// What the window adds to a job's own progress reports: the time still to go
// and the percentage for the title bar.

#include <cstdint>
#include <string>

// "残り m:ss" (or "残り h:mm:ss") once enough frames are done to judge the
// pace; empty before that, or when the fraction says nothing (0, 1 or more).
std::string RemainingTimeText(double elapsed_seconds, double fraction, uint32_t reports);

// "42% - RVX Encoder"; the fraction is truncated like the progress bar.
std::string TitleWithPercent(const std::string& title, double fraction);
