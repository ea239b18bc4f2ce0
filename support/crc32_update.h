#pragma once
// The CRC-32 of zlib and PNG (reflected, polynomial 0xEDB88320) on its
// running register: the caller starts it at 0xFFFFFFFF and inverts it at the
// end. Every routine gives the byte-at-a-time result.

#include <cstddef>
#include <cstdint>

using Crc32Update = uint32_t (*)(uint32_t crc, const uint8_t* data, std::size_t length);

// Eight bytes per step through eight tables; the portable routine.
uint32_t Crc32UpdateSliced(uint32_t crc, const uint8_t* data, std::size_t length);

// The routine for the feature word: carry-less multiply folding at the AVX2
// level when the processor has it, the sliced tables otherwise.
Crc32Update Crc32UpdateFor(uint32_t features);

// The folding twin; defined only on x86-64.
uint32_t Crc32UpdateClmul(uint32_t crc, const uint8_t* data, std::size_t length);
