#include "snxlib/band_coder.h"

#include "snxlib/sample_codes.h"
#include "snxlib/snx_format.h"

#include <algorithm>
#include <cstdlib>

namespace _snxlib_ {

namespace {

constexpr uint32_t kMaxRun = 15;
constexpr uint32_t kEndOfValues = 0x7FFF;  // 000 and fifteen ones
constexpr uint32_t kEndOfValuesBits = 18;

void PutRun(BitStream& stream, uint32_t run) {
    // Three zeros, run-1 ones, a zero.
    PutValue(stream, ((1u << (run - 1)) - 1) << 1, run + 3);
}

void PutPendingRun(BitStream& stream, uint32_t run) {
    while (run > kMaxRun) {
        PutRun(stream, kMaxRun);
        run -= kMaxRun;
    }
    if (run > 0) PutRun(stream, run);
}

void PutBandValue(BitStream& stream, int32_t value) {
    const uint32_t sign = value < 0 ? 1 : 0;
    const uint32_t a = static_cast<uint32_t>(std::abs(value));
    if (a < 64) {
        const uint32_t i = static_cast<uint32_t>(HighestBit(a)) + 1;
        PutValue(stream, (i << i) | (sign << (i - 1)) | (a - (1u << (i - 1))), i + 3);
        return;
    }
    uint32_t j = 0;
    while (a >= (1u << (j + 6)) + 32) ++j;
    const uint32_t prefix = ((1u << (3 + j)) - 1) << 1;  // 111, j ones, 0
    PutValue(stream, (((prefix << 1) | sign) << (j + 5)) | (a - (1u << (j + 5)) - 32), 2 * j + 10);
}

int16_t Saturate16(int64_t v) { return static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767)); }

}  // namespace

void CBandCoder::Setup(uint32_t mode, uint32_t sample_rate, uint32_t block_size, uint32_t channels) {
    const BandModeParams params = BandParams(mode);
    n_ = block_size;
    channels_ = channels;
    coded_ = CodedCoefficientCount(mode, sample_rate, block_size);
    shift_offset_ = params.shift_offset;
    mid_side_allowed_ = params.mid_side && channels % 2 == 0;
    const uint64_t nyquist = sample_rate / 2;
    band_.resize(coded_);
    divisor_.resize(coded_);
    for (uint32_t k = 0; k < coded_; ++k) {
        const uint64_t f = k * nyquist / block_size;
        band_[k] = static_cast<uint8_t>(BandOfFrequency(f));
        divisor_[k] = WeightDivisor(f);
    }
    mid_side_.assign(mid_side_allowed_ ? static_cast<std::size_t>(channels) * n_ : 0, 0);
    values_lr_.assign(static_cast<std::size_t>(channels) * coded_, 0);
    values_ms_.assign(mid_side_allowed_ ? values_lr_.size() : 0, 0);
    shifts_lr_.assign(static_cast<std::size_t>(channels) * kBandCount, 0);
    shifts_ms_.assign(shifts_lr_.size(), 0);
}

void CBandCoder::Analyse(const int16_t* c, uint32_t shifts[kBandCount], int16_t* values) const {
    int32_t peak[kBandCount] = {};
    for (uint32_t k = 0; k < coded_; ++k) {
        const int32_t a = std::abs(static_cast<int32_t>(c[k])) / divisor_[k];
        peak[band_[k]] = std::max(peak[band_[k]], a);
    }
    for (int b = 0; b < kBandCount; ++b) {
        if (peak[b] == 0) {
            shifts[b] = kSilentBandShift;
            continue;
        }
        // Smallest shift that brings the peak below 2^9 + 32, which keeps
        // every quantised magnitude inside the value code's range.
        int32_t s = 0;
        while (peak[b] >= (1 << (9 + s)) + 32) ++s;
        shifts[b] = static_cast<uint32_t>(std::clamp(s + shift_offset_, 0, 14));
    }
    for (uint32_t k = 0; k < coded_; ++k) {
        const uint32_t shift = shifts[band_[k]];
        if (shift == kSilentBandShift) {
            values[k] = 0;
            continue;
        }
        int32_t v = c[k];
        if (divisor_[k] > 1) v /= divisor_[k];
        values[k] = static_cast<int16_t>(v / (1 << shift));
    }
}

uint64_t CBandCoder::CountSmall(const int16_t* values, uint32_t channels) const {
    uint64_t count = 0;
    const std::size_t total = static_cast<std::size_t>(channels) * coded_;
    for (std::size_t i = 0; i < total; ++i) count += std::abs(static_cast<int32_t>(values[i])) < 8;
    return count;
}

void CBandCoder::PutChannel(BitStream& stream, const uint32_t shifts[kBandCount],
                            const int16_t* values) const {
    for (int b = 0; b < kBandCount; ++b) PutValue(stream, shifts[b], 4);
    uint32_t run = 0;
    for (uint32_t k = 0; k < coded_; ++k) {
        if (values[k] == 0) {
            ++run;
            continue;
        }
        PutPendingRun(stream, run);
        run = 0;
        PutBandValue(stream, values[k]);
    }
    if (run > kMaxRun) {
        PutValue(stream, kEndOfValues, kEndOfValuesBits);
    } else if (run > 0) {
        PutRun(stream, run);
    }
}

void CBandCoder::Encode(BitStream& stream, const int16_t* coefficients) {
    for (uint32_t c = 0; c < channels_; ++c) {
        Analyse(coefficients + static_cast<std::size_t>(c) * n_, &shifts_lr_[c * kBandCount],
                &values_lr_[static_cast<std::size_t>(c) * coded_]);
    }
    bool use_mid_side = false;
    if (mid_side_allowed_) {
        // Sum and half difference are rebuilt in 16 bits on the way back, so
        // a pair whose sum or difference leaves that range would come back
        // wrapped; such blocks stay left/right.
        bool fits = true;
        for (uint32_t c = 0; c < channels_ && fits; c += 2) {
            const int16_t* left = coefficients + static_cast<std::size_t>(c) * n_;
            const int16_t* right = left + n_;
            int16_t* mid = &mid_side_[static_cast<std::size_t>(c) * n_];
            int16_t* side = mid + n_;
            for (uint32_t k = 0; k < coded_; ++k) {
                const int32_t sum = left[k] + right[k];
                const int32_t difference = left[k] - right[k];
                if (sum < -32768 || sum > 32767 || difference < -32768 || difference > 32767) {
                    fits = false;
                    break;
                }
                mid[k] = static_cast<int16_t>(sum);
                side[k] = static_cast<int16_t>(difference / 2);
            }
        }
        if (fits) {
            for (uint32_t c = 0; c < channels_; ++c) {
                Analyse(&mid_side_[static_cast<std::size_t>(c) * n_], &shifts_ms_[c * kBandCount],
                        &values_ms_[static_cast<std::size_t>(c) * coded_]);
            }
            const uint64_t small_lr = CountSmall(values_lr_.data(), channels_);
            const uint64_t small_ms = CountSmall(values_ms_.data(), channels_);
            use_mid_side = small_ms > small_lr * 105 / 100;
        }
    }
    last_mid_side_ = use_mid_side;
    const std::vector<uint32_t>& shifts = use_mid_side ? shifts_ms_ : shifts_lr_;
    const std::vector<int16_t>& values = use_mid_side ? values_ms_ : values_lr_;
    PutValue(stream, use_mid_side ? kBandBlockMidSide : kBandBlockLeftRight, 8);
    for (uint32_t c = 0; c < channels_; ++c) {
        PutChannel(stream, &shifts[c * kBandCount], &values[static_cast<std::size_t>(c) * coded_]);
    }
}

int32_t CBandCoder::GetChannel(BitStream& stream, int16_t* coefficients) const {
    uint32_t shifts[kBandCount];
    for (int b = 0; b < kBandCount; ++b) shifts[b] = GetBits(stream, 4);
    std::fill(coefficients, coefficients + n_, int16_t{0});
    uint32_t k = 0;
    while (k < coded_) {
        const uint32_t head = GetBits(stream, 3);
        if (head == 0) {
            uint32_t ones = 0;
            while (ones < kMaxRun && GetBits(stream, 1) == 1) ++ones;
            if (ones == kMaxRun) return 1;  // the rest are zero
            const uint32_t run = ones + 1;
            if (run > coded_ - k) return 0;
            k += run;
            continue;
        }
        uint32_t sign, magnitude;
        if (head < 7) {
            sign = GetBits(stream, 1);
            magnitude = (1u << (head - 1)) + GetValue(stream, head - 1);
        } else {
            uint32_t j = 0;
            while (GetBits(stream, 1) == 1) {
                if (++j > 6) return 0;
            }
            sign = GetBits(stream, 1);
            magnitude = (1u << (j + 5)) + 32 + GetBits(stream, j + 5);
        }
        const uint32_t shift = shifts[band_[k]];
        if (shift != kSilentBandShift) {
            int64_t v = static_cast<int64_t>(magnitude) << shift;
            if (divisor_[k] > 1) v *= divisor_[k];
            coefficients[k] = Saturate16(sign ? -v : v);
        }
        ++k;
    }
    return 1;
}

int32_t CBandCoder::Decode(BitStream& stream, int16_t* coefficients) {
    const uint32_t head = GetBits(stream, 8);
    if ((head & 0xF0) != 0xF0) {
        // A silent block carries no channels.
        std::fill(coefficients, coefficients + static_cast<std::size_t>(channels_) * n_, int16_t{0});
        return 1;
    }
    for (uint32_t c = 0; c < channels_; ++c) {
        if (!GetChannel(stream, coefficients + static_cast<std::size_t>(c) * n_)) return 0;
    }
    if ((head & 0x08) != 0 && channels_ % 2 == 0) {
        for (uint32_t c = 0; c < channels_; c += 2) {
            int16_t* first = coefficients + static_cast<std::size_t>(c) * n_;
            int16_t* second = first + n_;
            for (uint32_t k = 0; k < coded_; ++k) {
                const int32_t half_mid = first[k] / 2;
                const int32_t side = second[k];
                first[k] = Saturate16(half_mid + side);
                second[k] = Saturate16(half_mid - side);
            }
        }
    }
    return 1;
}

}  // namespace _snxlib_
