#include "rvxlib/frame_bitstream.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "pqxlib/huffman.h"
#include "support/stdio_file.h"

namespace _rvxlib_ {
namespace {

constexpr uint32_t kQuantiserBits = 6;
constexpr uint16_t kLowestQuantiser = 2;
constexpr uint16_t kHighestQuantiser = 32;

// PutBits takes its bits at the top of the word.
void PutField(BitStream& stream, uint32_t value, uint32_t bits) {
    PutBits(stream, value << (32 - bits), bits);
}

bool WriteFrame(BitStream& stream, const RVXFrameLayout& layout, uint16_t quality,
                const int16_t* blocks, const RVXMotionEntry* motion) {
    const std::size_t macroblocks = std::size_t(layout.columns) * layout.rows;
    const std::size_t count = macroblocks * layout.blocks_per_macroblock;
    _pqxlib_::CHuffmanCoder coder;
    if (!coder.BuildAndWriteTableContiguous(&stream, blocks, count)) return false;
    const int16_t* block = blocks;
    for (std::size_t m = 0; m < macroblocks; ++m) {
        PutField(stream, quality, kQuantiserBits);
        if (motion) {
            const RVXMotionEntry& entry = motion[m];
            PutField(stream, entry.use ? 1 : 0, 1);
            if (entry.use) {
                PutField(stream, entry.direction ? 1 : 0, 1);
                PutField(stream, uint8_t(entry.dx), 8);
                PutField(stream, uint8_t(entry.dy), 8);
            }
        }
        for (uint32_t b = 0; b < layout.blocks_per_macroblock; ++b, block += 64)
            if (!coder.EncodeBlock(block)) return false;
    }
    FlushBits(stream);
    return true;
}

}  // namespace

std::string FrameFileName(const std::string& prefix, uint32_t n) {
    char number[16];
    std::snprintf(number, sizeof number, "%06u.hjx", n);
    return prefix + number;
}

bool WriteFramePayload(const std::string& path, const RVXFrameLayout& layout, uint16_t quality,
                       const int16_t* blocks, const RVXMotionEntry* motion) {
    if (!blocks || quality >= (1u << kQuantiserBits)) return false;
    StdioFile file(path, "wb");
    if (!file.get()) return false;
    BitStream stream;
    BitStreamInit(stream, file.get());
    const bool written = WriteFrame(stream, layout, quality, blocks, motion);
    // A partial payload must not be mistaken for a coded frame later. Only a
    // regular file is removed: the path may name a device.
    if (!file.Close() || !written) {
        std::error_code error;
        if (std::filesystem::is_regular_file(path, error)) std::filesystem::remove(path, error);
        return false;
    }
    return true;
}

RVXFrameReader::RVXFrameReader() : coder_(std::make_unique<_pqxlib_::CHuffmanCoder>()) {}
RVXFrameReader::~RVXFrameReader() = default;

bool RVXFrameReader::Begin(const uint8_t* data, std::size_t size) {
    BitStreamInitBounded(stream_, data, data ? size : 0);
    return coder_->ReadTable(&stream_) && Intact();
}

bool RVXFrameReader::ReadMacroblockHeader(bool inter, uint16_t* quantiser, RVXMotionEntry* motion) {
    const uint16_t q = uint16_t(GetBits(stream_, kQuantiserBits));
    RVXMotionEntry entry;
    if (inter && GetBits(stream_, 1)) {
        entry.use = 1;
        entry.direction = uint8_t(GetBits(stream_, 1));
        entry.dx = int8_t(uint8_t(GetBits(stream_, 8)));
        entry.dy = int8_t(uint8_t(GetBits(stream_, 8)));
    }
    if (quantiser) *quantiser = q;
    if (motion) *motion = entry;
    return Intact() && q >= kLowestQuantiser && q <= kHighestQuantiser;
}

}  // namespace _rvxlib_
