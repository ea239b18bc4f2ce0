#pragma once
// The sound sink of the movie pipeline: an appsink that accepts interleaved
// signed 16-bit little-endian PCM only and hands each block to its delegate
// under its own lock on the pipeline's streaming thread.

#include <mutex>
#include <string>

#include "jobs/movie_sink.h"
#include "jobs/staged_sound.h"
#include "support/delegate.h"

class CMovieRenderSound : public CMovieSink {
public:
    using SoundDelegate = delegate<long, void*, unsigned int, void, void, void>;

    explicit CMovieRenderSound(std::mutex& lock);

    // Reads the negotiated caps; false when the sink never connected.
    bool ReadFormat();
    const PcmFormat& Format() const { return format_; }

    // A non-zero result ends the stream with an error.
    void SetDelegate(const SoundDelegate& block) { block_ = block; }

    int Render(GstSample* sample) override;

private:
    SoundDelegate block_;
    PcmFormat format_;
};
