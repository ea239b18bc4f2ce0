#include "support/blit.h"

#include "support/pixel_convert.h"
#include "support/pixel_format.h"
#include "support/surface.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Rect64 {
    int64_t left, top, right, bottom;
};

bool Empty(const Rect64& r) { return r.left >= r.right || r.top >= r.bottom; }

Rect64 Intersect(const Rect64& a, const Rect64& b) {
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom)};
}

Rect64 Widen(const SurfaceRect& r) { return {r.left, r.top, r.right, r.bottom}; }

SurfaceRect Narrow(const Rect64& r) {
    return {static_cast<int32_t>(r.left), static_cast<int32_t>(r.top),
            static_cast<int32_t>(r.right), static_cast<int32_t>(r.bottom)};
}

Rect64 ClipOf(const SurfaceDesc& desc) {
    if (desc.has_clip) return Widen(desc.clip_rect);
    return {0, 0, desc.width, desc.height};
}

// Nearest-pixel positions along one axis, stepped with an integer error term
// so that 3 pixels spread over 7 give 0, 0, 1, 1, 1, 2, 2. d0 > d1 mirrors.
std::vector<int64_t> AxisPositions(int64_t s0, int64_t s1, int64_t d0, int64_t d1) {
    int64_t n = d1 - d0;
    int64_t position = s0, direction = 1;
    if (n <= 0) {
        position = s1 - 1;
        direction = -1;
        n = -n;
    }
    std::vector<int64_t> out(static_cast<std::size_t>(n));
    if (n == 0) return out;
    const int64_t step = (s1 - s0) / (d1 - d0);
    const int64_t rem = (s1 - s0) - step * (d1 - d0);
    int64_t error = rem / 2;
    for (int64_t i = 0; i < n; ++i) {
        out[static_cast<std::size_t>(i)] = std::clamp(position, s0, s1 - 1);
        error += rem;
        position += step;
        if (error >= n) {
            error -= n;
            position += direction;
        }
    }
    return out;
}

}  // namespace

SurfaceDesc ClippedDescCopy(const SurfaceDesc& desc) {
    SurfaceDesc copy = desc;
    if (copy.has_clip) {
        Rect64 r = Intersect(Widen(desc.clip_rect), {0, 0, desc.width, desc.height});
        copy.clip_rect = Empty(r) ? SurfaceRect{} : Narrow(r);
    }
    return copy;
}

bool ComputeBlitRects(BlitContext& c) {
    const Rect64 bounds{0, 0, c.source.width, c.source.height};
    Rect64 s = bounds;
    if (c.source_request != nullptr) {
        s = Widen(*c.source_request);
        if (Empty(s)) return false;
        s = Intersect(s, bounds);
        if (Empty(s)) return false;
    }
    const int64_t sw = s.right - s.left, sh = s.bottom - s.top;

    int64_t x = 0, y = 0;
    if (c.point_request != nullptr) {
        x = c.point_request->x;
        y = c.point_request->y;
    }
    int64_t dw = sw, dh = sh;
    if (c.size_request != nullptr) {
        dw = c.size_request->cx;
        dh = c.size_request->cy;
    }
    if (dw == 0 || dh == 0) return false;
    const int64_t aw = std::llabs(dw), ah = std::llabs(dh);

    const int32_t ha = HorizontalAnchor(c.align), va = VerticalAnchor(c.align);
    if (ha == 1) x -= aw / 2;
    if (ha == 2) x -= aw;
    if (va == 1) y -= ah / 2;
    if (va == 2) y -= ah;
    Rect64 d{x, y, x + aw, y + ah};

    const Rect64 clip = ClipOf(c.destination);
    const int64_t cut_left = std::max<int64_t>(0, clip.left - d.left);
    const int64_t cut_right = std::max<int64_t>(0, d.right - clip.right);
    const int64_t cut_top = std::max<int64_t>(0, clip.top - d.top);
    const int64_t cut_bottom = std::max<int64_t>(0, d.bottom - clip.bottom);
    d = Intersect(d, clip);

    c.unscaled = sw == dw && sh == dh;
    if (c.unscaled) {
        s.left += cut_left;
        s.right -= cut_right;
        s.top += cut_top;
        s.bottom -= cut_bottom;
    } else {
        // 16.16 ratios in 64 bits, so wide sources cannot overflow them.
        const int64_t fx = sw * 65536 / aw, fy = sh * 65536 / ah;
        // A mirrored axis shows the source's far end at the destination's near
        // side, so a cut on one side of the destination removes source pixels
        // at the opposite side.
        const int64_t sl = (fx * cut_left) >> 16, sr = (fx * cut_right) >> 16;
        const int64_t st = (fy * cut_top) >> 16, sb = (fy * cut_bottom) >> 16;
        if (dw < 0) {
            s.left += sr;
            s.right -= sl;
        } else {
            s.left += sl;
            s.right -= sr;
        }
        if (dh < 0) {
            s.top += sb;
            s.bottom -= st;
        } else {
            s.top += st;
            s.bottom -= sb;
        }
    }
    if (Empty(s) || Empty(d)) return false;
    if (dw < 0) std::swap(d.left, d.right);
    if (dh < 0) std::swap(d.top, d.bottom);
    c.source_rect = Narrow(s);
    c.dest_rect = Narrow(d);
    return true;
}

int32_t BlitPixels(BlitContext& c) {
    const RowKernel kernel = BlitKernelFor(c.source.format, c.destination.format);
    if (kernel == nullptr || c.source.bits == nullptr || c.destination.bits == nullptr) return 0;
    const std::size_t sb = PixelFormatBytes(c.source.format);
    const std::size_t db = PixelFormatBytes(c.destination.format);
    const SurfaceRect& s = c.source_rect;
    const SurfaceRect& d = c.dest_rect;
    const auto src_row = [&](int64_t y) {
        return c.source.bits + static_cast<std::ptrdiff_t>(y) * c.source.pitch;
    };
    const auto dst_row = [&](int64_t y) {
        return c.destination.bits + static_cast<std::ptrdiff_t>(y) * c.destination.pitch;
    };

    if (c.unscaled) {
        const int32_t width = s.right - s.left;
        for (int32_t r = 0; r < s.bottom - s.top; ++r) {
            kernel(dst_row(d.top + r) + d.left * db, src_row(s.top + r) + s.left * sb, width);
        }
        return 1;
    }

    const std::vector<int64_t> xs = AxisPositions(s.left, s.right, d.left, d.right);
    const std::vector<int64_t> ys = AxisPositions(s.top, s.bottom, d.top, d.bottom);
    const int64_t dx = std::min(d.left, d.right), dy = std::min(d.top, d.bottom);
    std::vector<uint8_t> gathered(xs.size() * sb);
    for (std::size_t r = 0; r < ys.size(); ++r) {
        const uint8_t* row = src_row(ys[r]);
        for (std::size_t i = 0; i < xs.size(); ++i) {
            std::memcpy(&gathered[i * sb], row + xs[i] * sb, sb);
        }
        kernel(dst_row(dy + static_cast<int64_t>(r)) + dx * db, gathered.data(),
               static_cast<int32_t>(xs.size()));
    }
    return 1;
}

int32_t BlitSurface(ISurface* destination, ISurface* source, BlitContext& context) {
    if (destination == nullptr || source == nullptr || destination == source) return 0;
    if (!source->Lock()) return 0;
    if (!destination->Lock()) {
        source->Unlock();
        return 0;
    }
    context.source = ClippedDescCopy(source->Desc());
    context.destination = ClippedDescCopy(destination->Desc());
    int32_t result = 0;
    if (ComputeBlitRects(context)) result = BlitPixels(context);
    destination->Unlock();
    source->Unlock();
    return result;
}

int32_t FillSurface(ISurface* surface, uint32_t colour, const SurfaceRect* rect) {
    if (surface == nullptr || !surface->Lock()) return 0;
    const SurfaceDesc desc = ClippedDescCopy(surface->Desc());
    uint32_t value = 0;
    Rect64 area{0, 0, desc.width, desc.height};
    if (rect != nullptr) area = Intersect(area, Widen(*rect));
    area = Intersect(area, ClipOf(desc));
    if (!FillValue(desc.format, colour, &value) || Empty(area)) {
        surface->Unlock();
        return 0;
    }
    const std::size_t bytes = PixelFormatBytes(desc.format);
    uint8_t pixel[4];
    for (std::size_t i = 0; i < 4; ++i) pixel[i] = static_cast<uint8_t>(value >> (8 * i));
    for (int64_t y = area.top; y < area.bottom; ++y) {
        uint8_t* p = desc.bits + static_cast<std::ptrdiff_t>(y) * desc.pitch + area.left * bytes;
        for (int64_t x = area.left; x < area.right; ++x, p += bytes) std::memcpy(p, pixel, bytes);
    }
    surface->Unlock();
    return 1;
}
