#pragma once
// The image formats the graphic loader tries, in order: PNG, the still-image
// format, BMP. The still-image format lives in a library above this one, so
// its entry is a slot that that library fills (see InstallPQXImageCodec in
// pqxlib/pqx_image_codec.h); until then still images are neither read nor
// written.

#include "support/dib_bitmap.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct ImageCodec {
    // Cheap test of the data's signature.
    bool (*probe)(const uint8_t* data, std::size_t size) = nullptr;
    // Fills the information header describing the decoded bitmap.
    bool (*read_header)(BitmapInfoHeader* header, const uint8_t* data, std::size_t size) = nullptr;
    // The decoded bitmap, bottom-up, or null.
    std::unique_ptr<DibBitmap> (*decode)(const uint8_t* data, std::size_t size) = nullptr;
    // Why data that passed the probe cannot be decoded, for a person; null
    // when the codec has nothing more to say than that it failed.
    const char* (*refusal)(const uint8_t* data, std::size_t size) = nullptr;
};

struct StillImageCodec {
    ImageCodec reader;
    // Writes a bitmap of 8, 24 or 32 bits with the given trailer; 1 or 0.
    int32_t (*write)(const std::string& file_name, const DibBitmap& bitmap, const void* trailer,
                     uint32_t trailer_size) = nullptr;
};

// Installs (or with null removes) the still-image codec for every loader.
void SetStillImageCodec(const StillImageCodec* codec);
const StillImageCodec* GetStillImageCodec();

// The built-in formats.
const ImageCodec& PngImageCodec();
const ImageCodec& BmpImageCodec();

int32_t WritePNG(const std::string& file_name, const DibBitmap& bitmap, const char* texts,
                 uint32_t text_count);
int32_t WriteBMP(const std::string& file_name, const DibBitmap& bitmap);
