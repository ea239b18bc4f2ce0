#pragma once
// Encoding any movie the media framework plays: a decoding pipeline hands its
// pictures straight to the encoder and its sound, as PCM, to "tmpsnd.wav" on
// its own streaming threads; the job's thread watches the pipeline until the
// end of the movie or a stop.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "jobs/encode_job.h"
#include "jobs/staged_sound.h"
#include "support/thread.h"

class CMovieRenderSurface;
class CMovieRenderSound;
class CMoviePipeline;

class CEncodeFromDirectShow : public CThread, public CEncodeRVXFile {
public:
    // The request's source is the movie file.
    CEncodeFromDirectShow(IJobHost* owner, EncodeRequest request);
    ~CEncodeFromDirectShow() override;

    // On the caller's thread before Start: builds the pipeline for the
    // movie, decodes up to the first picture to learn the picture and sound
    // formats, and creates the work directory. 0 when ready.
    int32_t Load();
    int32_t Run() override;

    // Known after a successful Load.
    uint32_t TotalFrames() const { return total_frames_; }
    uint32_t RateNumerator() const { return rate_numerator_; }
    uint32_t RateDenominator() const { return rate_denominator_; }
    bool HasSound() const { return staged_sound_ != nullptr; }
    const std::string& WorkDirectory() const { return work_directory_; }

private:
    int32_t EncodeMovie();
    // Plays the movie through the sinks until its end, an error or a stop;
    // false with the error when it failed.
    bool PlayToEnd(std::string& error);
    // Plays one pass and fails the run when it failed, a picture or the
    // sound was refused, or no picture came; then codes the staged sound
    // when asked. kJobOk, or the failed run's result.
    int32_t PlayPass(bool code_sound);
    // A target size: the movie is played twice, once to measure (its sound
    // staged and coded), once to code; the second time it is opened anew.
    int32_t EncodeTwoPasses();
    bool ReopenPipeline(std::string& reason);
    int32_t LoadFailure(const std::string& reason);
    bool ChooseFrameRate();
    // Delegate targets, on the pipeline's streaming threads.
    long OnPicture(void* pixels);
    long OnSoundBlock(void* data, unsigned int length);
    // Stops decoding and waits until no streaming thread runs.
    void StopPipeline();

    std::mutex picture_lock_;
    std::mutex sound_lock_;
    std::unique_ptr<CMovieRenderSurface> surface_;
    std::unique_ptr<CMovieRenderSound> sound_;
    std::unique_ptr<CMoviePipeline> pipeline_;  // after the sinks: it goes first
    std::unique_ptr<CStagedSoundFile> staged_sound_;
    std::string movie_path_;
    std::string work_directory_;
    int64_t average_time_per_frame_ = 0;  // 100 ns units
    // Set on a streaming thread when a picture could not be coded or the
    // sound not staged. The pipeline does not always turn a refused sample
    // into an error on its bus (a queue that has already passed on the end of
    // the stream just stops), so the job watches these itself.
    std::atomic<bool> picture_failed_{false};
    std::atomic<bool> sound_failed_{false};
    // Steady-clock milliseconds of the last sample either sink handed on, and
    // how many samples are being worked on now; together they tell a movie
    // that stopped decoding from a slow encoder.
    std::atomic<int64_t> last_activity_ms_{0};
    std::atomic<int32_t> busy_{0};
};
