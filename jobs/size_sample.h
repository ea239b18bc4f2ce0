#pragma once
// Short runs of the movie coded at its own size beside a first pass on the
// analysis picture, for the full-size estimate (full_size_estimate.h).
//
// A run is the first kSampleRunFrames pictures of every run of gop_length
// frames, each coded as a group of its own by a writer of its own, at the
// quantisers the first pass gives those display frames. The runs' frames are
// compared with the same display frames of the first pass, so they begin
// where the first pass's groups begin unless a scene cut moved them.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "jobs/movie_writer.h"
#include "rvxlib/ratecontrol/full_size_estimate.h"

class CSizeSample {
public:
    // open_writer makes and opens a writer of full-size pictures whose frame
    // k has the first-pass quantiser of display frame first + k; null when it
    // cannot.
    using WriterOpener = std::function<std::unique_ptr<IMovieWriter>(uint32_t first)>;
    CSizeSample(WriterOpener open_writer, uint32_t gop_length);
    ~CSizeSample();

    // The picture of display frame n, handed for every frame in order;
    // coded when n belongs to a run. False when a run could not be coded.
    bool AddFrame(uint32_t n, const void* picture);
    // Codes a run cut short by the end of the movie. False when it failed.
    bool Finish();
    const std::vector<_rvxlib_::RVXSampleFrame>& Frames() const { return frames_; }
    // Macroblocks of the sample's pictures (0 before the first run).
    uint32_t Macroblocks() const { return macroblocks_; }

private:
    // A run's writer and the display number of its first frame.
    struct Run {
        std::unique_ptr<IMovieWriter> writer;
        uint32_t first = 0;
    };
    // Waits for a run's frames and keeps what they cost.
    bool EndRun(Run& run);

    WriterOpener open_writer_;
    uint32_t gop_length_;
    Run current_;
    // The run before, whose frames its own threads code while the pictures
    // up to the next run arrive: nobody waits for them until then.
    Run coding_;
    std::vector<_rvxlib_::RVXSampleFrame> frames_;
    uint32_t macroblocks_ = 0;
};
