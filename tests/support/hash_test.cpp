#include "support/hash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Hex(const IHashCode& hash) {
    uint8_t digest[32];
    hash.GetDigest(digest);
    std::string text;
    char pair[3];
    for (uint32_t i = 0; i < hash.GetDigestSize(); ++i) {
        std::snprintf(pair, sizeof(pair), "%02x", digest[i]);
        text += pair;
    }
    return text;
}

std::string Sha256Hex(const std::string& message) {
    CHashSHA256 hash;
    hash.Update(message.data(), message.size());
    hash.Final();
    return Hex(hash);
}

TEST(HashSHA256, MatchesPublishedVectors) {
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Sha256Hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(HashSHA256, InitRestartsAfterUse) {
    CHashSHA256 hash;
    hash.Update("garbage", 7);
    hash.Final();
    hash.Init();
    hash.Final();
    EXPECT_EQ(Hex(hash), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

// Every split of a message around the block and padding boundaries must give
// the digest of the whole, including pieces that end exactly on 64 bytes.
TEST(HashSHA256, PiecewiseUpdatesMatchOneCall) {
    std::vector<uint8_t> message(300);
    for (std::size_t i = 0; i < message.size(); ++i) message[i] = uint8_t(i * 37 + 11);
    for (std::size_t total : {55u, 56u, 63u, 64u, 65u, 119u, 128u, 300u}) {
        CHashSHA256 whole;
        whole.Update(message.data(), total);
        whole.Final();
        for (std::size_t split : {std::size_t(0), std::size_t(1), std::size_t(63), std::size_t(64),
                                  total / 2, total}) {
            if (split > total) continue;
            CHashSHA256 pieces;
            pieces.Update(message.data(), split);
            pieces.Update(message.data() + split, 0);
            pieces.Update(message.data() + split, total - split);
            pieces.Final();
            EXPECT_EQ(Hex(pieces), Hex(whole)) << "total " << total << " split " << split;
        }
        CHashSHA256 bytewise;
        for (std::size_t i = 0; i < total; ++i) bytewise.Update(&message[i], 1);
        bytewise.Final();
        EXPECT_EQ(Hex(bytewise), Hex(whole)) << "total " << total;
    }
}

TEST(HashCRC32, MatchesCheckValueAndDigestBytes) {
    CHashCRC32 crc;
    EXPECT_EQ(crc.GetDigestSize(), 4u);
    crc.Update("123456789", 9);
    EXPECT_EQ(crc.Final(), 0xCBF43926u);
    uint8_t digest[4];
    crc.GetDigest(digest);
    EXPECT_EQ(digest[0], 0xCB);
    EXPECT_EQ(digest[1], 0xF4);
    EXPECT_EQ(digest[2], 0x39);
    EXPECT_EQ(digest[3], 0x26);

    crc.Init();
    EXPECT_EQ(crc.Final(), 0u);

    crc.Init();
    crc.Update("1234", 4);
    crc.Update("56789", 5);
    EXPECT_EQ(crc.Final(), 0xCBF43926u);
}

TEST(HashFold, SixteenBytesXorBothHalves) {
    CHashSHA256 hash;
    hash.Update("abc", 3);
    hash.Final();
    ASSERT_EQ(hash.GetDigestSize(), 32u);
    uint8_t digest[32], folded[16];
    hash.GetDigest(digest);
    hash.FoldDigest(folded, 16);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(folded[i], digest[i] ^ digest[i + 16]) << i;

    // Folding wider than the digest leaves the tail zero.
    uint8_t wide[40];
    std::fill(std::begin(wide), std::end(wide), 0xEE);
    hash.FoldDigest(wide, 40);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(wide[i], digest[i]);
    for (int i = 32; i < 40; ++i) EXPECT_EQ(wide[i], 0);
}

TEST(HashCompare, EqualAndUnequalDigests) {
    CHashSHA256 hash;
    hash.Update("abc", 3);
    hash.Final();
    uint8_t digest[32], folded[64];
    hash.GetDigest(digest);
    EXPECT_EQ(hash.CompareDigest(digest), 1);

    digest[5] ^= 0x01;  // 0xcf becomes 0xce: expected is smaller
    EXPECT_EQ(hash.CompareDigest(digest), -256);
    digest[5] ^= 0x01;
    digest[31] = 0xFF;  // expected is greater at the last byte
    EXPECT_EQ(hash.CompareDigest(digest), 0);

    for (uint32_t length : {1u, 16u, 64u}) {
        hash.FoldDigest(folded, length);
        EXPECT_EQ(hash.CompareFolded(folded, length), 1) << length;
    }
    hash.FoldDigest(folded, 16);
    folded[15] ^= 0x80;
    EXPECT_NE(hash.CompareFolded(folded, 16), 1);

    // Lengths the work area cannot hold are refused, never equal.
    EXPECT_EQ(hash.CompareFolded(folded, 0), 0);
    EXPECT_EQ(hash.CompareFolded(folded, 65), 0);
}

}  // namespace
