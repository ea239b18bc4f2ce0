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

void PutBits(BitStream& stream, uint32_t value, uint32_t n) {
    stream.buffer |= value >> stream.count;
    stream.count += n;
    while (stream.count >= 8) {
        std::fputc(static_cast<int>(stream.buffer >> 24), stream.file);
        ++stream.position;
        stream.buffer <<= 8;
        stream.count -= 8;
    }
}

void FlushBits(BitStream& stream) {
    if (stream.count == 0) return;
    std::fputc(static_cast<int>(stream.buffer >> 24), stream.file);
    std::fflush(stream.file);
    ++stream.position;
    stream.buffer = 0;
    stream.count = 0;
}
