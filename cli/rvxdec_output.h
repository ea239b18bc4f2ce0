#pragma once
// What rvxdec makes of a movie besides its summary: decoded pictures as PNG
// files or a YUV4MPEG2 stream, the sound as a WAVE file, and the PSNR of the
// decoded pictures against the source pictures.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "rvx/rvx.h"

struct DecodeRequest {
    std::filesystem::path framesDirectory;   // PNG per frame when not empty
    std::string y4mPath;                     // "-" for standard output
    std::string comparePattern;              // printf pattern of the source pictures
    int32_t compareStart = -1;               // number of the first source picture; -1 finds 0 or 1
    bool integerIdct = false;                // the integer inverse DCT instead of the float one
    bool salvage = false;                    // play what is intact instead of refusing damage
};

struct DecodeResult {
    bool ok = true;                // every requested output was written
    std::string error;             // the first failure, for a person
    uint32_t framesDecoded = 0;
    uint32_t damagedFrames = 0;    // salvaging: skipped, showing the picture before
    uint32_t wholeFrames = 0;      // records whole in the file (all of them unless it is cut)    // from a tolerant reader: skipped, showing the picture before
    // PSNR in dB over R, G, B, and A too when the movie or the source picture
    // has alpha; 99 stands for identical pictures.
    uint32_t framesCompared = 0;
    std::vector<double> framePsnr;   // per compared picture, in display order
    double psnrMean = 0;             // from the mean squared error over all compared pictures
    double psnrMin = 0;              // the worst picture
};

// Reads the movie through librvx; null, with the reason for a person in
// *error, when it cannot be opened.
struct RvxMovieCloser {
    void operator()(RvxMovie* movie) const { rvx_close(&movie); }
};
using RvxMoviePtr = std::unique_ptr<RvxMovie, RvxMovieCloser>;
RvxMoviePtr OpenMovie(const std::string& path, const RvxSettings& settings, int* status);

// R, G, B, A rows into the B, G, R, A rows the PNG writer and the
// comparison take, in place.
void RgbaToBgra(uint8_t* pixels, size_t count);

// B, G, R, A rows as a PNG file, with its alpha when the movie has one.
bool SavePng(const std::filesystem::path& path, uint8_t* bgra, size_t pitch, uint32_t width, uint32_t height,
             bool alpha);

bool WantsPictures(const DecodeRequest& request);
DecodeResult DecodePictures(const std::string& movie, const DecodeRequest& request);
// The sound track decoded into a 16-bit PCM WAVE file; *frames counts the
// sample frames written. Salvaging, the sound ends where the file does.
bool DecodeSoundToWave(const std::string& movie, const std::filesystem::path& path, bool salvage, uint64_t* frames,
                       std::string* error);
