#include "support/hash.h"

#include <cstring>

#include "support/cpu_features.h"

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

inline void StoreBigEndian(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

}  // namespace

CHashSHA256::CHashSHA256() : CHashSHA256(ProcessorFeatures()) {}

CHashSHA256::CHashSHA256(uint32_t features) : compress_(Sha256BlocksFor(features)) { Init(); }

void CHashSHA256::Init() {
    static constexpr uint32_t kInitial[8] = {0x6A09E667, 0xBB67AE85, 0x3C6EF372, 0xA54FF53A,
                                             0x510E527F, 0x9B05688C, 0x1F83D9AB, 0x5BE0CD19};
    std::memcpy(state_, kInitial, sizeof(state_));
    bitLengthLow_ = 0;
    bitLengthHigh_ = 0;
    std::memset(block_, 0, sizeof(block_));
    blockCount_ = 0;
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
            const std::size_t blocks = length / 64;
            compress_(state_, bytes, blocks);
            bytes += 64 * blocks;
            length -= 64 * blocks;
            continue;
        }
        std::size_t take = 64 - blockCount_;
        if (take > length) take = length;
        std::memcpy(block_ + blockCount_, bytes, take);
        blockCount_ += uint32_t(take);
        bytes += take;
        length -= take;
        if (blockCount_ == 64) {
            compress_(state_, block_, 1);
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

CHashCRC32::CHashCRC32() : CHashCRC32(ProcessorFeatures()) {}

CHashCRC32::CHashCRC32(uint32_t features) : update_(Crc32UpdateFor(features)) { Init(); }

void CHashCRC32::Init() { value_ = 0xFFFFFFFFu; }

void CHashCRC32::Update(const void* data, std::size_t length) {
    if (length == 0) return;
    value_ = update_(value_, static_cast<const uint8_t*>(data), length);
}

uint32_t CHashCRC32::Final() {
    value_ = ~value_;
    return value_;
}

void CHashCRC32::GetDigest(uint8_t* out) const { StoreBigEndian(out, value_); }
