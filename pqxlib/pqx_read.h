#pragma once
// Decodes a still image held in memory. The data is untrusted: every size is
// checked against it and decoding stops at the first inconsistency.

#include "pqxlib/pqx_common.h"

#include <cstddef>

namespace _pqxlib_ {

class CPQXRead : public CPQXCommon {
public:
    // Accepts the image when its header is one this codec decodes and the data
    // can hold the coded blocks the header announces; otherwise clears the
    // header (keeping the magic) and returns 0.
    int32_t Check(const void* data, std::size_t size);
    int32_t GetInfo(int32_t* width, int32_t* height, int32_t* bits) const;
    // One pointer per pixel row, top row first, as laid out for CPQXWrite.
    // Rows must hold width x bits / 8 bytes (width x colour bytes when
    // separate alpha rows are given).
    int32_t SetRows(uint8_t* const* rows);
    int32_t SetAlphaRows(uint8_t* const* rows);
    // Decodes the whole picture into the rows. 0 on corrupt or truncated data
    // (rows may then hold part of the picture).
    int32_t Decode();

    const PQXHeader& Header() const { return header_; }
    // The caller's trailer bytes, or null when the data does not hold them.
    const uint8_t* Trailer(uint32_t* size) const;

private:
    void StoreBlock(uint32_t bx, uint32_t by, bool ycbcr, const int16_t* alpha);
    bool DecodeByteCode(BitStream& stream);
    bool DecodeHuffman(BitStream& stream);
    bool DecodePlane(BitStream& stream);

    const uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    PQXHeader header_;
    uint8_t* const* rows_ = nullptr;
    uint8_t* const* alpha_rows_ = nullptr;
    uint32_t colour_bytes_ = 0;
    uint32_t alpha_bits_ = 0;
};

}  // namespace _pqxlib_
