#pragma once
// Plain records shared by surfaces, blits and the graphic loader.

#include <cstdint>

struct SurfaceRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
};

struct SurfacePoint {
    int32_t x = 0, y = 0;
};

struct SurfaceSize {
    int32_t cx = 0, cy = 0;
};

// What every surface exposes while locked: row y starts at bits + y * pitch.
struct SurfaceDesc {
    uint32_t format = 0;       // pixel format code, 0 without pixels
    uint8_t* bits = nullptr;   // top row
    int32_t pitch = 0;
    SurfaceRect clip_rect;     // meaningful only while has_clip is set
    bool has_clip = false;
    int32_t width = 0, height = 0;
    uint32_t colour_key = 0;   // 0xAARRGGBB
};
