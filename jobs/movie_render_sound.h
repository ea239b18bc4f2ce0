#pragma once
// The sound sink of the movie pipeline: an appsink that accepts interleaved
// signed 16-bit little-endian PCM only and hands each block to its delegate
// under its own lock on the pipeline's streaming thread.

#include <atomic>
#include <mutex>
#include <string>

#include "jobs/staged_sound.h"
#include "support/delegate.h"

typedef struct _GstElement GstElement;
typedef struct _GstSample GstSample;

class CMovieRenderSound {
public:
    using SoundDelegate = delegate<long, void*, unsigned int, void, void, void>;

    explicit CMovieRenderSound(std::mutex& lock);
    ~CMovieRenderSound();
    CMovieRenderSound(const CMovieRenderSound&) = delete;
    CMovieRenderSound& operator=(const CMovieRenderSound&) = delete;

    GstElement* Element() const { return sink_; }
    // Reads the negotiated caps; false when the sink never connected.
    bool ReadFormat();
    const PcmFormat& Format() const { return format_; }

    // A non-zero result ends the stream with an error.
    void SetDelegate(const SoundDelegate& block) { block_ = block; }
    void SetStopping() { stopping_ = true; }

    // One decoded sample, on the streaming thread: a GstFlowReturn.
    int Render(GstSample* sample);

private:
    void PostError(const std::string& text);

    std::mutex& lock_;
    GstElement* sink_ = nullptr;
    SoundDelegate block_;
    PcmFormat format_;
    std::atomic<bool> stopping_{false};
};
