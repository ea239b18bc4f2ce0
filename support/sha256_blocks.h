#pragma once
// The SHA-256 compression function over whole 64-byte blocks: the portable
// routine defines the digest; the SHA-extension twin gives the same state.

#include <cstddef>
#include <cstdint>

// Compresses `count` consecutive 64-byte blocks into state (a..h).
using Sha256Blocks = void (*)(uint32_t state[8], const uint8_t* blocks, std::size_t count);

// The compressor for the feature word: the SHA extensions at the AVX2 level
// (which includes the SSSE3 and SSE4.1 they need) when the processor has
// them, the portable routine otherwise.
Sha256Blocks Sha256BlocksFor(uint32_t features);

extern const uint32_t kSha256RoundConstants[64];

// The twin built for the SHA extensions; defined only on x86-64.
void Sha256BlocksSha(uint32_t state[8], const uint8_t* blocks, std::size_t count);
