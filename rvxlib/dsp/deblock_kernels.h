#pragma once
// The deblocking filter's picture routine. The portable one defines every
// result; the twins deblock_kernels_for picks must give the same bytes.

#include <cstddef>
#include <cstdint>

namespace _rvxlib_ {

struct DeblockKernels {
    // Filters the picture in place (width x height pixels, 4 bytes each,
    // rows pitch bytes apart).
    void (*filter_picture)(uint8_t* picture, uint32_t width, uint32_t height, std::size_t pitch);
};

DeblockKernels deblock_kernels_portable();
// The fastest routine the processor feature word allows.
DeblockKernels deblock_kernels_for(uint32_t features);
// Replaces the routine by its SSE2 twin; false when this build has none.
bool deblock_kernels_sse2(DeblockKernels& kernels);

}  // namespace _rvxlib_
