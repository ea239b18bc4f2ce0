// The public interface on hostile bytes: open from memory (strict or not,
// either inverse DCT), read every picture as R, G, B, A and as planes, seek,
// read and seek the sound, verify. Every call must return a status, never
// read outside the input.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "rvx/rvx.h"

namespace {

// Pictures above this many pixels are left out: each holds several copies
// of itself in memory, more than the fuzzer's limit allows.
constexpr int64_t kMaxPixels = int64_t(1) << 21;

uint32_t ReadPictures(RvxMovie* movie, const RvxInfo& info, std::vector<uint8_t>& rgba, bool planes) {
    uint32_t sum = 0;
    for (int status = 0; status == 0 || status == RVX_ERROR_DAMAGED;) {
        if (planes) {
            const ptrdiff_t w = info.width;
            RvxPlanes p = {{&rgba[0], &rgba[size_t(w) * info.height], nullptr, &rgba[size_t(3 * w) * info.height]},
                           {w, w, 0, w}};
            status = rvx_read_planes(movie, &p);
        } else {
            status = rvx_read_picture(movie, rgba.data(), ptrdiff_t(info.width) * 4);
        }
        if (status == 0) sum += rgba[0] + rgba[rgba.size() - 1];
    }
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RvxSettings settings;
    rvx_default_settings(&settings);
    settings.threads = 1;
    settings.strict = size & 1;
    settings.integer_idct = (size >> 1) & 1;
    RvxMovie* movie = nullptr;
    if (rvx_open_memory(&movie, data, size, &settings) < 0) {
        if (movie != nullptr) __builtin_trap();
        return 0;
    }
    RvxInfo info;
    if (rvx_get_info(movie, &info) < 0) __builtin_trap();
    if (int64_t(info.width) * info.height <= kMaxPixels) {
        std::vector<uint8_t> rgba(size_t(info.width) * info.height * 4);
        uint32_t sum = ReadPictures(movie, info, rgba, false);
        for (int64_t frame : {info.frames - 1, int64_t(0), info.frames / 2}) {
            if (frame >= 0 && rvx_seek(movie, frame) < 0) __builtin_trap();
            sum += ReadPictures(movie, info, rgba, frame == 0);
        }
        fuzz_input::Sink(sum);
    }
    std::vector<int16_t> pcm(size_t(1024) * (info.sound_channels > 0 ? info.sound_channels : 1));
    for (int64_t at : {int64_t(0), info.sound_frames / 3}) {
        if (at > 0 && rvx_seek_sound(movie, at) < 0) break;
        int64_t got = 0;
        while ((got = rvx_read_sound(movie, pcm.data(), 1024)) > 0) fuzz_input::Sink(uint32_t(pcm[0]));
    }
    rvx_verify(movie);
    rvx_close(&movie);
    return 0;
}
