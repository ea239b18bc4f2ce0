#include "cli/rvxdec_output.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <system_error>
#include <vector>

#include "snxlib/wave_writer.h"
#include "support/graphic_loader.h"
#include "support/pixel_format.h"

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

// Notes the first failure of a decoding; later ones leave it.
void NoteFailure(DecodeResult& result, std::string why) {
    if (result.ok) result.error = std::move(why);
    result.ok = false;
}

// Where decoded pictures go: PNG files, a YUV4MPEG2 stream, and the
// comparison with the source pictures.
class PictureOutputs {
public:
    PictureOutputs(const RvxInfo& info, const DecodeRequest& request, DecodeResult& result)
        : info_(info), request_(request), result_(result), width_(uint32_t(info.width)),
          height_(uint32_t(info.height)), alpha_(info.has_alpha != 0) {}

    // Creates the folder and the stream and checks the compare pattern;
    // false once a failure is noted.
    bool Open() { return OpenFrames() && OpenY4m() && OpenCompare(); }
    void Take(uint32_t number, uint8_t* bgra, size_t pitch) {
        ++result_.framesDecoded;
        if (y4m_.file) WriteY4mFrame(y4m_.file, bgra, pitch, width_, height_, planes_);
        if (!request_.framesDirectory.empty() && result_.ok) SaveFrame(number, bgra, pitch);
        if (!request_.comparePattern.empty()) Compare(number, bgra, pitch);
    }
    void Finish() {
        // The mean error, not the mean of the per-picture figures, so that one
        // identical picture (99 dB) cannot lift the figure of a poor movie.
        if (result_.framesCompared > 0) result_.psnrMean = PsnrOf(mseSum_ / result_.framesCompared);
        if (y4m_.file && !y4m_.Close()) NoteFailure(result_, "cannot write " + request_.y4mPath);
    }

private:
    bool Fail(std::string why) {
        NoteFailure(result_, std::move(why));
        return false;
    }
    bool OpenFrames() {
        if (request_.framesDirectory.empty()) return true;
        std::error_code error;
        fs::create_directories(request_.framesDirectory, error);
        return fs::is_directory(request_.framesDirectory) || Fail("cannot create " + request_.framesDirectory.string());
    }
    bool OpenY4m() {
        if (request_.y4mPath.empty()) return true;
        if (request_.y4mPath == "-") {
            y4m_.file = stdout;
        } else {
            y4m_.file = std::fopen(request_.y4mPath.c_str(), "wb");
            y4m_.owned = y4m_.file != nullptr;
        }
        if (!y4m_.file) return Fail("cannot create " + request_.y4mPath);
        // A rate with a zero term is unknown to a stream reader, written 0:0.
        const bool rateKnown = info_.rate_num != 0 && info_.rate_den != 0;
        std::fprintf(y4m_.file, "YUV4MPEG2 W%u H%u F%d:%d Ip A1:1 C444 XCOLORRANGE=LIMITED\n", width_, height_,
                     rateKnown ? info_.rate_num : 0, rateKnown ? info_.rate_den : 0);
        return true;
    }
    bool OpenCompare() {
        compareStart_ = request_.compareStart;
        if (request_.comparePattern.empty()) return true;
        std::string first;
        if (!FormatNumbered(request_.comparePattern, 0, &first)) {
            return Fail("the compare pattern needs exactly one %d and no other % conversion");
        }
        if (compareStart_ < 0) compareStart_ = fs::exists(first) ? 0 : 1;
        return true;
    }
    void SaveFrame(uint32_t number, uint8_t* bgra, size_t pitch) {
        char name[32];
        std::snprintf(name, sizeof name, "frame%06u.png", number);
        if (!SavePng(request_.framesDirectory / name, bgra, pitch, width_, height_, alpha_)) {
            NoteFailure(result_, "cannot write " + (request_.framesDirectory / name).string());
        }
    }
    void Compare(uint32_t number, const uint8_t* bgra, size_t pitch) {
        std::string sourcePath;
        FormatNumbered(request_.comparePattern, number + uint32_t(compareStart_), &sourcePath);
        double mse = 0;
        if (!ComparePicture(sourcePath, bgra, pitch, width_, height_, alpha_, source_, &mse)) {
            if (result_.ok) NoteFailure(result_, "cannot compare with " + sourcePath + " (missing, unreadable or another size)");
            return;
        }
        const double psnr = PsnrOf(mse);
        mseSum_ += mse;
        result_.framePsnr.push_back(psnr);
        result_.psnrMin = result_.framesCompared == 0 ? psnr : std::min(result_.psnrMin, psnr);
        ++result_.framesCompared;
    }

    const RvxInfo& info_;
    const DecodeRequest& request_;
    DecodeResult& result_;
    const uint32_t width_, height_;
    const bool alpha_;
    OutputStream y4m_;
    int32_t compareStart_ = -1;
    std::vector<uint8_t> planes_, source_;
    double mseSum_ = 0;
};

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

RvxMoviePtr OpenMovie(const std::string& path, const RvxSettings& settings, int* status) {
    RvxMovie* movie = nullptr;
    *status = rvx_open_file(&movie, path.c_str(), &settings);
    return RvxMoviePtr(movie);
}

void RgbaToBgra(uint8_t* pixels, size_t count) {
    for (size_t i = 0; i < count; ++i) std::swap(pixels[4 * i], pixels[4 * i + 2]);
}

bool WantsPictures(const DecodeRequest& request) {
    return !request.framesDirectory.empty() || !request.y4mPath.empty() || !request.comparePattern.empty();
}

DecodeResult DecodePictures(const std::string& movie, const DecodeRequest& request) {
    DecodeResult result;
    RvxSettings settings;
    rvx_default_settings(&settings);
    // Strict: a damaged picture is reported (and still written as far as it
    // decoded). Salvaging, it is skipped and the picture before stands in.
    settings.strict = request.salvage ? 0 : 1;
    settings.integer_idct = request.integerIdct;
    int status = 0;
    RvxMoviePtr decoder = OpenMovie(movie, settings, &status);
    RvxInfo info;
    if (!decoder || rvx_get_info(decoder.get(), &info) < 0) {
        NoteFailure(result, "the movie's pictures cannot be decoded");
        return result;
    }
    PictureOutputs outputs(info, request, result);
    if (!outputs.Open()) return result;
    const size_t pitch = size_t(info.width) * 4;
    std::vector<uint8_t> pixels(pitch * size_t(info.height));
    while ((status = rvx_read_picture(decoder.get(), pixels.data(), ptrdiff_t(pitch))) != RVX_END) {
        if (status < 0 && status != RVX_ERROR_DAMAGED) {
            NoteFailure(result, std::string("decoding stopped: ") + rvx_error_text(status));
            break;
        }
        RvxPictureInfo picture;
        rvx_get_picture_info(decoder.get(), &picture);
        if (picture.damaged) ++result.damagedFrames;
        RgbaToBgra(pixels.data(), size_t(info.width) * size_t(info.height));
        outputs.Take(uint32_t(picture.frame), pixels.data(), pitch);
    }
    outputs.Finish();
    return result;
}

bool DecodeSoundToWave(const std::string& movie, const fs::path& path, bool salvage, uint64_t* frames,
                       std::string* error) {
    *frames = 0;
    RvxSettings settings;
    rvx_default_settings(&settings);
    settings.strict = salvage ? 0 : 1;
    int status = 0;
    RvxMoviePtr decoder = OpenMovie(movie, settings, &status);
    RvxInfo info;
    status = decoder ? rvx_seek_sound(decoder.get(), 0) : status;
    if (status == RVX_ERROR_NO_SOUND) {
        *error = "the movie has no sound";
        return false;
    }
    if (status < 0 || rvx_get_info(decoder.get(), &info) < 0) {
        *error = "the sound track cannot be decoded";
        return false;
    }
    _snxlib_::CWaveWriter writer;
    bool ok = writer.Open(path, uint16_t(info.sound_channels), uint32_t(info.sound_rate)) == 1;
    std::vector<int16_t> samples(size_t(4096) * size_t(info.sound_channels));
    while (ok) {
        const int64_t got = rvx_read_sound(decoder.get(), samples.data(), 4096);
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        ok = writer.Write(samples.data(), uint32_t(got)) == 1;
        *frames += uint64_t(got);
    }
    if (writer.Close() != 1) ok = false;
    if (!ok) *error = "the sound could not be decoded completely into " + path.string();
    return ok;
}
