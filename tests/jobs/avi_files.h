#pragma once
// AVI files for the reader and job tests, made by the ffmpeg program from its
// moving test pattern and a tone.

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "common/test_movies.h"

struct AviRecipe {
    std::string video = "-c:v rawvideo -pix_fmt bgr24";  // empty: no video stream
    std::string sound;                                   // "-c:a pcm_u8" ...; empty: no sound
    int width = 32;
    int height = 24;
    std::string rate = "25";
    int frames = 6;
    double seconds = 1.0;  // of tone, cut where the pictures end
    int sample_rate = 44100;
};

// Writes the AVI and returns its path (empty when ffmpeg failed).
inline std::string MakeAvi(const TempDir& dir, const std::string& name, const AviRecipe& r) {
    const std::string path = dir / name;
    std::string args;
    if (r.video.empty())
        args = ToneInput(r.seconds, r.sample_rate) + " " + r.sound;
    else if (r.sound.empty())
        args = PatternInput(r.width, r.height, r.rate, r.frames) + " " + r.video;
    else  // the tone goes first: a frame limit after the pattern binds the output
        args = ToneInput(r.seconds, r.sample_rate) + " " + PatternInput(r.width, r.height, r.rate, r.frames) +
               " -map 1:v -map 0:a " + r.video + " " + r.sound;
    return RunFfmpeg(args + " " + ShellQuoted(path)) ? path : std::string();
}

// The pattern's pictures as ffmpeg sees them: top-down rows of B, G, R, A.
inline std::vector<uint8_t> PatternBgra(const TempDir& dir, const AviRecipe& r) {
    const std::string path = dir / "pattern.bgra";
    if (!RunFfmpeg(PatternInput(r.width, r.height, r.rate, r.frames) + " -f rawvideo -pix_fmt bgra " +
                   ShellQuoted(path)))
        return {};
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// What ffmpeg itself decodes from the file's sound, in a raw sample format
// ("u8", "s16le").
inline std::vector<uint8_t> DecodedSound(const TempDir& dir, const std::string& avi, const std::string& format) {
    const std::string path = dir / "sound.raw";
    if (!RunFfmpeg("-i " + ShellQuoted(avi) + " -vn -f " + format + " " + ShellQuoted(path))) return {};
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Replaces every `from` in the file's first 4 KB (its headers) by `to`.
inline void PatchHeaders(const std::string& path, const std::string& from, const std::string& to) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    std::string head(4096, '\0');
    f.read(head.data(), std::streamsize(head.size()));
    head.resize(size_t(f.gcount()));
    for (size_t at = head.find(from); at != std::string::npos; at = head.find(from, at + 1))
        head.replace(at, to.size(), to);
    f.clear();
    f.seekp(0);
    f.write(head.data(), std::streamsize(head.size()));
}

// Overwrites the data of the n-th (from 0) chunk with that id ("00dc" for
// pictures, "01wb" for sound) with zeros.
inline bool ZeroChunk(const std::string& path, const std::string& id, int n) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(f)), {});
    size_t at = bytes.find("movi");
    for (int i = 0; at != std::string::npos; ++i) {
        at = bytes.find(id, at + 4);
        if (at == std::string::npos || at + 8 > bytes.size() || at > bytes.rfind("idx1")) return false;
        const uint32_t size = uint8_t(bytes[at + 4]) | uint8_t(bytes[at + 5]) << 8 | uint8_t(bytes[at + 6]) << 16 |
                              uint32_t(uint8_t(bytes[at + 7])) << 24;
        if (i == n) {
            if (at + 8 + size > bytes.size()) return false;
            const std::string zeros(size, '\0');
            f.clear();
            f.seekp(std::streamoff(at + 8));
            f.write(zeros.data(), std::streamsize(zeros.size()));
            return bool(f);
        }
        at += 8 + size;
    }
    return false;
}

// Cuts the file, keeping that fraction of its bytes.
inline void Truncate(const std::string& path, double keep_fraction) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    in.close();
    bytes.resize(static_cast<size_t>(bytes.size() * keep_fraction));
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
}

// An MJPEG + PCM AVI whose header counts 40 pictures, cut in half: the
// pictures after the cut are gone. Empty when ffmpeg failed.
inline std::string MakeCutAvi(const TempDir& dir) {
    AviRecipe recipe;
    recipe.video = "-c:v mjpeg -q:v 3";
    recipe.sound = "-c:a pcm_s16le";
    recipe.frames = 40;
    recipe.seconds = 2;
    const std::string avi = MakeAvi(dir, "cut.avi", recipe);
    if (!avi.empty()) Truncate(avi, 0.5);
    return avi;
}

// "sound.avi": PCM sound and no picture stream. Empty when ffmpeg failed.
inline std::string MakeSoundOnlyAvi(const TempDir& dir) {
    AviRecipe tone;
    tone.video.clear();
    tone.sound = "-c:a pcm_s16le";
    return MakeAvi(dir, "sound.avi", tone);
}

// "unknown.avi": pictures under a codec nothing here knows. Empty when
// ffmpeg failed.
inline std::string MakeUndecodableAvi(const TempDir& dir) {
    AviRecipe unknown;
    unknown.video = "-c:v mjpeg";
    const std::string avi = MakeAvi(dir, "unknown.avi", unknown);
    if (!avi.empty()) PatchHeaders(avi, "MJPG", "QQQQ");
    return avi;
}

// 32x24 pictures at the rate whose colours tell their number, so that no
// two pictures of a short movie are alike.
inline std::string NumberedPictures(const std::string& rate) {
    return "-f lavfi -i \"nullsrc=size=32x24:rate=" + rate +
           ",format=gbrp,geq=r='mod(N*37,256)':g='mod(X*8+N,256)':b='Y*10'\"";
}

// The first `frames` numbered pictures as top-down rows of B, G, R, A.
inline std::vector<uint8_t> NumberedPicturesBgra(const TempDir& dir, const std::string& rate, int frames) {
    const std::string path = dir / "numbered.bgra";
    if (!RunFfmpeg(NumberedPictures(rate) + " -frames:v " + std::to_string(frames) + " -f rawvideo -pix_fmt bgra " +
                   ShellQuoted(path)))
        return {};
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Raw 24-bit numbered pictures (the first `frames` at the rate),
// keeping those the ffmpeg select expression over n keeps, with their own
// times: the AVI muxer writes an empty entry for every picture dropped
// between two kept ones. Optionally with PCM sound. Empty when ffmpeg
// failed.
inline std::string MakeGappyAvi(const TempDir& dir, const std::string& name, const std::string& rate, int frames,
                                const std::string& keep, bool sound = false) {
    const std::string path = dir / name;
    const std::string pattern = NumberedPictures(rate);
    const std::string filter = " -vf \"trim=end_frame=" + std::to_string(frames) + ",select='" + keep +
                               "'\" -fps_mode passthrough -c:v rawvideo -pix_fmt bgr24";
    std::string args = pattern + filter;
    if (sound)  // the tone goes second and is cut where the pictures end
        args = pattern + " " + ToneInput(60) + " -map 0:v -map 1:a -shortest" + filter + " -c:a pcm_s16le";
    return RunFfmpeg(args + " " + ShellQuoted(path)) ? path : std::string();
}

// Makes the n-th (from 0) picture entry that holds data an empty one, as a
// capture program writes it: an empty chunk, with the index entry's size 0;
// the picture's bytes after the empty chunk become padding.
inline bool EmptyPictureEntry(const std::string& path, int n) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(f)), {});
    auto u32 = [&](size_t at) {
        return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
               uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
    };
    const size_t movi = bytes.find("movi");
    const size_t index = bytes.rfind("idx1");
    if (movi == std::string::npos || index == std::string::npos || index + 8 > bytes.size()) return false;
    // The chunk: walk the movie list's chunks.
    bool chunk_done = false;
    for (size_t at = movi + 4, seen = 0; at + 8 <= index;) {
        const uint32_t size = u32(at + 4);
        if (bytes.compare(at, 4, "00dc") == 0 && size >= 8 && int(seen++) == n) {
            const uint32_t rest = size - 8;
            const char le[8] = {0, 0, 0, 0, char(rest & 0xFF), char(rest >> 8 & 0xFF), char(rest >> 16 & 0xFF),
                                char(rest >> 24)};
            bytes.replace(at + 4, 4, le, 4);
            bytes.replace(at + 8, 4, "JUNK");
            bytes.replace(at + 12, 4, le + 4, 4);
            chunk_done = true;
            break;
        }
        at += 8 + size + (size & 1);
    }
    // The index entry: 16 bytes of id, flags, offset and size.
    bool entry_done = false;
    const size_t entries = u32(index + 4) / 16;
    for (size_t e = 0, seen = 0; e < entries && index + 8 + 16 * (e + 1) <= bytes.size(); ++e) {
        const size_t at = index + 8 + 16 * e;
        if (bytes.compare(at, 4, "00dc") == 0 && u32(at + 12) > 0 && int(seen++) == n) {
            bytes.replace(at + 12, 4, std::string(4, '\0'));
            entry_done = true;
            break;
        }
    }
    if (!chunk_done || !entry_done) return false;
    f.clear();
    f.seekp(0);
    f.write(bytes.data(), std::streamsize(bytes.size()));
    return bool(f);
}

// The decoding times of the file's picture packets as ffprobe reads them
// (one unit per entry, empty entries have no packet).
inline std::vector<int64_t> PicturePacketTimes(const TempDir& dir, const std::string& avi) {
    const std::string list = dir / "packets.txt";
    const std::string command = "ffprobe -v error -select_streams v -show_entries packet=dts -of csv=p=0 " +
                                ShellQuoted(avi) + " > " + ShellQuoted(list);
    std::vector<int64_t> times;
    if (std::system(command.c_str()) != 0) return times;
    std::ifstream in(list);
    for (long long t; in >> t;) times.push_back(t);
    return times;
}
