#include "pqxlib/dct_int_aan.h"

#include "pqxlib/quant_tables.h"

namespace _pqxlib_ {
namespace {

// Forward is in use with the initial scale: 16384 / 1 + 1.
constexpr int16_t kInitialForwardScaleFactor = 16385;

bool ChannelCountUsable(int32_t count) { return count >= 1 && count <= kBlockChannels; }

}  // namespace

// ---- forward engine ----

CDCT2DIntAANForward::CDCT2DIntAANForward()
    : routines_(int_aan_forward_kernels_portable()), scale_factor_(kInitialForwardScaleFactor) {}

CDCT2DIntAANForward::~CDCT2DIntAANForward() = default;

void CDCT2DIntAANForward::EngineInit(uint32_t features) {
    if (work_.data() == nullptr) {
        work_.Resize(kBlockValues);
        reciprocals_.Resize(kBlockValues);
        // Until tables arrive, every step is 1: a near-lossless transform
        // rather than one that zeroes every coefficient.
        for (int i = 0; i < kBlockValues; ++i) reciprocals_[i] = IntAANReciprocal(1);
    }
    routines_ = int_aan_forward_kernels_for(features);
    constants_ = BuildIntAANConstants();
    scale_factor_ = kInitialForwardScaleFactor;
}

void CDCT2DIntAANForward::EngineRelease() {
    work_ = AlignedBuffer<int32_t>();
    reciprocals_ = AlignedBuffer<int32_t>();
}

void CDCT2DIntAANForward::EngineSetTables(const uint8_t* const tables[4]) {
    for (int i = 0; i < 64; ++i) {
        for (int k = 0; k < 4; ++k) reciprocals_[4 * i + k] = IntAANReciprocal(tables[k][i]);
    }
}

void CDCT2DIntAANForward::EngineSetScale(uint16_t scale) {
    scale_factor_ = IntAANForwardScaleFactor(scale);
}

void CDCT2DIntAANForward::EngineForward(int16_t* block) {
    clean_ = 0;
    routines_.column_pass(block, channels_, constants_);
    routines_.interleave(block, work_.data(), channels_);
    routines_.row_pass(work_.data(), channels_, constants_);
    routines_.quantise(work_.data(), block, channels_, reciprocals_.data(), scale_factor_);
}

// ---- inverse engine ----

CDCT2DIntAANInverse::CDCT2DIntAANInverse() : routines_(int_aan_inverse_kernels_portable()) {}

CDCT2DIntAANInverse::~CDCT2DIntAANInverse() = default;

void CDCT2DIntAANInverse::EngineInit(uint32_t features) {
    if (work_.data() == nullptr) {
        work_.Resize(kBlockValues);
        steps_.Resize(kBlockValues);
        for (int i = 0; i < kBlockValues; ++i) steps_[i] = 1;
    }
    routines_ = int_aan_inverse_kernels_for(features);
    constants_ = BuildIntAANConstants();
    scale_factor_ = 1;
}

void CDCT2DIntAANInverse::EngineRelease() {
    work_ = AlignedBuffer<int16_t>();
    steps_ = AlignedBuffer<int16_t>();
}

void CDCT2DIntAANInverse::EngineSetTables(const uint8_t* const tables[4]) {
    for (int i = 0; i < 64; ++i) {
        for (int k = 0; k < 4; ++k) steps_[4 * i + k] = tables[k][i];
    }
}

void CDCT2DIntAANInverse::EngineInverse(int16_t* block) {
    clean_ = 0;
    routines_.dequantise(block, work_.data(), channels_, steps_.data(), scale_factor_);
    routines_.row_pass(work_.data(), channels_, constants_);
    routines_.interleave(work_.data(), block, channels_);
    routines_.column_pass(block, channels_, constants_);
}

// ---- both directions ----

CDCT2DIntAAN::~CDCT2DIntAAN() { Flush(); }

int32_t CDCT2DIntAAN::Init(uint32_t features) {
    CDCT2DIntAANForward::EngineInit(features);
    CDCT2DIntAANInverse::EngineInit(features);
    return 1;
}

// Only vector state needs ending; the portable routines leave none.
int32_t CDCT2DIntAAN::Flush() {
    CDCT2DIntAANForward::EngineFlush();
    CDCT2DIntAANInverse::EngineFlush();
    return 1;
}

int32_t CDCT2DIntAAN::Release() {
    Flush();
    CDCT2DIntAANForward::EngineRelease();
    CDCT2DIntAANInverse::EngineRelease();
    return 1;
}

int32_t CDCT2DIntAAN::SetQuantTables(const uint8_t* const tables[4]) {
    if (!QuantTablesUsable(tables)) return 0;
    if (!CDCT2DIntAANForward::EngineReady() || !CDCT2DIntAANInverse::EngineReady()) return 0;
    CDCT2DIntAANForward::EngineSetTables(tables);
    CDCT2DIntAANInverse::EngineSetTables(tables);
    return 1;
}

int32_t CDCT2DIntAAN::SetQuantScale(uint16_t scale) {
    if (scale == 0) return 0;
    CDCT2DIntAANForward::EngineSetScale(scale);
    CDCT2DIntAANInverse::EngineSetScale(scale);
    return 1;
}

int32_t CDCT2DIntAAN::SetChannels(int32_t count) {
    if (!ChannelCountUsable(count)) return 0;
    CDCT2DIntAANForward::EngineSetChannels(count);
    CDCT2DIntAANInverse::EngineSetChannels(count);
    return 1;
}

int32_t CDCT2DIntAAN::Forward(int16_t* block) {
    if (block == nullptr || !CDCT2DIntAANForward::EngineReady()) return 0;
    CDCT2DIntAANForward::EngineForward(block);
    return 1;
}

int32_t CDCT2DIntAAN::Inverse(int16_t* block) {
    if (block == nullptr || !CDCT2DIntAANInverse::EngineReady()) return 0;
    CDCT2DIntAANInverse::EngineInverse(block);
    return 1;
}

// ---- inverse only ----

CDCT2DIntAANInv::~CDCT2DIntAANInv() { Flush(); }

int32_t CDCT2DIntAANInv::Init(uint32_t features) {
    EngineInit(features);
    return 1;
}

int32_t CDCT2DIntAANInv::Flush() {
    EngineFlush();
    return 1;
}

int32_t CDCT2DIntAANInv::Release() {
    Flush();
    EngineRelease();
    return 1;
}

int32_t CDCT2DIntAANInv::SetQuantTables(const uint8_t* const tables[4]) {
    if (!QuantTablesUsable(tables) || !EngineReady()) return 0;
    EngineSetTables(tables);
    return 1;
}

int32_t CDCT2DIntAANInv::SetQuantScale(uint16_t scale) {
    if (scale == 0) return 0;
    EngineSetScale(scale);
    return 1;
}

int32_t CDCT2DIntAANInv::SetChannels(int32_t count) {
    if (!ChannelCountUsable(count)) return 0;
    EngineSetChannels(count);
    return 1;
}

int32_t CDCT2DIntAANInv::Forward(int16_t*) { return 0; }

int32_t CDCT2DIntAANInv::Inverse(int16_t* block) {
    if (block == nullptr || !EngineReady()) return 0;
    EngineInverse(block);
    return 1;
}

}  // namespace _pqxlib_
