#include "rvxlib/format/frame_bitstream.h"

#include <cstdio>
#include <cstdlib>

#include "pqxlib/huffman.h"
#include "rvxlib/format/coding_defaults.h"

namespace _rvxlib_ {
namespace {

// PutBits takes its bits at the top of the word.
void PutField(BitStream& stream, uint32_t value, uint32_t bits) {
    PutBits(stream, value << (32 - bits), bits);
}

bool WriteFrame(BitStream& stream, const RVXFrameLayout& layout, uint16_t quality,
                const int16_t* blocks, const RVXMotionEntry* motion, const uint8_t* quantisers) {
    const std::size_t macroblocks = std::size_t(layout.columns) * layout.rows;
    const std::size_t count = macroblocks * layout.blocks_per_macroblock;
    _pqxlib_::CHuffmanCoder coder;
    if (!coder.BuildAndWriteTableContiguous(&stream, blocks, count)) return false;
    const int16_t* block = blocks;
    for (std::size_t m = 0; m < macroblocks; ++m) {
        const uint32_t q = quantisers ? quantisers[m] : quality;
        if (q >= (1u << kMacroblockQuantiserBits)) return false;
        PutField(stream, q, kMacroblockQuantiserBits);
        if (motion) {
            const RVXMotionEntry& entry = motion[m];
            PutField(stream, entry.use ? 1 : 0, kUseFlagBits);
            if (entry.use) {
                PutField(stream, entry.direction ? 1 : 0, kDirectionBits);
                PutField(stream, uint8_t(entry.dx), kVectorComponentBits);
                PutField(stream, uint8_t(entry.dy), kVectorComponentBits);
            }
        }
        for (uint32_t b = 0; b < layout.blocks_per_macroblock; ++b, block += 64)
            if (!coder.EncodeBlock(block)) return false;
    }
    FlushBits(stream);
    return true;
}

}  // namespace

bool CodeFramePayload(const RVXFrameLayout& layout, uint16_t quality, const int16_t* blocks,
                      const RVXMotionEntry* motion, std::vector<uint8_t>* payload, const uint8_t* quantisers) {
    payload->clear();
    if (!blocks || quality >= (1u << kMacroblockQuantiserBits)) return false;
    // The bit writer speaks to a stream; a memory stream gathers its bytes.
    // Closed and freed on every way out, out of memory in the coder included.
    struct MemoryStream {
        char* bytes = nullptr;
        std::size_t size = 0;
        std::FILE* file = nullptr;
        ~MemoryStream() {
            if (file) std::fclose(file);
            std::free(bytes);
        }
    } memory;
    memory.file = open_memstream(&memory.bytes, &memory.size);
    if (!memory.file) return false;
    BitStream stream;
    BitStreamInit(stream, memory.file);
    const bool written = WriteFrame(stream, layout, quality, blocks, motion, quantisers) && !std::ferror(memory.file);
    // The bytes and their count are final only once the stream is closed.
    const bool closed = std::fclose(memory.file) == 0;
    memory.file = nullptr;
    if (!written || !closed) return false;
    payload->assign(memory.bytes, memory.bytes + memory.size);
    return true;
}

RVXFrameReader::RVXFrameReader() : coder_(std::make_unique<_pqxlib_::CHuffmanCoder>()) {}
RVXFrameReader::~RVXFrameReader() = default;

bool RVXFrameReader::Begin(const uint8_t* data, std::size_t size) {
    BitStreamInitBounded(stream_, data, data ? size : 0);
    return coder_->ReadTable(&stream_) && Intact();
}

bool RVXFrameReader::ReadMacroblockHeader(bool inter, uint16_t* quantiser, RVXMotionEntry* motion) {
    const uint16_t q = uint16_t(GetBits(stream_, kMacroblockQuantiserBits));
    RVXMotionEntry entry;
    if (inter && GetBits(stream_, kUseFlagBits)) {
        entry.use = 1;
        entry.direction = uint8_t(GetBits(stream_, kDirectionBits));
        entry.dx = int8_t(uint8_t(GetBits(stream_, kVectorComponentBits)));
        entry.dy = int8_t(uint8_t(GetBits(stream_, kVectorComponentBits)));
    }
    if (quantiser) *quantiser = q;
    if (motion) *motion = entry;
    return Intact() && QualityInRange(q);
}

}  // namespace _rvxlib_
