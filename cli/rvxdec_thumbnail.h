#pragma once
// The picture a file manager shows for a movie: the first picture, scaled
// down to fit a square, as PNG. Only the first record is decoded, so it stays
// quick for long movies.

#include <cstdint>
#include <string>

constexpr uint32_t kDefaultThumbnailSize = 256;

enum class ThumbnailResult { kWritten, kUnreadableMovie, kNotWritten };

// Writes the thumbnail (under a temporary name, renamed when complete); the
// reason for a person in *error when it was not written.
ThumbnailResult WriteThumbnail(const std::string& movie, const std::string& out, uint32_t size, std::string* error);
