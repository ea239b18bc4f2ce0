#pragma once
// Surfaces: in-memory images in one of the pixel formats of pixel_format.h,
// with a clip rectangle and a colour key. The reference count governs only
// the pixel memory: the final ReleaseRef frees the pixels, while the object
// itself belongs to whoever created it.

#include "support/file_reader.h"
#include "support/object_interface.h"
#include "support/pixel_format.h"
#include "support/surface_desc.h"

#include <cstddef>
#include <cstdint>
#include <string>

class IGraphicLoader;

constexpr uint32_t kIidSurface = 0x4010000;
constexpr uint32_t kIidSurfaceEx = 0x4010001;
constexpr uint32_t kIidPlaneSurface = 0x4010004;

// Key of a surface without alpha until SetColorKey: opaque pure green.
constexpr uint32_t kDefaultColourKey = 0xFF00FF00;

class ISurface : public IObjectInterface {
public:
    int32_t QueryInterface(uint32_t iid, void** out) override;

    virtual int32_t Create(int32_t width, int32_t height, int32_t want_alpha);
    virtual int32_t CreateWithFormat(int32_t width, int32_t height, uint32_t format);
    virtual int32_t IsPlaneMemory() { return 0; }
    virtual int32_t DestroyPixels() { return 0; }
    virtual int32_t SetColorKey(uint32_t colour);
    virtual int32_t SetColorKeyAt(int32_t x, int32_t y);
    virtual uint32_t ResetColorKey();
    virtual uint32_t GetColorKey() { return desc_.colour_key; }
    virtual int32_t GetSize(int32_t* width, int32_t* height);
    virtual uint32_t GetFormat() { return desc_.format; }
    virtual int32_t HasAlpha() { return PixelFormatHasAlpha(desc_.format) ? 1 : 0; }
    virtual int32_t Fill(uint32_t colour, const SurfaceRect* rect);
    virtual int32_t CopyFrom(ISurface* source, int32_t x, int32_t y, const SurfaceRect* source_rect);
    virtual int32_t PlaceClipped(SurfacePoint* point, SurfaceSize* size, SurfaceRect* source_rect,
                                 const SurfaceRect* clip_rect, uint32_t align);
    virtual int32_t FitRect(SurfacePoint* out_offset, SurfaceRect* source_rect,
                            const SurfaceRect* dest_rect, uint32_t align);
    virtual int32_t PlaceRect(SurfacePoint* point, SurfaceRect* source_rect,
                              const SurfaceSize* size, uint32_t align);
    virtual int32_t SetClipRect(const SurfaceRect* rect);
    virtual int32_t Lock() = 0;
    virtual int32_t Unlock() = 0;
    virtual int32_t GetPixel(int32_t x, int32_t y, uint32_t* argb, uint32_t* raw);

    // Copies the source rectangle (null: all of it) placed at (x, y) by the
    // alignment code and scaled to dest_size (null: unscaled; a negative
    // extent mirrors that axis).
    int32_t Blt(ISurface* source, int32_t x, int32_t y, const SurfaceRect* source_rect,
                const SurfaceSize* dest_size, uint32_t align);

    // The descriptor; bits and pitch are valid between Lock and Unlock.
    const SurfaceDesc& Desc() const { return desc_; }

protected:
    void OnFinalRelease() override { DestroyPixels(); }

    SurfaceDesc desc_;
};

class ISurfaceEx : public ISurface {
public:
    int32_t QueryInterface(uint32_t iid, void** out) override;

    virtual int32_t SetDefaultFormats(uint32_t opaque_format, uint32_t alpha_format);
    virtual int32_t LoadFile(const std::string& name, IGraphicLoader* loader);
    virtual int32_t LoadFileWithReader(const std::string& name, const FileReaderTable* reader,
                                       IGraphicLoader* loader);
    virtual int32_t LoadMemory(const std::string& name, const void* data, std::size_t size,
                               IGraphicLoader* loader);
    virtual int32_t SaveBMP(const std::string& file_name);
    // texts: text_count pairs of NUL-terminated strings, keyword then text.
    virtual int32_t SavePNG(const std::string& file_name, const char* texts, uint32_t text_count);
    // data: trailer bytes stored after the coded image.
    virtual int32_t SavePQX(const std::string& file_name, const void* data, uint32_t data_count);

    // Turns the loader's decoded bitmap into this surface's pixels.
    int32_t AdoptImage(const std::string& name, IGraphicLoader* loader);

    const std::string& SourceName() const { return source_name_; }
    const FileReaderTable& FileReader() const { return file_reader_; }
    uint32_t DefaultOpaqueFormat() const { return default_opaque_; }
    uint32_t DefaultAlphaFormat() const { return default_alpha_; }

protected:
    uint32_t default_opaque_ = 0;
    uint32_t default_alpha_ = 0;

private:
    int32_t Save(int32_t kind, const std::string& file_name, const void* extra, uint32_t count);

    std::string source_name_;  // at most kMaxSourceNameChars characters
    FileReaderTable file_reader_{};
};

// Longest source name kept, in characters.
constexpr std::size_t kMaxSourceNameChars = 511;

// A surface whose pixels are one heap block.
class CPlaneSurface : public ISurfaceEx {
public:
    CPlaneSurface();
    ~CPlaneSurface() override;

    int32_t QueryInterface(uint32_t iid, void** out) override;
    int32_t Create(int32_t width, int32_t height, int32_t want_alpha) override;
    int32_t CreateWithFormat(int32_t width, int32_t height, uint32_t format) override;
    int32_t IsPlaneMemory() override { return 1; }
    int32_t DestroyPixels() override;
    int32_t Lock() override { return desc_.bits != nullptr ? 1 : 0; }
    int32_t Unlock() override { return 1; }

private:
    uint8_t* pixels_ = nullptr;
    std::size_t pixel_bytes_ = 0;
};

// Bits per pixel of the display, from which Create derives a format when a
// default format is 0. There is no display query here: always 32.
uint32_t DisplayBitsPerPixel();
