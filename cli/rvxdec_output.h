#pragma once
// What rvxdec makes of a movie besides its summary: decoded pictures as PNG
// files or a YUV4MPEG2 stream, the sound as a WAVE file, and the PSNR of the
// decoded pictures against the source pictures.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "container/rvx_reader.h"
#include "rvxlib/decoder/frame_decoder.h"
#include "rvxlib/decoder/shown_picture.h"

struct DecodeRequest {
    std::filesystem::path framesDirectory;   // PNG per frame when not empty
    std::string y4mPath;                     // "-" for standard output
    std::string comparePattern;              // printf pattern of the source pictures
    int32_t compareStart = -1;               // number of the first source picture; -1 finds 0 or 1
    _rvxlib_::RVXInverseDct inverse = _rvxlib_::RVXInverseDct::kFloat;
};

struct DecodeResult {
    bool ok = true;                // every requested output was written
    std::string error;             // the first failure, for a person
    uint32_t framesDecoded = 0;
    uint32_t damagedFrames = 0;    // from a tolerant reader: skipped, showing the picture before
    // PSNR in dB over R, G, B, and A too when the movie or the source picture
    // has alpha; 99 stands for identical pictures.
    uint32_t framesCompared = 0;
    std::vector<double> framePsnr;   // per compared picture, in display order
    double psnrMean = 0;             // from the mean squared error over all compared pictures
    double psnrMin = 0;              // the worst picture
};

// The shown B, G, R, A rows of an open movie's decoded pictures; false when
// its picture format cannot be shown.
bool OpenShownPicture(const CRVXReader& reader, _rvxlib_::CRVXShownPicture* shown);

// B, G, R, A rows as a PNG file, with its alpha when the movie has one.
bool SavePng(const std::filesystem::path& path, uint8_t* bgra, size_t pitch, uint32_t width, uint32_t height,
             bool alpha);

bool WantsPictures(const DecodeRequest& request);
DecodeResult DecodePictures(CRVXReader& reader, const DecodeRequest& request);
// The sound track decoded into a 16-bit PCM WAVE file; *frames counts the
// sample frames written. From a tolerant reader the sound ends where the
// file does.
bool DecodeSoundToWave(CRVXReader& reader, const std::filesystem::path& path, uint64_t* frames, std::string* error);
