#pragma once
// The coding settings a movie gets when nobody chooses others, and the ranges
// every choice is brought into. The writer, the group coder and the option
// fields of the window and rvxenc all start from these values.

#include <cstdint>

namespace _rvxlib_ {

inline constexpr uint16_t kDefaultPFrames = 5;
inline constexpr uint16_t kDefaultBFrames = 2;
inline constexpr uint16_t kDefaultSceneChange = 192;   // of 256 macroblocks unmatched
inline constexpr uint16_t kDefaultQualityI = 4;
inline constexpr uint16_t kDefaultQualityP = 6;
inline constexpr uint16_t kDefaultQualityB = 8;

// A settings value of all ones asks for the default (GOP shape, scene change).
inline constexpr uint16_t kPickDefault = 0xFFFF;
inline constexpr uint16_t kMaxPFrames = 63;
// A B frame's forward distance is a 4-bit record field.
inline constexpr uint16_t kMaxBFrames = 7;
inline constexpr uint16_t kMaxSceneChange = 256;
// The quantiser scales a frame's macroblock headers may carry.
inline constexpr uint16_t kMinQuality = 2;
inline constexpr uint16_t kMaxQuality = 32;
// A rate plan may ask every preset but classic for a quality past 32: the
// quantiser stays at 32 while levels (and, deciding by cost, predictions)
// are chosen weighing bits as that quality does, so more coefficients are
// dropped and a target near the smallest movie can still be met.
inline constexpr uint16_t kMaxSteeredQuality = 128;

constexpr uint16_t GopLength(uint16_t p_frames, uint16_t b_frames) {
    return uint16_t(p_frames * (b_frames + 1) + 1);
}

inline constexpr uint16_t kDefaultGopLength = GopLength(kDefaultPFrames, kDefaultBFrames);

struct RVXGopShape {
    uint16_t p_frames = kDefaultPFrames;
    uint16_t b_frames = kDefaultBFrames;
    constexpr uint16_t Length() const { return GopLength(p_frames, b_frames); }
};

// kPickDefault picks the default of either count; P is at most 63 and B at
// most 7. B frames need a later reference inside the group, so a group with
// B frames but no P frame gets one P frame instead of a B.
constexpr RVXGopShape ClampGopShape(uint16_t p_frames, uint16_t b_frames) {
    RVXGopShape shape;
    shape.p_frames = p_frames == kPickDefault ? kDefaultPFrames
                                              : (p_frames < kMaxPFrames ? p_frames : kMaxPFrames);
    shape.b_frames = b_frames == kPickDefault ? kDefaultBFrames
                                              : (b_frames < kMaxBFrames ? b_frames : kMaxBFrames);
    if (shape.p_frames == 0 && shape.b_frames != 0) {
        shape.p_frames = 1;
        shape.b_frames -= 1;
    }
    return shape;
}

constexpr uint16_t ClampSceneChange(uint16_t value) {
    if (value == kPickDefault) return kDefaultSceneChange;
    return value < kMaxSceneChange ? value : kMaxSceneChange;
}

constexpr uint16_t ClampQuality(uint16_t value) {
    return value < kMinQuality ? kMinQuality : (value > kMaxQuality ? kMaxQuality : value);
}

constexpr bool QualityInRange(uint16_t value) { return value >= kMinQuality && value <= kMaxQuality; }

}  // namespace _rvxlib_
