// rvxenc: encodes one source into an RVX movie on the command line, with the
// same job classes and option logic as the window.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "app/output_check.h"
#include "jobs/control_ids.h"
#include "jobs/encode_from_images.h"
#include "jobs/encode_options.h"
#include "jobs/job_host.h"
#include "jobs/job_messages.h"
#include "jobs/option_tables.h"
#include "support/sync.h"

namespace fs = std::filesystem;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

const char kUsage[] =
    "usage: rvxenc SOURCE -o OUT.rvx [options]\n"
    "  SOURCE                one file of a numbered BMP/PNG run (a0001.png ...)\n"
    "  -o, --output FILE     the movie to write\n"
    "  --source KIND         images, avi or movie (default: from SOURCE's extension)\n"
    "  --wav FILE            WAVE file for the sound of an image run\n"
    "  --picture-format F    YUV411 YUV422 YUV444 RGB888 ARGB8888 AYUV4444 AYUV4422 AYUV4411\n"
    "  --transform T         DCT, Diff2D, DCT(NoDEF) (or DCT-NoDEF)\n"
    "  --fps R               default, 60, 59.94, 50, 30, 29.97, 25, 24, 23.976, 15, or N/D\n"
    "  --p-frames N          P frames per group of pictures (default 5)\n"
    "  --b-frames N          B frames between reference frames (default 2)\n"
    "  --scene-change N      scene-change threshold (default 192)\n"
    "  --matrix M            CG動画 (cg) or MPEG標準 (mpeg)\n"
    "  --quality I,P,B       frame qualities (default 4,6,8)\n"
    "  --sound S             MDCT-Low, MDCT-Mid, MDCT-High or RawFile\n"
    "  --block-size N        audio block size (default 1024)\n"
    "  --overwrite           replace an existing output file\n"
    "  --quiet               no progress\n";

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool IsDigits(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// The row of a list given its window text or an ASCII alias, -1 when neither.
int32_t MatchRow(const OptionRow* table, const std::string& value,
                 const std::vector<std::pair<const char*, const char*>>& aliases = {}) {
    if (int32_t row = FindOptionRow(table, value.c_str()); row >= 0) return row;
    const std::string lower = Lower(value);
    for (uint32_t i = 0; i < OptionRowCount(table); ++i)
        if (Lower(table[i].text) == lower) return static_cast<int32_t>(i);
    for (const auto& [alias, text] : aliases)
        if (lower == alias) return FindOptionRow(table, text);
    return -1;
}

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

size_t TerminalColumns() {
    winsize ws{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

// The terminal as the job's window: option controls held in memory, progress
// drawn on stderr, the job's last message handed to the main thread.
class TerminalHost : public IJobHost {
public:
    void SetShowProgress(bool show) { show_progress_ = show; }

    void SendProgress(const std::string& text, double fraction) override {
        std::lock_guard<std::mutex> hold(mutex_);
        const auto now = std::chrono::steady_clock::now();
        if (!started_) {
            started_ = true;
            start_ = now;
        }
        uint32_t frame = 0;
        const size_t slash = text.rfind('/');
        const size_t space = text.rfind(' ', slash);
        if (slash != std::string::npos && space != std::string::npos && space < slash) {
            const std::string n = text.substr(space + 1, slash - space - 1);
            if (IsDigits(n)) frame = static_cast<uint32_t>(std::stoul(n));
        }
        if (!show_progress_) return;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        if (frame) last_fps_ = seconds > 0 ? frame / seconds : 0.0;
        constexpr int kBar = 24;
        const int filled = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * kBar);
        std::string bar(filled, '#');
        bar.append(kBar - filled, '.');
        char tail[96];
        std::snprintf(tail, sizeof tail, " [%s] %5.1f%% %6.1f fps", bar.c_str(), std::floor(fraction * 1000.0) / 10.0,
                      last_fps_);
        const size_t room = TerminalColumns() > std::strlen(tail) + 12 ? TerminalColumns() - std::strlen(tail) - 1 : 11;
        std::fprintf(stderr, "\r\033[K%s%s", FitToColumns(text, room).c_str(), tail);
        std::fflush(stderr);
        drew_ = true;
    }

    void PostJobMessage(uint32_t message) override {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            last_message_ = message;
        }
        ended_.Set();
    }

    int32_t GetListSelection(uint32_t id) override {
        std::lock_guard<std::mutex> hold(mutex_);
        auto it = selections_.find(id);
        return it == selections_.end() ? 0 : it->second;
    }

    std::string GetControlText(uint32_t id) override {
        std::lock_guard<std::mutex> hold(mutex_);
        auto it = texts_.find(id);
        return it == texts_.end() ? std::string() : it->second;
    }

    void Select(uint32_t id, int32_t row) { selections_[id] = row; }
    void SetText(uint32_t id, const std::string& text) { texts_[id] = text; }

    // Waits up to the time for the job's last message; 0 while none came.
    uint32_t WaitForEnd(uint32_t milliseconds) {
        if (!ended_.Wait(milliseconds)) return 0;
        std::lock_guard<std::mutex> hold(mutex_);
        return last_message_;
    }

    void EndProgressLine() {
        std::lock_guard<std::mutex> hold(mutex_);
        if (drew_) std::fputc('\n', stderr);
        drew_ = false;
    }

    double Seconds() {
        std::lock_guard<std::mutex> hold(mutex_);
        return started_ ? std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count() : 0.0;
    }

private:
    bool show_progress_ = false;
    std::mutex mutex_;
    std::map<uint32_t, int32_t> selections_;
    std::map<uint32_t, std::string> texts_;
    CEvent ended_{true};
    uint32_t last_message_ = 0;
    bool started_ = false;
    bool drew_ = false;
    double last_fps_ = 0.0;
    std::chrono::steady_clock::time_point start_;
};

struct Arguments {
    std::string source;
    std::string output;
    std::string source_kind;
    bool output_given = false;
    bool overwrite = false;
    bool quiet = false;
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "rvxenc: %s\n%s", message.c_str(), kUsage);
    return kExitUsage;
}

// Fills the host's controls from the flags; returns an error text or "".
std::string ParseArguments(int argc, char** argv, Arguments& args, TerminalHost& host) {
    std::vector<std::string> list(argv + 1, argv + argc);
    for (size_t i = 0; i < list.size(); ++i) {
        std::string flag = list[i];
        std::string value;
        bool has_inline = false;
        if (flag.rfind("--", 0) == 0) {
            if (size_t eq = flag.find('='); eq != std::string::npos) {
                value = flag.substr(eq + 1);
                flag = flag.substr(0, eq);
                has_inline = true;
            }
        }
        auto next = [&]() -> bool {
            if (has_inline) return true;
            if (i + 1 >= list.size()) return false;
            value = list[++i];
            return true;
        };
        auto number_field = [&](uint32_t id) -> std::string {
            if (!next()) return flag + " needs a number";
            if (!IsDigits(value)) return flag + ": '" + value + "' is not a number";
            host.SetText(id, value);
            return "";
        };
        auto list_field = [&](uint32_t id, const OptionRow* table,
                              const std::vector<std::pair<const char*, const char*>>& aliases) -> std::string {
            if (!next()) return flag + " needs a value";
            const int32_t row = MatchRow(table, value, aliases);
            if (row < 0) return flag + ": unknown value '" + value + "'";
            host.Select(id, row);
            return "";
        };

        std::string error;
        if (flag == "-h" || flag == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(kExitOk);
        } else if (flag == "-o" || flag == "--output") {
            if (!next()) return flag + " needs a file name";
            args.output = value;
            args.output_given = true;
        } else if (flag == "--source") {
            if (!next()) return "--source needs images, avi or movie";
            args.source_kind = Lower(value);
            if (args.source_kind != "images" && args.source_kind != "avi" && args.source_kind != "movie")
                return "--source: unknown kind '" + value + "'";
        } else if (flag == "--wav") {
            if (!next()) return "--wav needs a file name";
            host.SetText(kIdWavePath, value);
        } else if (flag == "--picture-format") {
            error = list_field(kIdPictureFormat, PictureFormatTable, {});
        } else if (flag == "--transform") {
            error = list_field(kIdTransform, TransformTable, {{"dct-nodef", "DCT(NoDEF)"}, {"nodef", "DCT(NoDEF)"}});
        } else if (flag == "--fps") {
            if (!next()) return "--fps needs a rate";
            const size_t slash = value.find('/');
            if (slash != std::string::npos) {
                const std::string n = value.substr(0, slash), d = value.substr(slash + 1);
                if (!IsDigits(n) || !IsDigits(d)) return "--fps: '" + value + "' is not N/D";
                host.Select(kIdFrameRate, kManualFrameRateRow);
                host.SetText(kIdFrameRateNumerator, n);
                host.SetText(kIdFrameRateDenominator, d);
            } else {
                int32_t row = MatchRow(FrameRateTable, value, {{"default", "デフォルト"}});
                if (row < 0) row = MatchRow(FrameRateTable, value + "fps");
                if (row < 0 || static_cast<uint32_t>(row) == kManualFrameRateRow)
                    return "--fps: unknown rate '" + value + "' (a preset or N/D)";
                host.Select(kIdFrameRate, row);
            }
        } else if (flag == "--p-frames") {
            error = number_field(kIdPFrames);
        } else if (flag == "--b-frames") {
            error = number_field(kIdBFrames);
        } else if (flag == "--scene-change") {
            error = number_field(kIdSceneChange);
        } else if (flag == "--block-size") {
            error = number_field(kIdAudioBlockSize);
        } else if (flag == "--matrix") {
            error = list_field(kIdQuantMatrix, QuantMatrixTable, {{"cg", "CG動画"}, {"mpeg", "MPEG標準"}});
        } else if (flag == "--sound") {
            error = list_field(kIdSoundMethod, SoundMethodTable,
                               {{"low", "MDCT-Low"}, {"mid", "MDCT-Mid"}, {"high", "MDCT-High"}, {"raw", "RawFile"}});
        } else if (flag == "--quality") {
            if (!next()) return "--quality needs I,P,B";
            std::string parts[3];
            size_t start = 0;
            for (int k = 0; k < 3; ++k) {
                const size_t comma = value.find(',', start);
                if ((k < 2) != (comma != std::string::npos)) return "--quality: '" + value + "' is not I,P,B";
                parts[k] = value.substr(start, k < 2 ? comma - start : std::string::npos);
                if (!IsDigits(parts[k])) return "--quality: '" + value + "' is not I,P,B";
                start = comma + 1;
            }
            host.SetText(kIdQualityI, parts[0]);
            host.SetText(kIdQualityP, parts[1]);
            host.SetText(kIdQualityB, parts[2]);
        } else if (flag == "--overwrite") {
            if (has_inline) return "--overwrite takes no value";
            args.overwrite = true;
        } else if (flag == "--quiet" || flag == "-q") {
            if (has_inline) return "--quiet takes no value";
            args.quiet = true;
        } else if (flag.size() > 1 && flag[0] == '-') {
            return "unknown option '" + flag + "'";
        } else if (args.source.empty()) {
            args.source = flag;
        } else {
            return "only one SOURCE may be given";
        }
        if (!error.empty()) return error;
    }
    if (args.source.empty()) return "no SOURCE given";
    if (!args.output_given) return "no output given (-o OUT.rvx)";
    return "";
}

// The window's output check without the question: an existing file is only
// replaced when asked for.
bool OutputAccepted(const Arguments& args) {
    switch (CheckOutputFile(args.output)) {
    case OutputCheck::kAccepted:
        return true;
    case OutputCheck::kEmpty:
        std::fprintf(stderr, "rvxenc: ファイル名が入力されていません。\n");
        return false;
    case OutputCheck::kExists:
        if (args.overwrite) return true;
        std::fprintf(stderr, "rvxenc: ファイル[%s]はすでに存在します。(--overwrite replaces it)\n",
                     args.output.c_str());
        return false;
    case OutputCheck::kCannotCreate:
        break;
    }
    std::fprintf(stderr, "rvxenc: 指定したファイル名で作成できません、 (%s)\n", args.output.c_str());
    return false;
}

std::string GuessSourceKind(const std::string& source) {
    const std::string ext = Lower(fs::path(source).extension().string());
    if (ext == ".bmp" || ext == ".png") return "images";
    if (ext == ".avi") return "avi";
    return "movie";
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    TerminalHost host;
    if (std::string error = ParseArguments(argc, argv, args, host); !error.empty()) return UsageError(error);
    host.SetShowProgress(terminal && !args.quiet);

    const std::string kind = args.source_kind.empty() ? GuessSourceKind(args.source) : args.source_kind;
    if (kind != "images") {
        std::fprintf(stderr, "rvxenc: encoding from %s sources is not supported yet; give one file of a numbered "
                     "BMP/PNG run\n", kind == "avi" ? "AVI" : "movie");
        return kExitUsage;
    }
    if (!OutputAccepted(args)) return kExitFailed;
    host.SetText(kIdOutputFile, args.output);
    host.SetText(kIdImagePath, args.source);
    // The window's start-up values for every field the flags left alone.
    const std::pair<uint32_t, const char*> defaults[] = {
        {kIdPFrames, "5"}, {kIdBFrames, "2"}, {kIdSceneChange, "192"}, {kIdQualityI, "4"},
        {kIdQualityP, "6"}, {kIdQualityB, "8"}, {kIdAudioBlockSize, "1024"}};
    for (const auto& [id, text] : defaults)
        if (host.GetControlText(id).empty()) host.SetText(id, text);

    // Signals are taken by this thread alone, so a Ctrl-C becomes an orderly
    // stop: the job threads inherit the blocked mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    const std::string wave = host.GetControlText(kIdWavePath);
    if (!wave.empty() && !IsWaveFile(wave))
        std::fprintf(stderr, "rvxenc: %s is not a WAVE file; the movie will have no sound\n", wave.c_str());

    auto job = std::make_unique<CEncodeFromSeqFile>(&host);
    if (job->Load() != kJobOk) {
        std::fprintf(stderr, "rvxenc: ファイルのロードに失敗しました。 (%s)\n", job->FailureReason().c_str());
        return kExitFailed;
    }
    const uint32_t frames = job->EndNumber() - job->FirstNumber();
    if (job->Start() != 1) {
        std::fprintf(stderr, "rvxenc: the encoding thread could not be started\n");
        return kExitFailed;
    }

    uint32_t message = 0;
    while ((message = host.WaitForEnd(50)) == 0) {
        const timespec poll{0, 0};
        siginfo_t info;
        if (sigtimedwait(&signals, &info, &poll) > 0) {
            job.reset();  // stops the worker, removes the work directory
            host.EndProgressLine();
            std::fprintf(stderr, "rvxenc: interrupted; no movie was written\n");
            return kExitInterrupted;
        }
    }
    const std::string reason = job->FailureReason();
    job.reset();
    host.EndProgressLine();

    if (message != MSG_JOB_DONE) {
        std::fprintf(stderr, "rvxenc: %s: the movie was not written (%s)\n", args.output.c_str(),
                     reason.empty() ? "failed" : reason.c_str());
        return kExitFailed;
    }
    if (!args.quiet) {
        const double seconds = host.Seconds();
        std::fprintf(stderr, "処理が完了しました。 %s: %u frames in %.2f s (%.1f fps)\n", args.output.c_str(), frames,
                     seconds, seconds > 0 ? frames / seconds : 0.0);
    }
    return kExitOk;
}
