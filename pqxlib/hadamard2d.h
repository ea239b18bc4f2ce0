#pragma once
// 2-D Walsh-Hadamard transform in sequency order on all four channels, in
// 16-bit wrap-around arithmetic. No quantiser: Forward divides by 8 rounding
// up, so a constant block comes back exactly and others with small errors.

#include <cstdint>

#include "pqxlib/conv_interface.h"

namespace _pqxlib_ {

class CHadamard2D : public IPQXConvNonQuantize {
public:
    CHadamard2D();
    ~CHadamard2D() override;
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
