#include "pqxlib/pqx_common.h"
#include "support/byte_order.h"

#include "pqxlib/dct_float_llm.h"
#include "pqxlib/dct_int_aan.h"
#include "pqxlib/diff2d.h"
#include "pqxlib/hadamard2d.h"
#include "pqxlib/null_conv2d.h"
#include "pqxlib/quant_tables.h"
#include "pqxlib/scan_tables.h"
#include "support/cpu_features.h"

#include <cstring>

namespace _pqxlib_ {

namespace {

// 0000 then run - 1 one-bits and a zero; a run of 16 or more is the end code
// (0000 and 15 one-bits).
void PutRun(BitStream& s, uint32_t run) {
    if (run >= 16) {
        PutBits(s, 0x7FFFu << 13, 19);
        return;
    }
    const uint32_t bits = run + 4;
    const uint32_t ones = ((1u << (run - 1)) - 1) << 1;  // run - 1 ones, then 0
    PutBits(s, ones << (32 - bits), bits);
}

}  // namespace

void ReadPQXHeader(PQXHeader& h, const uint8_t b[kPQXHeaderSize]) {
    std::memcpy(h.magic, b, 4);
    h.size = LoadLE32(b + 4);
    h.width = LoadLE32(b + 8);
    h.height = LoadLE32(b + 12);
    h.bits = static_cast<uint16_t>(b[16] | (b[17] << 8));
    h.format = static_cast<uint16_t>(b[18] | (b[19] << 8));
    h.x_resolution = static_cast<int32_t>(LoadLE32(b + 20));
    h.y_resolution = static_cast<int32_t>(LoadLE32(b + 24));
    h.trailer_size = LoadLE32(b + 28);
}

void WritePQXHeader(uint8_t b[kPQXHeaderSize], const PQXHeader& h) {
    std::memset(b, 0, kPQXHeaderSize);
    std::memcpy(b, h.magic, 4);
    StoreLE32(b + 4, h.size);
    StoreLE32(b + 8, h.width);
    StoreLE32(b + 12, h.height);
    b[16] = static_cast<uint8_t>(h.bits);
    b[17] = static_cast<uint8_t>(h.bits >> 8);
    b[18] = static_cast<uint8_t>(h.format);
    b[19] = static_cast<uint8_t>(h.format >> 8);
    StoreLE32(b + 20, static_cast<uint32_t>(h.x_resolution));
    StoreLE32(b + 24, static_cast<uint32_t>(h.y_resolution));
    StoreLE32(b + 28, h.trailer_size);
}

int32_t LayoutColourBits(uint32_t layout) {
    switch (layout) {
        case 0: return 0;
        case 9:
        case 13: return 24;
        case 10:
        case 14: return 48;
        // 8- and 16-bit colour pixels are narrower than the three colour
        // bytes every pixel is read as: refused rather than overrun.
        default: return -1;
    }
}

int32_t FormatAlphaBits(uint16_t format) {
    switch (format & 0xF0) {
        case 0: return 0;
        case kAlpha8: return 8;
        case kAlpha16: return 16;
        default: return -1;
    }
}

bool MethodKnown(uint16_t method) {
    return method == kMethodNull || method == kMethodDiff || method == kMethodHadamard ||
           (method >= kMethodDctLow && method <= kMethodDctHigh) || method == kMethodIntDct4 ||
           method == kMethodFltDct8 || method == kMethodIntDct8;
}

bool MethodUsesHuffman(uint16_t method) {
    return MethodKnown(method) && method != kMethodNull && method != kMethodDiff;
}

bool MethodUsesYCbCr(uint16_t method) { return MethodUsesHuffman(method); }

CPQXCommon::CPQXCommon() : block_(kBlockValues) { BuildInterleavedScanTables(scans_); }

CPQXCommon::~CPQXCommon() = default;

bool CPQXCommon::ChooseTransform(uint16_t method) {
    uint16_t scale = 0;
    switch (method) {
        case kMethodNull: transform_ = std::make_unique<CNullConv2D>(); break;
        case kMethodDiff: transform_ = std::make_unique<CDiff2D>(); break;
        case kMethodHadamard: transform_ = std::make_unique<CHadamard2D>(); break;
        case kMethodIntDct4:
            transform_ = std::make_unique<CDCT2DIntAAN>();
            scale = 4;
            break;
        case kMethodFltDct8:
            transform_ = std::make_unique<CDCT2DFltLLM>();
            scale = 8;
            break;
        case kMethodIntDct8:
            transform_ = std::make_unique<CDCT2DIntAAN>();
            scale = 8;
            break;
        default:
            if (method < kMethodDctLow || method > kMethodDctHigh) return false;
            transform_ = std::make_unique<CDCT2DFltLLM>();
            scale = 2;
            break;
    }
    transform_->Init(ProcessorFeatures());
    if (scale != 0) {
        const uint8_t* tables[4];
        StillImageQuantTables(tables);
        transform_->SetQuantTables(tables);
        transform_->SetQuantScale(scale);
    }
    return true;
}

void PutByteCodedValues(BitStream& s, const int16_t* block, const uint8_t* scan) {
    uint32_t run = 0;
    for (int j = 0; j < 64; ++j) {
        const int32_t v = static_cast<int8_t>(static_cast<uint8_t>(block[scan[j]]));
        if (v == 0) {
            ++run;
            continue;
        }
        while (run > 15) {
            PutRun(s, 15);
            run -= 15;
        }
        if (run > 0) PutRun(s, run);
        run = 0;
        const uint32_t sign = v < 0 ? 1 : 0;
        int n = 6;
        while (n >= 0 && (((v >> n) & 1) == sign)) --n;
        if (n < 0) {  // -1: no bit differs from the sign
            PutBits(s, 0x8u << 28, 4);
            continue;
        }
        const uint32_t bits = static_cast<uint32_t>(n) + 4;
        const uint32_t low = static_cast<uint32_t>(v) & ((1u << n) - 1);
        const uint32_t code = (sign << (n + 3)) | (static_cast<uint32_t>(n + 1) << n) | low;
        PutBits(s, code << (32 - bits), bits);
    }
    if (run > 0) PutRun(s, run);
}

bool GetByteCodedValues(BitStream& s, int16_t* block, const uint8_t* scan) {
    int j = 0;
    while (j < 64) {
        const uint32_t p = GetBits(s, 4);
        if (p == 0) {
            uint32_t ones = 0;
            while (ones < 15 && GetBits(s, 1) == 1) ++ones;
            const uint32_t run = 1 + ones;
            if (run == 16) {
                while (j < 64) block[scan[j++]] = 0;
                break;
            }
            if (j + static_cast<int>(run) > 64) return false;
            for (uint32_t i = 0; i < run; ++i) block[scan[j++]] = 0;
            continue;
        }
        int32_t v;
        if (p == 1) v = 1;
        else if (p <= 7) v = (1 << (p - 1)) + static_cast<int32_t>(GetBits(s, p - 1));
        else if (p == 8) v = -1;
        else if (p == 9) v = -2;
        else v = static_cast<int32_t>(GetBits(s, p - 9)) - (1 << (p - 8));
        block[scan[j++]] = static_cast<int16_t>(v & 0xFF);
    }
    return !BitStreamOverrun(s);
}

}  // namespace _pqxlib_
