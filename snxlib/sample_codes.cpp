#include "snxlib/sample_codes.h"

#include "snxlib/snx_format.h"

namespace _snxlib_ {

void EncodeRawChannel(BitStream& stream, const int16_t* samples, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) PutValue(stream, static_cast<uint16_t>(samples[i]), 16);
}

void DecodeRawChannel(BitStream& stream, int16_t* samples, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) samples[i] = static_cast<int16_t>(GetBits(stream, 16));
}

void EncodeDeltaChannel(BitStream& stream, const int16_t* samples, uint32_t count) {
    if (count == 0) return;
    int16_t reconstructed = samples[0];
    PutValue(stream, static_cast<uint16_t>(reconstructed), 16);
    for (uint32_t i = 1; i < count; ++i) {
        const int16_t delta = static_cast<int16_t>(samples[i] - reconstructed);
        int32_t coded = delta;
        if (delta == 0) {
            PutValue(stream, 0b111000, 6);
        } else if (delta == -32768) {
            PutValue(stream, 0b111111, 6);
        } else {
            const uint32_t sign = delta < 0 ? 1 : 0;
            const uint32_t magnitude = sign ? -delta : delta;
            if (magnitude <= 16) {
                PutValue(stream, (0b111001u << 5) | (sign << 4) | (magnitude - 1), 11);
            } else {
                // Keep the five leading bits as (m + 17) << shift, m = 0..15;
                // a leading 16 is the same value as 32 one shift lower.
                int32_t shift = HighestBit(magnitude) - 4;
                uint32_t top = magnitude >> shift;
                uint32_t m;
                if (top == 16) {
                    m = 15;
                    --shift;
                } else {
                    m = top - 17;
                }
                if (shift >= 3 && shift <= 9) {
                    PutValue(stream, (static_cast<uint32_t>(shift - 3) << 5) | (sign << 4) | m, 8);
                } else {
                    const uint32_t selector = shift <= 2 ? shift + 2 : shift - 5;
                    PutValue(stream, (0b111u << 8) | (selector << 5) | (sign << 4) | m, 11);
                }
                const int32_t value = static_cast<int32_t>((m + 17) << shift);
                coded = sign ? -value : value;
            }
        }
        reconstructed = static_cast<int16_t>(reconstructed + coded);
    }
}

void DecodeDeltaChannel(BitStream& stream, int16_t* samples, uint32_t count) {
    if (count == 0) return;
    int16_t reconstructed = static_cast<int16_t>(GetBits(stream, 16));
    samples[0] = reconstructed;
    for (uint32_t i = 1; i < count; ++i) {
        const uint32_t prefix = GetBits(stream, 3);
        int32_t delta;
        auto shifted = [&](int32_t shift) {
            const uint32_t sign = GetBits(stream, 1);
            const int32_t value = static_cast<int32_t>((GetBits(stream, 4) + 17) << shift);
            return sign ? -value : value;
        };
        if (prefix < 7) {
            delta = shifted(static_cast<int32_t>(prefix) + 3);
        } else {
            const uint32_t selector = GetBits(stream, 3);
            if (selector == 0) {
                delta = 0;
            } else if (selector == 7) {
                delta = -32768;
            } else if (selector == 1) {
                const uint32_t sign = GetBits(stream, 1);
                const int32_t value = static_cast<int32_t>(GetBits(stream, 4)) + 1;
                delta = sign ? -value : value;
            } else if (selector <= 4) {
                delta = shifted(static_cast<int32_t>(selector) - 2);
            } else {
                delta = shifted(static_cast<int32_t>(selector) + 5);
            }
        }
        reconstructed = static_cast<int16_t>(reconstructed + delta);
        samples[i] = reconstructed;
    }
}

void PutTransformValue(BitStream& stream, int16_t value) {
    const uint32_t sign = value < 0 ? 1 : 0;
    const uint32_t differing = static_cast<uint16_t>(sign ? ~value : value) & 0x7FFFu;
    const uint32_t b = static_cast<uint32_t>(HighestBit(differing));
    const uint32_t bits = static_cast<uint16_t>(value);
    if (b == 0) {
        PutValue(stream, (sign << 7) | (0b111000u << 1) | (bits & 1u), 8);
    } else if (b <= 4) {
        PutValue(stream, (((sign << 6) | (0b111u << 3) | b) << b) | (bits & ((1u << b) - 1)), 7 + b);
    } else if (b <= 11) {
        PutValue(stream, (((sign << 3) | (b - 5)) << b) | (bits & ((1u << b) - 1)), 4 + b);
    } else {
        PutValue(stream, (((sign << 6) | (0b111u << 3) | (b - 7)) << b) | (bits & ((1u << b) - 1)),
                 7 + b);
    }
}

int16_t GetTransformValue(BitStream& stream) {
    const uint32_t sign = GetBits(stream, 1);
    const uint32_t selector = GetBits(stream, 3);
    uint32_t b;
    if (selector < 7) {
        b = selector + 5;
    } else {
        const uint32_t width = GetBits(stream, 3);
        b = width <= 4 ? width : width + 7;
    }
    if (b == 0) {
        const int32_t bit = static_cast<int32_t>(GetBits(stream, 1));
        return static_cast<int16_t>(sign ? bit - 2 : bit);
    }
    const int32_t low = static_cast<int32_t>(GetBits(stream, b));
    return static_cast<int16_t>(sign ? low - (1 << (b + 1)) : (1 << b) + low);
}

}  // namespace _snxlib_
