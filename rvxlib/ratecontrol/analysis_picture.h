#pragma once
// The picture a reduced first pass codes: the source at half its width and
// height. A first pass only has to tell what each frame will cost relative
// to the others and how its cost falls with the quality; a quarter of the
// samples tells that for a quarter of the coding time (size_sample.h says
// how the costs are brought back to the movie's size).

#include <cstddef>
#include <cstdint>

// Half of a picture dimension, rounded up so that an odd last row or column
// still has a sample of its own.
inline uint32_t AnalysisDimension(uint32_t full) { return (full + 1) / 2; }

// Macroblocks of a picture of that size, as the codec pads it.
inline uint32_t MacroblocksOfPicture(uint32_t width, uint32_t height) {
    return ((width + 15) / 16) * ((height + 15) / 16);
}

// Averages every 2x2 square of `source` (width x height pixels of
// bytes_per_pixel interleaved channels, rows source_stride bytes apart) into
// one pixel of `reduced` (AnalysisDimension of each, rows reduced_stride
// apart), every channel alike and rounded to nearest. An odd last row or
// column is averaged with itself.
void ReducePicture(const uint8_t* source, uint32_t width, uint32_t height, std::size_t source_stride,
                   uint32_t bytes_per_pixel, uint8_t* reduced, std::size_t reduced_stride);

