#include "pqxlib/scan_tables.h"

#include "pqxlib/zigzag.h"

namespace _pqxlib_ {

void BuildInterleavedScanTables(uint8_t tables[4][64]) {
    for (int j = 0; j < 64; ++j) {
        for (int k = 0; k < 4; ++k) tables[k][j] = uint8_t(4 * kZigZag[j] + k);
    }
}

}  // namespace _pqxlib_
