// rvxenc: encodes sources into RVX movies on the command line, with the same
// job classes and option logic as the window.

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <pthread.h>
#include <unistd.h>

#include "cli/rvxenc_arguments.h"
#include "cli/terminal_host.h"
#include "jobs/avi_info_lines.h"
#include "jobs/encode_from_avi.h"
#include "jobs/encode_from_directshow.h"
#include "jobs/encode_from_images.h"
#include "jobs/job_messages.h"
#include "jobs/sound_tracks.h"
#include "jobs/target_miss.h"

namespace fs = std::filesystem;

namespace {

// Loads and runs one job to its end; Ctrl-C (or TERM, HUP) stops it in order.
template <class Job>
JobOutcome RunJob(TerminalHost& host, const EncodeRequest& request, const sigset_t& signals) {
    JobOutcome outcome;
    outcome.result = "failed";
    auto job = std::make_unique<Job>(&host, request);
    if (job->Load() != kJobOk) {
        // A source setting this source cannot take is the request's fault,
        // not the file's.
        outcome.settings_refused = job->SettingsRefused();
        outcome.reason = outcome.settings_refused ? job->FailureReason()
                                                  : "ファイルのロードに失敗しました。 (" + job->FailureReason() + ")";
        return outcome;
    }
    if (job->Start() != 1) {
        outcome.reason = "the encoding thread could not be started";
        return outcome;
    }
    uint32_t message = 0;
    while ((message = host.WaitForEnd(50)) == 0) {
        const timespec poll{0, 0};
        siginfo_t info;
        if (sigtimedwait(&signals, &info, &poll) > 0) {
            job.reset();  // stops the worker, removes the work directory
            outcome.result = "interrupted";
            outcome.reason = "interrupted; no movie was written";
            return outcome;
        }
    }
    outcome.reason = job->FailureReason();
    outcome.frames = job->FramesDone();
    outcome.target_refused = job->TargetRefused();
    outcome.settings_refused = job->SettingsRefused();
    outcome.notice = job->Notice();
    outcome.target = job->TargetBytes();
    outcome.target_missed = job->TargetMissed();
    job.reset();
    if (message == MSG_JOB_DONE) {
        outcome.result = "ok";
        outcome.reason.clear();
    } else if (outcome.reason.empty()) {
        outcome.reason = "failed";
    }
    return outcome;
}

JobOutcome EncodeOne(TerminalHost& host, const Arguments& args, const std::string& source, const std::string& kind,
                     const std::string& output, const sigset_t& signals) {
    host.BeginJob(source);
    JobOutcome outcome;
    if (std::string refusal = OutputRefusal(output, args.overwrite); !refusal.empty()) {
        outcome.result = "failed";
        outcome.reason = refusal;
    } else {
        const EncodeRequest request{source, args.wave, output, args.settings};
        // The jobs turn running out of memory into a failure of their own;
        // this catches what is left (the job objects themselves), so the
        // program still ends with its message and the work directory removed.
        try {
            if (kind == "avi") outcome = RunJob<CEncodeFromAVI>(host, request, signals);
            else if (kind == "movie") outcome = RunJob<CEncodeFromDirectShow>(host, request, signals);
            else outcome = RunJob<CEncodeFromSeqFile>(host, request, signals);
        } catch (const std::bad_alloc&) {
            outcome.result = "failed";
            outcome.reason = "out of memory";
        }
        outcome.seconds = host.Seconds();
    }
    outcome.output = output;
    std::error_code ec;
    if (outcome.result == "ok") outcome.size = fs::file_size(output, ec);
    host.EndProgressLine();
    host.ReportOutcome(outcome);
    return outcome;
}

// The AVI page's two lines when the file opens as AVI, then one line per
// sound track in the order --audio-track counts them.
int PrintInfoLines(const std::string& path) {
    const AviInfoLines lines = ReadAviInfoLines(path);
    const bool avi = !lines.video.empty() || !lines.sound.empty();
    const std::vector<SoundTrackInfo> tracks =
        GuessSourceKind(path) == "avi" ? AviSoundTracks(path) : MovieSoundTracks(path);
    if (!avi && tracks.empty()) {
        std::fprintf(stderr, "rvxenc: %s: ファイルのロードに失敗しました。\n", path.c_str());
        return kExitFailed;
    }
    if (avi) std::printf("映像ライン：%s\n音楽ライン：%s\n", lines.video.c_str(), lines.sound.c_str());
    std::fputs(SoundTrackLines(tracks).c_str(), stdout);
    return kExitOk;
}

void PrintBatchSummary(const std::vector<std::pair<std::string, JobOutcome>>& done, size_t skipped) {
    std::fprintf(stderr, "\n%-40s %-11s %12s %9s\n", "source", "result", "bytes", "seconds");
    for (const auto& [source, o] : done)
        std::fprintf(stderr, "%-40s %-11s %12llu %9.2f%s%s\n", source.c_str(), o.result.c_str(),
                     static_cast<unsigned long long>(o.size), o.seconds, o.reason.empty() ? "" : "  ",
                     o.reason.c_str());
    if (skipped) std::fprintf(stderr, "%zu sources skipped after the interruption\n", skipped);
}

ProgressStyle ChosenProgressStyle(const Arguments& args) {
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    if (args.progress == "json") return ProgressStyle::kJson;
    if (args.progress == "bar") return ProgressStyle::kBar;
    if (args.progress == "none") return ProgressStyle::kNone;
    return terminal && !args.quiet ? ProgressStyle::kBar : ProgressStyle::kNone;
}

// Signals are taken by this thread alone, so a Ctrl-C becomes an orderly
// stop: the job threads inherit the blocked mask.
sigset_t BlockStopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

// Each source into its movie, one after another; the exit code.
int EncodeAll(const Arguments& args, TerminalHost& host, ProgressStyle style, const sigset_t& signals) {
    const bool folder = OutputIsFolder(args.output);
    if (folder) {
        std::error_code ec;
        fs::create_directories(args.output, ec);
    }
    std::vector<std::pair<std::string, JobOutcome>> done;
    std::set<std::string> taken;  // two sources of one name must not share a movie
    bool any_failed = false;
    bool any_missed = false;
    for (const std::string& source : args.sources) {
        const std::string kind = args.source_kind.empty() ? GuessSourceKind(source) : args.source_kind;
        std::string output = folder ? OutputInFolder(args.output, source, kind) : args.output;
        for (int n = 2; folder && taken.count(output); ++n) {
            const fs::path path(OutputInFolder(args.output, source, kind));
            output = (path.parent_path() / (path.stem().string() + "-" + std::to_string(n) + ".rvx")).string();
        }
        taken.insert(output);
        const JobOutcome outcome = EncodeOne(host, args, source, kind, output, signals);
        done.emplace_back(source, outcome);
        if (outcome.result == "ok") {
            if (!outcome.notice.empty()) std::fprintf(stderr, "rvxenc: %s: %s\n", output.c_str(), outcome.notice.c_str());
            if (outcome.target_missed) {
                any_missed = true;
                std::fprintf(stderr, "rvxenc: %s: %s\n", output.c_str(),
                             TargetMissText(outcome.target, outcome.size).c_str());
                continue;
            }
            if (!args.quiet && style != ProgressStyle::kJson)
                std::fprintf(stderr, "処理が完了しました。 %s: %u frames in %.2f s (%.1f fps)\n", output.c_str(),
                             outcome.frames, outcome.seconds,
                             outcome.seconds > 0 ? outcome.frames / outcome.seconds : 0.0);
            continue;
        }
        any_failed = true;
        if (outcome.result == "interrupted") {
            std::fprintf(stderr, "rvxenc: %s\n", outcome.reason.c_str());
            if (args.sources.size() > 1) PrintBatchSummary(done, args.sources.size() - done.size());
            return kExitInterrupted;
        }
        std::fprintf(stderr, "rvxenc: %s: the movie was not written (%s)\n", output.c_str(), outcome.reason.c_str());
    }
    if (args.sources.size() > 1 && !args.quiet) PrintBatchSummary(done, 0);
    // A target no movie of the source can meet, or a source setting it
    // cannot take, is a wrong request, like a bad flag, when it is the only
    // source.
    if (args.sources.size() == 1 && done.size() == 1 &&
        (done[0].second.target_refused || done[0].second.settings_refused))
        return kExitUsage;
    if (any_failed) return kExitFailed;
    return any_missed ? kExitTargetMissed : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    if (std::string error = ParseArguments(argc, argv, args); !error.empty()) return UsageError(error);
    if (args.help) {
        std::fputs(UsageText(), stdout);
        return kExitOk;
    }
    if (args.version) {
        std::printf("rvxenc %s\n", RVX_VERSION);
        return kExitOk;
    }
    if (!args.info.empty()) return PrintInfoLines(args.info);

    const ProgressStyle style = ChosenProgressStyle(args);
    TerminalHost host;
    host.SetProgressStyle(style);
    const sigset_t signals = BlockStopSignals();
    if (!args.wave.empty() && !IsWaveFile(args.wave))
        std::fprintf(stderr, "rvxenc: %s is not a WAVE file; the movie will have no sound\n", args.wave.c_str());
    return EncodeAll(args, host, style, signals);
}

