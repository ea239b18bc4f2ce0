#pragma once
// The decoding pipeline around the two movie sinks: a decoder chosen from the
// file's contents, a converter in front of each sink, no clock. The first
// picture stream goes to the picture sink, the chosen (or first) sound stream
// to the sound sink, anything else is decoded and thrown away.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

typedef struct _GstElement GstElement;
typedef struct _GstPad GstPad;

class CMovieRenderSurface;
class CMovieRenderSound;

// Makes GStreamer usable in this process (once, from any thread); false with
// a reason when it cannot start.
bool InitMediaFramework(std::string& reason);

class CMoviePipeline {
public:
    enum class Event { kNone, kEnd, kError };

    CMoviePipeline(CMovieRenderSurface& surface, CMovieRenderSound& sound);
    // Stops the pipeline (its streaming threads end) before it goes.
    ~CMoviePipeline();
    CMoviePipeline(const CMoviePipeline&) = delete;
    CMoviePipeline& operator=(const CMoviePipeline&) = delete;

    // The sound stream to decode, by its stream id (ListMovieSoundStreams);
    // before Preroll. Without one the first sound stream is taken.
    void ChooseSoundStream(const std::string& stream_id) { sound_stream_ = stream_id; }
    // Builds the pipeline for the file and lets it decode up to its first
    // picture and sound (paused), so that the formats are known. False with a
    // reason on any error or when nothing arrived within the time.
    bool Preroll(const std::string& path, std::chrono::milliseconds timeout, std::string& reason);
    bool HasPicture() const { return picture_linked_; }
    bool HasSound() const { return sound_linked_; }

    // Movie length in pictures when the stream tells it, else 0.
    uint64_t DurationInFrames() const;
    // Movie length in nanoseconds, 0 when unknown.
    uint64_t DurationInTime() const;

    // Lets it run as fast as it decodes.
    bool Play(std::string& reason);
    // Waits up to the time for the end of the movie or an error (with the
    // pipeline's own error text).
    Event WaitForEvent(std::chrono::milliseconds timeout, std::string& error);
    // Stops decoding; returns once no streaming thread runs any more.
    void Stop();

private:
    static void OnPadAdded(GstElement* decoder, GstPad* pad, void* self);
    void LinkPad(GstPad* pad);
    bool IsChosenSound(GstPad* pad) const;
    bool LinkBranch(GstPad* pad, const char* converter, GstElement* sink);
    void LinkDiscard(GstPad* pad);

    CMovieRenderSurface& surface_;
    CMovieRenderSound& sound_;
    GstElement* pipeline_ = nullptr;
    std::string sound_stream_;
    // Set on a streaming thread while the pipeline prerolls.
    std::atomic<bool> picture_linked_{false};
    std::atomic<bool> sound_linked_{false};
};
