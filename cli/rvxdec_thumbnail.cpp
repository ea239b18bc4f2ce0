#include "cli/rvxdec_thumbnail.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include <unistd.h>

#include "cli/rvxdec_output.h"

namespace {

// Area averaging (the same for any order of the four channels): every output pixel is the mean of the source area it
// covers, weighted by how much of each source pixel lies inside it. Exact
// for whole-number factors (a plain box mean), smooth for the others.
std::vector<uint8_t> ScaleDown(const uint8_t* pixels, size_t pitch, uint32_t width, uint32_t height,
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
                const uint8_t* row = pixels + y * pitch;
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
    RvxSettings settings;
    rvx_default_settings(&settings);
    // Only the first picture is wanted: no decoding ahead. Strict, so that a
    // damaged movie shows what its first picture decoded to, as a file
    // manager always showed it.
    settings.threads = 1;
    settings.strict = 1;
    int status = 0;
    RvxMoviePtr decoder = OpenMovie(movie, settings, &status);
    RvxInfo info;
    if (!decoder || rvx_get_info(decoder.get(), &info) < 0) {
        *error = movie + ": not a readable RVX movie";
        return ThumbnailResult::kUnreadableMovie;
    }
    const uint32_t width = uint32_t(info.width), height = uint32_t(info.height);
    std::vector<uint8_t> rgba(size_t(width) * height * 4);
    status = rvx_read_picture(decoder.get(), rgba.data(), ptrdiff_t(width) * 4);
    // A damaged first picture still shows what decoded of it.
    if (status != 0 && status != RVX_ERROR_DAMAGED) {
        *error = movie + ": the first picture cannot be decoded";
        return ThumbnailResult::kUnreadableMovie;
    }

    // A picture that already fits is kept as it is; thumbnails never enlarge.
    const double scale = std::min(1.0, double(size) / std::max(width, height));
    const uint32_t out_width = std::max(1u, uint32_t(width * scale + 0.5));
    const uint32_t out_height = std::max(1u, uint32_t(height * scale + 0.5));
    std::vector<uint8_t> scaled = ScaleDown(rgba.data(), size_t(width) * 4, width, height, out_width, out_height);
    RgbaToBgra(scaled.data(), size_t(out_width) * out_height);

    const std::string temporary = out + ".part" + std::to_string(::getpid());
    std::error_code ignored;
    const bool alpha = info.has_alpha != 0;
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
