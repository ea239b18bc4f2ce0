#pragma once
// Finding the black bars a movie was framed with (letterbox, pillarbox), so
// that an automatic crop takes them away and nothing of the picture.

#include <cstdint>
#include <vector>

#include "jobs/source_settings.h"

// One shape for every sample picture: top-down rows `stride` bytes apart of
// 24-bit BGR or 32-bit BGRx/BGRA pixels.
struct SamplePictureShape {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t stride = 0;
    uint32_t bytes_per_pixel = 4;
};

// The bars every sample picture has, in the samples' own orientation, as
// even counts: a picture too short for the shape, or dark all over, tells
// nothing and is skipped; bars thinner than a fiftieth of their side are
// left; nothing is cropped when no picture tells anything.
CropEdges DetectBlackBorders(const std::vector<std::vector<uint8_t>>& pictures, const SamplePictureShape& shape);

// The same edges on the picture turned clockwise by `rotation` degrees and
// then, when `mirrored`, flipped left to right.
CropEdges EdgesAfterTurn(const CropEdges& edges, uint32_t rotation, bool mirrored);
