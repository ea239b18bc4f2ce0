#include "support/aligned_alloc.h"

void* AlignedAlloc(uint8_t** raw_out, std::size_t size) {
    if (raw_out == nullptr) return nullptr;
    const std::size_t bytes = (size + 32) & ~std::size_t{15};
    uint8_t* raw = new uint8_t[bytes];
    *raw_out = raw;
    const auto address = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (address + 15) & ~std::uintptr_t{15};
    return raw + (aligned - address);
}
