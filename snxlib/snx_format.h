#pragma once
// Layout of the SNX sound file and the tables shared by its encoder and
// decoder: coding modes, the 96-byte header, bands and weighting divisors.

#include "snxlib/conv_interface.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace _snxlib_ {

constexpr uint32_t kSNXHeaderSize = 96;
constexpr uint32_t kSNXInlineExtraSize = 56;
constexpr uint32_t kSNXBitsPerSample = 16;
constexpr uint32_t kMinBlockSize = 64;
constexpr uint32_t kDefaultSNXBlockSize = 1024;
// Bounds that keep every buffer of a stream reasonable, whatever a caller or
// a file asks for: samples per channel per block, and per block overall.
constexpr uint32_t kMaxBlockSize = 1u << 20;
constexpr uint32_t kMaxBlockLength = 1u << 22;

enum SNXMode : uint16_t {
    kModeRaw = 0,            // 16-bit samples
    kModeDelta = 1,          // lossy sample differences
    kModeHadamard = 64,      // sequency-ordered Walsh-Hadamard, value codes
    kModeMDCTValues = 256,   // MDCT, one value code per coefficient
    kModeMDCTHigh = 257,     // MDCT in bands, no band shift
    kModeMDCTMid = 258,      // band shift 1, mid/side
    kModeMDCTLow = 259,      // 16 kHz, band shift 2, mid/side
    kModeMDCTNarrow = 260,   // 12 kHz, strongest band shift
};

// The sound methods the settings offer, in the order they offer them: the
// text each is shown and chosen by, and its mode. The option list and
// rvxdec's summary go by these.
struct SNXNamedMode {
    const char* text;
    uint32_t value;
};
inline constexpr SNXNamedMode kSoundMethodNames[] = {
    {"MDCT-Low", kModeMDCTLow},
    {"MDCT-Mid", kModeMDCTMid},
    {"MDCT-High", kModeMDCTHigh},
    {"RawFile", kModeRaw},
};
// The text of a mode; null when it is no method offered.
constexpr const char* SoundMethodText(uint32_t mode) {
    for (const SNXNamedMode& method : kSoundMethodNames)
        if (method.value == mode) return method.text;
    return nullptr;
}

struct SNXHeader {
    uint32_t end_offset = 0;      // just past the last block
    uint16_t mode = 0;
    uint16_t channels = 0;
    uint16_t bits_per_sample = kSNXBitsPerSample;
    uint32_t sample_rate = 0;
    uint32_t block_count = 0;
    uint32_t total_samples = 0;   // sample frames x channels
    uint32_t block_length = 0;    // block size x channels
    uint32_t largest_block = 0;   // bytes
    uint32_t extra_length = 0;
    uint8_t extra[kSNXInlineExtraSize] = {};
};

void StoreSNXHeader(const SNXHeader& header, uint8_t out[kSNXHeaderSize]);
// False when the magic is not "SNXF"; nothing else is checked here.
bool LoadSNXHeader(const uint8_t in[kSNXHeaderSize], SNXHeader& header);

// Modes whose transform lags one block, so the stream carries a flush block.
inline bool IsMDCTMode(uint32_t mode) { return mode >= 256 && mode <= 261; }
// The band-shift modes 257..260.
inline bool IsBandMode(uint32_t mode) { return mode >= 257 && mode <= 260; }
// Modes with a block coder. 2, 65 and 261 are accepted as settings but have
// none, so no sound can be coded with them.
bool IsCodedMode(uint32_t mode);
// Modes whose block size must be a power of two.
inline bool IsTransformMode(uint32_t mode) { return (mode & 0x140u) != 0; }

struct BandModeParams {
    uint32_t cutoff_hz;     // 0: no cutoff
    int32_t shift_offset;
    bool mid_side;
};
BandModeParams BandParams(uint32_t mode);  // mode 257..260

// Number of coefficients 0..K-1 a band mode codes per channel and block.
uint32_t CodedCoefficientCount(uint32_t mode, uint32_t sample_rate, uint32_t block_size);
// Band 0..15 of frequency f: the number of band edges <= f.
int BandOfFrequency(uint64_t frequency_hz);
// Divisor applied to the coefficients of frequency f before quantisation.
int32_t WeightDivisor(uint64_t frequency_hz);

// Samples per channel of a stream; 0 for a header that names no channel.
inline uint32_t SNXSampleFrames(const SNXHeader& header) {
    return header.channels ? header.total_samples / header.channels : 0;
}

// Blocks a stream of total samples needs (MDCT modes carry one more).
uint64_t SNXBlockCount(uint32_t mode, uint64_t total_samples, uint32_t block_length);

// The transform of a coded mode; nullptr for any other.
std::unique_ptr<ISNXConvInterface> CreateSNXTransform(uint32_t mode);

// Position of the highest set bit (0 for 0 and 1).
inline int32_t HighestBit(uint32_t value) {
    int32_t bit = 0;
    while (value > 1) {
        value >>= 1;
        ++bit;
    }
    return bit;
}

}  // namespace _snxlib_
