#pragma once
// Clipped, anchored copies between surfaces, optionally scaled (nearest pixel)
// or mirrored, and rectangle fills.

#include "support/surface_desc.h"

#include <cstdint>

class ISurface;

// Alignment codes 0..8 form a 3x3 grid: code % 3 picks left / centre / right,
// code / 3 top / middle / bottom. Codes above 8 act as 0.
inline int32_t HorizontalAnchor(uint32_t align) { return align > 8 ? 0 : int32_t(align % 3); }
inline int32_t VerticalAnchor(uint32_t align) { return align > 8 ? 0 : int32_t(align / 3); }

struct BlitContext {
    SurfaceDesc source;
    SurfaceDesc destination;
    SurfaceRect source_rect;       // result: the part read
    SurfaceRect dest_rect;         // result: left > right or top > bottom marks a mirrored axis
    const SurfaceRect* source_request = nullptr;  // null: the whole source
    const SurfacePoint* point_request = nullptr;  // null: (0, 0)
    const SurfaceSize* size_request = nullptr;    // null: the source rectangle's size
    uint32_t align = 0;
    bool unscaled = false;         // result
    uint32_t params[4] = {};       // params[0]: fill colour
};

// Fills the result fields from the requests; false when nothing would be copied.
bool ComputeBlitRects(BlitContext& context);

// Copies context.source into context.destination as computed by ComputeBlitRects.
// Returns 0 for unsupported format pairs.
int32_t BlitPixels(BlitContext& context);

// Locks source then destination, clips, copies, unlocks. Fails for the same
// object, a failed lock, an empty area or an unsupported pair.
int32_t BlitSurface(ISurface* destination, ISurface* source, BlitContext& context);

// Fills rect (null: everything) clipped to the surface and its clip.
int32_t FillSurface(ISurface* surface, uint32_t colour, const SurfaceRect* rect);

// The copy of a descriptor that a blit works on: its clip, if any, limited to
// the surface's bounds.
SurfaceDesc ClippedDescCopy(const SurfaceDesc& desc);
