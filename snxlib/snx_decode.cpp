#include "snxlib/snx_decode.h"

#include "snxlib/sample_codes.h"
#include "snxlib/wave_writer.h"
#include "support/bitstream.h"
#include "support/cpu_features.h"

#include <algorithm>
#include <cstring>

namespace _snxlib_ {

int32_t CSNXDecode::Open(const std::filesystem::path& path) { return OpenRange(path, 0, 0, true); }

int32_t CSNXDecode::Open(const std::filesystem::path& path, uint64_t offset, uint64_t length) {
    return OpenRange(path, offset, length, false);
}

void CSNXDecode::Close() {
    file_ = StdioFile();
    header_ = SNXHeader{};
    frames_ = block_size_ = output_blocks_ = 0;
    base_ = length_ = 0;
    offsets_.clear();
    transform_.reset();
    output_count_ = output_position_ = next_block_ = 0;
    failed_ = false;
}

int32_t CSNXDecode::OpenRange(const std::filesystem::path& path, uint64_t offset, uint64_t length,
                              bool whole) {
    Close();
    file_ = StdioFile(path, "rb");
    if (!file_) return 0;
    auto fail = [this] {
        Close();
        return 0;
    };
    const int64_t end = file_.Length();
    if (end < 0) return fail();
    const uint64_t file_length = static_cast<uint64_t>(end);
    if (whole) length = file_length;
    if (offset > file_length || length > file_length - offset || length < kSNXHeaderSize) return fail();
    base_ = offset;
    length_ = length;

    uint8_t head[kSNXHeaderSize];
    if (!file_.Seek(int64_t(base_), SEEK_SET) ||
        std::fread(head, 1, sizeof head, file_.get()) != sizeof head || !LoadSNXHeader(head, header_)) {
        return fail();
    }
    const SNXHeader& h = header_;
    if (!IsCodedMode(h.mode) || h.channels == 0 || h.bits_per_sample != kSNXBitsPerSample) return fail();
    if (h.block_length % h.channels != 0 || h.block_length > kMaxBlockLength) return fail();
    block_size_ = h.block_length / h.channels;
    if (block_size_ < kMinBlockSize || block_size_ > kMaxBlockSize) return fail();
    if (IsTransformMode(h.mode) && (block_size_ & (block_size_ - 1)) != 0) return fail();
    // The block count follows from the sizes; anything else would make the
    // last block's sample count meaningless.
    if (h.block_count != SNXBlockCount(h.mode, h.total_samples, h.block_length)) return fail();
    const uint64_t table_end = kSNXHeaderSize + 4ull * h.block_count;
    if (table_end > h.end_offset || h.end_offset > length || h.largest_block > length) return fail();

    std::vector<uint8_t> table(4ull * h.block_count);
    if (!table.empty() && std::fread(table.data(), 1, table.size(), file_.get()) != table.size()) return fail();
    offsets_.resize(h.block_count);
    for (uint32_t i = 0; i < h.block_count; ++i) {
        offsets_[i] = table[4 * i] | (table[4 * i + 1] << 8) | (table[4 * i + 2] << 16) |
                      (static_cast<uint32_t>(table[4 * i + 3]) << 24);
    }

    frames_ = h.total_samples / h.channels;
    output_blocks_ = h.block_count - (IsMDCTMode(h.mode) ? 1 : 0);
    transform_ = CreateSNXTransform(h.mode);
    transform_->Init(ProcessorFeatures(), HighestBit(block_size_), h.channels);
    if (IsBandMode(h.mode)) band_coder_.Setup(h.mode, h.sample_rate, block_size_, h.channels);
    planar_.assign(h.block_length, 0);
    output_.assign(h.block_length, 0);
    if (!Rewind()) return fail();
    return 1;
}

int32_t CSNXDecode::Rewind() {
    if (!file_) return 0;
    transform_->Reset();
    failed_ = false;
    next_block_ = 0;
    output_count_ = output_position_ = 0;
    if (output_blocks_ == 0) return 1;
    // The MDCT lags one block: block 0 only primes the overlap.
    if (IsMDCTMode(header_.mode) && !DecodeBlock(next_block_++)) {
        failed_ = true;
        return 0;
    }
    if (!DecodeNextOutput()) return 0;
    return 1;
}

int32_t CSNXDecode::DecodeNextOutput() {
    const uint32_t output_index = next_block_ - (IsMDCTMode(header_.mode) ? 1 : 0);
    if (!DecodeBlock(next_block_++)) {
        failed_ = true;
        return 0;
    }
    const uint64_t before = static_cast<uint64_t>(output_index) * header_.block_length;
    output_count_ = static_cast<uint32_t>(std::min<uint64_t>(header_.block_length, header_.total_samples - before));
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
    if (!file_.Seek(int64_t(base_ + start), SEEK_SET) ||
        (!bytes_.empty() && std::fread(bytes_.data(), 1, bytes_.size(), file_.get()) != bytes_.size())) {
        return 0;
    }
    BitStream stream;
    BitStreamInitBounded(stream, bytes_.data(), bytes_.size());

    const uint32_t channels = h.channels;
    const uint32_t n = block_size_;
    const uint64_t before = static_cast<uint64_t>(index) * h.block_length;
    const uint32_t samples =
        before >= h.total_samples ? 0 : static_cast<uint32_t>(std::min<uint64_t>(h.block_length, h.total_samples - before));
    std::fill(planar_.begin(), planar_.end(), int16_t{0});
    if (h.mode == kModeRaw || h.mode == kModeDelta) {
        for (uint32_t c = 0; c < channels; ++c) {
            int16_t* out = &planar_[static_cast<std::size_t>(c) * n];
            if (h.mode == kModeRaw) {
                DecodeRawChannel(stream, out, samples / channels);
            } else {
                DecodeDeltaChannel(stream, out, samples / channels);
            }
        }
    } else if (IsBandMode(h.mode)) {
        if (bytes_.empty() || !band_coder_.Decode(stream, planar_.data())) return 0;
    } else {
        for (uint32_t i = 0; i < h.block_length; ++i) planar_[i] = GetTransformValue(stream);
    }
    if (BitStreamOverrun(stream)) return 0;
    for (uint32_t c = 0; c < channels; ++c) {
        transform_->Inverse(&planar_[static_cast<std::size_t>(c) * n], static_cast<int32_t>(c));
    }
    for (uint32_t c = 0; c < channels; ++c) {
        for (uint32_t i = 0; i < n; ++i) output_[i * channels + c] = planar_[c * n + i];
    }
    return 1;
}

int32_t CSNXDecode::Read(int16_t* out, uint32_t frames, uint32_t* frames_read) {
    uint32_t got = 0;
    if (frames_read != nullptr) *frames_read = 0;
    if (!file_ || failed_) return 0;
    const uint32_t channels = header_.channels;
    while (got < frames) {
        if (output_position_ >= output_count_) {
            const uint32_t produced = next_block_ - (IsMDCTMode(header_.mode) ? 1 : 0);
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
        std::memcpy(out + static_cast<std::size_t>(got) * channels, &output_[output_position_],
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
