#pragma once
// What an AVI file's video stream says of its pictures beyond their size:
// the turn and mirror a player applies (its display matrix) and whether the
// pictures are interlaced.

#include <cstdint>
#include <string>

#include "jobs/source_settings.h"

// The turn (clockwise, to the nearest quarter) and the left-right mirror
// after it that a 3x3 display matrix, as FFmpeg stores it, asks for. Only
// after LoadFfmpeg succeeded.
SourcePictureFacts PictureFactsFromDisplayMatrix(const int32_t matrix[9]);

// The facts of the file's first video stream: its display matrix, and its
// interlacing as the stream states it or, where it states none, as its
// first decoded picture carries it. Upright and progressive when the file
// does not open or says nothing.
SourcePictureFacts ReadAviPictureFacts(const std::string& path);
