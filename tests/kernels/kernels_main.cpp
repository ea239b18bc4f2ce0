// The checking harness: GoogleTest compares every kernel at every processor
// level with the portable routine; --bench times them instead.

#include <gtest/gtest.h>

#include <cstring>

#include "kernel_bench.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--bench") == 0) return RunKernelBench();
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
