#pragma once
// What a first pass coded on the analysis picture (analysis_picture.h) would
// have cost at the movie's own size. How much more a frame costs at the full
// size than halved depends on the detail the halving removes (film grain,
// fine texture) and on the quantiser; short runs of the movie coded at its
// own size (a size sample) measure it for this movie, at both first-pass
// levels, spread over the whole movie so that every scene has its say. The
// middle of the pictures would not do: it holds more detail than the borders.

#include <cstdint>
#include <vector>

#include "rvxlib/ratecontrol/rate_plan.h"

namespace _rvxlib_ {

// An I frame, a P frame and the B frames between them.
inline constexpr uint32_t kSampleRunFrames = 2;

// A frame of a run: its display number in the movie and what it cost.
struct RVXSampleFrame {
    uint32_t display = 0;
    RVXPassFrame frame;
};

// What the frames of a first pass coded on the analysis picture (of
// reduced_macroblocks) would have cost at the movie's own size (of
// macroblocks): each frame's smallest payload at that size, plus what it
// cost above its smallest times a factor. The factor is what the sample's
// frames cost above their smallest against what the same display frames
// cost on the analysis picture, on average for I frames and for the others
// at each first-pass level, then moved by how the run of gop_length frames
// the frame is in compares with the others at its level.
std::vector<RVXPassFrame> FullSizePassFrames(std::vector<RVXPassFrame> reduced, uint32_t reduced_macroblocks,
                                             const std::vector<RVXSampleFrame>& sample, uint32_t macroblocks,
                                             uint32_t blocks_per_macroblock, uint32_t gop_length);

}  // namespace _rvxlib_
