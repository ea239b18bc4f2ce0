#include "support/bitstream.h"

void BitStreamInit(BitStream& stream, const uint8_t* data) {
    stream = BitStream{};
    stream.data = data;
}

void BitStreamInit(BitStream& stream, std::FILE* file) {
    stream = BitStream{};
    stream.file = file;
}

void BitStreamInitBounded(BitStream& stream, const uint8_t* data, std::size_t size) {
    stream = BitStream{};
    stream.data = data;
    stream.limit = size;
}

namespace {

void WritePending(BitStream& stream) {
    if (stream.pending > 0) std::fwrite(stream.out, 1, stream.pending, stream.file);
    stream.pending = 0;
}

inline void PutByte(BitStream& stream, uint8_t byte) {
    if (stream.pending == sizeof stream.out) WritePending(stream);
    stream.out[stream.pending++] = byte;
    ++stream.position;
}

}  // namespace

void PutBits(BitStream& stream, uint32_t value, uint32_t n) {
    stream.buffer |= value >> stream.count;
    stream.count += n;
    while (stream.count >= 8) {
        PutByte(stream, static_cast<uint8_t>(stream.buffer >> 24));
        stream.buffer <<= 8;
        stream.count -= 8;
    }
}

void PutBytes(BitStream& stream, const uint8_t* bytes, std::size_t size) {
    if (size >= sizeof stream.out) {
        WritePending(stream);
        std::fwrite(bytes, 1, size, stream.file);
        stream.position += size;
        return;
    }
    for (std::size_t i = 0; i < size; ++i) PutByte(stream, bytes[i]);
}

void FlushBits(BitStream& stream) {
    if (stream.count > 0) PutByte(stream, static_cast<uint8_t>(stream.buffer >> 24));
    stream.buffer = 0;
    stream.count = 0;
    WritePending(stream);
    std::fflush(stream.file);
}
