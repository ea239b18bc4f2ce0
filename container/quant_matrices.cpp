#include "container/quant_matrices.h"

#include "pqxlib/quant_tables.h"

void LoadQuantMatrices(uint16_t selector, uint8_t* intra, uint8_t* inter) {
    _pqxlib_::VideoQuantMatrices(selector, intra, inter);
}
