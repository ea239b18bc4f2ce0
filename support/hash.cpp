#include "support/hash.h"

#include <array>
#include <cstring>

IHashCode::~IHashCode() = default;

void IHashCode::FoldDigest(uint8_t* out, uint32_t length) const {
    if (length == 0) return;
    uint8_t digest[kMaxDigestSize];
    GetDigest(digest);
    std::memset(out, 0, length);
    const uint32_t size = GetDigestSize();
    for (uint32_t i = 0; i < size; ++i) out[i % length] ^= digest[i];
}

namespace {
int32_t CompareBytes(const uint8_t* expected, const uint8_t* actual, uint32_t size) {
    for (uint32_t i = 0; i < size; ++i) {
        if (expected[i] != actual[i]) return expected[i] > actual[i] ? 0 : -256;
    }
    return 1;
}
}  // namespace

int32_t IHashCode::CompareDigest(const uint8_t* expected) const {
    uint8_t digest[kMaxDigestSize];
    GetDigest(digest);
    return CompareBytes(expected, digest, GetDigestSize());
}

int32_t IHashCode::CompareFolded(const uint8_t* expected, uint32_t length) const {
    if (length == 0 || length > kMaxFoldedSize) return 0;
    uint8_t folded[kMaxFoldedSize];
    FoldDigest(folded, length);
    return CompareBytes(expected, folded, length);
}

// ---------------------------------------------------------------- SHA-256

namespace {

constexpr uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t LoadBigEndian(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

inline void StoreBigEndian(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

}  // namespace

CHashSHA256::CHashSHA256() { Init(); }

void CHashSHA256::Init() {
    static constexpr uint32_t kInitial[8] = {0x6A09E667, 0xBB67AE85, 0x3C6EF372, 0xA54FF53A,
                                             0x510E527F, 0x9B05688C, 0x1F83D9AB, 0x5BE0CD19};
    std::memcpy(state_, kInitial, sizeof(state_));
    bitLengthLow_ = 0;
    bitLengthHigh_ = 0;
    std::memset(block_, 0, sizeof(block_));
    blockCount_ = 0;
}

void CHashSHA256::Compress(const uint8_t* block) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) w[i] = LoadBigEndian(block + 4 * i);
    for (int i = 16; i < 64; ++i) {
        const uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    uint32_t e = state_[4], f = state_[5], g = state_[6], h = state_[7];
    for (int i = 0; i < 64; ++i) {
        const uint32_t s1 = Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25);
        const uint32_t choose = (e & f) ^ (~e & g);
        const uint32_t t1 = h + s1 + choose + kRoundConstants[i] + w[i];
        const uint32_t s0 = Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22);
        const uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        const uint32_t t2 = s0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
    state_[4] += e;
    state_[5] += f;
    state_[6] += g;
    state_[7] += h;
}

void CHashSHA256::Update(const void* data, std::size_t length) {
    if (length == 0) return;
    // The bit length is a 64-bit count kept as two words; the full 64-bit
    // byte count is folded in so that pieces over 4 GiB are counted right.
    const uint64_t bits = (uint64_t(bitLengthHigh_) << 32 | bitLengthLow_) + uint64_t(length) * 8;
    bitLengthLow_ = uint32_t(bits);
    bitLengthHigh_ = uint32_t(bits >> 32);

    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    while (length > 0) {
        if (blockCount_ == 0 && length >= 64) {
            Compress(bytes);
            bytes += 64;
            length -= 64;
            continue;
        }
        std::size_t take = 64 - blockCount_;
        if (take > length) take = length;
        std::memcpy(block_ + blockCount_, bytes, take);
        blockCount_ += uint32_t(take);
        bytes += take;
        length -= take;
        if (blockCount_ == 64) {
            Compress(block_);
            blockCount_ = 0;
        }
    }
}

uint32_t CHashSHA256::Final() {
    uint8_t lengthBytes[8];
    StoreBigEndian(lengthBytes, bitLengthHigh_);
    StoreBigEndian(lengthBytes + 4, bitLengthLow_);
    static constexpr uint8_t kPadding[64] = {0x80};
    const uint32_t padLength = blockCount_ < 56 ? 56 - blockCount_ : 120 - blockCount_;
    Update(kPadding, padLength);
    Update(lengthBytes, 8);
    return 0;
}

void CHashSHA256::GetDigest(uint8_t* out) const {
    for (int i = 0; i < 8; ++i) StoreBigEndian(out + 4 * i, state_[i]);
}

// ---------------------------------------------------------------- CRC-32

namespace {

// The reflected polynomial, assembled from the exponents of the generator.
constexpr uint32_t ReflectedPolynomial() {
    constexpr int kExponents[] = {0, 1, 2, 4, 5, 7, 8, 10, 11, 12, 16, 22, 23, 26};
    uint32_t poly = 0;
    for (int e : kExponents) poly |= 1u << (31 - e);
    return poly;
}

// Built at compile time, so no thread can ever see it half built.
constexpr std::array<uint32_t, 256> MakeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ ReflectedPolynomial() : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();
static_assert(ReflectedPolynomial() == 0xEDB88320u);

}  // namespace

CHashCRC32::CHashCRC32() { Init(); }

void CHashCRC32::Init() { value_ = 0xFFFFFFFFu; }

void CHashCRC32::Update(const void* data, std::size_t length) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    uint32_t value = value_;
    for (std::size_t i = 0; i < length; ++i) value = kCrcTable[(value ^ bytes[i]) & 0xFF] ^ (value >> 8);
    value_ = value;
}

uint32_t CHashCRC32::Final() {
    value_ = ~value_;
    return value_;
}

void CHashCRC32::GetDigest(uint8_t* out) const { StoreBigEndian(out, value_); }
