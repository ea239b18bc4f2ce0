#include "container/snx_header.h"

#include <cstdio>
#include <cstring>

#include "container/rvx_layout.h"

using rvx_layout::LoadLE16;
using rvx_layout::LoadLE32;

bool ParseSnxHeader(const uint8_t* bytes, size_t size, SnxHeaderInfo* info) {
    if (size < kSnxHeaderSize || std::memcmp(bytes, "SNXF", 4) != 0) return false;
    SnxHeaderInfo h;
    h.endOffset = LoadLE32(bytes + 4);
    h.mode = LoadLE16(bytes + 8);
    h.channels = LoadLE16(bytes + 10);
    h.bitsPerSample = LoadLE16(bytes + 12);
    h.sampleRate = LoadLE32(bytes + 16);
    h.blockCount = LoadLE32(bytes + 20);
    h.totalSamples = LoadLE32(bytes + 24);
    h.blockLength = LoadLE32(bytes + 28);
    h.largestBlock = LoadLE32(bytes + 32);
    h.extraLength = LoadLE32(bytes + 36);
    if (h.channels == 0) return false;
    h.sampleFrames = h.totalSamples / h.channels;
    *info = h;
    return true;
}

bool ReadSnxHeaderFile(const std::filesystem::path& path, SnxHeaderInfo* info) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    uint8_t bytes[kSnxHeaderSize];
    const size_t n = std::fread(bytes, 1, sizeof bytes, file);
    std::fclose(file);
    return ParseSnxHeader(bytes, n, info);
}
