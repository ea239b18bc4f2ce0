// rvxenc: encodes one source into an RVX movie on the command line, with the
// same job classes and option logic as the window.

#include <csignal>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include <pthread.h>
#include <unistd.h>

#include "cli/rvxenc_arguments.h"
#include "cli/terminal_host.h"
#include "jobs/avi_info_lines.h"
#include "jobs/control_ids.h"
#include "jobs/encode_from_avi.h"
#include "jobs/encode_from_directshow.h"
#include "jobs/encode_from_images.h"
#include "jobs/job_messages.h"

namespace {

// Loads and runs one job to its end; Ctrl-C (or TERM, HUP) stops it in order.
template <class Job>
int RunJob(TerminalHost& host, const Arguments& args, const sigset_t& signals) {
    auto job = std::make_unique<Job>(&host);
    if (job->Load() != kJobOk) {
        std::fprintf(stderr, "rvxenc: ファイルのロードに失敗しました。 (%s)\n", job->FailureReason().c_str());
        return kExitFailed;
    }
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
    const uint32_t frames = job->FramesDone();
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

int PrintInfoLines(const std::string& path) {
    const AviInfoLines lines = ReadAviInfoLines(path);
    if (lines.video.empty() && lines.sound.empty()) {
        std::fprintf(stderr, "rvxenc: %s: ファイルのロードに失敗しました。\n", path.c_str());
        return kExitFailed;
    }
    std::printf("映像ライン：%s\n音楽ライン：%s\n", lines.video.c_str(), lines.sound.c_str());
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    TerminalHost host;
    if (std::string error = ParseArguments(argc, argv, args, host); !error.empty()) return UsageError(error);
    if (!args.info.empty()) return PrintInfoLines(args.info);
    host.SetShowProgress(terminal && !args.quiet);

    const std::string kind = args.source_kind.empty() ? GuessSourceKind(args.source) : args.source_kind;
    if (!OutputAccepted(args)) return kExitFailed;
    host.SetText(kIdOutputFile, args.output);
    host.SetText(kind == "images" ? kIdImagePath : kind == "avi" ? kIdAviPath : kIdMoviePath, args.source);
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

    // The jobs turn running out of memory into a failure of their own; this
    // catches what is left (the job objects themselves), so the program
    // still ends with its message and the work directory removed.
    try {
        if (kind == "avi") return RunJob<CEncodeFromAVI>(host, args, signals);
        if (kind == "movie") return RunJob<CEncodeFromDirectShow>(host, args, signals);

        const std::string wave = host.GetControlText(kIdWavePath);
        if (!wave.empty() && !IsWaveFile(wave))
            std::fprintf(stderr, "rvxenc: %s is not a WAVE file; the movie will have no sound\n", wave.c_str());
        return RunJob<CEncodeFromSeqFile>(host, args, signals);
    } catch (const std::bad_alloc&) {
        host.EndProgressLine();
        std::fprintf(stderr, "rvxenc: %s: the movie was not written (out of memory)\n", args.output.c_str());
        return kExitFailed;
    }
}
