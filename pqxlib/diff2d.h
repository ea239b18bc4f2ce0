#pragma once
// 2-D first differences, the lossless predictor: every value minus its left
// neighbour, then minus its upper neighbour, on all four channels in 16-bit
// wrap-around arithmetic. Inverse restores every block exactly.

#include <cstdint>

#include "pqxlib/conv_interface.h"

namespace _pqxlib_ {

class CDiff2D : public IPQXConvNonQuantize {
public:
    CDiff2D();
    ~CDiff2D() override;
    int32_t Init(uint32_t features) override;
    int32_t Flush() override;
    int32_t Forward(int16_t* block) override;
    int32_t Inverse(int16_t* block) override;

private:
    void (*forward_)(int16_t* block);
    void (*inverse_)(int16_t* block);
    uint8_t clean_ = 1;  // no run of transforms open since the last Flush
};

}  // namespace _pqxlib_
