#include "rvxlib/dsp/pixel_block.h"

#include "support/cpu_features.h"

namespace _rvxlib_ {
namespace {

void LoadPortable(int16_t* block, const uint8_t* picture, std::size_t pitch) {
    for (uint32_t r = 0; r < kMacroblockSize; ++r, picture += pitch, block += 64)
        for (uint32_t i = 0; i < 64; ++i) block[i] = picture[i];
}

void StorePortable(uint8_t* picture, std::size_t pitch, const int16_t* block) {
    for (uint32_t r = 0; r < kMacroblockSize; ++r, picture += pitch, block += 64)
        for (uint32_t i = 0; i < 64; ++i) {
            const int16_t v = block[i];
            picture[i] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
}

}  // namespace

PixelBlockKernels pixel_block_kernels_portable() { return {LoadPortable, StorePortable}; }

PixelBlockKernels pixel_block_kernels_for(uint32_t features) {
    PixelBlockKernels kernels = pixel_block_kernels_portable();
#if defined(__x86_64__) && defined(__GNUC__)
    if (FeatureLevel(features) >= CpuLevel::kSse2) pixel_block_kernels_sse2(kernels);
#else
    (void)features;
#endif
    return kernels;
}

IRVXPixelBlock::IRVXPixelBlock(uint32_t padded_width, uint32_t padded_height)
    : buffer_(kMacroblockSamples),
      padded_width_(padded_width),
      padded_height_(padded_height),
      pitch_(std::size_t{4} * padded_width),
      columns_(padded_width / kMacroblockSize),
      rows_(padded_height / kMacroblockSize) {}

CRVXPixelBlockUnSigned::CRVXPixelBlockUnSigned(uint32_t padded_width, uint32_t padded_height)
    : IRVXPixelBlock(padded_width, padded_height), routines_(pixel_block_kernels_portable()) {}

int32_t CRVXPixelBlockUnSigned::Init(uint32_t features) {
    routines_ = pixel_block_kernels_for(features);
    return 1;
}

uint8_t* CRVXPixelBlockUnSigned::MacroblockAddress(uint32_t column, uint32_t row) const {
    if (picture_ == nullptr || column >= columns_ || row >= rows_) return nullptr;
    return picture_ + std::size_t{row} * kMacroblockSize * pitch_ + std::size_t{column} * kMacroblockSize * 4;
}

int32_t CRVXPixelBlockUnSigned::LoadMacroblock(uint32_t column, uint32_t row) {
    const uint8_t* at = MacroblockAddress(column, row);
    if (at == nullptr) return 0;
    routines_.load(buffer_.data(), at, pitch_);
    return 1;
}

int32_t CRVXPixelBlockUnSigned::StoreMacroblock(uint32_t column, uint32_t row) {
    uint8_t* at = MacroblockAddress(column, row);
    if (at == nullptr) return 0;
    routines_.store(at, pitch_, buffer_.data());
    return 1;
}

}  // namespace _rvxlib_
