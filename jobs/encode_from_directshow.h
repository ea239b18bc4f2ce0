#pragma once
// Encoding any movie the media framework plays: a decoding pipeline hands its
// pictures, each at the frame of its time stamp, to the encoder and its sound
// (the track asked for), as PCM, to "tmpsnd.wav" on its own streaming
// threads; the job's thread watches the pipeline until the end of the movie,
// the end of the part asked for, or a stop.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "jobs/encode_job.h"
#include "jobs/movie_render_surface.h"
#include "jobs/staged_sound.h"
#include "support/thread.h"

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
    // What the movie's streams say of its pictures (rotation, interlacing).
    SourcePictureFacts PictureFacts() const { return surface_ ? surface_->Format().facts : SourcePictureFacts{}; }
    const std::string& WorkDirectory() const { return work_directory_; }

protected:
    std::vector<std::vector<uint8_t>> SamplePictures(uint32_t count) override;

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
    // Picks the sound stream the settings ask for; kJobOk, or the load's
    // failure when the movie has no such track.
    int32_t ChooseSoundTrack();
    // Delegate targets, on the pipeline's streaming threads.
    long OnPicture(void* pixels, MoviePictureTime time);
    long OnSoundBlock(void* data, unsigned int length);
    // Stops decoding and waits until no streaming thread runs.
    void StopPipeline();

    // A movie keeps its length: each picture stands at the frame nearest its
    // time stamp at the movie's rate, counted from the first picture. A
    // picture for a frame already filled is dropped, a frame left empty
    // repeats the picture before, and the pass ends with the last picture
    // repeated to the movie's length.
    int32_t PlacePicture(const void* pixels, const MoviePictureTime& time);
    // One frame to the job base, which counts it even outside the part.
    int32_t HandOn(const void* pixels);
    int32_t FillToEnd();
    // The frame nearest a time (ns after the first picture) at the placing rate.
    uint64_t FrameAt(int64_t ns) const;
    int64_t FramePeriodNs() const;
    void ResetPlacement();
    // True when the pictures are past the part asked for and the staged
    // sound reaches the part's end too: the pass may end as if the movie
    // ended.
    bool PartComplete();

    // The rate pictures are placed at: the stream's exact fraction, or one
    // picture per the first picture's length.
    uint64_t place_numerator_ = 0;
    uint64_t place_denominator_ = 1;
    int64_t movie_length_ns_ = 0;  // as the container tells it, 0 when unknown
    int64_t first_start_ = -1;
    int64_t end_time_ = 0;     // where the last picture so far ends, after the first one's start
    bool last_length_known_ = false;  // the stream told that picture's length
    uint64_t next_frame_ = 0;  // frames handed on in this pass
    std::vector<uint8_t> last_picture_;
    // Set once the frames handed on are past the part asked for; later
    // pictures are not coded.
    std::atomic<bool> part_passed_{false};
    uint64_t part_end_frame_ = 0;
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
