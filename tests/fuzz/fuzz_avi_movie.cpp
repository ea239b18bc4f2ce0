// An AVI file through the AVI reader (FFmpeg underneath) and the AVI page's
// information lines: open, a bounded number of pictures and sound blocks, a
// seek, and both lines. Every decoded byte is read.

#include <cstddef>
#include <cstdint>

#include "fuzz_input.h"
#include "jobs/avi_info_lines.h"
#include "jobs/avi_movie.h"

namespace {

// Enough to reach every code path of a stream without letting one input of
// a long movie take seconds.
constexpr int kMaxPictures = 8;
constexpr int kMaxSoundBlocks = 16;

uint32_t ReadAll(CAVIMovie& movie) {
    uint32_t sum = 0;
    BitmapInfoHeader decoded{};
    const bool video = movie.GetVideoFormat(&decoded) == kAviOk;
    for (int i = 0; i < kMaxPictures; ++i) {
        const uint8_t* pixels = nullptr;
        if (movie.ReadVideoFrame(&pixels) != kAviOk) break;
        if (!video || !pixels) __builtin_trap();
        // The first and last byte of the picture the header promises.
        sum += pixels[0] + pixels[decoded.size_image - 1];
    }
    for (int i = 0; i < kMaxSoundBlocks; ++i) {
        const uint8_t* data = nullptr;
        uint32_t length = 0;
        if (movie.ReadSound(&data, &length) != kAviOk) break;
        if (length > 0) sum += data[0] + data[length - 1];
    }
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz_input::MemoryFile file;
    const std::string& path = file.Write(data, size);
    CAVIMovie movie;
    if (movie.Open(path) == kAviOk) {
        uint32_t sum = ReadAll(movie);
        if (movie.SeekToFrame(1) == kAviOk) sum += ReadAll(movie);
        uint32_t length = 0;
        movie.GetSourceFormats(nullptr, nullptr, &length);
        fuzz_input::Sink(sum + length + uint32_t(movie.FrameToMs(3)));
    }
    const AviInfoLines lines = ReadAviInfoLines(path);
    fuzz_input::Sink(uint32_t(lines.video.size() + lines.sound.size()));
    return 0;
}
