// A code-length table followed by coded blocks, read the three ways the
// decoders use: whole blocks, sparse blocks and value by value.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_input.h"
#include "pqxlib/huffman.h"
#include "pqxlib/zigzag.h"
#include "support/bitstream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0] % 3;
    BitStream stream;
    BitStreamInitBounded(stream, data + 1, size - 1);
    _pqxlib_::CHuffmanCoder coder;
    if (!coder.ReadTable(&stream)) return 0;
    int16_t block[_pqxlib_::kCoefficientsPerBlock];
    uint32_t sum = 0;
    // Each block consumes at least one bit, so this ends with the data.
    for (int n = 0; n < 100000; ++n) {
        if (mode == 0) {
            if (!coder.DecodeBlock(block, _pqxlib_::kZigZag)) break;
        } else if (mode == 1) {
            std::memset(block, 0, sizeof block);
            if (!coder.DecodeBlockSparse(block, _pqxlib_::kZigZag)) break;
        } else {
            int32_t run = 0;
            const int32_t value = coder.DecodeValue(run);
            if (value == _pqxlib_::CHuffmanCoder::kInvalidValue || BitStreamOverrun(stream)) break;
            block[0] = int16_t(value);
        }
        for (int16_t v : block) sum += uint16_t(v);
    }
    fuzz_input::Sink(sum);
    return 0;
}
