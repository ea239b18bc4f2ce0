#pragma once
// Reads PNG, still-image and BMP files (or images already in memory) into one
// bottom-up bitmap and converts its rows into surfaces; saves surfaces as
// BMP, PNG or still-image files.

#include "support/dib_bitmap.h"
#include "support/file_reader.h"
#include "support/png_fast_decode.h"
#include "support/surface_desc.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class IGraphicLoader {
public:
    virtual ~IGraphicLoader() = default;
    virtual int32_t LoadFile(const std::string& name) = 0;
    virtual int32_t Decode(const void* data, std::size_t size) = 0;
    virtual int32_t GetSize(int32_t* width, int32_t* height) = 0;
    virtual int32_t GetBitCount(int32_t* bits) = 0;
    virtual int32_t Draw(SurfaceDesc* target) = 0;
    virtual int32_t CopyTo(const SurfaceDesc* surface) = 0;
    virtual int32_t FreeImage() = 0;
    virtual int32_t SetFileReader(const FileReaderTable* table) = 0;
    virtual int32_t GetFileReader(FileReaderTable* table) = 0;
};

class CGraphicLoader : public IGraphicLoader {
public:
    CGraphicLoader();
    ~CGraphicLoader() override;

    // Reads the whole file through the file-reader table and decodes it.
    int32_t LoadFile(const std::string& name) override;
    // Tries PNG, still image, BMP in turn; the first that decodes wins.
    int32_t Decode(const void* data, std::size_t size) override;
    int32_t GetSize(int32_t* width, int32_t* height) override;
    int32_t GetBitCount(int32_t* bits) override;
    // There is no window system device here: draws into a locked surface of
    // the bitmap's own layout at (0, 0), clipped to it.
    int32_t Draw(SurfaceDesc* target) override;
    // Converts the bitmap into a locked surface, top row first: 8 bits into
    // PF_A8 surfaces only, 16 bits as 5-6-5, 24 bits as B, G, R, 32 bits as
    // B, G, R, A. Fails for other bit counts and unsupported format pairs.
    // A PNG picture goes from its decoded rows into 32-bit surfaces in one
    // pass, with the bytes the bitmap would give.
    int32_t CopyTo(const SurfaceDesc* surface) override;
    // Drops the picture; the memory it was decoded in is kept for the next
    // one (at most one picture's worth) until the loader goes.
    int32_t FreeImage() override;
    int32_t SetFileReader(const FileReaderTable* table) override;
    int32_t GetFileReader(FileReaderTable* table) override;

    const BitmapInfoHeader& InfoHeader() const { return header_; }
    // Why the last Decode or LoadFile failed, for a person; empty after a
    // success or when the format gave no reason.
    const std::string& FailureReason() const { return failure_; }
    // The decoded bitmap, made from the PNG rows when the picture is held as
    // those; null without a picture.
    const DibBitmap* Bitmap();

private:
    bool MakeBitmap();
    bool ReadWholeFile(FileHandle file, std::size_t size);

    FileReaderTable reader_;
    BitmapInfoHeader header_{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    std::unique_ptr<DibBitmap> bitmap_;
    // A picture from the quick PNG path stays in its decoded rows until a
    // bitmap is asked for; 32-bit surfaces are filled from the rows.
    PngRows png_rows_;
    bool holds_png_rows_ = false;
    // The file read last, kept for the next read of a like size.
    std::unique_ptr<uint8_t[]> file_bytes_;
    std::size_t file_capacity_ = 0;
    std::string failure_;
};

enum SaveKind : int32_t { kSaveBMP = 0, kSavePNG = 1, kSavePQX = 2 };

// Saves a locked surface: PF_A8 as 8-bit grey, formats with alpha as 32 bits,
// the rest as 24 bits. extra/extra_count are the PNG text pairs or the still
// image's trailer. Fails when the surface's format cannot be converted.
int32_t SaveSurface(int32_t kind, const std::string& file_name, const SurfaceDesc& surface,
                    const void* extra, uint32_t extra_count);
