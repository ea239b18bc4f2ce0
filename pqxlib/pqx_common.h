#pragma once
// Still images tagged "PQXF": a 48-byte header, a bit stream of coded 8x8
// blocks (up to four channels per coefficient block) and an opaque trailer.
//
// Image format word: bits 0-3 colour layout (9 or 13: B, G, R bytes per pixel;
// 10 or 14: 48-bit pixels whose first three bytes are B, G, R; 0: a single
// plane), bits 4-7 alpha (0x10 8-bit, 0x20 16-bit, read from the pixel's first
// alpha byte), bits 10-15 the coding method (kMethod*).

#include "pqxlib/conv_interface.h"
#include "pqxlib/huffman.h"
#include "support/aligned_alloc.h"
#include "support/bitstream.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace _pqxlib_ {

constexpr uint32_t kPQXHeaderSize = 48;
constexpr uint16_t kMethodMask = 0xFC00;
constexpr uint16_t kMethodNull = 0x0400;      // identity, byte code
constexpr uint16_t kMethodDiff = 0x0800;      // differences, byte code
constexpr uint16_t kMethodHadamard = 0x1000;  // YCbCr, Hadamard, Huffman
constexpr uint16_t kMethodDctLow = 0x8400;    // 0x8400..0xA000: YCbCr, float DCT, scale 2
constexpr uint16_t kMethodDctHigh = 0xA000;
constexpr uint16_t kMethodIntDct4 = 0xB000;
constexpr uint16_t kMethodFltDct8 = 0xC000;
constexpr uint16_t kMethodIntDct8 = 0xD000;
constexpr uint16_t kAlpha8 = 0x10;
constexpr uint16_t kAlpha16 = 0x20;

struct PQXHeader {
    uint8_t magic[4] = {'P', 'Q', 'X', 'F'};
    uint32_t size = 0;           // header plus coded data, trailer not counted
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bits = 0;           // colour bits plus alpha bits
    uint16_t format = 0;         // image format word
    int32_t x_resolution = 0;    // pixels per metre
    int32_t y_resolution = 0;
    uint32_t trailer_size = 0;
};

void ReadPQXHeader(PQXHeader& header, const uint8_t bytes[kPQXHeaderSize]);
void WritePQXHeader(uint8_t bytes[kPQXHeaderSize], const PQXHeader& header);

inline uint16_t FormatMethod(uint16_t format) { return format & kMethodMask; }
inline uint32_t FormatLayout(uint16_t format) { return format & 0x0F; }

// Colour bits of a layout, 0 for the single-plane layout 0, -1 for a layout
// this codec cannot read or write.
int32_t LayoutColourBits(uint32_t layout);
// 0, 8 or 16; -1 for an alpha field that names no depth.
int32_t FormatAlphaBits(uint16_t format);
bool MethodKnown(uint16_t method);
bool MethodUsesHuffman(uint16_t method);
bool MethodUsesYCbCr(uint16_t method);

// State both directions share: the transform, the entropy coder and one
// coefficient block.
class CPQXCommon {
public:
    CPQXCommon();
    virtual ~CPQXCommon();

protected:
    // Creates and sets up the transform of a (known) method.
    bool ChooseTransform(uint16_t method);

    std::unique_ptr<IPQXConvInterface> transform_;
    CHuffmanCoder coder_;
    AlignedBuffer<int16_t> block_;  // kBlockValues, interleaved channels
    uint8_t scans_[4][64];          // block index of scan position j in channel k
};

// The byte code of the lossless methods (and of alpha): values reduced to 8
// bits, runs of zeros, a 19-bit code that ends a block early.
void PutByteCodedValues(BitStream& stream, const int16_t* block, const uint8_t* scan);
// Decodes 64 values into block[scan[j]] as bytes 0..255. False on a run past
// the end of the block or bits past the end of the data.
bool GetByteCodedValues(BitStream& stream, int16_t* block, const uint8_t* scan);

}  // namespace _pqxlib_
