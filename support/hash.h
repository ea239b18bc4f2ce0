#pragma once
// Message digests behind one interface: SHA-256 (FIPS 180-2) and the CRC-32 of
// zlib and PNG. The container protects its sections with SHA-256 digests
// folded to 16 bytes and each frame record with a CRC-32.

#include <cstddef>
#include <cstdint>

#include "support/crc32_update.h"
#include "support/sha256_blocks.h"

class IHashCode {
public:
    virtual ~IHashCode();

    // Starts a new digest.
    virtual void Init() = 0;
    // Adds length bytes; length 0 does nothing.
    virtual void Update(const void* data, std::size_t length) = 0;
    // Closes the message. The CRC returns its final value; SHA-256 returns 0.
    virtual uint32_t Final() = 0;
    // Writes GetDigestSize() bytes, most significant byte of each word first.
    // Only meaningful after Final.
    virtual void GetDigest(uint8_t* out) const = 0;
    virtual uint32_t GetDigestSize() const = 0;

    // out[0..length) = XOR of every digest byte i into out[i mod length].
    // A length of 0 writes nothing.
    virtual void FoldDigest(uint8_t* out, uint32_t length) const;
    // 1 when expected[0..digest size) equals the digest; otherwise, at the
    // first differing byte, 0 when the expected byte is the greater and -256
    // when it is the smaller.
    virtual int32_t CompareDigest(const uint8_t* expected) const;
    // As CompareDigest, against the digest folded to length bytes. A length
    // outside 1..kMaxFoldedSize never compares equal: it returns 0.
    virtual int32_t CompareFolded(const uint8_t* expected, uint32_t length) const;

    static constexpr uint32_t kMaxDigestSize = 32;
    static constexpr uint32_t kMaxFoldedSize = 64;
};

// Both digests take the fastest routine the processor feature word allows
// (ProcessorFeatures() unless given); every routine gives the same digest.
class CHashSHA256 : public IHashCode {
public:
    CHashSHA256();
    explicit CHashSHA256(uint32_t features);
    void Init() override;
    void Update(const void* data, std::size_t length) override;
    uint32_t Final() override;
    void GetDigest(uint8_t* out) const override;
    uint32_t GetDigestSize() const override { return 32; }

private:
    Sha256Blocks compress_;
    uint32_t state_[8];
    uint32_t bitLengthLow_;
    uint32_t bitLengthHigh_;
    uint8_t block_[64];
    uint32_t blockCount_;  // bytes waiting in block_, 0..63
};

class CHashCRC32 : public IHashCode {
public:
    CHashCRC32();
    explicit CHashCRC32(uint32_t features);
    void Init() override;
    void Update(const void* data, std::size_t length) override;
    uint32_t Final() override;
    void GetDigest(uint8_t* out) const override;
    uint32_t GetDigestSize() const override { return 4; }

private:
    Crc32Update update_;
    uint32_t value_;
};
