#pragma once
// The picture sink of the movie pipeline: an appsink that accepts 32-bit
// pictures only (BGRx = RGB32, BGRA = ARGB32) and hands each decoded picture,
// as tight top-down rows, to its delegate under its own lock on the
// pipeline's streaming thread.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "jobs/movie_sink.h"
#include "jobs/source_settings.h"
#include "support/delegate.h"

typedef struct _GstVideoInfo GstVideoInfo;

// What the sink accepted when it connected (read after preroll).
struct MoviePictureFormat {
    uint32_t layout = 0;  // kLayoutRGB32 or kLayoutARGB32
    uint32_t width = 0;
    uint32_t height = 0;
    // The stream's rate as a fraction; 0/1 when the stream does not say.
    int32_t rate_numerator = 0;
    int32_t rate_denominator = 1;
    // The display rotation from the stream's tags and the interlacing from
    // its caps or, for streams that mix both, from the first picture.
    SourcePictureFacts facts;
};

// Reads a stream's image-orientation tag ("rotate-90", "flip-rotate-0", ...)
// into the rotation and mirror of the facts; false, the facts unchanged, for
// a name it does not know.
bool ReadImageOrientation(const char* text, SourcePictureFacts& facts);

// A picture's presentation time and length in nanoseconds, -1 when the
// stream does not say.
struct MoviePictureTime {
    int64_t start = -1;
    int64_t length = -1;
};

class CMovieRenderSurface : public CMovieSink {
public:
    using FrameDelegate = delegate<long, void*, MoviePictureTime, void, void, void>;

    explicit CMovieRenderSurface(std::mutex& lock);

    // Reads the negotiated caps, the stream's tags and the picture held for
    // preroll; false when the sink never connected.
    bool ReadFormat();
    const MoviePictureFormat& Format() const { return format_; }
    // Duration of the picture held for preroll in 100 ns units, 0 when unknown.
    int64_t PrerollFrameDuration() const;

    // The delegate gets tight top-down rows of Format()'s size with the
    // picture's time; a negative result ends the stream with an error, a
    // positive one ends the pictures alone (the sound goes on).
    void SetDelegate(const FrameDelegate& frame) { frame_ = frame; }

    int Render(GstSample* sample) override;

private:
    SourcePictureFacts ReadFacts(const GstVideoInfo& info) const;

    FrameDelegate frame_;
    MoviePictureFormat format_;
    std::vector<uint8_t> tight_;  // rows repacked when the buffer's stride is wider
};
