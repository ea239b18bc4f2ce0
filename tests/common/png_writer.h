#pragma once
// PNG files written in memory by libpng, for tests of our PNG readers. The
// samples vary in every direction (and with the seed), so every filter has
// work to do and no two pictures of one layout are alike.

#include <png.h>

#include <cstddef>
#include <cstdint>
#include <vector>

struct PngLayout {
    uint32_t width = 37;
    uint32_t height = 23;
    int colour = PNG_COLOR_TYPE_RGB;
    int bit_depth = 8;
    int seed = 0;
    int filters = PNG_ALL_FILTERS;
    int interlace = PNG_INTERLACE_NONE;
    std::size_t idat_size = 8192;  // the compressed data is split into chunks of this size
    bool text_after_data = false;
    int grain = 0;  // amplitude of noise on every sample, so the data compresses like a photograph's
    bool flat = false;  // one level under the grain instead of the pattern
};

inline int PngChannels(int colour) {
    switch (colour) {
    case PNG_COLOR_TYPE_GRAY: return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    default: return 4;
    }
}

inline void AppendPngBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

// The file, or nothing when libpng refused the layout.
inline std::vector<uint8_t> WritePng(const PngLayout& layout) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, AppendPngBytes, nullptr);
    png_set_IHDR(png, info, layout.width, layout.height, layout.bit_depth, layout.colour, layout.interlace,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, 0, layout.filters);
    png_set_compression_buffer_size(png, layout.idat_size);
    png_write_info(png, info);
    const std::size_t bytes = std::size_t(layout.width) * PngChannels(layout.colour) * (layout.bit_depth / 8);
    std::vector<std::vector<uint8_t>> rows(layout.height, std::vector<uint8_t>(bytes));
    std::vector<png_bytep> pointers;
    uint32_t noise = 0x9E3779B9u * uint32_t(layout.seed + 1);
    for (uint32_t y = 0; y < layout.height; ++y) {
        for (std::size_t i = 0; i < bytes; ++i) {
            int grain = 0;
            if (layout.grain > 0) {
                noise = noise * 1664525u + 1013904223u;
                grain = int((noise >> 16) % uint32_t(2 * layout.grain + 1)) - layout.grain;
            }
            const std::size_t pattern = layout.flat ? 0 : i * 29 + y * 53 + (i * y) / 3 + (i % 7) * (y % 5) * 11;
            rows[y][i] = uint8_t((pattern + layout.seed * 101 + grain) & 0xFF);
        }
        pointers.push_back(rows[y].data());
    }
    png_write_image(png, pointers.data());
    if (layout.text_after_data) {
        png_text text{};
        text.compression = PNG_TEXT_COMPRESSION_NONE;
        text.key = const_cast<char*>("Comment");
        text.text = const_cast<char*>("after the data");
        png_set_text(png, info, &text, 1);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}
