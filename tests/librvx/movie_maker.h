#pragma once
// Small movies for the library's tests, written by our own encoder: a
// moving pattern with varying alpha, in any picture format, transform and
// group shape, with or without sound.

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "container/file_write_ops.h"
#include "container/rvx_encode.h"
#include "snxlib/wave_writer.h"

struct MovieShape {
    uint32_t picture;          // format word bits 0..7
    uint32_t transform;        // format word bits 12..16
    uint32_t width = 40, height = 26;
    uint32_t frames = 9;
    uint16_t p_frames = 2, b_frames = 1;
    int sound_mode = -1;       // an SNX mode, or -1 for no sound
};

inline bool MakeMovie(const MovieShape& shape, const std::filesystem::path& dir, const std::filesystem::path& out) {
    using namespace rvx_layout;
    CRVXEncode writer;
    writer.SetFrameRate(30000, 1001);
    writer.SetGopStructure(shape.p_frames, shape.b_frames);
    writer.SetPicture(shape.width, shape.height, (kSourceBGRA32 << kFormatSourceShift) | shape.transform | shape.picture);
    writer.SetWorkDirectory(dir);
    writer.SetFramePrefix(dir / "rvxframe");
    if (!writer.Open()) return false;
    std::vector<uint8_t> pixels(size_t(shape.width) * shape.height * 4);
    for (uint32_t n = 0; n < shape.frames; ++n) {
        for (uint32_t y = 0; y < shape.height; ++y) {
            for (uint32_t x = 0; x < shape.width; ++x) {
                uint8_t* p = &pixels[(size_t(y) * shape.width + x) * 4];
                p[0] = uint8_t(7 * x + 11 * n);
                p[1] = uint8_t(5 * y + 60 + ((x + n) & 8) * 8);
                p[2] = uint8_t(x * y + 3 * n);
                p[3] = uint8_t(255 - 9 * x - 4 * n);
            }
        }
        if (!writer.AddFrame(pixels.data())) return false;
    }
    if (shape.sound_mode >= 0) {
        _snxlib_::CWaveWriter wave;
        const uint32_t frames = 5000;
        std::vector<int16_t> samples(2 * frames);
        for (size_t i = 0; i < samples.size(); ++i) samples[i] = int16_t(6000 * std::sin(0.013 * double(i)));
        if (wave.Open(dir / "in.wav", 2, 16000) != 1 || wave.Write(samples.data(), frames) != 1 || wave.Close() != 1 ||
            !writer.StageSound(dir / "in.wav", uint32_t(shape.sound_mode), 256)) {
            return false;
        }
    }
    return writer.FinishFrames() && writer.WriteMovie(out, PosixFileWriteOps());
}

inline std::vector<uint8_t> FileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
