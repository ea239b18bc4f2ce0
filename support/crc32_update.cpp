#include "support/crc32_update.h"

#include <array>

#include "support/byte_order.h"
#include "support/cpu_features.h"

namespace {

// The reflected polynomial, assembled from the exponents of the generator.
constexpr uint32_t ReflectedPolynomial() {
    constexpr int kExponents[] = {0, 1, 2, 4, 5, 7, 8, 10, 11, 12, 16, 22, 23, 26};
    uint32_t poly = 0;
    for (int e : kExponents) poly |= 1u << (31 - e);
    return poly;
}
static_assert(ReflectedPolynomial() == 0xEDB88320u);

using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

// tables[k][n] is the register after byte n followed by k zero bytes, so
// eight bytes are looked up independently and combined with XOR. Built at
// compile time, so no thread can ever see them half built.
constexpr CrcTables MakeCrcTables() {
    CrcTables tables{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ ReflectedPolynomial() : c >> 1;
        tables[0][n] = c;
    }
    for (std::size_t k = 1; k < 8; ++k) {
        for (uint32_t n = 0; n < 256; ++n) {
            const uint32_t c = tables[k - 1][n];
            tables[k][n] = (c >> 8) ^ tables[0][c & 0xFF];
        }
    }
    return tables;
}

constexpr CrcTables kCrcTables = MakeCrcTables();

}  // namespace

uint32_t Crc32UpdateSliced(uint32_t crc, const uint8_t* data, std::size_t length) {
    const auto& t = kCrcTables;
    for (; length >= 8; length -= 8, data += 8) {
        const uint32_t one = LoadLE32(data) ^ crc;
        const uint32_t two = LoadLE32(data + 4);
        crc = t[7][one & 0xFF] ^ t[6][(one >> 8) & 0xFF] ^ t[5][(one >> 16) & 0xFF] ^ t[4][one >> 24] ^
              t[3][two & 0xFF] ^ t[2][(two >> 8) & 0xFF] ^ t[1][(two >> 16) & 0xFF] ^ t[0][two >> 24];
    }
    for (; length > 0; --length, ++data) crc = t[0][(crc ^ *data) & 0xFF] ^ (crc >> 8);
    return crc;
}

Crc32Update Crc32UpdateFor(uint32_t features) {
#if defined(__x86_64__) && defined(__GNUC__)
    if ((features & kCpuClmul) && FeatureLevel(features) >= CpuLevel::kAvx2) return Crc32UpdateClmul;
#else
    (void)features;
#endif
    return Crc32UpdateSliced;
}
