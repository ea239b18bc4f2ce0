#pragma once
// What the AVI reader reports about a file and its two streams, laid out as
// the platform's own records (file information, 40-byte bitmap header, wave
// format) so that callers can copy them into any place that expects those
// layouts, and the reader's 32-bit status codes.

#include <cstdint>

constexpr int32_t kAviOk = 0;
constexpr int32_t kAviInvalidPointer = static_cast<int32_t>(0x80004003u);
constexpr int32_t kAviInvalidArgument = static_cast<int32_t>(0x80070057u);
constexpr int32_t kAviOutOfMemory = static_cast<int32_t>(0x8007000Eu);
// The stream exists but nothing here can decode it.
constexpr int32_t kAviNoInterface = static_cast<int32_t>(0x80004002u);
constexpr int32_t kAviFail = static_cast<int32_t>(0x80004005u);
// The file has no stream of that kind.
constexpr int32_t kAviNoData = static_cast<int32_t>(0x80044073u);
// A read that starts at or after the stream's end.
constexpr int32_t kAviEndOfStream = static_cast<int32_t>(0xC00D0BCFu);

// The file's information. Rate over scale is the frame rate of the video
// stream, kept as the file states it (30000/1001 stays so).
struct AviFileInfo {
    uint32_t streams = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t scale = 0;
    uint32_t rate = 0;
    uint32_t length = 0;  // frames of the video stream
};

struct BitmapInfoHeader {
    uint32_t size = 40;
    int32_t width = 0;
    int32_t height = 0;  // positive: rows bottom-up
    uint16_t planes = 1;
    uint16_t bit_count = 0;
    uint32_t compression = 0;  // 0: uncompressed, else the codec's four-character code
    uint32_t size_image = 0;
    int32_t x_pels_per_meter = 0;
    int32_t y_pels_per_meter = 0;
    uint32_t colors_used = 0;
    uint32_t colors_important = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

#pragma pack(push, 1)
// 18 bytes; a source format is followed by extra_size bytes of the codec's
// own setup data.
struct WaveFormatEx {
    uint16_t format_tag = 1;  // 1: PCM
    uint16_t channels = 0;
    uint32_t samples_per_second = 0;
    uint32_t average_bytes_per_second = 0;
    uint16_t block_alignment = 0;
    uint16_t bits_per_sample = 0;
    uint16_t extra_size = 0;
};
#pragma pack(pop)
static_assert(sizeof(WaveFormatEx) == 18);
