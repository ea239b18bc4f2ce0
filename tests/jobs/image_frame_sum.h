#pragma once
// The recording writer's note for a picture, made from an image file.

#include <cstddef>
#include <cstdint>
#include <string>

#include "support/graphic_loader.h"
#include "support/surface.h"

// What the recording writer notes for an image file's picture ("frame SUM"):
// the same sum over the pixels a fresh surface and loader give for the file.
inline std::string RecordedSumOfImage(const std::string& path) {
    CPlaneSurface surface;
    CGraphicLoader loader;
    surface.SetDefaultFormats(PF_X8R8G8B8, PF_A8R8G8B8);
    if (!surface.LoadFile(path, &loader) || !surface.Lock()) return "unreadable";
    const SurfaceDesc& d = surface.Desc();
    uint32_t sum = 0;
    for (int32_t y = 0; y < d.height; ++y)
        for (int32_t i = 0; i < d.width * 4; ++i) sum = sum * 31 + d.bits[std::ptrdiff_t(y) * d.pitch + i];
    surface.Unlock();
    return "frame " + std::to_string(sum);
}
