#include "snxlib/wave_reader.h"
#include "support/byte_order.h"
#include "support/stdio_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace _snxlib_ {

namespace {

constexpr uint16_t kTagPCM = 1;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagExtensible = 0xFFFE;
constexpr uint32_t kFormatBytesUsed = 40;
constexpr uint32_t kBasicFormatBytes = 16;

// The GUID tails shared by the extensible sub-formats; the first two bytes
// carry the plain format tag.
constexpr uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool ReadAt(std::FILE* file, uint64_t offset, uint8_t* out, std::size_t size) {
    if (!SeekFile(file, int64_t(offset), SEEK_SET)) return false;
    return std::fread(out, 1, size, file) == size;
}

// Chunk identifiers are four printable ASCII characters.
bool LooksLikeChunkId(std::FILE* file, uint64_t offset, uint64_t length) {
    uint8_t id[4];
    if (offset + 8 > length || !ReadAt(file, offset, id, 4)) return false;
    return std::all_of(id, id + 4, [](uint8_t c) { return c >= 0x20 && c <= 0x7E; });
}

struct Chunk {
    bool found = false;
    uint64_t offset = 0;  // of the payload
    uint32_t size = 0;
};

}  // namespace

int32_t CWaveReader::Open(std::FILE* file) {
    file_ = nullptr;
    if (file == nullptr || !SeekFile(file, 0, SEEK_END)) return 0;
    const int64_t end = TellFile(file);
    if (end < 8) return 0;
    const uint64_t length = static_cast<uint64_t>(end);
    uint8_t riff[12] = {};
    if (!ReadAt(file, 0, riff, std::min<uint64_t>(length, sizeof riff))) return 0;
    if (std::memcmp(riff, "RIFF", 4) != 0) return 0;
    const uint32_t riff_size = LoadLE32(riff + 4);

    // Walk the chunks through the whole file. After an odd-sized chunk RIFF
    // puts a pad byte (normally zero, which no chunk identifier starts with);
    // some writers leave it out, so a plausible identifier right after the
    // chunk is taken as the next chunk.
    Chunk format, data;
    uint64_t position = 12;
    while (position + 8 <= length && !(format.found && data.found)) {
        uint8_t head[8];
        if (!ReadAt(file, position, head, sizeof head)) return 0;
        const uint32_t size = LoadLE32(head + 4);
        const uint64_t payload = position + 8;
        if (!format.found && std::memcmp(head, "fmt ", 4) == 0) format = {true, payload, size};
        if (!data.found && std::memcmp(head, "data", 4) == 0) data = {true, payload, size};
        uint64_t next = payload + size;
        if ((size & 1u) != 0 && !LooksLikeChunkId(file, next, length)) ++next;
        position = next;
    }
    if (!format.found || !data.found) return 0;

    if (format.size < kBasicFormatBytes || format.offset + kBasicFormatBytes > length) return 0;
    uint8_t fmt[kFormatBytesUsed] = {};
    const uint32_t fmt_bytes = static_cast<uint32_t>(
        std::min<uint64_t>({format.size, kFormatBytesUsed, length - format.offset}));
    if (!ReadAt(file, format.offset, fmt, fmt_bytes)) return 0;
    uint16_t tag = LoadLE16(fmt);
    const uint16_t channels = LoadLE16(fmt + 2);
    const uint32_t sample_rate = LoadLE32(fmt + 4);
    const uint16_t bits = LoadLE16(fmt + 14);
    if (tag == kTagExtensible) {
        if (fmt_bytes < kFormatBytesUsed) return 0;
        const uint16_t sub_tag = LoadLE16(fmt + 24);
        if (std::memcmp(fmt + 26, kSubFormatTail, sizeof kSubFormatTail) != 0) return 0;
        if (sub_tag != kTagPCM && sub_tag != kTagFloat) return 0;
        tag = sub_tag;
    }
    if (tag == kTagPCM) {
        if (bits != 16 && bits != 24 && bits != 32) return 0;
    } else if (tag == kTagFloat) {
        if (bits != 32) return 0;
    } else {
        return 0;
    }
    if (channels == 0) return 0;

    // The data runs to the end of the file when its size is past the end
    // (a truncated recording) or was never filled in by a streaming writer:
    // 0xFFFFFFFF, or 0 while the RIFF size is unset or stops at the data.
    const uint64_t available = length >= data.offset ? length - data.offset : 0;
    uint64_t data_size = data.size;
    const bool riff_size_unset = riff_size == 0 || riff_size == 0xFFFFFFFFu ||
                                 8ull + riff_size <= data.offset || 8ull + riff_size > length;
    if (data.size == 0xFFFFFFFFu || (data.size == 0 && riff_size_unset)) data_size = available;
    data_size = std::min(data_size, available);

    const uint32_t sample_bytes = bits / 8u;
    uint64_t frames = data_size / sample_bytes / channels;
    frames = std::min<uint64_t>(frames, 0xFFFFFFFFu / channels);
    if (!SeekFile(file, int64_t(data.offset), SEEK_SET)) return 0;

    file_ = file;
    channels_ = channels;
    sample_rate_ = sample_rate;
    bits_ = bits;
    is_float_ = tag == kTagFloat;
    total_samples_ = static_cast<uint32_t>(frames * channels);
    return 1;
}

int32_t CWaveReader::ReadSamples(int16_t* out, uint32_t count) {
    if (file_ == nullptr) return 0;
    const std::size_t sample_bytes = bits_ / 8u;
    bytes_.resize(static_cast<std::size_t>(count) * sample_bytes);
    if (std::fread(bytes_.data(), 1, bytes_.size(), file_) != bytes_.size()) return 0;
    const uint8_t* p = bytes_.data();
    for (uint32_t i = 0; i < count; ++i, p += sample_bytes) {
        int32_t v;
        if (is_float_) {
            float f;
            uint32_t word = LoadLE32(p);
            std::memcpy(&f, &word, sizeof f);
            const float scaled = f * 32767.0f;
            // Overshoots clip instead of wrapping; NaN is silence.
            if (!(scaled == scaled)) {
                v = 0;
            } else {
                v = static_cast<int32_t>(std::clamp(scaled, -32768.0f, 32767.0f));
            }
        } else if (bits_ == 16) {
            v = static_cast<int16_t>(LoadLE16(p));
        } else if (bits_ == 24) {
            const int32_t s = static_cast<int32_t>(static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) << 8) >> 8;
            v = s / 256;
        } else {
            v = static_cast<int32_t>(LoadLE32(p)) / 65536;
        }
        out[i] = static_cast<int16_t>(v);
    }
    return 1;
}

}  // namespace _snxlib_
