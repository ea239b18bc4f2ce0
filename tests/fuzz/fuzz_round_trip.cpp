// Encode -> decode: a short movie of small pictures with settings taken from
// the input must decode, byte for byte, to the pictures the encoder kept as
// its own reconstruction.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "container/file_write_ops.h"
#include "container/rvx_encode.h"
#include "container/rvx_layout.h"
#include "container/rvx_movie_decoder.h"
#include "container/rvx_reader.h"

namespace fs = std::filesystem;
using namespace rvx_layout;

namespace {

constexpr uint32_t kPictures[] = {kPictureYUV411,   kPictureYUV422,   kPictureYUV444,   kPictureRGB888,
                                  kPictureARGB8888, kPictureAYUV4444, kPictureAYUV4422, kPictureAYUV4411};
constexpr uint32_t kTransforms[] = {kTransformWordDct, kTransformWordDiff2D, kTransformWordDctNoDeblock};

const fs::path& WorkDir() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("rvx-fuzz-round-trip-" + std::to_string(::getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

struct Cleanup {
    ~Cleanup() {
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(WorkDir(), ignored)) fs::remove_all(entry.path(), ignored);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 10) return 0;
    const uint32_t width = 1 + data[0] % 48;
    const uint32_t height = 1 + data[1] % 40;
    const uint32_t picture = kPictures[data[2] % 8];
    const uint32_t transform = kTransforms[(data[2] >> 3) % 3];
    const uint32_t source = 1 + data[3] % 3;
    const uint16_t p_frames = data[4] % 4, b_frames = (data[4] >> 2) % 4;
    const uint16_t scene = uint16_t(data[5]) * 2;
    const uint16_t quality[4] = {uint16_t(2 + data[6] % 31), uint16_t(2 + (data[6] >> 5) * 4),
                                 uint16_t(2 + data[7] % 31), uint16_t(data[7] >> 7)};
    const uint32_t frames = 1 + data[8] % 6;
    const uint32_t threads = 1 + data[9] % 2;
    const uint8_t* pixels = data + 10;
    const size_t pixel_bytes = size - 10;

    Cleanup cleanup;
    const fs::path& dir = WorkDir();
    CRVXEncode writer;
    writer.SetFrameRate(30, 1);
    writer.SetGopStructure(p_frames, b_frames);
    writer.SetSceneChange(scene);
    writer.SetQuality(quality);
    writer.SetThreads(threads);
    writer.SetPicture(width, height, (source << kFormatSourceShift) | transform | picture);
    writer.SetWorkDirectory(dir);
    writer.SetFramePrefix(dir / "rvxframe");
    if (!writer.Open()) return 0;
    std::map<uint32_t, std::vector<uint8_t>> reconstructed;
    const size_t picture_size = size_t(writer.Plan().padded_width) * writer.Plan().padded_height * 4;
    writer.GroupCoder().SetFrameObserver([&](uint32_t n, uint32_t, const uint8_t* p) {
        reconstructed[n].assign(p, p + picture_size);
    });

    // The input's bytes, repeated and shifted from frame to frame, fill the
    // pictures so that motion and scene changes both happen.
    const uint32_t bytes = source == kSourceBGR24 ? 3 : 4;
    const size_t stride = (size_t(width) * bytes + 3) & ~size_t(3);
    std::vector<uint8_t> frame(stride * height);
    for (uint32_t n = 0; n < frames; ++n) {
        for (size_t i = 0; i < frame.size(); ++i)
            frame[i] = pixel_bytes ? uint8_t(pixels[(i + n * 7) % pixel_bytes] + n) : uint8_t(i);
        if (!writer.AddFrame(frame.data())) __builtin_trap();
    }
    if (!writer.FinishFrames()) __builtin_trap();
    const fs::path movie = dir / "movie.rvx";
    if (!writer.WriteMovie(movie, PosixFileWriteOps())) __builtin_trap();
    if (reconstructed.size() != frames) __builtin_trap();

    CRVXReader reader;
    if (!reader.Open(movie) || !reader.Verify()) __builtin_trap();
    CRVXMovieDecoder decoder;
    if (!decoder.Open(reader)) __builtin_trap();
    uint32_t expected = 0, number = 0;
    while (const uint8_t* decoded = decoder.NextPicture(&number)) {
        if (number != expected || std::memcmp(decoded, reconstructed[number].data(), picture_size) != 0)
            __builtin_trap();
        ++expected;
    }
    if (expected != frames || decoder.DamagedFrames() != 0) __builtin_trap();
    return 0;
}
