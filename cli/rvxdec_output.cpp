#include "cli/rvxdec_output.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <system_error>
#include <vector>

#include "container/rvx_common.h"
#include "container/rvx_movie_decoder.h"
#include "rvxlib/color_space.h"
#include "snxlib/snx_decode.h"
#include "support/graphic_loader.h"
#include "support/pixel_format.h"

using namespace rvx_layout;
namespace fs = std::filesystem;

namespace {

constexpr double kIdenticalPsnr = 99.0;

// The pattern holds exactly one %d (optionally %0Nd); "%%" is a percent sign.
// Anything else is refused rather than handed to printf.
bool FormatNumbered(const std::string& pattern, uint32_t number, std::string* out) {
    std::string result;
    bool used = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            result += pattern[i];
            continue;
        }
        if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            result += '%';
            ++i;
            continue;
        }
        size_t j = i + 1;
        const bool zero = j < pattern.size() && pattern[j] == '0';
        unsigned width = 0;
        while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9' && width < 100) {
            width = width * 10 + unsigned(pattern[j] - '0');
            ++j;
        }
        if (used || j >= pattern.size() || (pattern[j] != 'd' && pattern[j] != 'u') || width > 20) return false;
        std::string digits = std::to_string(number);
        if (digits.size() < width) digits.insert(0, width - digits.size(), zero ? '0' : ' ');
        result += digits;
        used = true;
        i = j;
    }
    if (!used) return false;
    *out = result;
    return true;
}

// Closes a stream we opened; standard output stays open.
struct OutputStream {
    std::FILE* file = nullptr;
    bool owned = false;
    ~OutputStream() {
        if (owned && file) std::fclose(file);
    }
    bool Close() {
        bool ok = file && std::fflush(file) == 0 && !std::ferror(file);
        if (owned && file && std::fclose(file) != 0) ok = false;
        file = nullptr;
        return ok;
    }
};

// Studio-range BT.601, the colour space a YUV4MPEG2 reader assumes.
void WriteY4mFrame(std::FILE* out, const uint8_t* bgra, size_t pitch, uint32_t width, uint32_t height,
                   std::vector<uint8_t>& planes) {
    const size_t area = size_t(width) * height;
    planes.resize(area * 3);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = bgra + y * pitch;
        for (uint32_t x = 0; x < width; ++x) {
            const int b = row[4 * x], g = row[4 * x + 1], r = row[4 * x + 2];
            const size_t i = size_t(y) * width + x;
            planes[i] = uint8_t(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
            planes[area + i] = uint8_t(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
            planes[2 * area + i] = uint8_t(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
        }
    }
    std::fputs("FRAME\n", out);
    std::fwrite(planes.data(), 1, planes.size(), out);
}


double PsnrOf(double mse) { return mse == 0 ? kIdenticalPsnr : 10.0 * std::log10(255.0 * 255.0 / mse); }

// Reads a source picture as B, G, R, A rows; a grey picture becomes equal
// R, G, B as the encoder saw it, and a picture without alpha is opaque.
bool LoadSource(const std::string& path, uint32_t width, uint32_t height, std::vector<uint8_t>& bgra,
                bool* hasAlpha) {
    CGraphicLoader loader;
    int32_t w = 0, h = 0, bits = 0;
    if (loader.LoadFile(path) != 1 || loader.GetSize(&w, &h) != 1 || loader.GetBitCount(&bits) != 1 ||
        uint32_t(w) != width || uint32_t(h) != height) {
        return false;
    }
    const size_t area = size_t(width) * height;
    bgra.assign(area * 4, 0);
    SurfaceDesc surface;
    surface.width = w;
    surface.height = h;
    if (bits == 8) {
        std::vector<uint8_t> grey(area);
        surface.format = PF_A8;
        surface.bits = grey.data();
        surface.pitch = int32_t(width);
        if (loader.CopyTo(&surface) != 1) return false;
        for (size_t i = 0; i < area; ++i) {
            bgra[4 * i] = bgra[4 * i + 1] = bgra[4 * i + 2] = grey[i];
            bgra[4 * i + 3] = 255;
        }
        *hasAlpha = false;
        return true;
    }
    surface.format = PF_A8R8G8B8;
    surface.bits = bgra.data();
    surface.pitch = int32_t(width * 4);
    if (loader.CopyTo(&surface) != 1) return false;
    *hasAlpha = bits == 32;
    if (!*hasAlpha) {
        for (size_t i = 0; i < area; ++i) bgra[4 * i + 3] = 255;
    }
    return true;
}

// Mean squared error per channel against a source picture: R, G and B, and
// alpha as a fourth channel when either side has one (a side without alpha
// counts as opaque). These are the planes a planar-RGB PSNR tool measures
// when handed the PNG files --frames writes and the source pictures. False
// when the source cannot be read or has another size.
bool ComparePicture(const std::string& sourcePath, const uint8_t* bgra, size_t pitch, uint32_t width,
                    uint32_t height, bool movieAlpha, std::vector<uint8_t>& source, double* mse) {
    bool sourceAlpha = false;
    if (!LoadSource(sourcePath, width, height, source, &sourceAlpha)) return false;
    const bool alpha = movieAlpha || sourceAlpha;
    uint64_t sum = 0;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* decoded = bgra + y * pitch;
        const uint8_t* original = source.data() + size_t(y) * width * 4;
        for (uint32_t x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                const int d = int(decoded[4 * x + c]) - original[4 * x + c];
                sum += uint64_t(d * d);
            }
            if (alpha) {
                const int d = (movieAlpha ? int(decoded[4 * x + 3]) : 255) - original[4 * x + 3];
                sum += uint64_t(d * d);
            }
        }
    }
    *mse = double(sum) / ((alpha ? 4.0 : 3.0) * width * height);
    return true;
}

}  // namespace

bool SavePng(const fs::path& path, uint8_t* bgra, size_t pitch, uint32_t width, uint32_t height, bool alpha) {
    SurfaceDesc surface;
    surface.format = alpha ? PF_A8R8G8B8 : PF_X8R8G8B8;
    surface.bits = bgra;
    surface.pitch = int32_t(pitch);
    surface.width = int32_t(width);
    surface.height = int32_t(height);
    return SaveSurface(kSavePNG, path.string(), surface, nullptr, 0) == 1;
}

bool CShownPicture::Open(const CRVXReader& reader) {
    const uint32_t back = (kSourceBGRA32 << kFormatSourceShift) | reader.FormatFlags();
    if (!converter_.SetupCodec(true, reader.Width(), reader.Height(), back)) return false;
    pitch_ = converter_.ColourConverter()->SourcePitch();
    bgra_.assign(pitch_ * reader.Height(), 0);
    return true;
}

uint8_t* CShownPicture::Convert(const uint8_t* picture) {
    converter_.ColourConverter()->ConvertPictureBack(picture, bgra_.data());
    return bgra_.data();
}

bool WantsPictures(const DecodeRequest& request) {
    return !request.framesDirectory.empty() || !request.y4mPath.empty() || !request.comparePattern.empty();
}

DecodeResult DecodePictures(CRVXReader& reader, const DecodeRequest& request) {
    DecodeResult result;
    auto fail = [&](std::string why) {
        if (result.ok) result.error = std::move(why);
        result.ok = false;
        return result;
    };
    CRVXMovieDecoder decoder;
    if (!decoder.Open(reader, request.inverse)) return fail("the movie's pictures cannot be decoded");
    const uint32_t width = reader.Width(), height = reader.Height();
    const bool alpha = (reader.FormatFlags() & kFormatAlpha) != 0;
    CShownPicture shown;
    if (!shown.Open(reader)) return fail("the picture format cannot be shown");
    const size_t pitch = shown.Pitch();

    if (!request.framesDirectory.empty()) {
        std::error_code error;
        fs::create_directories(request.framesDirectory, error);
        if (!fs::is_directory(request.framesDirectory)) {
            return fail("cannot create " + request.framesDirectory.string());
        }
    }
    OutputStream y4m;
    if (!request.y4mPath.empty()) {
        if (request.y4mPath == "-") {
            y4m.file = stdout;
        } else {
            y4m.file = std::fopen(request.y4mPath.c_str(), "wb");
            y4m.owned = y4m.file != nullptr;
        }
        if (!y4m.file) return fail("cannot create " + request.y4mPath);
        // A rate with a zero term is unknown to a stream reader, written 0:0.
        const bool rateKnown = reader.RateNumerator() != 0 && reader.RateDenominator() != 0;
        std::fprintf(y4m.file, "YUV4MPEG2 W%u H%u F%u:%u Ip A1:1 C444 XCOLORRANGE=LIMITED\n", width, height,
                     rateKnown ? reader.RateNumerator() : 0, rateKnown ? reader.RateDenominator() : 0);
    }
    int32_t compareStart = request.compareStart;
    if (!request.comparePattern.empty()) {
        std::string first;
        if (!FormatNumbered(request.comparePattern, 0, &first)) {
            return fail("the compare pattern needs exactly one %d and no other % conversion");
        }
        if (compareStart < 0) compareStart = fs::exists(first) ? 0 : 1;
    }

    std::vector<uint8_t> planes, source;
    double mseSum = 0;
    uint32_t number = 0;
    while (const uint8_t* picture = decoder.NextPicture(&number)) {
        ++result.framesDecoded;
        uint8_t* bgra = shown.Convert(picture);
        if (y4m.file) WriteY4mFrame(y4m.file, bgra, pitch, width, height, planes);
        if (!request.framesDirectory.empty() && result.ok) {
            char name[32];
            std::snprintf(name, sizeof name, "frame%06u.png", number);
            if (!SavePng(request.framesDirectory / name, bgra, pitch, width, height, alpha)) {
                fail("cannot write " + (request.framesDirectory / name).string());
            }
        }
        if (!request.comparePattern.empty()) {
            std::string sourcePath;
            FormatNumbered(request.comparePattern, number + uint32_t(compareStart), &sourcePath);
            double mse = 0;
            if (ComparePicture(sourcePath, bgra, pitch, width, height, alpha, source, &mse)) {
                const double psnr = PsnrOf(mse);
                mseSum += mse;
                result.framePsnr.push_back(psnr);
                result.psnrMin = result.framesCompared == 0 ? psnr : std::min(result.psnrMin, psnr);
                ++result.framesCompared;
            } else if (result.ok) {
                fail("cannot compare with " + sourcePath + " (missing, unreadable or another size)");
            }
        }
    }
    result.damagedFrames = decoder.DamagedFrames();
    // The mean error, not the mean of the per-picture figures, so that one
    // identical picture (99 dB) cannot lift the figure of a poor movie.
    if (result.framesCompared > 0) result.psnrMean = PsnrOf(mseSum / result.framesCompared);
    if (y4m.file && !y4m.Close()) fail("cannot write " + request.y4mPath);
    return result;
}

bool DecodeSoundToWave(CRVXReader& reader, const fs::path& path, const fs::path& movie, std::string* error) {
    if (!reader.HasSound()) {
        *error = "the movie has no sound";
        return false;
    }
    _snxlib_::CSNXDecode sound;
    if (sound.Open(movie, reader.SoundOffset(), reader.SoundLength()) != 1) {
        *error = "the sound track cannot be decoded";
        return false;
    }
    if (_snxlib_::DecodeToWave(sound, path) != 1) {
        *error = "the sound could not be decoded completely into " + path.string();
        return false;
    }
    return true;
}
