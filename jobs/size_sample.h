#pragma once
// Short runs of the movie coded at its own size beside a first pass on the
// analysis picture (analysis_picture.h). How much more a frame costs at the
// full size than halved depends on the detail the halving removes (film
// grain, fine texture) and on the quality; the runs measure it for this
// movie, at both first-pass levels, spread over the whole movie so that
// every scene has its say. The middle of the pictures would not do: it
// holds more detail than the borders.
//
// A run is the first kSampleRunFrames pictures of every run of gop_length
// frames, each coded as a group of its own by a writer of its own, at the
// qualities the first pass gives those display frames. The runs' frames are
// compared with the same display frames of the first pass, so they begin
// where the first pass's groups begin unless a scene cut moved them.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "jobs/movie_writer.h"
#include "rvxlib/ratecontrol/rate_plan.h"

// An I frame, a P frame and the B frames between them.
inline constexpr uint32_t kSampleRunFrames = 2;

// A frame of a run: its display number in the movie and what it cost.
struct SampleFrame {
    uint32_t display = 0;
    _rvxlib_::RVXPassFrame frame;
};

// What the frames of a first pass coded on the analysis picture (of
// reduced_macroblocks) would have cost at the movie's own size (of
// macroblocks): each frame's smallest payload at that size, plus what it
// cost above its smallest times a factor. The factor is what the sample's
// frames cost above their smallest against what the same display frames
// cost on the analysis picture, on average for I frames and for the others
// at each first-pass level, then moved by how the run of gop_length frames
// the frame is in compares with the others at its level.
std::vector<_rvxlib_::RVXPassFrame> FullSizePassFrames(std::vector<_rvxlib_::RVXPassFrame> reduced,
                                                       uint32_t reduced_macroblocks,
                                                       const std::vector<SampleFrame>& sample,
                                                       uint32_t macroblocks, uint32_t blocks_per_macroblock,
                                                       uint32_t gop_length);

class CSizeSample {
public:
    // open_writer makes and opens a writer of full-size pictures whose frame
    // k has the first-pass quality of display frame first + k; null when it
    // cannot.
    using WriterOpener = std::function<std::unique_ptr<IMovieWriter>(uint32_t first)>;
    CSizeSample(WriterOpener open_writer, uint32_t gop_length);
    ~CSizeSample();

    // The picture of display frame n, handed for every frame in order;
    // coded when n belongs to a run. False when a run could not be coded.
    bool AddFrame(uint32_t n, const void* picture);
    // Codes a run cut short by the end of the movie. False when it failed.
    bool Finish();
    const std::vector<SampleFrame>& Frames() const { return frames_; }
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
    std::vector<SampleFrame> frames_;
    uint32_t macroblocks_ = 0;
};
