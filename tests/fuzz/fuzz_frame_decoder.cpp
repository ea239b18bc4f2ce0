// Coded frames straight into the frame decoder, past the container's checks.
// Input: format word (4 bytes), width - 1, height - 1, flags (bit 0: integer
// inverse DCT), intra and inter matrices (64 bytes each), then records of a
// type word (4 bytes), a payload length (2 bytes) and the payload. Bit 1 of
// the flags starts a new group before each I frame.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_input.h"
#include "rvxlib/decoder/frame_decoder.h"
#include "support/cpu_features.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kHead = 7 + 128;
    if (size < kHead) return 0;
    _rvxlib_::RVXDecoderSettings settings;
    settings.format = fuzz_input::LoadLE32(data);
    settings.width = uint32_t(data[4]) + 1;
    settings.height = uint32_t(data[5]) + 1;
    const uint8_t flags = data[6];
    settings.inverse_dct = (flags & 1) ? _rvxlib_::RVXInverseDct::kInteger : _rvxlib_::RVXInverseDct::kFloat;
    std::memcpy(settings.intra_matrix, data + 7, 64);
    std::memcpy(settings.inter_matrix, data + 7 + 64, 64);
    _rvxlib_::CRVXFrameDecoder decoder;
    if (!decoder.Open(settings, (flags & 4) ? 0 : ProcessorFeatures())) return 0;

    size_t at = kHead;
    uint32_t records = 0;
    for (size_t p = at; p + 6 <= size; ++records) {
        const size_t length = size_t(data[p + 4]) | size_t(data[p + 5]) << 8;
        p += 6 + length;
    }
    decoder.BeginGroup(0, records);
    uint32_t first = 0, number = 0;
    const size_t pictureBytes = decoder.PictureSize();
    uint32_t sum = 0;
    while (at + 6 <= size) {
        const uint32_t type = fuzz_input::LoadLE32(data + at);
        size_t length = size_t(data[at + 4]) | size_t(data[at + 5]) << 8;
        at += 6;
        if (length > size - at) length = size - at;
        if ((flags & 2) && (type & 0xF000) == 0x1000 && at > kHead + 6) {
            first += 16;
            decoder.BeginGroup(first, records);
        }
        decoder.DecodeFrame(type, data + at, length);
        at += length;
        while (const uint8_t* picture = decoder.NextPicture(&number)) sum += picture[pictureBytes - 1];
    }
    decoder.EndGroup();
    while (const uint8_t* picture = decoder.NextPicture(&number)) sum += picture[0] + picture[pictureBytes - 1];
    fuzz_input::Sink(sum);
    return 0;
}
