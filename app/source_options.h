#pragma once
// The source options as a person types them, in the window's fields or on
// rvxenc's command line, becoming the source settings. Both front ends read
// through these functions, so the same text cuts and sizes the same movie.
// Each returns false for a text that names no valid value, leaving the
// setting as it was.

#include <cstdint>
#include <string>

#include "jobs/source_settings.h"

// Seconds ("12", "12.5"), a clock time ("1:02:03.5", "02:03", hours,
// minutes and seconds below 60 after the first part) or a count of the
// source's frames ("120f"). Fractions finer than a microsecond are dropped.
// Blanks around the text are allowed.
bool ParseSourceTime(const std::string& text, SourceTime* time);

// The part of the source: a start of zero is the first frame and leaves the
// start unset (so an untouched source stays untouched); an empty text leaves
// either unset; a duration of zero is refused.
bool ParseSourceStart(const std::string& text, SourceTime* start);
bool ParseSourceDuration(const std::string& text, SourceTime* duration);

// One side of the scaled picture: empty keeps it (0), otherwise a number of
// pixels from 1 to kMaxScaleDimension.
bool ParseScaleSide(const std::string& text, uint32_t* side);
// "WxH", "Wx" or "xH" (the missing side keeps the picture's shape).
bool ParseScaleSize(const std::string& text, uint32_t* width, uint32_t* height);

// "none", "auto" or four pixel counts "L,T,R,B"; four zeros crop nothing.
bool ParseCrop(const std::string& text, CropMode* mode, CropEdges* edges);

// "auto" or "0" follow the source's own rotation only; "90", "180", "270"
// turn the pictures further clockwise.
bool ParseExtraRotation(const std::string& text, uint16_t* degrees);

// "auto", "on" or "off".
bool ParseDeinterlace(const std::string& text, Deinterlace* mode);

// A sound track counted from 1 (up to 65535).
bool ParseAudioTrack(const std::string& text, uint16_t* track);
