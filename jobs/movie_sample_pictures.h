#pragma once
// Pictures spread over a movie, decoded by a short pipeline of their own that
// seeks to each place, for finding black borders before the movie is coded.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// `count` pictures at the middles of equal parts of the movie, as top-down
// rows of width x 4 bytes in the layout (kLayoutRGB32 or kLayoutARGB32).
// Empty when the movie cannot seek, does not tell its length, or its
// pictures are not of the size given; fewer when a seek does not finish
// within the time.
std::vector<std::vector<uint8_t>> SampleMoviePictures(const std::string& path, uint32_t layout, uint32_t width,
                                                      uint32_t height, uint32_t count,
                                                      std::chrono::milliseconds timeout);
