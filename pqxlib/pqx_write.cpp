#include "pqxlib/pqx_write.h"

#include "pqxlib/zigzag.h"
#include "support/stdio_file.h"

#include <algorithm>
#include <cstring>

namespace _pqxlib_ {

namespace {

constexpr int32_t kMaxCodedMagnitude = kMaxCoefficientMagnitude;

int16_t ClampCoefficient(int32_t v) {
    return static_cast<int16_t>(std::clamp(v, -kMaxCodedMagnitude, kMaxCodedMagnitude));
}

}  // namespace

int32_t CPQXWrite::SetPicture(uint32_t width, uint32_t height, uint16_t format) {
    const int32_t colour = LayoutColourBits(FormatLayout(format));
    const int32_t alpha = FormatAlphaBits(format);
    if (colour < 0 || alpha < 0) return 0;
    uint16_t method = FormatMethod(format);
    if (!MethodKnown(method) || (colour == 0 && method != kMethodNull)) method = kMethodDiff;
    header_.width = width;
    header_.height = height;
    header_.format = static_cast<uint16_t>((format & ~kMethodMask) | method);
    header_.bits = static_cast<uint16_t>(colour + alpha);
    colour_bytes_ = static_cast<uint32_t>(colour) / 8;
    alpha_bits_ = static_cast<uint32_t>(alpha);
    return 1;
}

int32_t CPQXWrite::SetResolution(int32_t x, int32_t y) {
    header_.x_resolution = x;
    header_.y_resolution = y;
    return 1;
}

int32_t CPQXWrite::SetTrailer(const void* data, uint32_t size) {
    if (data == nullptr && size != 0) return 0;
    const auto* bytes = static_cast<const uint8_t*>(data);
    trailer_.assign(bytes, bytes + size);
    return 1;
}

int32_t CPQXWrite::SetRows(const uint8_t* const* rows) {
    rows_ = rows;
    return 1;
}

int32_t CPQXWrite::SetAlphaRows(const uint8_t* const* rows) {
    alpha_rows_ = rows;
    return 1;
}

void CPQXWrite::LoadBlock(uint32_t bx, uint32_t by, bool ycbcr) {
    int16_t* b = block_.data();
    const uint32_t stride = colour_bytes_ + (alpha_rows_ ? 0 : alpha_bits_ / 8);
    for (uint32_t r = 0; r < 8; ++r) {
        // Past the right or bottom edge the last pixel of the row, and then the
        // last row, repeat.
        const uint32_t y = std::min(by * 8 + r, header_.height - 1);
        const uint8_t* row = rows_[y];
        for (uint32_t c = 0; c < 8; ++c) {
            const uint32_t x = std::min(bx * 8 + c, header_.width - 1);
            const uint8_t* p = row + std::size_t{x} * stride;
            int16_t* out = b + BlockIndex(static_cast<int>(r), static_cast<int>(c), 0);
            const int32_t blue = p[0], green = p[1], red = p[2];
            if (ycbcr) {
                const int32_t luma = (2404 * green + 1224 * red + 466 * blue) >> 12;
                out[0] = static_cast<int16_t>(luma - 128);
                out[1] = static_cast<int16_t>(((blue - luma) * 2310 + 2048) >> 12);
                out[2] = static_cast<int16_t>(((red - luma) * 2920 + 2048) >> 12);
            } else {
                out[0] = static_cast<int16_t>(red);
                out[1] = static_cast<int16_t>(green);
                out[2] = static_cast<int16_t>(blue);
            }
            if (alpha_bits_ != 0) {
                out[3] = alpha_rows_ ? alpha_rows_[y][x] : p[colour_bytes_];
            } else {
                out[3] = 0;
            }
        }
    }
}

void CPQXWrite::LoadPlaneBlock(uint64_t index, int channel) {
    const uint64_t columns = (header_.width + 7) / 8;
    const uint32_t bx = static_cast<uint32_t>(index % columns);
    const uint32_t by = static_cast<uint32_t>(index / columns);
    const uint8_t* const* rows = rows_ ? rows_ : alpha_rows_;
    const uint32_t stride = rows_ ? header_.bits / 8 : 1;
    for (uint32_t r = 0; r < 8; ++r) {
        const uint32_t y = std::min(by * 8 + r, header_.height - 1);
        for (uint32_t c = 0; c < 8; ++c) {
            const uint32_t x = std::min(bx * 8 + c, header_.width - 1);
            block_[BlockIndex(static_cast<int>(r), static_cast<int>(c), channel)] =
                rows[y][std::size_t{x} * stride];
        }
    }
}

bool CPQXWrite::EncodeByteCode(BitStream& s) {
    const uint32_t columns = (header_.width + 7) / 8, block_rows = (header_.height + 7) / 8;
    const int channels = alpha_bits_ != 0 ? 4 : 3;
    for (uint32_t by = 0; by < block_rows; ++by) {
        for (uint32_t bx = 0; bx < columns; ++bx) {
            LoadBlock(bx, by, false);
            transform_->Forward(block_.data());
            for (int c = 0; c < channels; ++c) PutByteCodedValues(s, block_.data(), scans_[c]);
        }
    }
    transform_->Flush();
    return true;
}

bool CPQXWrite::EncodeHuffman(BitStream& s) {
    const uint32_t columns = (header_.width + 7) / 8, block_rows = (header_.height + 7) / 8;
    const std::size_t blocks = std::size_t{columns} * block_rows;
    const bool alpha = alpha_bits_ != 0;
    std::vector<int16_t> colour(blocks * 3 * 64);
    std::vector<int16_t> alpha_steps(alpha ? blocks * 64 : 0);
    std::size_t n = 0;
    for (uint32_t by = 0; by < block_rows; ++by) {
        int32_t previous[3] = {0, 0, 0};  // predictions restart on every block row
        int32_t previous_alpha = 0;
        for (uint32_t bx = 0; bx < columns; ++bx, ++n) {
            LoadBlock(bx, by, true);
            // Alpha is coded from its samples, losslessly: the transforms of
            // these methods are not exact, and a coded difference keeps only
            // 8 bits.
            if (alpha) {
                int16_t* steps = &alpha_steps[n * 64];
                int32_t last = 0;
                for (int j = 0; j < 64; ++j) {
                    const int32_t a = block_[4 * kZigZag[j] + 3];
                    steps[j] = static_cast<int16_t>(j == 0 ? a - previous_alpha : a - last);
                    if (j == 0) previous_alpha = a;
                    last = a;
                }
            }
            for (int j = 0; j < 64; ++j) block_[4 * j + 3] = 0;
            transform_->Forward(block_.data());
            for (int c = 0; c < 3; ++c) {
                int16_t* out = &colour[(n * 3 + c) * 64];
                for (int j = 0; j < 64; ++j) out[j] = ClampCoefficient(block_[scans_[c][j]]);
                // The prediction follows the value the decoder will rebuild, so
                // a difference cut to the coder's range costs one block, not
                // every block after it.
                out[0] = ClampCoefficient(block_[scans_[c][0]] - previous[c]);
                previous[c] += out[0];
            }
        }
    }
    transform_->Flush();
    if (!coder_.BuildAndWriteTableContiguous(&s, colour.data(), blocks * 3)) return false;
    uint8_t identity[64];
    for (int j = 0; j < 64; ++j) identity[j] = static_cast<uint8_t>(j);
    for (std::size_t i = 0; i < blocks; ++i) {
        for (int c = 0; c < 3; ++c) {
            if (!coder_.EncodeBlock(&colour[(i * 3 + c) * 64])) return false;
        }
        if (alpha) PutByteCodedValues(s, &alpha_steps[i * 64], identity);
    }
    return true;
}

bool CPQXWrite::EncodePlane(BitStream& s) {
    const uint64_t blocks = uint64_t{(header_.width + 7) / 8} * ((header_.height + 7) / 8);
    for (uint64_t first = 0; first < blocks; first += 4) {
        for (int c = 0; c < 4; ++c) {
            if (first + c < blocks) {
                LoadPlaneBlock(first + c, c);
            } else {
                for (int j = 0; j < 64; ++j) block_[4 * j + c] = 0;
            }
        }
        transform_->Forward(block_.data());
        for (int c = 0; c < 4; ++c) PutByteCodedValues(s, block_.data(), scans_[c]);
    }
    transform_->Flush();
    return true;
}

bool CPQXWrite::Ready() const {
    const bool plane = LayoutColourBits(FormatLayout(header_.format)) == 0;
    if (header_.width == 0 || header_.height == 0 || header_.bits == 0) return false;
    return rows_ != nullptr || (plane && alpha_rows_ != nullptr);
}

int32_t CPQXWrite::Write(std::FILE* file) {
    const bool plane = LayoutColourBits(FormatLayout(header_.format)) == 0;
    if (file == nullptr || !Ready()) return 0;
    const uint16_t method = FormatMethod(header_.format);
    if (!ChooseTransform(method)) return 0;

    uint8_t head[kPQXHeaderSize];
    header_.size = 0;
    header_.trailer_size = static_cast<uint32_t>(trailer_.size());
    WritePQXHeader(head, header_);
    if (std::fwrite(head, 1, sizeof head, file) != sizeof head) return 0;

    BitStream stream;
    BitStreamInit(stream, file);
    bool ok = plane ? EncodePlane(stream)
              : MethodUsesHuffman(method) ? EncodeHuffman(stream)
                                          : EncodeByteCode(stream);
    if (!ok) return 0;
    PutBits(stream, 0, 16);
    FlushBits(stream);
    if (stream.position > UINT32_MAX - kPQXHeaderSize) return 0;
    header_.size = kPQXHeaderSize + static_cast<uint32_t>(stream.position);
    if (!trailer_.empty() && std::fwrite(trailer_.data(), 1, trailer_.size(), file) != trailer_.size()) {
        return 0;
    }
    WritePQXHeader(head, header_);
    if (!SeekFile(file, 0, SEEK_SET) || std::fwrite(head, 1, sizeof head, file) != sizeof head) {
        return 0;
    }
    return std::fflush(file) == 0 && std::ferror(file) == 0 ? 1 : 0;
}

int32_t CPQXWrite::Save(const std::string& path) {
    // An empty picture must not clobber an existing file.
    if (!Ready()) return 0;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return 0;
    int32_t ok = Write(file);
    if (std::fclose(file) != 0) ok = 0;
    return ok;
}

}  // namespace _pqxlib_
