// A still-image file decoded into rows of the size its header announces.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "pqxlib/pqx_read.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    _pqxlib_::CPQXRead reader;
    if (!reader.Check(data, size)) return 0;
    int32_t width = 0, height = 0, bits = 0;
    if (!reader.GetInfo(&width, &height, &bits) || width <= 0 || height <= 0 || bits <= 0) return 0;
    const uint64_t rowBytes = (uint64_t(width) * uint64_t(bits) + 7) / 8;
    // The reader has checked the data can hold the picture; a picture too big
    // for this process is still no fault of the reader.
    if (rowBytes * uint64_t(height) > (uint64_t(256) << 20)) return 0;
    std::vector<uint8_t> pixels(size_t(rowBytes * uint64_t(height)) + 64);
    std::vector<uint8_t*> rows(static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y) rows[size_t(y)] = pixels.data() + size_t(y) * rowBytes;
    reader.SetRows(rows.data());
    reader.Decode();
    uint32_t trailerSize = 0;
    if (const uint8_t* trailer = reader.Trailer(&trailerSize)) {
        if (trailerSize) fuzz_input::Sink(trailer[0] + trailer[trailerSize - 1]);
    }
    fuzz_input::Sink(pixels[0] + pixels[pixels.size() - 65]);
    return 0;
}
