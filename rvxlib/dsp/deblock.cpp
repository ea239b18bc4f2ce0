#include "rvxlib/dsp/deblock.h"

#include <algorithm>

#include "support/cpu_features.h"

namespace _rvxlib_ {
namespace {

inline uint8_t Avg(uint32_t a, uint32_t b) { return static_cast<uint8_t>((a + b + 1) >> 1); }

// p6, p7 | p8, p9 across one edge; both outputs use the values from before
// the edge was touched.
inline void FilterEdge(uint8_t& p6, uint8_t& p7, uint8_t& p8, uint8_t& p9) {
    const uint8_t a = p6, b = p7, c = p8, d = p9;
    p7 = Avg(b, Avg(a, c));
    p8 = Avg(c, Avg(b, d));
}

}  // namespace

namespace {

// Calls edge(p6, p7, p8, p9) for the two pixels either side of every vertical
// 8-pixel grid edge, on every channel of every row.
template <class Edge>
void ForVerticalEdges(uint8_t* picture, uint32_t width, uint32_t height, std::size_t pitch, Edge edge) {
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = picture + y * pitch;
        for (uint32_t x = 8; x + 1 < width; x += 8) {
            uint8_t* at = row + std::size_t{4} * x;
            for (int k = 0; k < 4; ++k) edge(at[k - 8], at[k - 4], at[k], at[k + 4]);
        }
    }
}

// The same for the rows either side of every horizontal grid edge.
template <class Edge>
void ForHorizontalEdges(uint8_t* picture, uint32_t width, uint32_t height, std::size_t pitch, Edge edge) {
    if (height < 10) return;
    const std::size_t bytes = std::size_t{4} * width;
    for (uint32_t y = 8; y + 1 < height; y += 8) {
        uint8_t* r6 = picture + (y - 2) * pitch;
        uint8_t* r7 = r6 + pitch;
        uint8_t* r8 = r7 + pitch;
        uint8_t* r9 = r8 + pitch;
        for (std::size_t i = 0; i < bytes; ++i) edge(r6[i], r7[i], r8[i], r9[i]);
    }
}

void DeblockPicturePortable(uint8_t* picture, uint32_t width, uint32_t height, std::size_t pitch) {
    ForVerticalEdges(picture, width, height, pitch, FilterEdge);
    ForHorizontalEdges(picture, width, height, pitch, FilterEdge);
}

}  // namespace

DeblockKernels deblock_kernels_portable() { return {DeblockPicturePortable}; }

DeblockKernels deblock_kernels_for(uint32_t features) {
    DeblockKernels kernels = deblock_kernels_portable();
#if defined(__x86_64__) && defined(__GNUC__)
    if (FeatureLevel(features) >= CpuLevel::kSse2) deblock_kernels_sse2(kernels);
#else
    (void)features;
#endif
    return kernels;
}

IRVXDeblockEdgeFilter::IRVXDeblockEdgeFilter(uint32_t padded_width, uint32_t padded_height)
    : padded_width_(padded_width), padded_height_(padded_height), pitch_(std::size_t{4} * padded_width) {}

namespace {

// Edge pixels p7, p8 such that the filter's (p6 + 2 p7 + p8) / 4 and
// (p7 + 2 p8 + p9) / 4 give back s7 and s8 (p6 and p9 it leaves alone).
// `quarters` of the way from the source towards them.
inline void UndoEdge(uint8_t s6, uint8_t& s7, uint8_t& s8, uint8_t s9, int32_t quarters) {
    const int32_t a = 4 * s7 - s6, b = 4 * s8 - s9;
    // In twelfths, rounded to the nearest unit.
    auto clamp = [](int32_t twelfths) { return uint8_t(std::clamp((twelfths + 6) / 12, 0, 255)); };
    const int32_t t7 = 2 * a - b, t8 = 2 * b - a;  // thirds
    s7 = clamp(12 * s7 + (t7 - 3 * s7) * quarters);
    s8 = clamp(12 * s8 + (t8 - 3 * s8) * quarters);
}

}  // namespace

// The filter smooths the vertical edges, then the horizontal ones: undone in
// the opposite order.
void UndoDeblocking(uint8_t* picture, uint32_t width, uint32_t height, std::size_t pitch, int32_t quarters) {
    auto undo = [quarters](uint8_t& s6, uint8_t& s7, uint8_t& s8, uint8_t& s9) { UndoEdge(s6, s7, s8, s9, quarters); };
    ForHorizontalEdges(picture, width, height, pitch, undo);
    ForVerticalEdges(picture, width, height, pitch, undo);
}

CRVXDeblockEdgeFilterUnSigned::CRVXDeblockEdgeFilterUnSigned(uint32_t padded_width, uint32_t padded_height)
    : IRVXDeblockEdgeFilter(padded_width, padded_height) {
    kernels_ = deblock_kernels_portable();
}

int32_t CRVXDeblockEdgeFilterUnSigned::Init(uint32_t features) {
    kernels_ = deblock_kernels_for(features);
    return 1;
}

int32_t CRVXDeblockEdgeFilterUnSigned::FilterPicture(uint8_t* picture) {
    if (picture == nullptr) return 0;
    kernels_.filter_picture(picture, padded_width_, padded_height_, pitch_);
    return 1;
}

CRVXDeblockNullFilter::CRVXDeblockNullFilter(uint32_t padded_width, uint32_t padded_height)
    : IRVXDeblockEdgeFilter(padded_width, padded_height) {}

}  // namespace _rvxlib_
