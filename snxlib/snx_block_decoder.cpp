#include "snxlib/snx_block_decoder.h"

#include <algorithm>

#include "snxlib/sample_codes.h"
#include "support/bitstream.h"
#include "support/cpu_features.h"

namespace _snxlib_ {

bool CSNXBlockDecoder::Setup(const SNXHeader& h) {
    transform_.reset();
    if (!IsCodedMode(h.mode) || h.channels == 0 || h.bits_per_sample != kSNXBitsPerSample) return false;
    if (h.block_length % h.channels != 0 || h.block_length > kMaxBlockLength) return false;
    const uint32_t block_size = h.block_length / h.channels;
    if (block_size < kMinBlockSize || block_size > kMaxBlockSize) return false;
    if (IsTransformMode(h.mode) && (block_size & (block_size - 1)) != 0) return false;
    // The block count follows from the sizes; anything else would make the
    // last block's sample count meaningless.
    if (h.block_count != SNXBlockCount(h.mode, h.total_samples, h.block_length)) return false;
    header_ = h;
    block_size_ = block_size;
    lag_ = IsMDCTMode(h.mode) ? 1 : 0;
    if (h.block_count < lag_) return false;
    transform_ = CreateSNXTransform(h.mode);
    transform_->Init(ProcessorFeatures(), HighestBit(block_size_), h.channels);
    if (IsBandMode(h.mode)) band_coder_.Setup(h.mode, h.sample_rate, block_size_, h.channels);
    planar_.assign(h.block_length, 0);
    output_.assign(h.block_length, 0);
    return true;
}

void CSNXBlockDecoder::Reset() {
    if (transform_) transform_->Reset();
}

uint32_t CSNXBlockDecoder::OutputSamples(uint32_t o) const {
    const uint64_t before = uint64_t(o) * header_.block_length;
    if (before >= header_.total_samples) return 0;
    return uint32_t(std::min<uint64_t>(header_.block_length, header_.total_samples - before));
}

bool CSNXBlockDecoder::Decode(uint32_t index, const uint8_t* bytes, std::size_t size) {
    const SNXHeader& h = header_;
    if (!transform_ || index >= h.block_count) return false;
    BitStream stream;
    BitStreamInitBounded(stream, bytes, size);

    const uint32_t channels = h.channels;
    const uint32_t n = block_size_;
    const uint32_t samples = OutputSamples(index);
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
        if (size == 0 || !band_coder_.Decode(stream, planar_.data())) return false;
    } else {
        for (uint32_t i = 0; i < h.block_length; ++i) planar_[i] = GetTransformValue(stream);
    }
    if (BitStreamOverrun(stream)) return false;
    for (uint32_t c = 0; c < channels; ++c) {
        transform_->Inverse(&planar_[static_cast<std::size_t>(c) * n], static_cast<int32_t>(c));
    }
    for (uint32_t c = 0; c < channels; ++c) {
        for (uint32_t i = 0; i < n; ++i) output_[i * channels + c] = planar_[c * n + i];
    }
    return true;
}

}  // namespace _snxlib_
