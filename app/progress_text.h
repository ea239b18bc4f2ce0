#pragma once
// A job's progress in the window's words: the status text, the time still
// to go and the percentage for the title bar. The terminal shows the same
// status text in its bar and its JSON lines.

#include <cstdint>
#include <string>

#include "jobs/job_progress.h"

// "NAMEをエンコード中... n/total" while the pictures are coded,
// "WAVEをエンコード中..." for the sound, "OUTPUTを出力中..." for the movie,
// and the source's name alone while it is opened.
std::string ProgressStatusText(const JobProgress& progress);

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
