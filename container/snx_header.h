#pragma once
// The fixed 96-byte header at the start of an SNX sound file, as far as the
// movie container needs it: the sound fields of the movie header are copied
// from it, and a reader checks them against it.

#include <cstddef>
#include <cstdint>

#include "snxlib/snx_format.h"

inline constexpr uint32_t kSnxHeaderSize = _snxlib_::kSNXHeaderSize;

struct SnxHeaderInfo {
    uint32_t endOffset = 0;       // file offset just past the last block
    uint16_t mode = 0;
    uint16_t channels = 0;
    uint16_t bitsPerSample = 0;
    uint32_t sampleRate = 0;
    uint32_t blockCount = 0;
    uint32_t totalSamples = 0;    // all channels together
    uint32_t blockLength = 0;     // all channels together
    uint32_t largestBlock = 0;
    uint32_t extraLength = 0;
    uint32_t sampleFrames = 0;    // samples per channel
};

// False unless the bytes start with "SNXF", hold the whole header and name at
// least one channel.
bool ParseSnxHeader(const uint8_t* bytes, size_t size, SnxHeaderInfo* info);
