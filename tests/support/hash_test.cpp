#include "common/hash_hex.h"
#include "support/hash.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Sha256Hex(const std::string& message) {
    CHashSHA256 hash;
    hash.Update("stale", 5);  // Init must forget it
    hash.Init();
    hash.Update(message.data(), message.size());
    hash.Final();
    return HashHex(hash);
}

TEST(HashSHA256, MatchesPublishedVectors) {
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Sha256Hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Splits around the block and padding boundaries, including pieces that end
// exactly on 64 bytes, give the digest of one call.
TEST(HashSHA256, PiecewiseUpdatesMatchOneCall) {
    std::vector<uint8_t> message(300);
    for (std::size_t i = 0; i < message.size(); ++i) message[i] = uint8_t(i * 37 + 11);
    for (std::size_t total : {55u, 56u, 64u, 119u, 128u, 300u}) {
        CHashSHA256 whole;
        whole.Update(message.data(), total);
        whole.Final();
        for (std::size_t split : {std::size_t(1), std::size_t(63), std::size_t(64), total / 2}) {
            if (split > total) continue;
            CHashSHA256 pieces;
            pieces.Update(message.data(), split);
            pieces.Update(message.data() + split, 0);
            pieces.Update(message.data() + split, total - split);
            pieces.Final();
            EXPECT_EQ(HashHex(pieces), HashHex(whole)) << total << " split at " << split;
        }
    }
}

TEST(HashCRC32, CheckValueAndDigestBytesAgree) {
    CHashCRC32 crc;
    crc.Update("1234", 4);
    crc.Update("56789", 5);
    EXPECT_EQ(crc.Final(), 0xCBF43926u);
    EXPECT_EQ(HashHex(crc), "cbf43926");
    crc.Init();
    EXPECT_EQ(crc.Final(), 0u);
}

TEST(HashDigest, FoldingAndComparing) {
    CHashSHA256 hash;
    hash.Update("abc", 3);
    hash.Final();
    uint8_t digest[32], folded[64];
    hash.GetDigest(digest);
    hash.FoldDigest(folded, 16);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(folded[i], digest[i] ^ digest[i + 16]) << i;

    EXPECT_EQ(hash.CompareDigest(digest), 1);
    EXPECT_EQ(hash.CompareFolded(folded, 16), 1);
    digest[5] ^= 0x01;  // 0xcf becomes 0xce: the expected byte is smaller
    EXPECT_EQ(hash.CompareDigest(digest), -256);
    folded[15] ^= 0x80;
    EXPECT_NE(hash.CompareFolded(folded, 16), 1);

    hash.FoldDigest(folded, 64);  // wider than the digest: the tail is zero
    EXPECT_EQ(folded[31], 0xad);
    EXPECT_EQ(folded[32], 0);
    EXPECT_EQ(hash.CompareFolded(folded, 64), 1);
    // Lengths the work area cannot hold never compare equal.
    EXPECT_EQ(hash.CompareFolded(folded, 0), 0);
    EXPECT_EQ(hash.CompareFolded(folded, 65), 0);
}

}  // namespace
