#pragma once
// Frame records and group index entries: how the coded frames of a movie are
// listed. The record type word holds the display position in the group in
// bits 0..11, the frame type in bits 12..15, and the distances to the
// references in bits 16..21 (back) and 28..31 (forward).

#include <cstdint>

namespace _rvxlib_ {
inline namespace record_word {

inline constexpr uint32_t kRecordI = 0x1000;
inline constexpr uint32_t kRecordRepeat = 0x2000;
inline constexpr uint32_t kRecordP = 0x4000;
inline constexpr uint32_t kRecordB = 0x8000;
inline constexpr uint32_t kRecordTypeMask = 0xF000;
inline constexpr uint32_t kRecordPositionMask = 0x0FFF;
inline constexpr uint32_t kRecordBackShift = 16;
inline constexpr uint32_t kRecordBackMask = 63;        // 6 bits
inline constexpr uint32_t kRecordForwardShift = 28;
inline constexpr uint32_t kRecordForwardMask = 15;     // 4 bits

inline uint32_t RecordPosition(uint32_t type) { return type & kRecordPositionMask; }
inline uint32_t RecordType(uint32_t type) { return type & kRecordTypeMask; }
inline uint32_t RecordBackDistance(uint32_t type) { return (type >> kRecordBackShift) & kRecordBackMask; }
inline uint32_t RecordForwardDistance(uint32_t type) {
    return (type >> kRecordForwardShift) & kRecordForwardMask;
}

}  // namespace record_word

// The kind of a frame as the coder and decoder keep it: its record type
// moved down to bits 0..3, and 0 for a frame not yet coded.
enum RVXFrameKind : uint32_t {
    kFrameUncoded = 0,
    kFrameKindI = kRecordI >> 12,
    kFrameKindRepeat = kRecordRepeat >> 12,
    kFrameKindP = kRecordP >> 12,
    kFrameKindB = kRecordB >> 12,
};

// The kind of a record type word.
inline RVXFrameKind FrameKindOfRecord(uint32_t type) { return RVXFrameKind(RecordType(type) >> 12); }
// Tables kept per kind hold I, P and B at 0, 1 and 2; a repeat frame refers
// back as a P frame does.
inline uint32_t FrameKindIndex(RVXFrameKind kind) {
    return kind == kFrameKindI ? 0 : kind == kFrameKindB ? 2 : 1;
}

// One frame record. The coder knows only its type word; length and CRC are
// the container's, which keeps the payloads.
struct RVXFrameRecord {
    uint32_t type = 0;
    uint32_t length = 0;   // payload bytes
    uint32_t crc = 0;
};

// One group index entry; offset and length are filled in by the container.
struct RVXGroupEntry {
    uint32_t first_frame = 0;   // display number of the group's I frame
    uint32_t record_count = 0;
    uint64_t offset = 0;        // file offset of its first record
    uint64_t length = 0;        // records plus payloads, in bytes
};

}  // namespace _rvxlib_
