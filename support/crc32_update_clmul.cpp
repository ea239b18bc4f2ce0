#include "support/crc32_update.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

namespace {

// In the reflected order, bit i of a 128-bit lane is the coefficient of
// x^(127-i), and the CRC is the message times x^32 modulo P. A lane X = A
// x^64 + B (A the low quadword) moved D bits further down the message is
// A x^(D+64) + B x^D, which has the same remainder as A * (x^(D+32) mod P)
// and B * (x^(D-32) mod P) multiplied without carries: a reflected product
// comes out as x^32 times the product of its factors when the constant
// lies in bits 0..32, which supplies the missing x^32.
constexpr uint64_t FoldConstant(int exponent) {
    uint32_t remainder = 1;  // x^exponent mod P, most significant bit = x^31
    for (int i = 0; i < exponent; ++i) {
        const bool carry = (remainder & 0x80000000u) != 0;
        remainder <<= 1;
        if (carry) remainder ^= 0x04C11DB7u;
    }
    uint64_t reflected = 0;
    for (int bit = 0; bit < 32; ++bit) {
        if (remainder & (1u << bit)) reflected |= uint64_t(1) << (32 - bit);
    }
    return reflected;
}

// Four lanes move 512 bits per step; a single lane moves 128.
constexpr uint64_t kFold512Low = FoldConstant(512 + 32);
constexpr uint64_t kFold512High = FoldConstant(512 - 32);
constexpr uint64_t kFold128Low = FoldConstant(128 + 32);
constexpr uint64_t kFold128High = FoldConstant(128 - 32);

__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i lane, __m128i constants, __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(lane, constants, 0x00);
    const __m128i high = _mm_clmulepi64_si128(lane, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

__attribute__((target("sse2"))) inline __m128i Load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

}  // namespace

__attribute__((target("pclmul,sse2"))) uint32_t Crc32UpdateClmul(uint32_t crc, const uint8_t* data,
                                                                 std::size_t length) {
    // Below two steps of four lanes the tables are as quick.
    if (length < 128) return Crc32UpdateSliced(crc, data, length);

    // The register joins the first four message bytes; from there the lanes
    // carry a message with the same remainder and a zero register.
    __m128i x0 = _mm_xor_si128(Load(data), _mm_cvtsi32_si128(int(crc)));
    __m128i x1 = Load(data + 16);
    __m128i x2 = Load(data + 32);
    __m128i x3 = Load(data + 48);
    data += 64;
    length -= 64;

    const __m128i fold512 = _mm_set_epi64x(int64_t(kFold512High), int64_t(kFold512Low));
    for (; length >= 64; length -= 64, data += 64) {
        x0 = Fold(x0, fold512, Load(data));
        x1 = Fold(x1, fold512, Load(data + 16));
        x2 = Fold(x2, fold512, Load(data + 32));
        x3 = Fold(x3, fold512, Load(data + 48));
    }

    const __m128i fold128 = _mm_set_epi64x(int64_t(kFold128High), int64_t(kFold128Low));
    __m128i x = Fold(x0, fold128, x1);
    x = Fold(x, fold128, x2);
    x = Fold(x, fold128, x3);
    for (; length >= 16; length -= 16, data += 16) x = Fold(x, fold128, Load(data));

    // The last lane is 16 message bytes like any other: the tables finish it
    // from a zero register, then the bytes left over.
    alignas(16) uint8_t lane[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(lane), x);
    return Crc32UpdateSliced(Crc32UpdateSliced(0, lane, 16), data, length);
}
#endif
