#include "support/surface.h"

#include "support/blit.h"
#include "support/graphic_loader.h"
#include "support/pixel_convert.h"

#include <algorithm>
#include <climits>
#include <new>

#include "support/allocation_failure.h"

namespace {

// Keeps at most `limit` UTF-8 characters.
std::string TruncateCharacters(const std::string& text, std::size_t limit) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (chars == limit) return text.substr(0, i);
            ++chars;
        }
    }
    return text;
}

// Start and end of a source extent cut to at most `dest` units, and the offset
// at which the (possibly cut) extent sits inside the destination.
void FitAxis(int32_t& start, int32_t& end, int32_t dest, int32_t anchor, int32_t& offset) {
    const int64_t source = int64_t{end} - start;
    offset = 0;
    if (source > dest) {
        if (anchor == 1) {
            const int64_t s0 = start;
            start = static_cast<int32_t>(s0 + ((source - dest) >> 1));
            end = static_cast<int32_t>(s0 + ((source + dest) >> 1));
        } else if (anchor == 2) {
            start = static_cast<int32_t>(end - int64_t{dest});
        } else {
            end = static_cast<int32_t>(start + int64_t{dest});
        }
    } else if (anchor == 1) {
        offset = static_cast<int32_t>((dest - source) / 2);
    } else if (anchor == 2) {
        offset = static_cast<int32_t>(dest - source);
    }
}

}  // namespace

int32_t ISurface::QueryInterface(uint32_t iid, void** out) {
    if (out == nullptr) return kEPointer;
    if (iid == kIidSurface) {
        AddRef();
        *out = this;
        return kSOk;
    }
    return kENoInterface;
}

int32_t ISurface::Create(int32_t, int32_t, int32_t) { return 0; }

int32_t ISurface::CreateWithFormat(int32_t, int32_t, uint32_t) { return 0; }

int32_t ISurface::SetColorKey(uint32_t colour) {
    if (PixelFormatHasAlpha(desc_.format)) return 0;
    desc_.colour_key = colour;
    return 1;
}

int32_t ISurface::SetColorKeyAt(int32_t x, int32_t y) {
    if (PixelFormatHasAlpha(desc_.format)) return 0;
    uint32_t argb = 0;
    if (!GetPixel(x, y, &argb, nullptr)) return 0;
    desc_.colour_key = argb;
    return 1;
}

uint32_t ISurface::ResetColorKey() {
    desc_.colour_key = PixelFormatHasAlpha(desc_.format) ? 0 : kDefaultColourKey;
    return desc_.colour_key;
}

int32_t ISurface::GetSize(int32_t* width, int32_t* height) {
    if (width) *width = desc_.width;
    if (height) *height = desc_.height;
    return 1;
}

int32_t ISurface::Fill(uint32_t colour, const SurfaceRect* rect) {
    return FillSurface(this, colour, rect);
}

int32_t ISurface::CopyFrom(ISurface* source, int32_t x, int32_t y, const SurfaceRect* source_rect) {
    if (source == nullptr || !source->Lock()) return 0;
    if (!Lock()) {
        source->Unlock();
        return 0;
    }
    BlitContext context;
    context.source = ClippedDescCopy(source->Desc());
    context.destination = ClippedDescCopy(desc_);
    const SurfacePoint point{x, y};
    context.source_request = source_rect;
    context.point_request = &point;
    int32_t result = 0;
    if (ComputeBlitRects(context)) {
        const SurfaceDesc& s = context.source;
        const SurfaceRect& sr = context.source_rect;
        const SurfaceRect& dr = context.dest_rect;
        const std::size_t sb = PixelFormatBytes(s.format), db = PixelFormatBytes(desc_.format);
        const int32_t rows = sr.bottom - sr.top, width = sr.right - sr.left;
        // Within one surface, copy rows away from the overlap first.
        const bool upward = source == this && dr.top > sr.top;
        result = sb != 0 && db != 0;
        for (int32_t i = 0; i < rows && result; ++i) {
            const int32_t r = upward ? rows - 1 - i : i;
            const uint8_t* from = s.bits + static_cast<std::ptrdiff_t>(sr.top + r) * s.pitch + sr.left * sb;
            uint8_t* to = desc_.bits + static_cast<std::ptrdiff_t>(dr.top + r) * desc_.pitch + dr.left * db;
            result = ConvertRowKeyed(to, desc_.format, from, s.format, s.colour_key, width);
        }
    }
    Unlock();
    source->Unlock();
    return result;
}

int32_t ISurface::PlaceClipped(SurfacePoint* point, SurfaceSize* size, SurfaceRect* source_rect,
                               const SurfaceRect* clip_rect, uint32_t align) {
    if (!PlaceRect(point, source_rect, size, align)) return 0;
    size->cx = source_rect->right - source_rect->left;
    size->cy = source_rect->bottom - source_rect->top;
    if (clip_rect == nullptr) return 1;
    const int64_t left = std::max<int64_t>(point->x, clip_rect->left);
    const int64_t top = std::max<int64_t>(point->y, clip_rect->top);
    const int64_t right = std::min<int64_t>(int64_t{point->x} + size->cx, clip_rect->right);
    const int64_t bottom = std::min<int64_t>(int64_t{point->y} + size->cy, clip_rect->bottom);
    if (left >= right || top >= bottom) {
        *size = SurfaceSize{};
        return 0;
    }
    const int64_t cut_left = left - point->x, cut_top = top - point->y;
    const int64_t cut_right = int64_t{point->x} + size->cx - right;
    const int64_t cut_bottom = int64_t{point->y} + size->cy - bottom;
    source_rect->left += static_cast<int32_t>(cut_left);
    source_rect->top += static_cast<int32_t>(cut_top);
    source_rect->right -= static_cast<int32_t>(cut_right);
    source_rect->bottom -= static_cast<int32_t>(cut_bottom);
    *point = SurfacePoint{static_cast<int32_t>(left), static_cast<int32_t>(top)};
    *size = SurfaceSize{static_cast<int32_t>(right - left), static_cast<int32_t>(bottom - top)};
    return 1;
}

int32_t ISurface::FitRect(SurfacePoint* out_offset, SurfaceRect* source_rect,
                          const SurfaceRect* dest_rect, uint32_t align) {
    if (out_offset == nullptr || source_rect == nullptr || dest_rect == nullptr) return 0;
    int32_t ox = 0, oy = 0;
    FitAxis(source_rect->left, source_rect->right, dest_rect->right - dest_rect->left,
            HorizontalAnchor(align), ox);
    FitAxis(source_rect->top, source_rect->bottom, dest_rect->bottom - dest_rect->top,
            VerticalAnchor(align), oy);
    out_offset->x = dest_rect->left + ox;
    out_offset->y = dest_rect->top + oy;
    return 1;
}

int32_t ISurface::PlaceRect(SurfacePoint* point, SurfaceRect* source_rect, const SurfaceSize* size,
                            uint32_t align) {
    if (point == nullptr || size == nullptr) return 0;
    SurfaceRect placed;
    const int32_t ha = HorizontalAnchor(align), va = VerticalAnchor(align);
    placed.left = point->x - (ha == 1 ? size->cx / 2 : ha == 2 ? size->cx : 0);
    placed.top = point->y - (va == 1 ? size->cy / 2 : va == 2 ? size->cy : 0);
    placed.right = placed.left + size->cx;
    placed.bottom = placed.top + size->cy;
    return FitRect(point, source_rect, &placed, 0);
}

int32_t ISurface::SetClipRect(const SurfaceRect* rect) {
    if (rect == nullptr) {
        desc_.has_clip = false;
        return 1;
    }
    SurfaceRect r{std::max(rect->left, 0), std::max(rect->top, 0),
                  std::min(rect->right, desc_.width), std::min(rect->bottom, desc_.height)};
    // A clip that misses the surface still applies: later copies and fills
    // into the surface then do nothing.
    if (r.left >= r.right || r.top >= r.bottom) r = SurfaceRect{};
    desc_.clip_rect = r;
    desc_.has_clip = true;
    return 1;
}

int32_t ISurface::GetPixel(int32_t x, int32_t y, uint32_t* argb, uint32_t* raw) {
    if (argb == nullptr && raw == nullptr) return 0;
    if (x < 0 || y < 0 || x >= desc_.width || y >= desc_.height) return 0;
    if (!Lock()) return 0;
    const std::size_t bytes = PixelFormatBytes(desc_.format);
    const uint8_t* p = desc_.bits + static_cast<std::ptrdiff_t>(y) * desc_.pitch + x * bytes;
    const bool ok = bytes != 0 ? ExpandPixel(desc_.format, p, argb, raw)
                               : ExpandPixel(0, nullptr, argb, raw);
    Unlock();
    return ok ? 1 : 0;
}

int32_t ISurface::Blt(ISurface* source, int32_t x, int32_t y, const SurfaceRect* source_rect,
                      const SurfaceSize* dest_size, uint32_t align) {
    BlitContext context;
    const SurfacePoint point{x, y};
    context.source_request = source_rect;
    context.point_request = &point;
    context.size_request = dest_size;
    context.align = align;
    return BlitSurface(this, source, context);
}

int32_t ISurfaceEx::QueryInterface(uint32_t iid, void** out) {
    if (out != nullptr && iid == kIidSurfaceEx) {
        AddRef();
        *out = this;
        return kSOk;
    }
    return ISurface::QueryInterface(iid, out);
}

int32_t ISurfaceEx::SetDefaultFormats(uint32_t opaque_format, uint32_t alpha_format) {
    default_opaque_ = opaque_format;
    default_alpha_ = alpha_format;
    return 1;
}

int32_t ISurfaceEx::LoadFile(const std::string& name, IGraphicLoader* loader) {
    if (loader == nullptr || !loader->LoadFile(name)) return 0;
    return AdoptImage(name, loader);
}

int32_t ISurfaceEx::LoadFileWithReader(const std::string& name, const FileReaderTable* reader,
                                       IGraphicLoader* loader) {
    if (reader == nullptr || loader == nullptr) return LoadFile(name, loader);
    FileReaderTable saved;
    loader->GetFileReader(&saved);
    loader->SetFileReader(reader);
    const int32_t result = LoadFile(name, loader);
    loader->SetFileReader(&saved);
    return result;
}

int32_t ISurfaceEx::LoadMemory(const std::string& name, const void* data, std::size_t size,
                               IGraphicLoader* loader) {
    if (loader == nullptr || !loader->Decode(data, size)) return 0;
    return AdoptImage(name, loader);
}

int32_t ISurfaceEx::Save(int32_t kind, const std::string& file_name, const void* extra,
                         uint32_t count) {
    if (!Lock()) return 0;
    const int32_t result = SaveSurface(kind, file_name, desc_, extra, count);
    Unlock();
    return result;
}

int32_t ISurfaceEx::SaveBMP(const std::string& file_name) {
    return Save(kSaveBMP, file_name, nullptr, 0);
}

int32_t ISurfaceEx::SavePNG(const std::string& file_name, const char* texts, uint32_t text_count) {
    return Save(kSavePNG, file_name, texts, text_count);
}

int32_t ISurfaceEx::SavePQX(const std::string& file_name, const void* data, uint32_t data_count) {
    return Save(kSavePQX, file_name, data, data_count);
}

int32_t ISurfaceEx::AdoptImage(const std::string& name, IGraphicLoader* loader) {
    if (loader == nullptr) return 0;
    int32_t width = 0, height = 0, bits = 0;
    if (!loader->GetSize(&width, &height) || !loader->GetBitCount(&bits)) return 0;
    int32_t created = 0;
    switch (bits) {
        case 8: created = CreateWithFormat(width, height, PF_A8); break;
        case 16:
        case 24: created = Create(width, height, 0); break;
        case 32: created = Create(width, height, 1); break;
        default: return 0;
    }
    if (!created || !Lock()) return 0;
    if (!loader->CopyTo(&desc_)) {
        Unlock();
        return 0;
    }
    Unlock();
    loader->FreeImage();
    source_name_ = TruncateCharacters(name, kMaxSourceNameChars);
    loader->GetFileReader(&file_reader_);
    return 1;
}

CPlaneSurface::CPlaneSurface() {
    default_opaque_ = PF_X8R8G8B8;
    default_alpha_ = PF_A8R8G8B8;
}

CPlaneSurface::~CPlaneSurface() { DestroyPixels(); }

int32_t CPlaneSurface::QueryInterface(uint32_t iid, void** out) {
    if (out != nullptr && iid == kIidPlaneSurface) {
        AddRef();
        *out = this;
        return kSOk;
    }
    return ISurfaceEx::QueryInterface(iid, out);
}

uint32_t DisplayBitsPerPixel() { return 32; }

int32_t CPlaneSurface::Create(int32_t width, int32_t height, int32_t want_alpha) {
    uint32_t format = want_alpha ? default_alpha_ : default_opaque_;
    if (format == 0) {
        switch (DisplayBitsPerPixel()) {
            case 8: format = PF_A8; break;
            case 16: format = PF_R5G6B5; break;
            case 24: format = PF_B8G8R8; break;
            case 32: format = PF_X8R8G8B8; break;
            default: format = 0; break;
        }
        format = PixelFormatTwin(format, want_alpha != 0);
    }
    return CreateWithFormat(width, height, format);
}

int32_t CPlaneSurface::CreateWithFormat(int32_t width, int32_t height, uint32_t format) {
    const uint32_t bits = PixelFormatBits(format);
    const int64_t pitch = bits != 0 && width > 0 ? RowPitch(width, bits) : 0;
    if (pitch == 0 || height <= 0 || pitch > INT32_MAX || pitch * height > PTRDIFF_MAX) {
        DestroyPixels();
        return 0;
    }
    const auto bytes = static_cast<std::size_t>(pitch * height);
    // A surface made again at the size it has keeps its block: a run of
    // like pictures then costs no fresh pages. Not cleared either way: a
    // fresh surface holds whatever the heap gave.
    if (pixels_ == nullptr || bytes != pixel_bytes_) {
        DestroyPixels();
        pixels_ = new (std::nothrow) uint8_t[bytes];
        if (pixels_ == nullptr) {
            NoteAllocationFailure();
            return 0;
        }
        pixel_bytes_ = bytes;
    }
    desc_.format = format;
    desc_.width = width;
    desc_.height = height;
    desc_.bits = pixels_;
    desc_.pitch = static_cast<int32_t>(pitch);
    ResetColorKey();
    return 1;
}

int32_t CPlaneSurface::DestroyPixels() {
    delete[] pixels_;
    pixels_ = nullptr;
    pixel_bytes_ = 0;
    desc_.bits = nullptr;
    desc_.pitch = 0;
    desc_.format = 0;
    return 1;
}
