#include "pqxlib/zigzag.h"

#include <gtest/gtest.h>

TEST(ZigZag, InverseUndoesTheScanAndTheScanWalksAntiDiagonals) {
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(_pqxlib_::kZigZagInverse[_pqxlib_::kZigZag[i]], i);
    }
    for (int i = 1; i < 64; ++i) {
        const int a = _pqxlib_::kZigZag[i - 1], b = _pqxlib_::kZigZag[i];
        const int da = a / 8 + a % 8, db = b / 8 + b % 8;
        EXPECT_TRUE(db == da || db == da + 1) << i;
    }
}
