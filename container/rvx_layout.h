#pragma once
// The RVX movie file, byte by byte. A file is, without gaps:
//   header (288 bytes) | group index (24 bytes per group) |
//   frame section (per group: 12-byte record + payload, in coding order) |
//   sound track (a complete SNX sound file, only when present).
// Integers are little-endian, except the CRC-32 of a frame record, which is
// stored most significant byte first.

#include <cstddef>
#include <cstdint>

#include "rvxlib/format/format_word.h"
#include "rvxlib/format/frame_record.h"
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

// The format word and the record type word belong to the codec.
using namespace _rvxlib_::format_word;
using namespace _rvxlib_::record_word;
using _rvxlib_::RVXFrameRecord;
using _rvxlib_::RVXGroupEntry;

inline void StoreGroupEntry(uint8_t* p, const RVXGroupEntry& g) {
    StoreLE32(p + kGroupFirstFrame, g.first_frame);
    StoreLE32(p + kGroupRecordCount, g.record_count);
    StoreLE64(p + kGroupOffset, g.offset);
    StoreLE64(p + kGroupLength, g.length);
}
inline RVXGroupEntry LoadGroupEntry(const uint8_t* p) {
    return {LoadLE32(p + kGroupFirstFrame), LoadLE32(p + kGroupRecordCount),
            LoadLE64(p + kGroupOffset), LoadLE64(p + kGroupLength)};
}
inline void StoreFrameRecord(uint8_t* p, const RVXFrameRecord& r) {
    StoreLE32(p + kRecordTypeWord, r.type);
    StoreLE32(p + kRecordPayloadLength, r.length);
    StoreBE32(p + kRecordCrc, r.crc);
}
inline RVXFrameRecord LoadFrameRecord(const uint8_t* p) {
    return {LoadLE32(p + kRecordTypeWord), LoadLE32(p + kRecordPayloadLength),
            LoadBE32(p + kRecordCrc)};
}

// Bytes of a movie that are neither payload nor sound: the header, one index
// entry per group and one record per frame.
inline constexpr uint64_t MovieOverheadBytes(uint64_t frames, uint64_t groups) {
    return kHeaderSize + groups * kGroupIndexEntrySize + frames * kFrameRecordSize;
}

}  // namespace rvx_layout
