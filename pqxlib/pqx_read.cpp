#include "pqxlib/pqx_read.h"

#include "pqxlib/zigzag.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace _pqxlib_ {

namespace {

// The fewest bits any coded block can take: a byte-coded channel is at least
// its 19-bit end code, a Huffman-coded one at least a 1-bit code.
constexpr uint64_t kMinByteCodedBits = 19;
constexpr uint64_t kMinHuffmanBits = 1;
constexpr uint64_t kHuffmanTableMinBits = kHuffmanSymbolCount;

uint8_t ClampToByte(int32_t v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

}  // namespace

int32_t CPQXRead::Check(const void* data, std::size_t size) {
    data_ = nullptr;
    size_ = 0;
    header_ = PQXHeader{};
    if (data == nullptr || size < kPQXHeaderSize) return 0;
    const auto* bytes = static_cast<const uint8_t*>(data);
    PQXHeader h;
    ReadPQXHeader(h, bytes);
    std::memcpy(header_.magic, h.magic, 4);
    if (std::memcmp(h.magic, "PQXF", 4) != 0 || size < h.size || h.size < kPQXHeaderSize) return 0;

    const int32_t colour = LayoutColourBits(FormatLayout(h.format));
    const int32_t alpha = FormatAlphaBits(h.format);
    const uint16_t method = FormatMethod(h.format);
    if (colour < 0 || alpha < 0 || (colour == 0 && alpha == 0)) return 0;
    // Rows are laid out from the bit count, the decoder writes by the format
    // word: the two must agree.
    if (h.bits != colour + alpha) return 0;
    if (!MethodKnown(method)) return 0;
    if (colour == 0 && method != kMethodNull && method != kMethodDiff) return 0;
    if (h.width == 0 || h.height == 0 || h.width > INT32_MAX || h.height > INT32_MAX) return 0;

    // A header may announce any size; the coded data must at least hold the
    // shortest possible code of every block before anything is allocated.
    const uint64_t blocks = uint64_t{(h.width + 7) / 8} * ((h.height + 7) / 8);
    uint64_t least = 0;
    if (colour == 0) {
        least = (blocks + 3) / 4 * 4 * kMinByteCodedBits;
    } else if (MethodUsesHuffman(method)) {
        least = kHuffmanTableMinBits + blocks * (3 * kMinHuffmanBits + (alpha ? kMinByteCodedBits : 0));
    } else {
        least = blocks * ((alpha ? 4 : 3) * kMinByteCodedBits);
    }
    if (least > uint64_t{h.size - kPQXHeaderSize} * 8) return 0;

    header_ = h;
    data_ = bytes;
    size_ = size;
    colour_bytes_ = static_cast<uint32_t>(colour) / 8;
    alpha_bits_ = static_cast<uint32_t>(alpha);
    return 1;
}

int32_t CPQXRead::GetInfo(int32_t* width, int32_t* height, int32_t* bits) const {
    if (width) *width = static_cast<int32_t>(header_.width);
    if (height) *height = static_cast<int32_t>(header_.height);
    if (bits) *bits = header_.bits;
    return data_ != nullptr ? 1 : 0;
}

int32_t CPQXRead::SetRows(uint8_t* const* rows) {
    rows_ = rows;
    return 1;
}

int32_t CPQXRead::SetAlphaRows(uint8_t* const* rows) {
    alpha_rows_ = rows;
    return 1;
}

const uint8_t* CPQXRead::Trailer(uint32_t* size) const {
    if (data_ == nullptr || header_.trailer_size > size_ - header_.size) return nullptr;
    if (size) *size = header_.trailer_size;
    return data_ + header_.size;
}

void CPQXRead::StoreBlock(uint32_t bx, uint32_t by, bool ycbcr, const int16_t* alpha) {
    const int16_t* b = block_.data();
    const uint32_t stride = colour_bytes_ + (alpha_rows_ ? 0 : alpha_bits_ / 8);
    const uint32_t rows = std::min<uint32_t>(8, header_.height - by * 8);
    const uint32_t columns = std::min<uint32_t>(8, header_.width - bx * 8);
    for (uint32_t r = 0; r < rows; ++r) {
        const uint32_t y = by * 8 + r;
        for (uint32_t c = 0; c < columns; ++c) {
            const uint32_t x = bx * 8 + c;
            uint8_t* p = rows_[y] + std::size_t{x} * stride;
            const int16_t* v = b + BlockIndex(static_cast<int>(r), static_cast<int>(c), 0);
            if (alpha_bits_ != 0) {
                const uint8_t a = static_cast<uint8_t>(alpha ? alpha[8 * r + c] : v[3]);
                if (alpha_rows_) alpha_rows_[y][x] = a;
                else p[colour_bytes_] = a;
            }
            if (ycbcr) {
                const int32_t y0 = v[0], u = v[1], w = v[2];
                const int32_t level = 4096 * y0 + 526336;
                p[0] = ClampToByte((7098 * u + level) >> 12);
                p[1] = ClampToByte(y0 - ((2913 * w + 1410 * u - 526337) >> 12) - 1);
                p[2] = ClampToByte((5745 * w + level) >> 12);
            } else {
                p[0] = static_cast<uint8_t>(v[2]);
                p[1] = static_cast<uint8_t>(v[1]);
                p[2] = static_cast<uint8_t>(v[0]);
            }
        }
    }
}

bool CPQXRead::DecodeByteCode(BitStream& s) {
    const uint32_t columns = (header_.width + 7) / 8, block_rows = (header_.height + 7) / 8;
    const int channels = alpha_bits_ != 0 ? 4 : 3;
    for (uint32_t by = 0; by < block_rows; ++by) {
        for (uint32_t bx = 0; bx < columns; ++bx) {
            for (int c = 0; c < channels; ++c) {
                if (!GetByteCodedValues(s, block_.data(), scans_[c])) return false;
            }
            transform_->Inverse(block_.data());
            StoreBlock(bx, by, false, nullptr);
        }
    }
    transform_->Flush();
    return true;
}

bool CPQXRead::DecodeHuffman(BitStream& s) {
    if (!coder_.ReadTable(&s)) return false;
    const uint32_t columns = (header_.width + 7) / 8, block_rows = (header_.height + 7) / 8;
    const bool alpha = alpha_bits_ != 0;
    uint8_t identity[64];
    for (int j = 0; j < 64; ++j) identity[j] = static_cast<uint8_t>(j);
    int16_t steps[64];
    int16_t samples[64];
    for (uint32_t by = 0; by < block_rows; ++by) {
        int32_t previous[3] = {0, 0, 0};
        int32_t previous_alpha = 0;
        for (uint32_t bx = 0; bx < columns; ++bx) {
            for (int c = 0; c < 3; ++c) {
                if (!coder_.DecodeBlock(block_.data(), scans_[c])) return false;
                int16_t& dc = block_[scans_[c][0]];
                previous[c] = static_cast<int16_t>(dc + previous[c]);
                dc = static_cast<int16_t>(previous[c]);
            }
            for (int j = 0; j < 64; ++j) block_[4 * j + 3] = 0;
            if (alpha) {
                if (!GetByteCodedValues(s, steps, identity)) return false;
                int32_t a = 0;
                for (int j = 0; j < 64; ++j) {
                    a = (j == 0 ? steps[0] + previous_alpha : a + steps[j]) & 0xFF;
                    if (j == 0) previous_alpha = a;
                    samples[kZigZag[j]] = static_cast<int16_t>(a);
                }
            }
            transform_->Inverse(block_.data());
            StoreBlock(bx, by, true, alpha ? samples : nullptr);
        }
    }
    transform_->Flush();
    return true;
}

bool CPQXRead::DecodePlane(BitStream& s) {
    const uint64_t columns = (header_.width + 7) / 8;
    const uint64_t blocks = columns * ((header_.height + 7) / 8);
    uint8_t* const* rows = rows_ ? rows_ : alpha_rows_;
    const uint32_t stride = rows_ ? header_.bits / 8 : 1;
    for (uint64_t first = 0; first < blocks; first += 4) {
        for (int c = 0; c < 4; ++c) {
            if (!GetByteCodedValues(s, block_.data(), scans_[c])) return false;
        }
        transform_->Inverse(block_.data());
        for (int c = 0; c < 4 && first + c < blocks; ++c) {
            const uint32_t bx = static_cast<uint32_t>((first + c) % columns);
            const uint32_t by = static_cast<uint32_t>((first + c) / columns);
            const uint32_t height = std::min<uint32_t>(8, header_.height - by * 8);
            const uint32_t width = std::min<uint32_t>(8, header_.width - bx * 8);
            for (uint32_t r = 0; r < height; ++r) {
                uint8_t* row = rows[by * 8 + r];
                for (uint32_t x = 0; x < width; ++x) {
                    row[std::size_t{bx * 8 + x} * stride] = static_cast<uint8_t>(
                        block_[BlockIndex(static_cast<int>(r), static_cast<int>(x), c)]);
                }
            }
        }
    }
    transform_->Flush();
    return true;
}

int32_t CPQXRead::Decode() {
    if (data_ == nullptr || header_.width == 0 || header_.height == 0) return 0;
    const bool plane = colour_bytes_ == 0;
    if (rows_ == nullptr && !(plane && alpha_rows_ != nullptr)) return 0;
    const uint16_t method = FormatMethod(header_.format);
    if (plane && method != kMethodNull && method != kMethodDiff) return 0;
    if (!ChooseTransform(method)) return 0;
    BitStream stream;
    BitStreamInitBounded(stream, data_ + kPQXHeaderSize, header_.size - kPQXHeaderSize);
    const bool ok = plane ? DecodePlane(stream)
                    : MethodUsesHuffman(method) ? DecodeHuffman(stream)
                                                : DecodeByteCode(stream);
    return ok && !BitStreamOverrun(stream) ? 1 : 0;
}

}  // namespace _pqxlib_
