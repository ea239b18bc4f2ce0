#pragma once
// A quicker way through the common PNG: 8-bit RGB or RGBA, not interlaced,
// nothing but IHDR, IDAT and IEND among the critical chunks. The pixels come
// out exactly as the libpng path gives them (rows blue first); any other file,
// and any file with a flaw (a CRC, the compressed data, a size), is declined
// with nullptr so that libpng decides about it as before.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "support/dib_bitmap.h"

std::unique_ptr<DibBitmap> PngDecodeFast(const uint8_t* data, std::size_t size);
