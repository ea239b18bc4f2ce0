#include "snxlib/snx_decode.h"

#include "snxlib/wave_writer.h"

#include <algorithm>
#include <cstring>

namespace _snxlib_ {

int32_t CSNXDecode::Open(const std::filesystem::path& path) {
    Close();
    auto file = std::make_unique<CFileByteSource>();
    std::string ignored;
    if (!file->Open(path, &ignored)) return 0;
    const uint64_t length = file->Size();
    file_ = std::move(file);
    source_ = file_.get();
    return OpenRange(0, length);
}

int32_t CSNXDecode::Open(const std::filesystem::path& path, uint64_t offset, uint64_t length) {
    Close();
    auto file = std::make_unique<CFileByteSource>();
    std::string ignored;
    if (!file->Open(path, &ignored)) return 0;
    file_ = std::move(file);
    source_ = file_.get();
    return OpenRange(offset, length);
}

int32_t CSNXDecode::Open(IByteSource& source, uint64_t offset, uint64_t length) {
    Close();
    source_ = &source;
    return OpenRange(offset, length);
}

void CSNXDecode::Close() {
    file_.reset();
    source_ = nullptr;
    header_ = SNXHeader{};
    frames_ = block_size_ = output_blocks_ = 0;
    base_ = length_ = 0;
    offsets_.clear();
    blocks_ = CSNXBlockDecoder();
    output_count_ = output_position_ = next_block_ = 0;
    failed_ = false;
}

int32_t CSNXDecode::OpenRange(uint64_t offset, uint64_t length) {
    auto fail = [this] {
        Close();
        return 0;
    };
    const uint64_t source_length = source_->Size();
    if (offset > source_length || length > source_length - offset || length < kSNXHeaderSize) return fail();
    base_ = offset;
    length_ = length;

    uint8_t head[kSNXHeaderSize];
    if (!source_->Read(base_, sizeof head, head) || !LoadSNXHeader(head, header_)) return fail();
    const SNXHeader& h = header_;
    if (!blocks_.Setup(h)) return fail();
    block_size_ = blocks_.BlockSize();
    const uint64_t table_end = kSNXHeaderSize + 4ull * h.block_count;
    if (table_end > h.end_offset || h.end_offset > length || h.largest_block > length) return fail();

    std::vector<uint8_t> table(4ull * h.block_count);
    if (!table.empty() && !source_->Read(base_ + kSNXHeaderSize, table.size(), table.data())) return fail();
    offsets_.resize(h.block_count);
    for (uint32_t i = 0; i < h.block_count; ++i) {
        offsets_[i] = table[4 * i] | (table[4 * i + 1] << 8) | (table[4 * i + 2] << 16) |
                      (static_cast<uint32_t>(table[4 * i + 3]) << 24);
    }

    frames_ = h.total_samples / h.channels;
    output_blocks_ = blocks_.OutputBlocks();
    if (!Rewind()) return fail();
    return 1;
}

int32_t CSNXDecode::Rewind() { return Seek(0); }

int32_t CSNXDecode::Seek(uint32_t frame) {
    if (!source_ || frame > frames_) return 0;
    blocks_.Reset();
    failed_ = false;
    output_count_ = output_position_ = 0;
    // The output block that holds the frame; at the very end, the last one.
    uint32_t output = block_size_ ? frame / block_size_ : 0;
    if (output_blocks_ == 0) {
        next_block_ = 0;
        return 1;
    }
    if (output >= output_blocks_) output = output_blocks_ - 1;
    next_block_ = output;
    // The MDCT lags one block: the coded block of the same number only primes
    // the overlap of the next one.
    if (blocks_.Lag() > 0 && !DecodeBlock(next_block_++)) {
        failed_ = true;
        return 0;
    }
    if (!DecodeNextOutput()) return 0;
    const uint64_t skip = (uint64_t(frame) - uint64_t(output) * block_size_) * header_.channels;
    output_position_ = uint32_t(std::min<uint64_t>(skip, output_count_));
    return 1;
}

int32_t CSNXDecode::DecodeNextOutput() {
    const uint32_t output_index = next_block_ - blocks_.Lag();
    if (!DecodeBlock(next_block_++)) {
        failed_ = true;
        return 0;
    }
    output_count_ = blocks_.OutputSamples(output_index);
    output_position_ = 0;
    return 1;
}

int32_t CSNXDecode::DecodeBlock(uint32_t index) {
    const SNXHeader& h = header_;
    const uint64_t start = offsets_[index];
    const uint64_t stop = index + 1 < h.block_count ? offsets_[index + 1] : h.end_offset;
    const uint64_t table_end = kSNXHeaderSize + 4ull * h.block_count;
    if (start < table_end || stop < start || stop > h.end_offset || stop - start > h.largest_block) return 0;
    bytes_.resize(stop - start);
    if (!bytes_.empty() && !source_->Read(base_ + start, bytes_.size(), bytes_.data())) return 0;
    return blocks_.Decode(index, bytes_.data(), bytes_.size()) ? 1 : 0;
}

int32_t CSNXDecode::Read(int16_t* out, uint32_t frames, uint32_t* frames_read) {
    uint32_t got = 0;
    if (frames_read != nullptr) *frames_read = 0;
    if (!source_ || failed_) return 0;
    const uint32_t channels = header_.channels;
    while (got < frames) {
        if (output_position_ >= output_count_) {
            const uint32_t produced = next_block_ - blocks_.Lag();
            if (produced >= output_blocks_) break;
            if (!DecodeNextOutput()) {
                if (frames_read != nullptr) *frames_read = got;
                return 0;
            }
            continue;
        }
        const uint32_t available = (output_count_ - output_position_) / channels;
        if (available == 0) {
            output_position_ = output_count_;
            continue;
        }
        const uint32_t take = std::min(available, frames - got);
        std::memcpy(out + static_cast<std::size_t>(got) * channels, blocks_.Output() + output_position_,
                    static_cast<std::size_t>(take) * channels * sizeof(int16_t));
        output_position_ += take * channels;
        got += take;
    }
    if (frames_read != nullptr) *frames_read = got;
    return 1;
}

int32_t DecodeToWave(CSNXDecode& sound, const std::filesystem::path& wave_path) {
    if (!sound.Rewind()) return 0;
    CWaveWriter writer;
    if (!writer.Open(wave_path, sound.GetChannels(), sound.GetSampleRate())) return 0;
    const uint32_t chunk = 4096;
    std::vector<int16_t> buffer(static_cast<std::size_t>(chunk) * sound.GetChannels());
    for (;;) {
        uint32_t got = 0;
        const int32_t ok = sound.Read(buffer.data(), chunk, &got);
        if (got > 0 && !writer.Write(buffer.data(), got)) return 0;
        if (!ok) {
            writer.Close();
            return 0;
        }
        if (got < chunk) break;
    }
    return writer.Close();
}

}  // namespace _snxlib_
