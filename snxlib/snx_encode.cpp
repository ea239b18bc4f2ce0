#include "snxlib/snx_encode.h"

#include "snxlib/band_coder.h"
#include "snxlib/sample_codes.h"
#include "snxlib/snx_format.h"
#include "snxlib/wave_reader.h"
#include "support/bitstream.h"
#include "support/cpu_features.h"
#include "support/stdio_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace _snxlib_ {

namespace {

bool WriteHeaderAndTable(std::FILE* file, const SNXHeader& header, const std::vector<uint32_t>& offsets) {
    uint8_t bytes[kSNXHeaderSize];
    StoreSNXHeader(header, bytes);
    std::vector<uint8_t> table(offsets.size() * 4);
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        for (int b = 0; b < 4; ++b) table[4 * i + b] = static_cast<uint8_t>(offsets[i] >> (8 * b));
    }
    return SeekFile(file, 0, SEEK_SET) &&
           std::fwrite(bytes, 1, sizeof bytes, file) == sizeof bytes &&
           (table.empty() || std::fwrite(table.data(), 1, table.size(), file) == table.size());
}

// The header of a stream of the wave's samples in blocks of block_size
// samples per channel; false when the stream cannot be stored (a block, or
// the block table, too large).
bool PlanHeader(const CWaveReader& wave, uint16_t mode, uint32_t block_size, SNXHeader* header) {
    const uint32_t channels = wave.Channels();
    const uint64_t block_length = static_cast<uint64_t>(channels) * block_size;
    if (block_length > kMaxBlockLength) return false;
    const uint32_t total = wave.TotalSamples();
    const uint64_t block_count = SNXBlockCount(mode, total, static_cast<uint32_t>(block_length));
    // Block offsets are 32-bit, the first one included.
    if (kSNXHeaderSize + 4 * block_count > 0xFFFFFFFFull) return false;
    header->mode = mode;
    header->channels = static_cast<uint16_t>(channels);
    header->sample_rate = wave.SampleRate();
    header->block_count = static_cast<uint32_t>(block_count);
    header->total_samples = total;
    header->block_length = static_cast<uint32_t>(block_length);
    return true;
}

// Codes one block of channel-planar samples (block size per channel) in a
// mode, without the final byte padding.
class BlockCoder {
public:
    BlockCoder(const SNXHeader& header, uint32_t block_size)
        : mode_(header.mode), n_(block_size), channels_(header.channels), transform_(CreateSNXTransform(mode_)) {
        transform_->Init(ProcessorFeatures(), HighestBit(n_), static_cast<int32_t>(channels_));
        if (IsBandMode(mode_)) band_coder_.Setup(mode_, header.sample_rate, n_, channels_);
    }

    // frames: the sample frames of the block that hold sound.
    void Code(BitStream& stream, std::vector<int16_t>& planar, uint32_t frames) {
        if (mode_ == kModeRaw || mode_ == kModeDelta) {
            for (uint32_t c = 0; c < channels_; ++c) {
                const int16_t* samples = &planar[static_cast<std::size_t>(c) * n_];
                if (mode_ == kModeRaw) {
                    EncodeRawChannel(stream, samples, frames);
                } else {
                    EncodeDeltaChannel(stream, samples, frames);
                }
            }
            return;
        }
        for (uint32_t c = 0; c < channels_; ++c) {
            transform_->Forward(&planar[static_cast<std::size_t>(c) * n_], static_cast<int32_t>(c));
        }
        if (IsBandMode(mode_)) {
            band_coder_.Encode(stream, planar.data());
        } else {
            for (int16_t value : planar) PutTransformValue(stream, value);
        }
    }

private:
    uint16_t mode_;
    uint32_t n_;
    uint32_t channels_;
    std::unique_ptr<ISNXConvInterface> transform_;
    CBandCoder band_coder_;
};

// Reads, codes and writes every block after the header and block table,
// noting each block's offset, the largest block and the end of the blocks.
bool CodeBlocks(CWaveReader& wave, std::FILE* sound, uint32_t block_size, SNXHeader* header,
                std::vector<uint32_t>& offsets) {
    BlockCoder coder(*header, block_size);
    const uint32_t channels = header->channels, n = block_size, total = header->total_samples;
    const uint64_t block_length = header->block_length;
    BitStream stream;
    BitStreamInit(stream, sound);
    stream.position = kSNXHeaderSize + 4 * static_cast<uint64_t>(header->block_count);
    std::vector<int16_t> interleaved(block_length), planar(block_length);
    uint64_t done = 0;
    for (uint64_t block = 0; block < header->block_count; ++block) {
        const uint32_t t = static_cast<uint32_t>(std::min<uint64_t>(block_length, total - done));
        std::fill(interleaved.begin(), interleaved.end(), int16_t{0});
        if (t > 0 && !wave.ReadSamples(interleaved.data(), t)) return false;
        for (uint32_t c = 0; c < channels; ++c) {
            for (uint32_t i = 0; i < n; ++i) planar[c * n + i] = interleaved[i * channels + c];
        }
        offsets[block] = static_cast<uint32_t>(stream.position);
        coder.Code(stream, planar, t / channels);
        FlushBits(stream);
        // Offsets are 32-bit: a sound that outgrows them cannot be stored.
        if (stream.position > 0xFFFFFFFFull || std::ferror(sound)) return false;
        header->largest_block = std::max<uint32_t>(header->largest_block,
                                                   static_cast<uint32_t>(stream.position - offsets[block]));
        done += t;
    }
    header->end_offset = static_cast<uint32_t>(stream.position);
    return true;
}

}  // namespace

int32_t CSNXEncode::SetMode(uint32_t code) {
    const uint32_t m = code & 0xFFFFu;
    const uint32_t limit = (m & 0x100u) ? 261 : (m & 0x40u) ? 65 : 2;
    if (m > limit) return 0;
    mode_ = static_cast<uint16_t>(m);
    SetBlockSize(block_size_);
    return 1;
}

int32_t CSNXEncode::SetBlockSize(uint32_t samples_per_channel) {
    uint32_t n = samples_per_channel;
    if (IsTransformMode(mode_)) {
        n = n == 0 ? 0 : 1u << HighestBit(n);
    } else {
        n &= ~3u;
    }
    if (n < kMinBlockSize || n > kMaxBlockSize) return 0;
    block_size_ = n;
    return 1;
}

void CSNXEncode::SetExtraData(const void* data, uint32_t length) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    extra_.assign(bytes, bytes + (data ? length : 0));
}

int32_t CSNXEncode::EncodeFile(const std::filesystem::path& wave_path,
                               const std::filesystem::path& sound_path) {
    StdioFile wave(wave_path, "rb");
    if (!wave) return 0;
    StdioFile sound(sound_path, "wb");
    if (!sound) return 0;
    std::setvbuf(sound.get(), nullptr, _IOFBF, 1 << 16);
    int32_t result = Encode(wave.get(), sound.get());
    if (!sound.Close()) result = 0;
    return result;
}

int32_t CSNXEncode::Encode(std::FILE* wave_file, std::FILE* sound) {
    CWaveReader wave;
    if (!wave.Open(wave_file) || !IsCodedMode(mode_)) return 0;
    SNXHeader header;
    if (!PlanHeader(wave, mode_, block_size_, &header)) return 0;
    header.extra_length = static_cast<uint32_t>(extra_.size());
    if (!extra_.empty() && extra_.size() <= kSNXInlineExtraSize) {
        std::memcpy(header.extra, extra_.data(), extra_.size());
    }
    // The header and table are written first to reserve their place and again
    // once the blocks are known.
    std::vector<uint32_t> offsets(header.block_count, 0);
    if (!WriteHeaderAndTable(sound, header, offsets)) return 0;
    if (!CodeBlocks(wave, sound, block_size_, &header, offsets)) return 0;
    if (extra_.size() > kSNXInlineExtraSize &&
        std::fwrite(extra_.data(), 1, extra_.size(), sound) != extra_.size()) {
        return 0;
    }
    if (std::fflush(sound) != 0 || !WriteHeaderAndTable(sound, header, offsets)) return 0;
    return std::fflush(sound) == 0 && !std::ferror(sound) ? 1 : 0;
}

}  // namespace _snxlib_
