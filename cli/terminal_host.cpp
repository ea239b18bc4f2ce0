#include "cli/terminal_host.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <sys/ioctl.h>
#include <unistd.h>

#include "app/progress_text.h"
#include "cli/json_text.h"

namespace {

// Columns a UTF-8 text takes on a terminal: wide (CJK) characters take two.
size_t DisplayWidth(const std::string& text, size_t from = 0) {
    size_t columns = 0;
    for (size_t i = from; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        columns += length >= 3 ? 2 : 1;
        i += length;
    }
    return columns;
}

// Keeps the end of a status text (the count and the file name) when the whole
// line would wrap, since a wrapped line cannot be redrawn in place.
std::string FitToColumns(const std::string& text, size_t columns) {
    if (DisplayWidth(text) <= columns) return text;
    size_t i = 0;
    while (i < text.size() && DisplayWidth(text, i) + 3 > columns) {
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
    }
    return "..." + text.substr(i);
}

const char* JsonStage(JobStage stage) {
    switch (stage) {
    case JobStage::kLoad:
        return "load";
    case JobStage::kFrames:
        return "frames";
    case JobStage::kSound:
        return "sound";
    case JobStage::kWriting:
        break;
    }
    return "writing";
}

size_t TerminalColumns() {
    winsize ws{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

}  // namespace

void TerminalHost::BeginJob(const std::string& source) {
    std::lock_guard<std::mutex> hold(mutex_);
    source_ = source;
    ended_.Reset();
    last_message_ = 0;
    started_ = false;
    last_fps_ = 0.0;
    last_percent_ = 0.0;
    pass_ = 0;
}

void TerminalHost::SendProgress(const JobProgress& progress) {
    std::lock_guard<std::mutex> hold(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (!started_) {
        started_ = true;
        start_ = now;
    }
    // Only the pictures are counted; the sound and the writing have no count.
    // Each pass counts its own pictures from its own start.
    const uint32_t frame = progress.stage == JobStage::kFrames ? progress.frame : 0;
    if (progress.pass != pass_) {
        pass_ = progress.pass;
        pass_start_ = now;
    }
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double pass_seconds = std::chrono::duration<double>(now - pass_start_).count();
    if (frame) last_fps_ = pass_seconds > 0 ? frame / pass_seconds : 0.0;
    // A source that delivers more frames than it announced must not push the
    // figures past the end or back again.
    const double fraction = std::clamp(progress.Fraction(), 0.0, 1.0);
    // Negative while the first frames give no pace yet.
    const double remaining = fraction >= 1.0 ? 0.0 : RemainingSeconds(seconds, fraction, frame);
    std::string text = ProgressStatusText(progress);
    if (progress.pass == 1) text.insert(0, "[1/2] ");
    if (progress.pass == 2) text.insert(0, "[2/2] ");
    if (style_ == ProgressStyle::kBar) DrawBar(text, fraction, remaining);
    if (style_ == ProgressStyle::kJson) PrintJson(progress, text, fraction, seconds, remaining);
}

void TerminalHost::DrawBar(const std::string& text, double fraction, double remaining) {
    constexpr int kBar = 24;
    const int filled = static_cast<int>(fraction * kBar);
    std::string bar(filled, '#');
    bar.append(kBar - filled, '.');
    const std::string left = remaining < 0.0 ? std::string("     ") : ClockText(remaining);
    char tail[128];
    std::snprintf(tail, sizeof tail, " [%s] %5.1f%% %6.1f fps %s left", bar.c_str(),
                  std::floor(fraction * 1000.0) / 10.0, last_fps_, left.c_str());
    const size_t room = TerminalColumns() > std::strlen(tail) + 12 ? TerminalColumns() - std::strlen(tail) - 1 : 11;
    std::fprintf(stderr, "\r\033[K%s%s", FitToColumns(text, room).c_str(), tail);
    std::fflush(stderr);
    drew_ = true;
}

void TerminalHost::PrintJson(const JobProgress& progress, const std::string& text, double fraction,
                             double seconds, double remaining) {
    const bool frames = progress.stage == JobStage::kFrames;
    last_percent_ = std::max(last_percent_, std::floor(fraction * 10000.0) / 100.0);
    char left[32] = "null";  // no pace known yet
    // Only a job of two passes says which one it is in.
    const char* pass = progress.pass == 1 ? "\"pass\": 1, " : progress.pass == 2 ? "\"pass\": 2, " : "";
    if (remaining >= 0.0) std::snprintf(left, sizeof left, "%.3f", remaining);
    std::fprintf(stderr,
                 "{\"source\": %s, \"stage\": \"%s\", %s\"frame\": %u, \"total\": %u, "
                 "\"percent\": %.2f, \"fps\": %.2f, \"elapsed\": %.3f, \"remaining\": %s, \"text\": %s}\n",
                 JsonString(source_).c_str(), JsonStage(progress.stage), pass, frames ? progress.frame : 0u,
                 frames ? progress.total : 0u, last_percent_, last_fps_, seconds, left,
                 JsonString(text).c_str());
    std::fflush(stderr);
}

void TerminalHost::ReportOutcome(const JobOutcome& outcome) {
    if (style_ != ProgressStyle::kJson) return;
    std::lock_guard<std::mutex> hold(mutex_);
    std::fprintf(stderr,
                 "{\"source\": %s, \"stage\": \"end\", \"result\": \"%s\", \"output\": %s, \"size\": %llu, "
                 "\"frames\": %u, \"elapsed\": %.3f, \"reason\": %s, \"target\": %llu, \"target_missed\": %s}\n",
                 JsonString(source_).c_str(), outcome.result.c_str(), JsonString(outcome.output).c_str(),
                 static_cast<unsigned long long>(outcome.size), outcome.frames, outcome.seconds,
                 JsonString(outcome.reason).c_str(), static_cast<unsigned long long>(outcome.target),
                 outcome.target_missed ? "true" : "false");
    std::fflush(stderr);
}

void TerminalHost::PostJobMessage(uint32_t message) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        last_message_ = message;
    }
    ended_.Set();
}

uint32_t TerminalHost::WaitForEnd(uint32_t milliseconds) {
    if (!ended_.Wait(milliseconds)) return 0;
    std::lock_guard<std::mutex> hold(mutex_);
    return last_message_;
}

void TerminalHost::EndProgressLine() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (drew_) std::fputc('\n', stderr);
    drew_ = false;
}

double TerminalHost::Seconds() {
    std::lock_guard<std::mutex> hold(mutex_);
    return started_ ? std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count() : 0.0;
}
