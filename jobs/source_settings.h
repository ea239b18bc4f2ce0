#pragma once
// What happens to a source's pictures and sound before the codec sees them:
// the part of the movie to take, its sound track, and the picture steps that
// always run in this order: deinterlace, rotate, crop, scale, then the
// codec's own conversion. The defaults change nothing, so a source without
// rotation, interlacing or gaps codes exactly as it always did.

#include <cstdint>

enum class Deinterlace : uint8_t {
    kAuto,  // when the source says its pictures are interlaced
    kOn,    // always (a source that does not say so)
    kOff,   // never
};

enum class CropMode : uint8_t {
    kNone,
    kAuto,   // black borders found over pictures spread across the movie
    kEdges,  // the four edges given
};

// Pixels taken away at each edge, counted after rotation.
struct CropEdges {
    uint32_t left = 0;
    uint32_t top = 0;
    uint32_t right = 0;
    uint32_t bottom = 0;

    bool Empty() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
    friend bool operator==(const CropEdges&, const CropEdges&) = default;
};

// A point or a length in the source: unset, a time, or a count of the
// source's own frames.
struct SourceTime {
    enum class Unit : uint8_t { kNone, kMicroseconds, kFrames };
    Unit unit = Unit::kNone;
    uint64_t value = 0;

    bool IsSet() const { return unit != Unit::kNone; }
    // In frames of a source running at numerator/denominator frames per
    // second, rounded to the nearest frame.
    uint64_t Frames(uint32_t rate_numerator, uint32_t rate_denominator) const {
        if (unit == Unit::kFrames) return value;
        if (unit == Unit::kNone || rate_denominator == 0) return 0;
        const unsigned __int128 scaled = static_cast<unsigned __int128>(value) * rate_numerator;
        const unsigned __int128 per = static_cast<unsigned __int128>(rate_denominator) * 1000000u;
        const unsigned __int128 frames = (scaled + per / 2) / per;
        return frames > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(frames);
    }
    friend bool operator==(const SourceTime&, const SourceTime&) = default;
};

// The largest picture side a scale may ask for.
constexpr uint32_t kMaxScaleDimension = 16384;

struct SourceSettings {
    Deinterlace deinterlace = Deinterlace::kAuto;
    // Clockwise degrees (0, 90, 180, 270) the pictures are turned beyond the
    // source's own display rotation, which is always followed.
    uint16_t extra_rotation = 0;
    CropMode crop = CropMode::kNone;
    CropEdges crop_edges;  // with CropMode::kEdges
    // The coded picture's size after cropping; 0 for a side keeps the
    // picture's shape from the other side, 0 for both keeps the size.
    uint32_t scale_width = 0;
    uint32_t scale_height = 0;
    SourceTime start;     // unset: the first frame
    SourceTime duration;  // unset: to the end
    // 1-based, in the order `rvxenc --info` lists the tracks; 0: the first.
    uint16_t audio_track = 0;

    // True when every picture step is off and nothing is cut: the source's
    // pictures reach the codec untouched (a source's own rotation or
    // interlacing still asks for a step).
    bool Untouched() const {
        return extra_rotation == 0 && crop == CropMode::kNone && scale_width == 0 && scale_height == 0 &&
               deinterlace != Deinterlace::kOn && !start.IsSet() && !duration.IsSet();
    }
    friend bool operator==(const SourceSettings&, const SourceSettings&) = default;
};

// What a source says about its pictures beyond their size, read from its
// streams when it opens.
struct SourcePictureFacts {
    uint32_t rotation = 0;  // clockwise degrees a player turns the pictures: 0, 90, 180 or 270
    bool mirrored = false;  // after turning, a player flips them left to right
    bool interlaced = false;
    bool top_field_first = true;
    friend bool operator==(const SourcePictureFacts&, const SourcePictureFacts&) = default;
};
