#pragma once
// Encodes one picture into a still-image file.

#include "pqxlib/pqx_common.h"

#include <cstdio>
#include <string>
#include <vector>

namespace _pqxlib_ {

class CPQXWrite : public CPQXCommon {
public:
    // Stores the picture's size and format word and derives the bits per
    // pixel. Methods outside the method table, and every method but the two
    // byte-code ones for a single plane, become kMethodDiff so that the file
    // always says how it was coded. Returns 0 for a format word whose colour
    // layout or alpha depth this codec does not handle.
    int32_t SetPicture(uint32_t width, uint32_t height, uint16_t format);
    int32_t SetResolution(int32_t x, int32_t y);
    int32_t SetTrailer(const void* data, uint32_t size);
    // One pointer per pixel row, top row first. Colour pixels are B, G, R
    // (then alpha unless separate alpha rows are given); a single plane is
    // read from the first byte of each pixel.
    int32_t SetRows(const uint8_t* const* rows);
    int32_t SetAlphaRows(const uint8_t* const* rows);

    int32_t Save(const std::string& path);
    // Writes the whole file at the start of an open, seekable stream.
    int32_t Write(std::FILE* file);

    const PQXHeader& Header() const { return header_; }

private:
    bool Ready() const;
    void LoadBlock(uint32_t bx, uint32_t by, bool ycbcr);
    void LoadPlaneBlock(uint64_t index, int channel);
    bool EncodeByteCode(BitStream& stream);
    bool EncodeHuffman(BitStream& stream);
    bool EncodePlane(BitStream& stream);

    PQXHeader header_;
    std::vector<uint8_t> trailer_;
    const uint8_t* const* rows_ = nullptr;
    const uint8_t* const* alpha_rows_ = nullptr;
    uint32_t colour_bytes_ = 0;
    uint32_t alpha_bits_ = 0;
};

}  // namespace _pqxlib_
