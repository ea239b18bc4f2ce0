#include "snxlib/snx_format.h"
#include "support/byte_order.h"

#include "snxlib/hadamard.h"
#include "snxlib/mdct.h"

#include <cstring>

namespace _snxlib_ {

namespace {

constexpr uint8_t kMagic[4] = {'S', 'N', 'X', 'F'};

constexpr uint64_t kBandEdges[15] = {200,  400,  600,  800,   1000,  1400,  1800, 2600,
                                     3400, 4200, 6000, 8000,  10000, 12000, 16000};

struct DivisorStep {
    uint64_t upper_hz;  // inclusive
    int32_t divisor;
};
constexpr DivisorStep kDivisors[] = {{30, 315}, {60, 45},     {125, 10},      {250, 3},
                                     {7999, 1}, {15999, 3},   {2147483647, 10}};

}  // namespace

void StoreSNXHeader(const SNXHeader& h, uint8_t out[kSNXHeaderSize]) {
    std::memset(out, 0, kSNXHeaderSize);
    std::memcpy(out, kMagic, 4);
    StoreLE32(out + 4, h.end_offset);
    StoreLE16(out + 8, h.mode);
    StoreLE16(out + 10, h.channels);
    StoreLE16(out + 12, h.bits_per_sample);
    StoreLE32(out + 16, h.sample_rate);
    StoreLE32(out + 20, h.block_count);
    StoreLE32(out + 24, h.total_samples);
    StoreLE32(out + 28, h.block_length);
    StoreLE32(out + 32, h.largest_block);
    StoreLE32(out + 36, h.extra_length);
    std::memcpy(out + 40, h.extra, kSNXInlineExtraSize);
}

bool LoadSNXHeader(const uint8_t in[kSNXHeaderSize], SNXHeader& h) {
    if (std::memcmp(in, kMagic, 4) != 0) return false;
    h.end_offset = LoadLE32(in + 4);
    h.mode = LoadLE16(in + 8);
    h.channels = LoadLE16(in + 10);
    h.bits_per_sample = LoadLE16(in + 12);
    h.sample_rate = LoadLE32(in + 16);
    h.block_count = LoadLE32(in + 20);
    h.total_samples = LoadLE32(in + 24);
    h.block_length = LoadLE32(in + 28);
    h.largest_block = LoadLE32(in + 32);
    h.extra_length = LoadLE32(in + 36);
    std::memcpy(h.extra, in + 40, kSNXInlineExtraSize);
    return true;
}

bool IsCodedMode(uint32_t mode) {
    return mode == kModeRaw || mode == kModeDelta || mode == kModeHadamard ||
           (mode >= kModeMDCTValues && mode <= kModeMDCTNarrow);
}

BandModeParams BandParams(uint32_t mode) {
    switch (mode) {
        case kModeMDCTHigh: return {0, 0, false};
        case kModeMDCTMid: return {0, 1, true};
        case kModeMDCTLow: return {16000, 2, true};
        default: return {12000, 3, true};
    }
}

uint32_t CodedCoefficientCount(uint32_t mode, uint32_t sample_rate, uint32_t block_size) {
    const uint64_t cutoff = BandParams(mode).cutoff_hz;
    const uint64_t nyquist = sample_rate / 2;
    if (cutoff > 0 && cutoff < nyquist) {
        return static_cast<uint32_t>(cutoff * block_size / nyquist);
    }
    return block_size;
}

int BandOfFrequency(uint64_t frequency_hz) {
    int band = 0;
    while (band < 15 && kBandEdges[band] <= frequency_hz) ++band;
    return band;
}

int32_t WeightDivisor(uint64_t frequency_hz) {
    for (const DivisorStep& step : kDivisors) {
        if (frequency_hz <= step.upper_hz) return step.divisor;
    }
    return kDivisors[std::size(kDivisors) - 1].divisor;
}

uint64_t SNXBlockCount(uint32_t mode, uint64_t total_samples, uint32_t block_length) {
    const uint64_t blocks = (total_samples + block_length - 1) / block_length;
    return blocks + (IsMDCTMode(mode) ? 1 : 0);
}

std::unique_ptr<ISNXConvInterface> CreateSNXTransform(uint32_t mode) {
    if (!IsCodedMode(mode)) return nullptr;
    if (mode >= kModeMDCTValues) return std::make_unique<CMDCT>();
    if (mode == kModeHadamard) return std::make_unique<CHadamard>();
    return std::make_unique<CNullConvert>();
}

}  // namespace _snxlib_
