// Any image in memory (PNG, still image, BMP), then converted into a surface
// of each pixel format the loader fills.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "pqxlib/pqx_image_codec.h"
#include "support/graphic_loader.h"
#include "support/pixel_format.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    _pqxlib_::InstallPQXImageCodec();
    return 0;
}

namespace {

// The image converted into a surface of each pixel format the loader fills,
// one buffer after another.
std::vector<uint8_t> Converted(CGraphicLoader& loader, int32_t width, int32_t height) {
    std::vector<uint8_t> all;
    for (uint32_t format : {uint32_t(PF_A8R8G8B8), uint32_t(PF_B8G8R8), uint32_t(PF_R5G6B5), uint32_t(PF_A8)}) {
        const int32_t bytes = format == PF_A8R8G8B8 ? 4 : format == PF_B8G8R8 ? 3 : format == PF_R5G6B5 ? 2 : 1;
        const int32_t pitch = (width * bytes + 3) & ~3;
        std::vector<uint8_t> pixels(size_t(pitch) * size_t(height));
        SurfaceDesc surface;
        surface.format = format;
        surface.bits = pixels.data();
        surface.pitch = pitch;
        surface.width = width;
        surface.height = height;
        loader.CopyTo(&surface);
        all.insert(all.end(), pixels.begin(), pixels.end());
    }
    return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CGraphicLoader loader;
    if (loader.Decode(data, size) != 1) return 0;
    int32_t width = 0, height = 0, bits = 0;
    if (loader.GetSize(&width, &height) != 1 || loader.GetBitCount(&bits) != 1) __builtin_trap();
    if (width <= 0 || height <= 0 || uint64_t(width) * uint64_t(height) > (uint64_t(16) << 20)) return 0;
    const std::vector<uint8_t> first = Converted(loader, width, height);
    fuzz_input::Sink(first[0] + first[first.size() - 1]);
    // A loader keeps its buffers from picture to picture (an image run's
    // loader threads do): a cut copy of the file in between, decoded or
    // refused, must leave nothing that changes the next picture.
    loader.Decode(data, size / 2);
    if (loader.Decode(data, size) != 1) __builtin_trap();
    if (Converted(loader, width, height) != first) __builtin_trap();
    loader.FreeImage();
    return 0;
}
