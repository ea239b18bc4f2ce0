#pragma once
// The legacy index ("idx1") of an AVI file, read for what FFmpeg's demuxer
// keeps to itself: how many entries a stream has, empty ones included. An
// empty entry stands for a picture that repeats the one before, and the
// demuxer passes over it without a packet, so entries at the very end of a
// stream leave no trace in what it delivers.

#include <cstdint>
#include <string>

// The number of index entries of the stream numbered `stream` (its two
// digits in the chunk ids, "00dc", "01wb"); -1 when the file has no legacy
// index or it cannot be read.
int64_t AviIndexEntryCount(const std::string& path, unsigned stream);
