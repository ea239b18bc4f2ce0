#pragma once
// The identity transform: samples are coded as they are.

#include <cstdint>

#include "pqxlib/conv_interface.h"

namespace _pqxlib_ {

class CNullConv2D : public IPQXConvNonQuantize {
public:
    int32_t Init(uint32_t) override { return 1; }
    int32_t Flush() override { return 1; }
    int32_t Release() override { return 1; }
    int32_t Forward(int16_t*) override { return 1; }
    int32_t Inverse(int16_t*) override { return 1; }
};

}  // namespace _pqxlib_
