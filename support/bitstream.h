#pragma once
// Most-significant-bit-first bit streams: a reader over a byte buffer and a
// writer that emits bytes to a stdio stream. Both share one record.
//
// The reader is unchecked for speed when initialised with BitStreamInit: its
// caller must place at least four zero bytes after the data. A reader set up
// with BitStreamInitBounded never touches a byte at or past its size: it reads
// zeros there instead, and BitStreamOverrun tells whether any bit consumed so
// far lay past the end. Everything that decodes data from a file uses the
// bounded form.
//
// The writer gathers whole bytes and hands them to the stream a few hundred
// at a time; they reach the stream at the latest with FlushBits.

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct BitStream {
    const uint8_t* data = nullptr;  // reader: first byte of the data
    std::FILE* file = nullptr;      // writer: the output stream
    std::size_t position = 0;       // reader: next byte to load; writer: bytes written
    uint32_t buffer = 0;            // next bits at the most significant end
    uint32_t count = 0;             // valid bits in buffer
    std::size_t limit = SIZE_MAX;   // reader: bytes at or past this read as zero
    uint32_t pending = 0;           // writer: bytes gathered in out, not yet written
    uint8_t out[512];               // writer: whole bytes waiting for the stream
};

void BitStreamInit(BitStream& stream, const uint8_t* data);
void BitStreamInit(BitStream& stream, std::FILE* file);
void BitStreamInitBounded(BitStream& stream, const uint8_t* data, std::size_t size);

// True once the reader has consumed a bit beyond the end of bounded data.
inline bool BitStreamOverrun(const BitStream& stream) {
    return stream.limit != SIZE_MAX &&
           stream.position * 8 - stream.count > stream.limit * 8;
}

namespace bitstream_detail {
inline uint32_t LoadByte(const BitStream& s, std::size_t index) {
    return index < s.limit ? s.data[index] : 0u;
}
inline void Refill(BitStream& s, uint32_t n) {
    while (s.count < n) {
        if (s.count < 16) {
            const uint32_t word = (LoadByte(s, s.position) << 8) | LoadByte(s, s.position + 1);
            s.buffer |= word << (16 - s.count);
            s.count += 16;
            s.position += 2;
        } else {
            s.buffer |= LoadByte(s, s.position) << (24 - s.count);
            s.count += 8;
            s.position += 1;
        }
    }
}
}  // namespace bitstream_detail

// n is 1..24.
inline uint32_t PeekBits(BitStream& stream, uint32_t n) {
    bitstream_detail::Refill(stream, n);
    return stream.buffer >> (32 - n);
}

// n is 1..24.
inline uint32_t GetBits(BitStream& stream, uint32_t n) {
    bitstream_detail::Refill(stream, n);
    const uint32_t value = stream.buffer >> (32 - n);
    stream.buffer <<= n;
    stream.count -= n;
    return value;
}

// Appends the n bits held at the top of value (bit 31 downward); the bits
// below them must be 0. n is 1..24. Write errors are left in the stream's
// error state for the caller to check.
void PutBits(BitStream& stream, uint32_t value, uint32_t n);

// Writes a final partial byte, padded with zero bits, if any is pending, and
// hands every gathered byte to the stream.
void FlushBits(BitStream& stream);

// Appends whole bytes after the bits written so far; the writer must hold no
// partial byte (count 0).
void PutBytes(BitStream& stream, const uint8_t* bytes, std::size_t size);
