#pragma once
// The RVX movie file, byte by byte. A file is, without gaps:
//   header (288 bytes) | group index (24 bytes per group) |
//   frame section (per group: 12-byte record + payload, in coding order) |
//   sound track (a complete SNX sound file, only when present).
// Integers are little-endian, except the CRC-32 of a frame record, which is
// stored most significant byte first.

#include <cstddef>
#include <cstdint>

#include "support/byte_order.h"

namespace rvx_layout {

inline constexpr char kMagic[8] = {'R', 'V', 'X', 'F', 'I', 'L', 'E', '0'};

inline constexpr uint32_t kHeaderSize = 288;
inline constexpr uint32_t kGroupIndexEntrySize = 24;
inline constexpr uint32_t kFrameRecordSize = 12;
inline constexpr uint32_t kFoldedDigestSize = 16;
inline constexpr uint32_t kMatrixSize = 64;

// Header fields.
inline constexpr uint32_t kOffsetMagic = 0;
inline constexpr uint32_t kOffsetFileSize = 8;               // 64-bit
inline constexpr uint32_t kOffsetFrameSection = 16;          // 64-bit, 288 + 24 x groups
inline constexpr uint32_t kOffsetHeaderDigest = 24;          // 16 bytes
inline constexpr uint32_t kOffsetFirstGroup = 40;            // 64-bit, same as at 16
inline constexpr uint32_t kOffsetFrameSectionLength = 48;    // 64-bit
inline constexpr uint32_t kOffsetFrameDigest = 56;           // 16 bytes
inline constexpr uint32_t kOffsetSoundOffset = 72;           // 64-bit, 0 without sound
inline constexpr uint32_t kOffsetSoundLength = 80;           // 64-bit, 0 without sound
inline constexpr uint32_t kOffsetSoundDigest = 88;           // 16 bytes, 0 without sound
inline constexpr uint32_t kOffsetRecordCount = 104;
inline constexpr uint32_t kOffsetGroupCount = 108;
inline constexpr uint32_t kOffsetRateNumerator = 112;
inline constexpr uint32_t kOffsetRateDenominator = 116;
inline constexpr uint32_t kOffsetGopLength = 120;
inline constexpr uint32_t kOffsetWidth = 124;
inline constexpr uint32_t kOffsetHeight = 128;
inline constexpr uint32_t kOffsetWidthCopy = 132;
inline constexpr uint32_t kOffsetHeightCopy = 136;
inline constexpr uint32_t kOffsetFormatFlags = 140;
inline constexpr uint32_t kOffsetSoundChannels = 144;        // 16-bit
inline constexpr uint32_t kOffsetSoundBitsPerSample = 146;   // 16-bit
inline constexpr uint32_t kOffsetSoundSampleRate = 148;
inline constexpr uint32_t kOffsetSoundSampleFrames = 152;
inline constexpr uint32_t kOffsetSoundPresent = 156;
inline constexpr uint32_t kOffsetIntraMatrix = 160;
inline constexpr uint32_t kOffsetInterMatrix = 224;

// The header digest covers header bytes from here to the end, then the index.
inline constexpr uint32_t kHeaderDigestCoverageStart = 40;

// Group index entry fields.
inline constexpr uint32_t kGroupFirstFrame = 0;
inline constexpr uint32_t kGroupRecordCount = 4;
inline constexpr uint32_t kGroupOffset = 8;
inline constexpr uint32_t kGroupLength = 16;

// Frame record fields.
inline constexpr uint32_t kRecordTypeWord = 0;
inline constexpr uint32_t kRecordPayloadLength = 4;
inline constexpr uint32_t kRecordCrc = 8;

// Format word. Bits 0..19 are stored in the file; bits 20..31 only steer the
// writer.
inline constexpr uint32_t kFormatChromaMask = 0x0000000F;    // 1 = 4:4:4, 2 = 4:2:2, 3 = 4:1:1
inline constexpr uint32_t kFormatRGB = 0x00000010;           // B, G, R channels, no conversion
inline constexpr uint32_t kFormatColourMask = 0x00000030;    // bits 4..5: non-zero for RGB
inline constexpr uint32_t kFormatLayoutMask = 0x0000003F;    // bits 0..5: block layout
inline constexpr uint32_t kFormatAlpha = 0x00000040;
inline constexpr uint32_t kFormatAlphaMask = 0x000000C0;     // bits 6..7
inline constexpr uint32_t kFormatPictureMask = 0x000000FF;
inline constexpr uint32_t kFormatTransformMask = 0x0000F000;
inline constexpr uint32_t kFormatTransformShift = 12;
inline constexpr uint32_t kFormatNoDeblock = 0x00010000;
inline constexpr uint32_t kFormatStoredMask = 0x000FFFFF;
inline constexpr uint32_t kFormatIntDctEncode = 0x00100000;
inline constexpr uint32_t kFormatFloatDctDecode = 0x00200000;
inline constexpr uint32_t kFormatSourceShift = 28;
// Bit 7 and bits 8..11, 17..19 and 22..27 have no meaning.
inline constexpr uint32_t kFormatUndefinedBits = 0x0FCE0F80;

inline constexpr uint32_t kTransformDiff2D = 1;
inline constexpr uint32_t kTransformDct = 2;

inline constexpr uint32_t kSourceBGR24 = 1;      // 24-bit B, G, R
inline constexpr uint32_t kSourceBGRX32 = 2;     // 32-bit, fourth byte ignored
inline constexpr uint32_t kSourceBGRA32 = 3;     // 32-bit with alpha

// Picture formats offered by the settings (bits 0..7).
inline constexpr uint32_t kPictureYUV411 = 0x03;
inline constexpr uint32_t kPictureYUV422 = 0x02;
inline constexpr uint32_t kPictureYUV444 = 0x01;
inline constexpr uint32_t kPictureRGB888 = 0x10;
inline constexpr uint32_t kPictureARGB8888 = 0x50;
inline constexpr uint32_t kPictureAYUV4444 = 0x41;
inline constexpr uint32_t kPictureAYUV4422 = 0x42;
inline constexpr uint32_t kPictureAYUV4411 = 0x43;
// Transforms offered by the settings (bits 12..16).
inline constexpr uint32_t kTransformWordDct = 0x02000;
inline constexpr uint32_t kTransformWordDiff2D = 0x01000;
inline constexpr uint32_t kTransformWordDctNoDeblock = 0x12000;

// Frame record type word.
inline constexpr uint32_t kPositionMask = 0x00000FFF;        // display position in the group
inline constexpr uint32_t kFrameKindMask = 0x0000F000;
inline constexpr uint32_t kFrameI = 0x1000;
inline constexpr uint32_t kFrameRepeat = 0x2000;
inline constexpr uint32_t kFrameP = 0x4000;
inline constexpr uint32_t kFrameB = 0x8000;
inline constexpr uint32_t kBackDistanceShift = 16;
inline constexpr uint32_t kBackDistanceMask = 63;            // 6 bits
inline constexpr uint32_t kForwardDistanceShift = 28;
inline constexpr uint32_t kForwardDistanceMask = 15;         // 4 bits

inline uint32_t FramePosition(uint32_t type) { return type & kPositionMask; }
inline uint32_t FrameKind(uint32_t type) { return type & kFrameKindMask; }
inline uint32_t BackDistance(uint32_t type) {
    return (type >> kBackDistanceShift) & kBackDistanceMask;
}
inline uint32_t ForwardDistance(uint32_t type) {
    return (type >> kForwardDistanceShift) & kForwardDistanceMask;
}

// One group index entry, as kept in memory.
struct GroupEntry {
    uint32_t firstFrame = 0;   // display number of the group's I frame
    uint32_t recordCount = 0;
    uint64_t offset = 0;       // file offset of its first record
    uint64_t length = 0;       // records plus payloads, in bytes
};

// One frame record, as kept in memory.
struct FrameRecord {
    uint32_t type = 0;
    uint32_t payloadLength = 0;
    uint32_t crc = 0;
};

inline void StoreGroupEntry(uint8_t* p, const GroupEntry& g) {
    StoreLE32(p + kGroupFirstFrame, g.firstFrame);
    StoreLE32(p + kGroupRecordCount, g.recordCount);
    StoreLE64(p + kGroupOffset, g.offset);
    StoreLE64(p + kGroupLength, g.length);
}
inline GroupEntry LoadGroupEntry(const uint8_t* p) {
    return {LoadLE32(p + kGroupFirstFrame), LoadLE32(p + kGroupRecordCount),
            LoadLE64(p + kGroupOffset), LoadLE64(p + kGroupLength)};
}
inline void StoreFrameRecord(uint8_t* p, const FrameRecord& r) {
    StoreLE32(p + kRecordTypeWord, r.type);
    StoreLE32(p + kRecordPayloadLength, r.payloadLength);
    StoreBE32(p + kRecordCrc, r.crc);
}
inline FrameRecord LoadFrameRecord(const uint8_t* p) {
    return {LoadLE32(p + kRecordTypeWord), LoadLE32(p + kRecordPayloadLength),
            LoadBE32(p + kRecordCrc)};
}


}  // namespace rvx_layout
