#pragma once
// The part every encoding job shares: opening the container writer with the
// request's settings, pushing frames and sound into it with progress reports,
// and writing the request's output file. A job class derives from CThread
// first and from this second; its Run drives these steps on the job's own
// thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "jobs/encode_settings.h"
#include "jobs/job_host.h"
#include "jobs/movie_writer.h"
#include "jobs/picture_filter.h"
#include "jobs/size_sample.h"
#include "rvxlib/ratecontrol/rate_plan.h"

class IThread;

// Source pixel layouts: the top nibble of the format word.
constexpr uint32_t kLayoutRGB24 = 0x10000000;
constexpr uint32_t kLayoutRGB32 = 0x20000000;
constexpr uint32_t kLayoutARGB32 = 0x30000000;

// Job results in the platform's 32-bit convention: 0 success, negative error.
constexpr int32_t kJobOk = 0;
constexpr int32_t kJobInvalidPointer = static_cast<int32_t>(0x80004003u);
constexpr int32_t kJobFail = static_cast<int32_t>(0x80004005u);

class CEncodeRVXFile {
public:
    CEncodeRVXFile(IJobHost* owner, EncodeRequest request);
    virtual ~CEncodeRVXFile();
    CEncodeRVXFile(const CEncodeRVXFile&) = delete;
    CEncodeRVXFile& operator=(const CEncodeRVXFile&) = delete;

    // Rows are padded to 4 bytes. A bottom-up source gets a flip buffer so
    // that the writer always receives top-down rows. False for an unknown
    // layout or a picture too large to address.
    bool SetSourceFormat(uint32_t layout, uint32_t width, uint32_t height, bool bottom_up);
    // What the source's streams say of its pictures (display rotation,
    // interlacing); before OpenEncoder. Without it the pictures are taken as
    // upright and progressive.
    void SetSourcePictureFacts(const SourcePictureFacts& facts) { facts_ = facts; }
    // Works out the part of the movie to keep (at the source's rate; the
    // progress total total_frames_ becomes the kept count, or the duration
    // asked for when the source did not know its length) and the picture
    // steps, then creates the writer, gives it the source's rate,
    // the request's settings and the picture the steps make, and opens it.
    // False when a writer is already open, a source setting cannot apply
    // (SettingsRefused, nothing written), or the writer refuses the settings.
    bool OpenEncoder(const std::string& work_directory, const std::string& source_name);
    // Takes one source frame (top-down, or bottom-up when the source said
    // so): frames outside the kept part are counted and dropped, the others
    // go through the picture steps, and each picture they give is coded with
    // a progress report.
    int32_t EncodeFrame(const void* pixels);
    // The pictures the steps still hold (a deinterlacer keeps one) are
    // coded; after it EncodeFrame takes nothing more in this pass. FinishRun
    // and BeginSecondPass do it themselves; a source calls it only to count
    // FramesDone first.
    int32_t FlushPictures();
    // Codes the sound of the kept part: the whole file when the whole movie
    // is kept, else the samples from the first kept frame to the end of the
    // last, copied into the work directory first. A part past the end of the
    // sound leaves the movie without sound.
    int32_t EncodeSound(const std::string& wave_path);
    // Starts coding the sound on a thread of its own, beside the pictures;
    // the later EncodeSound of the same file reports progress as before and
    // takes the result. WaitForSound must be called before the run ends
    // (the sound is written into the work directory).
    void StartSound(const std::string& wave_path);
    void WaitForSound();
    int32_t WriteOutput(const std::string& output_path);
    // Waits for the sound coded beside the pictures and releases the writer,
    // which joins its group threads: after this nothing writes into the work
    // directory any more. A job's destructor calls it before it removes the
    // directory.
    void ReleaseWriter();

    // Replaces the writer for every later OpenEncoder (the real RVX writer by
    // default).
    void SetWriterFactory(MovieWriterFactory factory) { writer_factory_ = factory; }

    // Why the job failed, for a person; empty while nothing failed.
    std::string FailureReason() const { return failure_reason_; }
    // True when the job failed because its target size lies below the
    // smallest movie the source can become; nothing was encoded.
    bool TargetRefused() const { return target_refused_; }
    // With the target refused: the target and the smallest movie the source
    // can become, in bytes (0 otherwise).
    uint64_t RefusedTargetBytes() const { return refused_target_bytes_; }
    uint64_t SmallestReachableBytes() const { return smallest_movie_bytes_; }
    // What a person should know about a movie that was written (one that
    // came out smaller or larger than asked); empty for nothing.
    std::string Notice() const { return notice_; }
    // A movie written to a target size: the size it aimed at and the size
    // written, in bytes (both 0 for a job without a target). It missed when
    // it came out more than kMissedTargetShare over, which a job reports as
    // a failure of its own although the movie is kept.
    uint64_t TargetBytes() const { return target_bytes_; }
    uint64_t WrittenBytes() const { return written_bytes_; }
    bool TargetMissed() const;
    static constexpr double kMissedTargetShare = 0.02;
    // Whether the request asks for a target size or bitrate, which takes two
    // passes over the source.
    bool TwoPass() const;
    // Why a job with a target cannot take this source: settings that have
    // no quantiser to steer, or a source that cannot be read a second time
    // (a pipe). Empty when it can, and for a job of one pass.
    std::string TwoPassRefusal(const std::string& source) const;

    // True when the job failed because a source setting cannot apply to
    // this source (a start past its end, a crop larger than its pictures, a
    // sound track it does not have); nothing was coded or written.
    bool SettingsRefused() const { return settings_refused_; }
    // The source frames the request keeps, known after OpenEncoder: the
    // first one, and whether every later frame the source hands over is
    // beyond the part asked for (a source may stop reading then).
    uint64_t FirstKeptFrame() const { return first_kept_frame_; }
    bool PastKeptFrames() const { return source_frames_seen_ >= end_kept_frame_; }
    // A source that moved past frames without handing them over (a seek to
    // FirstKeptFrame) says how many, so the count of source frames stays
    // true.
    void SkipSourceFrames(uint64_t count) { source_frames_seen_ += count; }
    // Just past the last kept source frame; UINT64_MAX when the part runs
    // to the end of the movie.
    uint64_t EndKeptFrame() const { return end_kept_frame_; }

    uint32_t Stride() const { return stride_; }
    uint32_t FramesDone() const { return frames_done_; }
    bool HasWriter() const { return writer_ != nullptr; }

protected:
    // End of a run whose frames and sound are through: flush the last group,
    // write the request's output, post MSG_JOB_DONE. A stop request
    // seen on the way, or any failure, posts MSG_JOB_FAILED instead, and no
    // output is left behind. Returns the job's result.
    int32_t FinishRun(IThread& thread);
    // Posts MSG_JOB_FAILED; the reason is kept for FailureReason.
    int32_t FailRun(const std::string& reason);
    // Runs a job's steps on its thread. Running out of memory anywhere in
    // them (a picture buffer, the encoder's threads, a loader started with
    // std::async) fails the job with "out of memory" and drops the writer
    // with what it holds, instead of ending the program; no output is left.
    int32_t RunCatchingOutOfMemory(const std::function<int32_t()>& steps);
    void SetFailureReason(const std::string& reason);
    // Fails the run because a source setting cannot apply (SettingsRefused).
    int32_t RefuseSettings(const std::string& reason);
    // The same from a load step: the reason kept, nothing posted; returns
    // kJobFail for the load step to return.
    int32_t MarkSettingsRefused(const std::string& reason);
    // Pictures spread over the whole movie for finding its black borders:
    // top-down rows in the source's layout and stride (as EncodeFrame takes
    // them after any flip). A source that cannot seek gives none, and the
    // movie is then not cropped automatically.
    virtual std::vector<std::vector<uint8_t>> SamplePictures(uint32_t count);

    // Two passes. OpenEncoder opens the first pass's writer for a job with
    // a target; the sound goes through it too (EncodeSound), coded before the
    // second pass so that its size is known. Fails the run, with the
    // smallest size in the reason, when the target is below the smallest
    // movie of `frames` pictures; kJobOk otherwise (and for one pass).
    int32_t RefuseUnreachableTarget(uint64_t frames);
    // The same reason without failing the run; empty when reachable.
    std::string UnreachableTargetReason(uint64_t frames);
    // Why the plan the first pass made cannot meet the target: below the
    // smallest movie its measurements promise (the container's and the
    // sound's overhead bytes added); empty when it can.
    std::string PlannedFloorReason(uint64_t overhead);
    // The movie's size the settings ask for, over `frames` pictures at the
    // movie's rate.
    uint64_t TargetBytes(uint64_t frames) const;
    // Refuses the target, keeping both sizes, when it lies below `smallest`
    // (`how` says how that was found); empty when it does not.
    std::string RefusalBelow(uint64_t target, uint64_t smallest, const std::string& how);
    // Ends the first pass, plans the second from what it measured and opens
    // the writer for it; the job then hands every picture again. False (the
    // reason set) when the first pass failed or the target is unreachable.
    bool BeginSecondPass(const std::string& work_directory, const std::string& source_name);
    uint8_t Pass() const { return pass_; }
    // Sets the notice when the written movie missed the target by more
    // than the tolerance.
    void NoteSizeAgainstTarget(const std::string& output);
    static constexpr double kTargetTolerance = 0.01;

    IJobHost* owner_;
    const EncodeRequest request_;
    std::string current_name_;
    std::unique_ptr<IMovieWriter> writer_;
    std::vector<uint8_t> flip_buffer_;
    bool flip_ = false;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint32_t stride_ = 0;
    uint32_t total_frames_ = 0;
    uint32_t rate_numerator_ = 30;
    uint32_t rate_denominator_ = 1;
    std::atomic<uint32_t> frames_done_{0};  // read by the window while the job runs
    // width_, height_, stride_ and layout_ describe the coded picture from
    // OpenEncoder on: the one the picture steps make of the source's.
    uint32_t layout_ = 0;
    // Declared after writer_, so that a sound still being coded ends before
    // the writer goes.
    std::future<bool> sound_;
    std::string sound_wave_;

private:
    MovieWriterFactory writer_factory_ = &CreateRVXMovieWriter;
    std::string failure_reason_;
    SourcePictureFacts facts_;
    bool settings_refused_ = false;
    uint64_t first_kept_frame_ = 0;
    uint64_t end_kept_frame_ = UINT64_MAX;
    // Read by a source's own thread that stops a pipeline past the part.
    std::atomic<uint64_t> source_frames_seen_{0};
    // The source's picture as SetSourceFormat gave it.
    uint32_t source_layout_ = 0;
    uint32_t source_width_ = 0;
    uint32_t source_height_ = 0;
    uint32_t source_stride_ = 0;
    uint32_t source_pixel_bytes_ = 0;
    bool window_known_ = false;
    bool borders_known_ = false;
    CropEdges found_borders_;  // CropMode::kAuto, after turning
    PictureSteps steps_;
    std::unique_ptr<CPictureFilter> filter_;
    bool filter_flushed_ = false;
    std::string encoder_directory_;  // where the kept part of the sound is copied
    // The kept part and the steps, before the first pass's writer opens;
    // false with the reason set (and SettingsRefused for a setting that
    // cannot apply).
    bool PrepareSourceSteps();
    bool WorkOutKeptFrames();
    // Codes one picture as the writer takes it (after the steps).
    int32_t CodePicture(const uint8_t* picture);
    int32_t CodeFilteredPictures();
    uint8_t pass_ = 0;  // 0: one pass; 1, 2: the pass of a two-pass job
    // Macroblocks of the movie's pictures, whatever size the writer codes.
    uint32_t MovieMacroblocks() const;
    // A writer for the run's settings and pass (or a run of the size
    // sample), opened on a picture of width x height whose frame k is
    // display frame first_frame + k; null (the reason set) when it cannot be
    // opened.
    std::unique_ptr<IMovieWriter> MakeWriter(const std::string& work_directory, uint32_t width, uint32_t height,
                                             const std::string& prefix, uint32_t first_frame = 0,
                                             bool sample_run = false);
    uint32_t pixel_bytes_ = 0;
    // A reduced first pass (ReducedFirstPass): writer_ codes the analysis
    // picture, size_sample_ short runs at the movie's own size.
    bool reduced_pass_ = false;
    std::vector<uint8_t> reduced_buffer_;
    uint32_t reduced_stride_ = 0;
    std::unique_ptr<CSizeSample> size_sample_;
    std::shared_ptr<_rvxlib_::CRVXRatePlan> rate_plan_;
    std::string sound_file_;     // the coded sound a second pass takes over
    uint64_t target_bytes_ = 0;  // what the second pass aims at
    uint64_t written_bytes_ = 0;  // the movie's size once a second pass wrote it
    uint64_t payload_budget_ = 0;
    bool target_refused_ = false;
    uint64_t refused_target_bytes_ = 0;
    uint64_t smallest_movie_bytes_ = 0;
    std::string notice_;
    // The movie FinishRun wrote, until the run has reported its end.
    std::string written_output_;
};
