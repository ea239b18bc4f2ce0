#include "cli/rvxdec_thumbnail.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include <unistd.h>

#include "cli/rvxdec_output.h"
#include "container/rvx_layout.h"
#include "container/rvx_movie_decoder.h"
#include "container/rvx_reader.h"

using namespace rvx_layout;

namespace {

// Area averaging: every output pixel is the mean of the source area it
// covers, weighted by how much of each source pixel lies inside it. Exact
// for whole-number factors (a plain box mean), smooth for the others.
std::vector<uint8_t> ScaleDown(const uint8_t* bgra, size_t pitch, uint32_t width, uint32_t height,
                               uint32_t out_width, uint32_t out_height) {
    std::vector<uint8_t> out(size_t(out_width) * out_height * 4);
    const double sx = double(width) / out_width, sy = double(height) / out_height;
    for (uint32_t oy = 0; oy < out_height; ++oy) {
        const double y0 = oy * sy, y1 = y0 + sy;
        for (uint32_t ox = 0; ox < out_width; ++ox) {
            const double x0 = ox * sx, x1 = x0 + sx;
            double sum[4] = {0, 0, 0, 0}, area = 0;
            for (uint32_t y = uint32_t(y0); y < height && y < y1; ++y) {
                const double wy = std::min<double>(y + 1, y1) - std::max<double>(y, y0);
                const uint8_t* row = bgra + y * pitch;
                for (uint32_t x = uint32_t(x0); x < width && x < x1; ++x) {
                    const double w = wy * (std::min<double>(x + 1, x1) - std::max<double>(x, x0));
                    for (int c = 0; c < 4; ++c) sum[c] += w * row[4 * x + c];
                    area += w;
                }
            }
            uint8_t* pixel = &out[(size_t(oy) * out_width + ox) * 4];
            for (int c = 0; c < 4; ++c) pixel[c] = uint8_t(std::clamp(sum[c] / area + 0.5, 0.0, 255.0));
        }
    }
    return out;
}

}  // namespace

ThumbnailResult WriteThumbnail(const std::string& movie, const std::string& out, uint32_t size, std::string* error) {
    CRVXReader reader;
    if (!reader.Open(movie)) {
        *error = movie + ": not a readable RVX movie";
        return ThumbnailResult::kUnreadableMovie;
    }
    CRVXMovieDecoder decoder;
    uint32_t number = 0;
    const uint8_t* picture = decoder.Open(reader) ? decoder.NextPicture(&number) : nullptr;
    if (!picture) {
        *error = movie + ": the first picture cannot be decoded";
        return ThumbnailResult::kUnreadableMovie;
    }
    const uint32_t width = reader.Width(), height = reader.Height();
    _rvxlib_::CRVXShownPicture shown;
    if (!OpenShownPicture(reader, &shown)) {
        *error = movie + ": the picture format cannot be shown";
        return ThumbnailResult::kUnreadableMovie;
    }
    const uint8_t* bgra = shown.Convert(picture);

    // A picture that already fits is kept as it is; thumbnails never enlarge.
    const double scale = std::min(1.0, double(size) / std::max(width, height));
    const uint32_t out_width = std::max(1u, uint32_t(width * scale + 0.5));
    const uint32_t out_height = std::max(1u, uint32_t(height * scale + 0.5));
    std::vector<uint8_t> scaled = ScaleDown(bgra, shown.Pitch(), width, height, out_width, out_height);

    const std::string temporary = out + ".part" + std::to_string(::getpid());
    std::error_code ignored;
    const bool alpha = (reader.FormatFlags() & kFormatAlpha) != 0;
    if (!SavePng(temporary, scaled.data(), size_t(out_width) * 4, out_width, out_height, alpha)) {
        std::filesystem::remove(temporary, ignored);
        *error = out + ": cannot be written";
        return ThumbnailResult::kNotWritten;
    }
    std::filesystem::rename(temporary, out, ignored);
    if (ignored) {
        std::filesystem::remove(temporary, ignored);
        *error = out + ": cannot be written";
        return ThumbnailResult::kNotWritten;
    }
    return ThumbnailResult::kWritten;
}
