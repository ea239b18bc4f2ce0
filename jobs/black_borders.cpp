#include "jobs/black_borders.h"

#include <algorithm>

namespace {

// Bars are black or nearly (limited-range black comes out a little above
// zero, and grain lifts it further); picture content rises above this.
constexpr uint32_t kDarkLuma = 24;
// A line is part of the picture when more than this share of its pixels is
// lit: grain in a bar lights a few, a station logo a short run.
constexpr uint32_t kLitShareDivisor = 32;
// Bars thinner than a fiftieth of their side are left: such a crop gains
// nothing and may cut into the picture of an unevenly framed movie.
constexpr uint32_t kThinBarDivisor = 50;

struct Bars {
    uint32_t left, top, right, bottom;
};

bool LineIsLit(uint32_t lit, uint32_t pixels) { return lit > std::max<uint32_t>(1, pixels / kLitShareDivisor); }

// The lit pixels as a mask (BT.601 luma), so rows and columns count alike.
std::vector<uint8_t> LitMask(const uint8_t* picture, const SamplePictureShape& s) {
    std::vector<uint8_t> lit(std::size_t(s.width) * s.height);
    for (uint32_t y = 0; y < s.height; ++y) {
        const uint8_t* p = picture + std::size_t(y) * s.stride;
        for (uint32_t x = 0; x < s.width; ++x, p += s.bytes_per_pixel) {
            const uint32_t luma = (29u * p[0] + 150u * p[1] + 77u * p[2] + 128u) >> 8;
            lit[std::size_t(y) * s.width + x] = luma > kDarkLuma;
        }
    }
    return lit;
}

// False for a picture dark all over.
bool PictureBars(const uint8_t* picture, const SamplePictureShape& s, Bars& bars) {
    const std::vector<uint8_t> lit = LitMask(picture, s);
    auto row_lit = [&](uint32_t y) {
        uint32_t count = 0;
        for (uint32_t x = 0; x < s.width; ++x) count += lit[std::size_t(y) * s.width + x];
        return LineIsLit(count, s.width);
    };
    uint32_t top = 0;
    while (top < s.height && !row_lit(top)) ++top;
    if (top == s.height) return false;
    uint32_t bottom = s.height - 1;
    while (bottom > top && !row_lit(bottom)) --bottom;
    // Columns count only the rows between the bars found, or a letterbox
    // would hide the edges of a pillarbox inside it.
    const uint32_t rows = bottom - top + 1;
    auto column_lit = [&](uint32_t x) {
        uint32_t count = 0;
        for (uint32_t y = top; y <= bottom; ++y) count += lit[std::size_t(y) * s.width + x];
        return LineIsLit(count, rows);
    };
    uint32_t left = 0;
    while (left < s.width && !column_lit(left)) ++left;
    if (left == s.width) return false;
    uint32_t right = s.width - 1;
    while (right > left && !column_lit(right)) --right;
    bars = {left, top, s.width - 1 - right, s.height - 1 - bottom};
    return true;
}

uint32_t KeptBar(uint32_t bar, uint32_t side) { return uint64_t(bar) * kThinBarDivisor < side ? 0 : bar & ~1u; }

}  // namespace

CropEdges DetectBlackBorders(const std::vector<std::vector<uint8_t>>& pictures, const SamplePictureShape& shape) {
    const uint64_t row_bytes = uint64_t(shape.width) * shape.bytes_per_pixel;
    if (shape.width == 0 || shape.height == 0 || (shape.bytes_per_pixel != 3 && shape.bytes_per_pixel != 4) ||
        shape.stride < row_bytes)
        return {};
    const uint64_t needed = uint64_t(shape.stride) * (shape.height - 1) + row_bytes;
    bool known = false;
    Bars least{};
    for (const std::vector<uint8_t>& picture : pictures) {
        Bars bars;
        if (picture.size() < needed || !PictureBars(picture.data(), shape, bars)) continue;
        // The smallest bars over the pictures: one dark scene must not crop
        // into the others.
        least = known ? Bars{std::min(least.left, bars.left), std::min(least.top, bars.top),
                             std::min(least.right, bars.right), std::min(least.bottom, bars.bottom)}
                      : bars;
        known = true;
    }
    if (!known) return {};
    return {KeptBar(least.left, shape.width), KeptBar(least.top, shape.height), KeptBar(least.right, shape.width),
            KeptBar(least.bottom, shape.height)};
}

CropEdges EdgesAfterTurn(const CropEdges& e, uint32_t rotation, bool mirrored) {
    CropEdges turned = e;
    switch (rotation / 90 % 4) {
    case 1:  // the left edge comes to the top
        turned = {e.bottom, e.left, e.top, e.right};
        break;
    case 2:
        turned = {e.right, e.bottom, e.left, e.top};
        break;
    case 3:  // the top edge comes to the left
        turned = {e.top, e.right, e.bottom, e.left};
        break;
    default:
        break;
    }
    if (mirrored) std::swap(turned.left, turned.right);
    return turned;
}
