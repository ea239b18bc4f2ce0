// Writes the fuzz targets' starting inputs with our own writers: small
// movies of every picture format and transform (and their frames in the
// frame decoder's input form), still images of every method, BMP and PNG
// files, sound files of every coded mode and WAVE files of every sample
// format the reader takes, and runs of image files for the image_run target
// (also made of any graphic_loader samples already in OUTPUT_DIR: scripts/fuzz
// writes the Python ones first).
//
//   fuzz_make_seeds OUTPUT_DIR    (makes OUTPUT_DIR/<target>/...)

#include <cmath>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "container/file_write_ops.h"
#include "container/rvx_encode.h"
#include "container/rvx_layout.h"
#include "container/rvx_reader.h"
#include "pqxlib/huffman.h"
#include "pqxlib/pqx_image_codec.h"
#include "pqxlib/pqx_write.h"
#include "snxlib/snx_encode.h"
#include "snxlib/wave_writer.h"
#include "support/bitstream.h"
#include "support/graphic_loader.h"
#include "support/pixel_format.h"
#include "tests/common/png_writer.h"
#include "tests/fuzz/image_run_framing.h"

namespace fs = std::filesystem;
using namespace rvx_layout;

namespace {

fs::path g_out;
bool g_ok = true;

void Fail(const std::string& what) {
    std::fprintf(stderr, "fuzz_make_seeds: %s\n", what.c_str());
    g_ok = false;
}

std::vector<uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void Save(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
    fs::create_directories(g_out / target);
    std::ofstream out(g_out / target / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void PutLE32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}
void PutLE16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}

std::vector<uint8_t> SourcePicture(uint32_t bytes, uint32_t width, uint32_t height, uint32_t frame) {
    const size_t stride = (size_t(width) * bytes + 3) & ~size_t(3);
    std::vector<uint8_t> picture(stride * height, 0);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* p = &picture[y * stride + x * bytes];
            const bool square = x >= 2 + frame && x < 10 + frame && y >= 3 && y < 11;
            p[0] = uint8_t(square ? 30 : 8 * x + frame);
            p[1] = uint8_t(square ? 220 : 5 * y + 3 * x);
            p[2] = uint8_t(square ? 90 : 128 + 40 * std::sin(0.3 * (x + y + frame)));
            if (bytes == 4) p[3] = uint8_t(255 - 6 * x);
        }
    }
    return picture;
}

bool WriteWave(const fs::path& path, uint16_t channels, uint32_t rate, uint32_t frames) {
    _snxlib_::CWaveWriter wave;
    if (wave.Open(path, channels, rate) != 1) return false;
    std::vector<int16_t> samples(size_t(frames) * channels);
    for (uint32_t i = 0; i < frames; ++i) {
        for (uint16_t c = 0; c < channels; ++c) {
            samples[size_t(i) * channels + c] = int16_t(8000 * std::sin(0.05 * i * (c + 1)) + 300 * ((i * 7) % 5));
        }
    }
    return wave.Write(samples.data(), frames) == 1 && wave.Close() == 1;
}

// The movie as the frame decoder target reads it.
std::vector<uint8_t> FrameDecoderInput(const fs::path& movie, uint8_t flags) {
    CRVXReader reader;
    std::vector<uint8_t> out;
    if (!reader.Open(movie)) return out;
    PutLE32(out, reader.FormatFlags());
    out.push_back(uint8_t(reader.Width() - 1));
    out.push_back(uint8_t(reader.Height() - 1));
    out.push_back(flags);
    out.insert(out.end(), reader.IntraMatrix(), reader.IntraMatrix() + kMatrixSize);
    out.insert(out.end(), reader.InterMatrix(), reader.InterMatrix() + kMatrixSize);
    std::vector<uint8_t> payload;
    for (size_t i = 0; i < reader.Frames().size(); ++i) {
        if (!reader.ReadPayload(i, payload) || payload.size() > 0xFFFF) return {};
        PutLE32(out, reader.Frames()[i].type);
        PutLE16(out, uint32_t(payload.size()));
        out.insert(out.end(), payload.begin(), payload.end());
    }
    return out;
}

void MakeMovies(const fs::path& work) {
    const uint32_t pictures[] = {kPictureYUV411,   kPictureYUV422,   kPictureYUV444,   kPictureRGB888,
                                 kPictureARGB8888, kPictureAYUV4444, kPictureAYUV4422, kPictureAYUV4411};
    const uint32_t transforms[] = {kTransformWordDct, kTransformWordDiff2D, kTransformWordDctNoDeblock};
    const uint32_t width = 20, height = 14, frames = 4;
    int n = 0;
    for (uint32_t picture : pictures) {
        for (uint32_t transform : transforms) {
            const uint32_t layout = (picture & kFormatAlpha) ? kSourceBGRA32 : kSourceBGR24;
            const bool sound = n == 0;
            CRVXEncode writer;
            writer.SetFrameRate(24, 1);
            writer.SetGopStructure(1, 1);
            writer.SetSceneChange(256);
            const uint16_t quality[4] = {12, 16, 20, uint16_t(n % 2)};
            writer.SetQuality(quality);
            writer.SetPicture(width, height, (layout << kFormatSourceShift) | transform | picture);
            writer.SetWorkDirectory(work);
            writer.SetFramePrefix(work / "rvxframe");
            if (!writer.Open()) {
                Fail("movie writer refused a format");
                continue;
            }
            for (uint32_t f = 0; f < frames; ++f) {
                writer.AddFrame(SourcePicture(layout == kSourceBGR24 ? 3 : 4, width, height, f).data());
            }
            if (sound) {
                WriteWave(work / "sound.wav", 1, 8000, 300);
                writer.StageSound(work / "sound.wav", 0x103, 64);
            }
            const fs::path movie = work / "movie.rvx";
            if (!writer.FinishFrames() || !writer.WriteMovie(movie, PosixFileWriteOps())) {
                Fail("a movie could not be written");
                continue;
            }
            char name[32];
            std::snprintf(name, sizeof name, "%02x-%05x.rvx", picture, transform);
            Save("rvx_reader", name, ReadAll(movie));
            Save("gst_playback", name, ReadAll(movie));
            Save("rvx_api", name, ReadAll(movie));
            Save("frame_decoder", std::string(name) + ".frames", FrameDecoderInput(movie, uint8_t(n & 3)));
            ++n;
        }
    }
}

void MakeHuffman(const fs::path& work) {
    for (int variant = 0; variant < 3; ++variant) {
        std::vector<int16_t> blocks(64 * 6, 0);
        for (size_t i = 0; i < blocks.size(); ++i) {
            const int position = int(i % 64);
            if (position < 10 + variant * 20) blocks[i] = int16_t(((i * 37) % 61 - 30) * (variant == 2 ? 60 : 1));
        }
        blocks[63] = 2047;
        std::FILE* file = std::fopen((work / "huffman").c_str(), "wb");
        if (!file) return Fail("cannot write a Huffman seed");
        BitStream writer;
        BitStreamInit(writer, file);
        _pqxlib_::CHuffmanCoder coder;
        bool ok = coder.BuildAndWriteTableContiguous(&writer, blocks.data(), 6) == 1;
        for (int b = 0; b < 6 && ok; ++b) ok = coder.EncodeBlock(blocks.data() + 64 * b) == 1;
        FlushBits(writer);
        std::fclose(file);
        if (!ok) return Fail("Huffman coder refused a seed");
        std::vector<uint8_t> bytes = {uint8_t(variant)};
        const std::vector<uint8_t> coded = ReadAll(work / "huffman");
        bytes.insert(bytes.end(), coded.begin(), coded.end());
        Save("huffman", "blocks" + std::to_string(variant), bytes);
    }
}

void MakeStillImages(const fs::path& work) {
    const uint32_t width = 19, height = 13;
    const uint16_t methods[] = {_pqxlib_::kMethodNull,    _pqxlib_::kMethodDiff,     _pqxlib_::kMethodHadamard,
                                _pqxlib_::kMethodDctLow,  _pqxlib_::kMethodDctHigh,  _pqxlib_::kMethodIntDct4,
                                _pqxlib_::kMethodFltDct8, _pqxlib_::kMethodIntDct8};
    const uint16_t layouts[] = {9, 9 | _pqxlib_::kAlpha8, 13 | _pqxlib_::kAlpha16, 10, _pqxlib_::kAlpha8};
    for (uint16_t method : methods) {
        for (uint16_t layout : layouts) {
            _pqxlib_::CPQXWrite writer;
            if (writer.SetPicture(width, height, uint16_t(method | layout)) != 1) continue;
            const uint32_t bytes = (writer.Header().bits + 7u) / 8u;
            std::vector<uint8_t> pixels = SourcePicture(4, width, height, method >> 10);
            std::vector<uint8_t> packed(size_t(width) * height * bytes + 8);
            std::vector<const uint8_t*> rows(height);
            for (uint32_t y = 0; y < height; ++y) {
                for (uint32_t x = 0; x < width * bytes; ++x) {
                    packed[size_t(y) * width * bytes + x] = pixels[size_t(y) * width * 4 + (x % (width * 4))];
                }
                rows[y] = packed.data() + size_t(y) * width * bytes;
            }
            writer.SetRows(rows.data());
            writer.SetTrailer("trailer", 7);
            if (writer.Save((work / "still.pqx").string()) != 1) {
                Fail("still image writer failed");
                continue;
            }
            char name[32];
            std::snprintf(name, sizeof name, "%04x.pqx", method | layout);
            const std::vector<uint8_t> file = ReadAll(work / "still.pqx");
            Save("pqx_read", name, file);
            if (layout == 9 || layout == (9 | _pqxlib_::kAlpha8)) Save("graphic_loader", name, file);
        }
    }
    // BMP and PNG through the loader's own writer.
    std::vector<uint8_t> pixels = SourcePicture(4, width, height, 1);
    for (uint32_t format : {uint32_t(PF_A8R8G8B8), uint32_t(PF_B8G8R8), uint32_t(PF_A8)}) {
        for (int32_t kind : {kSaveBMP, kSavePNG}) {
            SurfaceDesc surface;
            surface.format = format;
            surface.bits = pixels.data();
            surface.pitch = int32_t(width * 4);
            surface.width = int32_t(width);
            surface.height = int32_t(height);
            const fs::path path = work / "image";
            if (SaveSurface(kind, path.string(), surface, kind == kSavePNG ? "Title\0x" : nullptr,
                            kind == kSavePNG ? 1 : 0) != 1) {
                Fail("cannot save a sample image");
                continue;
            }
            Save("graphic_loader", std::string(kind == kSaveBMP ? "bmp" : "png") + std::to_string(format),
                 ReadAll(path));
        }
    }
}

void MakeSound(const fs::path& work) {
    const uint16_t modes[] = {0, 1, 64, 256, 257, 258, 259, 260};
    for (uint16_t channels : {1, 2}) {
        if (!WriteWave(work / "sound.wav", channels, 11025, 700)) return Fail("cannot write a WAVE file");
        if (channels == 1) Save("wave_reader", "pcm16.wav", ReadAll(work / "sound.wav"));
        for (uint16_t mode : modes) {
            _snxlib_::CSNXEncode encoder;
            encoder.SetMode(mode);
            encoder.SetBlockSize(mode == 1 || mode == 0 ? 100 : 128);
            if (channels == 2) encoder.SetExtraData("extra", 5);
            if (encoder.EncodeFile(work / "sound.wav", work / "sound.snx") != 1) {
                Fail("sound encoder failed for mode " + std::to_string(mode));
                continue;
            }
            Save("snx_decode", "mode" + std::to_string(mode) + "-" + std::to_string(channels) + ".snx",
                 ReadAll(work / "sound.snx"));
        }
    }
    // The sample formats the WAVE reader takes besides 16-bit PCM, by hand.
    struct Variant {
        const char* name;
        uint16_t tag, bits;
        bool extensible, junk;
    };
    const Variant variants[] = {{"pcm24.wav", 1, 24, false, true},
                                {"pcm32.wav", 1, 32, false, false},
                                {"float32.wav", 3, 32, false, false},
                                {"ext-pcm24.wav", 1, 24, true, false},
                                {"ext-float.wav", 3, 32, true, true}};
    for (const Variant& v : variants) {
        const uint16_t channels = 2, frames = 40;
        const uint32_t blockAlign = channels * v.bits / 8;
        std::vector<uint8_t> fmt;
        PutLE16(fmt, v.extensible ? 0xFFFE : v.tag);
        PutLE16(fmt, channels);
        PutLE32(fmt, 8000);
        PutLE32(fmt, 8000 * blockAlign);
        PutLE16(fmt, blockAlign);
        PutLE16(fmt, v.bits);
        if (v.extensible) {
            PutLE16(fmt, 22);
            PutLE16(fmt, v.bits);
            PutLE32(fmt, 3);
            const uint8_t guid[16] = {uint8_t(v.tag), 0,    0,    0,    0,    0,    0x10, 0,
                                      0x80,          0,    0,    0xAA, 0,    0x38, 0x9B, 0x71};
            fmt.insert(fmt.end(), guid, guid + 16);
        }
        std::vector<uint8_t> samples;
        for (uint32_t i = 0; i < uint32_t(frames) * channels; ++i) {
            const double value = std::sin(0.2 * i);
            if (v.tag == 3) {
                float f = float(value * 0.7);
                uint32_t word;
                std::memcpy(&word, &f, 4);
                PutLE32(samples, word);
            } else {
                const int64_t full = int64_t(value * 0.7 * double(int64_t(1) << (v.bits - 1)));
                for (uint32_t b = 0; b < v.bits / 8u; ++b) samples.push_back(uint8_t(uint64_t(full) >> (8 * b)));
            }
        }
        std::vector<uint8_t> body = {'W', 'A', 'V', 'E'};
        if (v.junk) {
            body.insert(body.end(), {'L', 'I', 'S', 'T'});
            PutLE32(body, 3);
            body.insert(body.end(), {'a', 'b', 'c', 0});
        }
        body.insert(body.end(), {'f', 'm', 't', ' '});
        PutLE32(body, uint32_t(fmt.size()));
        body.insert(body.end(), fmt.begin(), fmt.end());
        body.insert(body.end(), {'d', 'a', 't', 'a'});
        PutLE32(body, uint32_t(samples.size()));
        body.insert(body.end(), samples.begin(), samples.end());
        std::vector<uint8_t> file = {'R', 'I', 'F', 'F'};
        PutLE32(file, uint32_t(body.size()));
        file.insert(file.end(), body.begin(), body.end());
        Save("wave_reader", v.name, file);
    }
}

void MakeCommandLines() {
    const char* lines[][8] = {
        {"movie.rvx", "--json", nullptr},
        {"movie.rvx", "--frames", "out", "--y4m", "-", "--wav", "s.wav", nullptr},
        {"movie.rvx", "--idct", "int", "--compare", "src/img%04d.png", "--compare-start", "12", nullptr},
        {"--compare", "a%%b%3u.bmp", "m.rvx", "--idct", "float", nullptr},
    };
    int n = 0;
    for (const auto& line : lines) {
        std::vector<uint8_t> bytes;
        for (int i = 0; line[i]; ++i) {
            if (i) bytes.push_back(0);
            bytes.insert(bytes.end(), line[i], line[i] + std::strlen(line[i]));
        }
        Save("rvxdec_options", "args" + std::to_string(n++), bytes);
    }
}

// A BMP, PNG or still image of the picture through the loader's own writers.
std::vector<uint8_t> SavedImage(const fs::path& work, int32_t kind, uint32_t format, uint32_t width, uint32_t height,
                                uint32_t frame) {
    std::vector<uint8_t> pixels = SourcePicture(4, width, height, frame);
    SurfaceDesc surface;
    surface.format = format;
    surface.bits = pixels.data();
    surface.pitch = int32_t(width * 4);
    surface.width = int32_t(width);
    surface.height = int32_t(height);
    const fs::path path = work / "run-image";
    if (SaveSurface(kind, path.string(), surface, nullptr, 0) != 1) {
        Fail("cannot save an image of a run");
        return {};
    }
    return ReadAll(path);
}

std::vector<uint8_t> Png(uint32_t width, uint32_t height, int colour, std::size_t idat_size, int grain, int seed,
                         int depth = 8, int interlace = PNG_INTERLACE_NONE) {
    PngLayout layout;
    layout.width = width;
    layout.height = height;
    layout.colour = colour;
    layout.bit_depth = depth;
    layout.seed = seed;
    layout.interlace = interlace;
    layout.idat_size = idat_size;
    layout.grain = grain;
    std::vector<uint8_t> file = WritePng(layout);
    if (file.empty()) Fail("libpng refused a layout of a run");
    return file;
}

// The PNG with bytes of its first data chunk changed; its CRC then no longer
// fits, unless the run's framing repairs it.
std::vector<uint8_t> WithDamagedData(std::vector<uint8_t> file) {
    std::size_t at = 8;
    while (at + 12 <= file.size()) {
        const uint32_t length = uint32_t(file[at]) << 24 | uint32_t(file[at + 1]) << 16 |
                                uint32_t(file[at + 2]) << 8 | file[at + 3];
        if (std::memcmp(&file[at + 4], "IDAT", 4) == 0) {
            for (std::size_t i = at + 8 + length / 2; i < at + 8 + length; i += 7) file[i] ^= 0x5A;
            break;
        }
        at += std::size_t(length) + 12;
    }
    return file;
}

void SaveRun(const std::string& name, const std::vector<image_run::Part>& parts) {
    Save("image_run", name, image_run::Join(parts));
}

// Runs of files for one loader after another: pictures growing and
// shrinking, data split into many chunks or not, formats mixed, damaged files
// among good ones.
void MakeImageRuns(const fs::path& work) {
    _pqxlib_::InstallPQXImageCodec();
    constexpr int kRgb = PNG_COLOR_TYPE_RGB, kRgba = PNG_COLOR_TYPE_RGB_ALPHA;
    // Noisy pictures compress badly: the large ones gather well over 64 KiB
    // from their chunks, the small ones a few KiB. Most large ones are of
    // 160x160, which is enough and keeps the runs quick to decode.
    const std::vector<uint8_t> huge_split = Png(256, 256, kRgb, 4096, 60, 1);
    const std::vector<uint8_t> large_split = Png(160, 160, kRgb, 4096, 60, 2);
    const std::vector<uint8_t> large_whole = Png(160, 160, kRgb, 1 << 20, 60, 3);
    const std::vector<uint8_t> medium_rgba = Png(120, 90, kRgba, 2048, 50, 4);
    const std::vector<uint8_t> small_split = Png(16, 16, kRgba, 64, 60, 5);
    const std::vector<uint8_t> small_rgb_split = Png(48, 32, kRgb, 256, 40, 6);
    const std::vector<uint8_t> small_whole = Png(40, 30, kRgb, 8192, 30, 7);
    const std::vector<uint8_t> tiny = Png(3, 2, kRgba, 8192, 0, 8);
    const std::vector<uint8_t> grey = Png(33, 17, PNG_COLOR_TYPE_GRAY, 100, 20, 9);
    const std::vector<uint8_t> deep = Png(21, 9, kRgb, 300, 20, 10, 16);
    const std::vector<uint8_t> interlaced = Png(30, 20, kRgba, 200, 20, 11, 8, PNG_INTERLACE_ADAM7);
    const std::vector<uint8_t> bmp32 = SavedImage(work, kSaveBMP, PF_A8R8G8B8, 24, 18, 1);
    const std::vector<uint8_t> bmp24 = SavedImage(work, kSaveBMP, PF_B8G8R8, 61, 40, 2);
    const std::vector<uint8_t> bmp8 = SavedImage(work, kSaveBMP, PF_A8, 17, 5, 3);
    const std::vector<uint8_t> own_png = SavedImage(work, kSavePNG, PF_A8R8G8B8, 19, 13, 4);
    const std::vector<uint8_t> still = SavedImage(work, kSavePQX, PF_B8G8R8, 19, 13, 5);
    std::vector<uint8_t> truncated = small_rgb_split;
    truncated.resize(truncated.size() / 2);
    std::vector<uint8_t> bad_crc = small_whole;
    bad_crc[bad_crc.size() / 2] ^= 0xFF;
    const std::vector<uint8_t> bad_data = WithDamagedData(small_rgb_split);
    const uint8_t repair = image_run::kRepairCrcs;

    SaveRun("large-then-small", {{huge_split}, {small_split}});
    SaveRun("grow-and-shrink", {{large_split}, {small_split}, {medium_rgba}, {small_rgb_split}, {tiny},
                                {large_whole}, {small_split}});
    SaveRun("split-after-whole", {{large_whole}, {small_split}, {medium_rgba}, {small_rgb_split}});
    SaveRun("like-pictures", {{Png(64, 48, kRgb, 1000, 10, 12)}, {Png(64, 48, kRgb, 1000, 10, 13)},
                              {Png(64, 48, kRgb, 1000, 10, 14)}, {Png(64, 48, kRgb, 1000, 10, 15)},
                              {Png(64, 48, kRgb, 1000, 10, 16)}});
    SaveRun("damaged-in-the-middle", {{small_rgb_split}, {large_split}, {truncated}, {small_split}, {bad_crc},
                                      {small_whole}, {bad_data, repair}, {small_rgb_split}});
    SaveRun("formats-mixed", {{bmp32}, {large_split}, {bmp24}, {small_split}, {grey}, {bmp8}, {deep}, {interlaced}});
    SaveRun("writers-mixed", {{own_png}, {still}, {bmp24}, {small_whole}, {still}, {own_png, repair}, {bmp32}});
    SaveRun("libpng-and-quick", {{interlaced}, {small_split}, {deep}, {small_rgb_split}, {grey}, {tiny}});
    SaveRun("empty-and-junk", {{small_split}, {{}}, {small_whole}, {{'B', 'M'}}, {small_split}});

    // The BMP and PNG samples already there, eight to a run. Still images
    // (above) are few: each costs far more to decode, and a loader keeps
    // nothing of them for the next picture.
    std::vector<fs::path> samples;
    if (fs::is_directory(g_out / "graphic_loader")) {
        for (const fs::directory_entry& entry : fs::directory_iterator(g_out / "graphic_loader"))
            if (entry.is_regular_file() && entry.path().extension() != ".pqx") samples.push_back(entry.path());
    }
    std::sort(samples.begin(), samples.end());
    for (std::size_t first = 0; first < samples.size(); first += image_run::kMostFiles) {
        std::vector<image_run::Part> parts;
        for (std::size_t i = first; i < std::min(samples.size(), first + image_run::kMostFiles); ++i)
            parts.push_back({ReadAll(samples[i])});
        SaveRun("samples-" + std::to_string(first / image_run::kMostFiles), parts);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds OUTPUT_DIR\n");
        return 2;
    }
    g_out = argv[1];
    const fs::path work = g_out / "work";
    fs::create_directories(work);
    MakeMovies(work);
    MakeHuffman(work);
    MakeStillImages(work);
    MakeSound(work);
    MakeCommandLines();
    MakeImageRuns(work);
    fs::remove_all(work);
    return g_ok ? 0 : 1;
}
