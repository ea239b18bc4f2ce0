#pragma once
// A hash object's digest as lower-case hex, for comparing with published
// test vectors.

#include <cstdint>
#include <cstdio>
#include <string>

#include "support/hash.h"

inline std::string HashHex(const IHashCode& hash) {
    uint8_t digest[IHashCode::kMaxDigestSize];
    hash.GetDigest(digest);
    std::string text;
    char pair[3];
    for (uint32_t i = 0; i < hash.GetDigestSize(); ++i) {
        std::snprintf(pair, sizeof(pair), "%02x", digest[i]);
        text += pair;
    }
    return text;
}
