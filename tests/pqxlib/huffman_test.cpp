#include "pqxlib/huffman.h"
#include "pqxlib/scan_tables.h"
#include "pqxlib/zigzag.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace _pqxlib_;

namespace {

using Block = std::vector<int16_t>;

// A bit writer over a real stdio stream in memory.
struct MemoryWriter {
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* file = open_memstream(&data, &size);
    BitStream stream;
    MemoryWriter() { BitStreamInit(stream, file); }
    ~MemoryWriter() {
        std::fclose(file);
        std::free(data);
    }
    std::vector<uint8_t> Finish() {
        FlushBits(stream);
        std::fflush(file);
        return std::vector<uint8_t>(data, data + size);
    }
};

std::string ToBits(const std::vector<uint8_t>& bytes) {
    std::string bits;
    for (uint8_t b : bytes) {
        for (int i = 7; i >= 0; --i) bits += ((b >> i) & 1) ? '1' : '0';
    }
    return bits;
}

// '0' and '1' characters to bytes, zero padded; other characters are ignored.
std::vector<uint8_t> FromBits(const std::string& text) {
    std::vector<uint8_t> bytes;
    int n = 0;
    for (char c : text) {
        if (c != '0' && c != '1') continue;
        if (n % 8 == 0) bytes.push_back(0);
        if (c == '1') bytes.back() |= uint8_t(0x80 >> (n % 8));
        ++n;
    }
    return bytes;
}

std::string TableBits(const std::map<int, int>& lengths) {
    std::string bits;
    for (int symbol = 0; symbol < kHuffmanSymbolCount; ++symbol) {
        auto it = lengths.find(symbol);
        if (it == lengths.end()) {
            bits += '0';
            continue;
        }
        bits += '1';
        for (int i = 3; i >= 0; --i) bits += ((it->second >> i) & 1) ? '1' : '0';
    }
    return bits;
}

Block MakeBlock(std::initializer_list<std::pair<int, int>> entries) {
    Block block(64, 0);
    for (auto [index, value] : entries) block[index] = int16_t(value);
    return block;
}

std::vector<uint8_t> EncodeUnit(const std::vector<Block>& blocks, CHuffmanCoder& coder) {
    MemoryWriter writer;
    std::vector<const int16_t*> pointers;
    for (const Block& b : blocks) pointers.push_back(b.data());
    EXPECT_EQ(coder.BuildAndWriteTable(&writer.stream, pointers.data(), pointers.size()), 1);
    for (const Block& b : blocks) EXPECT_EQ(coder.EncodeBlock(b.data()), 1);
    return writer.Finish();
}

// Identity scan: coefficient j lands at j.
const uint8_t* IdentityScan() {
    static uint8_t scan[64];
    for (int j = 0; j < 64; ++j) scan[j] = uint8_t(j);
    return scan;
}

// Decodes every block through a bounded reader over exactly the coded bytes.
std::vector<Block> DecodeUnit(const std::vector<uint8_t>& bytes, std::size_t blockCount) {
    BitStream reader;
    BitStreamInitBounded(reader, bytes.data(), bytes.size());
    CHuffmanCoder decoder;
    EXPECT_EQ(decoder.ReadTable(&reader), 1);
    std::vector<Block> blocks(blockCount, Block(64, 0x5555));
    for (Block& b : blocks) EXPECT_EQ(decoder.DecodeBlock(b.data(), IdentityScan()), 1);
    return blocks;
}

// Quantised DCT-like blocks: a larger DC, a few small low-frequency values.
std::vector<Block> TypicalBlocks(std::mt19937& rng, int count) {
    std::vector<Block> blocks;
    std::geometric_distribution<int> magnitude(0.45);
    std::uniform_int_distribution<int> coin(0, 1);
    for (int i = 0; i < count; ++i) {
        Block b(64, 0);
        b[0] = int16_t((coin(rng) ? 1 : -1) * (magnitude(rng) * 7));
        for (int j = 1; j < 64; ++j) {
            if (std::uniform_int_distribution<int>(0, 99)(rng) < 40 - j / 2) {
                b[j] = int16_t((coin(rng) ? 1 : -1) * (1 + magnitude(rng)));
            }
        }
        blocks.push_back(b);
    }
    return blocks;
}

// ------------------------------------------------------------- code lengths

std::vector<int> LengthsFor(const std::map<int, uint64_t>& counts) {
    uint64_t table[kHuffmanSymbolCount] = {};
    for (auto [symbol, count] : counts) table[symbol] = count;
    uint8_t lengths[kHuffmanSymbolCount];
    BuildCodeLengths(table, lengths);
    std::vector<int> result;
    for (auto [symbol, count] : counts) result.push_back(lengths[symbol]);
    return result;
}

TEST(HuffmanCodeLengths, JoinedNodeGoesAheadOfEqualWeights) {
    // Weights 2, 1, 1, 2: the joined pair (weight 2) is joined again before
    // the other weight-2 nodes, giving a three-level tree rather than a
    // balanced one.
    EXPECT_EQ(LengthsFor({{0, 2}, {16, 1}, {17, 1}, {32, 2}}), (std::vector<int>{2, 3, 3, 1}));
}

TEST(HuffmanCodeLengths, EqualCountsGiveLongerCodesToLowerSymbols) {
    // Five equal weights: the tree puts the two lowest symbols at depth 2,
    // but lengths are handed out along count then symbol order, so the two
    // lowest symbols take the two 3-bit lengths.
    EXPECT_EQ(LengthsFor({{16, 1}, {17, 1}, {18, 1}, {19, 1}, {20, 1}}),
              (std::vector<int>{3, 3, 2, 2, 2}));
}

TEST(HuffmanCodeLengths, SingleSymbolHasLengthOneAndNoSymbolsNone) {
    EXPECT_EQ(LengthsFor({{0, 1000}}), (std::vector<int>{1}));
    EXPECT_EQ(LengthsFor({{5, 0}}), (std::vector<int>{0}));
}

TEST(HuffmanCodeLengths, DeepTreeIsLimitedToFifteenBits) {
    // Fibonacci counts on 18 symbols give a chain of depths 1..16, 17, 17.
    // The three over-long codes split, in turn, a 14-, a 13- and a 14-bit
    // code: lengths 1..12 once, 14 once, 15 five times.
    std::map<int, uint64_t> counts;
    uint64_t a = 1, b = 1;
    for (int i = 0; i < 18; ++i) {
        counts[16 + i] = a;
        const uint64_t c = a + b;
        a = b;
        b = c;
    }
    const std::vector<int> expected = {15, 15, 15, 15, 15, 14, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
    EXPECT_EQ(LengthsFor(counts), expected);
}

// --------------------------------------------------------------- bitstream

TEST(HuffmanEncoder, WritesTheExactTableAndBlockBits) {
    // Symbol counts: end-of-block 2, 0x10 one, 0x11 one, 0x20 two.
    const std::vector<Block> blocks = {MakeBlock({{0, 2}}), MakeBlock({{0, 3}, {1, -1}, {3, 1}})};
    CHuffmanCoder coder;
    const std::vector<uint8_t> bytes = EncodeUnit(blocks, coder);

    // Canonical codes: 0x20 = 0, end-of-block = 10, 0x10 = 110, 0x11 = 111.
    EXPECT_EQ(coder.CodeLength(0x20), 1u);
    EXPECT_EQ(coder.Code(0x20), 0u);
    EXPECT_EQ(coder.Code(0x00), 0x80000000u);
    EXPECT_EQ(coder.Code(0x10), 0xC0000000u);
    EXPECT_EQ(coder.Code(0x11), 0xE0000000u);

    const std::string expected = TableBits({{0x00, 2}, {0x10, 3}, {0x11, 3}, {0x20, 1}}) +
                                 "0 00 10" +                           // 2, end
                                 "0 01" + "110 1" + "111 0" + "10";     // 3, -1, run 1 then 1, end
    EXPECT_EQ(ToBits(bytes), ToBits(FromBits(expected)));
    EXPECT_EQ(DecodeUnit(bytes, 2), blocks);
}

TEST(HuffmanEncoder, LoneLastCoefficientUsesFourZeroRunsAndNoEnd) {
    // 63 zeros = 4 x 15 + 3: symbol 15 four times, then run 3 with size
    // class 2 (value 5) = 3 + 16 * 3, and no end-of-block.
    const std::vector<Block> blocks = {MakeBlock({{63, 5}})};
    CHuffmanCoder coder;
    const std::vector<uint8_t> bytes = EncodeUnit(blocks, coder);
    const std::string expected = TableBits({{15, 1}, {51, 1}}) + "0000" + "1 001";
    EXPECT_EQ(ToBits(bytes), ToBits(FromBits(expected)));
    EXPECT_EQ(DecodeUnit(bytes, 1), blocks);
}

TEST(HuffmanEncoder, AllZeroBlocksCostOneBitEach) {
    const std::vector<Block> blocks(10, Block(64, 0));
    CHuffmanCoder coder;
    const std::vector<uint8_t> bytes = EncodeUnit(blocks, coder);
    EXPECT_EQ(ToBits(bytes), ToBits(FromBits(TableBits({{0, 1}}) + "0000000000")));
    EXPECT_EQ(DecodeUnit(bytes, 10), blocks);
}

TEST(HuffmanEncoder, RefusesMagnitudesWithoutSymbolAndMissingInput) {
    CHuffmanCoder coder;
    MemoryWriter writer;
    for (int bad : {2048, -2048, -32768, 32767}) {
        const Block block = MakeBlock({{5, bad}});
        const int16_t* pointer = block.data();
        EXPECT_EQ(coder.BuildAndWriteTable(&writer.stream, &pointer, 1), 0) << bad;
        EXPECT_EQ(coder.EncodeBlock(block.data()), 0) << bad;
    }
    const Block good(64, 0);
    const int16_t* pointer = good.data();
    const int16_t* missing = nullptr;
    EXPECT_EQ(coder.BuildAndWriteTable(nullptr, &pointer, 1), 0);
    EXPECT_EQ(coder.BuildAndWriteTable(&writer.stream, nullptr, 1), 0);
    EXPECT_EQ(coder.BuildAndWriteTable(&writer.stream, &pointer, 0), 0);
    EXPECT_EQ(coder.BuildAndWriteTable(&writer.stream, &missing, 1), 0);
    EXPECT_TRUE(writer.Finish().empty());
}

TEST(HuffmanEncoder, RefusesBlockWithSymbolOutsideTheCode) {
    CHuffmanCoder coder;
    MemoryWriter writer;
    const Block counted(64, 0);
    ASSERT_EQ(coder.BuildAndWriteTableContiguous(&writer.stream, counted.data(), 1), 1);
    const std::size_t tableBytes = writer.stream.position;
    const uint32_t pending = writer.stream.count;
    EXPECT_EQ(coder.EncodeBlock(MakeBlock({{0, 1}}).data()), 0);
    EXPECT_EQ(writer.stream.position, tableBytes);
    EXPECT_EQ(writer.stream.count, pending);
}

// --------------------------------------------------------------- round trips

TEST(HuffmanRoundTrip, TypicalAndExtremeBlocksThroughEveryDecoder) {
    std::mt19937 rng(1234);
    std::vector<Block> blocks = TypicalBlocks(rng, 300);
    Block extremes(64);
    for (int j = 0; j < 64; ++j) extremes[j] = int16_t((j & 1) ? -2047 : 2047);
    blocks.push_back(extremes);
    blocks.push_back(MakeBlock({{0, -2047}, {17, 1024}, {40, -1024}, {62, 1}}));
    blocks.push_back(MakeBlock({{15, 1}, {31, -1}, {47, 2}}));  // runs of exactly 15
    blocks.push_back(MakeBlock({{16, 1}, {48, 3}}));            // runs of 16 and 31

    CHuffmanCoder coder;
    const std::vector<uint8_t> bytes = EncodeUnit(blocks, coder);
    EXPECT_EQ(DecodeUnit(bytes, blocks.size()), blocks);

    // Sparse decoding into a zig-zag scan and value-by-value decoding.
    BitStream reader;
    BitStreamInitBounded(reader, bytes.data(), bytes.size());
    CHuffmanCoder decoder;
    ASSERT_EQ(decoder.ReadTable(&reader), 1);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        Block raster(64, 0);
        if (i % 2 == 0) {
            ASSERT_EQ(decoder.DecodeBlockSparse(raster.data(), kZigZag), 1);
        } else {
            int position = 0;
            for (;;) {
                int32_t run = -1;
                const int32_t value = decoder.DecodeValue(run);
                ASSERT_NE(value, CHuffmanCoder::kInvalidValue);
                if (value == 0) {
                    EXPECT_EQ(run, 0);
                    break;
                }
                position += run;
                ASSERT_LT(position, 64);
                raster[kZigZag[position++]] = int16_t(value);
                if (position == 64) break;
            }
        }
        for (int j = 0; j < 64; ++j) ASSERT_EQ(raster[kZigZag[j]], blocks[i][j]) << i << " " << j;
    }
    EXPECT_FALSE(BitStreamOverrun(reader));
}

// The frame writer puts its own fields (a 6-bit quantiser) between blocks on
// the same stream; both sides must stay in step.
TEST(HuffmanRoundTrip, CallerFieldsBetweenBlocksStayInStep) {
    std::mt19937 rng(5);
    const std::vector<Block> blocks = TypicalBlocks(rng, 50);
    std::vector<const int16_t*> pointers;
    for (const Block& b : blocks) pointers.push_back(b.data());
    MemoryWriter writer;
    CHuffmanCoder coder;
    ASSERT_EQ(coder.BuildAndWriteTable(&writer.stream, pointers.data(), pointers.size()), 1);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        PutBits(writer.stream, uint32_t(i % 64) << 26, 6);
        ASSERT_EQ(coder.EncodeBlock(blocks[i].data()), 1);
    }
    PutBits(writer.stream, 0xABC00000u, 12);
    const std::vector<uint8_t> bytes = writer.Finish();

    BitStream reader;
    BitStreamInitBounded(reader, bytes.data(), bytes.size());
    CHuffmanCoder decoder;
    ASSERT_EQ(decoder.ReadTable(&reader), 1);
    Block decoded(64);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        ASSERT_EQ(GetBits(reader, 6), i % 64);
        ASSERT_EQ(decoder.DecodeBlock(decoded.data(), IdentityScan()), 1);
        ASSERT_EQ(decoded, blocks[i]) << i;
    }
    EXPECT_EQ(GetBits(reader, 12), 0xABCu);
    EXPECT_FALSE(BitStreamOverrun(reader));
}

TEST(HuffmanRoundTrip, InterleavedChannelsLandInTheirSlots) {
    uint8_t scans[4][64];
    BuildInterleavedScanTables(scans);
    std::mt19937 rng(99);
    const std::vector<Block> blocks = TypicalBlocks(rng, 4);
    CHuffmanCoder coder;
    const std::vector<uint8_t> bytes = EncodeUnit(blocks, coder);

    BitStream reader;
    BitStreamInitBounded(reader, bytes.data(), bytes.size());
    ASSERT_EQ(coder.ReadTable(&reader), 1);
    std::vector<int16_t> interleaved(256, 0x7777);
    for (int k = 0; k < 4; ++k) ASSERT_EQ(coder.DecodeBlock(interleaved.data(), scans[k]), 1);
    for (int k = 0; k < 4; ++k) {
        for (int j = 0; j < 64; ++j) {
            const int row = kZigZag[j] / 8, column = kZigZag[j] % 8;
            ASSERT_EQ(interleaved[32 * row + 4 * column + k], blocks[k][j]);
        }
    }
}

TEST(HuffmanRoundTrip, SkewedStatisticsStayWithinFifteenBits) {
    // Symbol k drawn with probability about 2^-k over 40 symbols: the
    // unlimited tree is well over 15 levels deep.
    std::mt19937 rng(7);
    std::geometric_distribution<int> pick(0.5);
    const int kinds = 40;
    std::vector<Block> blocks;
    Block current(64, 0);
    int position = 0;
    for (int n = 0; n < 200000; ++n) {
        const int k = std::min(pick(rng), kinds - 1);
        const int run = k % 4, size = k / 4;  // sizes 0..9
        if (position + run >= 64) {
            blocks.push_back(current);
            current.assign(64, 0);
            position = 0;
        }
        position += run;
        current[position++] = int16_t((n & 1 ? -1 : 1) * (1 << size));
    }
    blocks.push_back(current);

    CHuffmanCoder coder;
    const std::vector<uint8_t> bytes = EncodeUnit(blocks, coder);
    uint32_t longest = 0;
    for (int s = 0; s < kHuffmanSymbolCount; ++s) longest = std::max(longest, coder.CodeLength(s));
    EXPECT_EQ(longest, 15u);
    EXPECT_EQ(DecodeUnit(bytes, blocks.size()), blocks);
}

// --------------------------------------------------------------- bad input

int ReadTableFrom(const std::string& bits) {
    const std::vector<uint8_t> bytes = FromBits(bits);
    BitStream reader;
    BitStreamInitBounded(reader, bytes.data(), bytes.size());
    CHuffmanCoder coder;
    return coder.ReadTable(&reader);
}

TEST(HuffmanDecoder, RefusesTablesThatAreNoPrefixCode) {
    EXPECT_EQ(ReadTableFrom(TableBits({{0, 1}, {16, 1}, {17, 1}})), 0);  // over-subscribed
    EXPECT_EQ(ReadTableFrom(TableBits({{0, 1}, {16, 2}, {17, 2}, {18, 3}})), 0);
    EXPECT_EQ(ReadTableFrom(TableBits({{0, 1}, {16, 0}})), 0);  // used with length 0
    EXPECT_EQ(ReadTableFrom(TableBits({{0, 1}, {7, 1}})), 0);   // symbol never coded
    EXPECT_EQ(ReadTableFrom(TableBits({})), 0);                 // nothing used
    std::string cut = TableBits({{0, 1}, {191, 1}});
    cut.resize(cut.size() - 9);  // last entry past the end of the data
    EXPECT_EQ(ReadTableFrom(cut), 0);

    EXPECT_EQ(ReadTableFrom(TableBits({{0, 1}, {16, 1}})), 1);                     // complete
    EXPECT_EQ(ReadTableFrom(TableBits({{0, 1}})), 1);                              // single
    EXPECT_EQ(ReadTableFrom(TableBits({{0, 1}, {16, 2}, {191, 15}})), 1);          // incomplete
}

// Decodes one block from a hand-written table and block bits.
int DecodeOne(const std::string& bits, Block& block) {
    const std::vector<uint8_t> bytes = FromBits(bits);
    BitStream reader;
    BitStreamInitBounded(reader, bytes.data(), bytes.size());
    CHuffmanCoder coder;
    if (!coder.ReadTable(&reader)) return -1;
    block.assign(64, 0);
    return coder.DecodeBlock(block.data(), IdentityScan());
}

TEST(HuffmanDecoder, RefusesBlocksThatRunPastTheEnd) {
    // Codes: 15 = 00, 51 (run 3, size 2) = 01, 52 (run 4, size 2) = 10, end = 110.
    const std::string table = TableBits({{0, 3}, {15, 2}, {51, 2}, {52, 2}});
    Block block;
    EXPECT_EQ(DecodeOne(table + "00 00 00 00 01 001", block), 1);  // lands on 63
    EXPECT_EQ(block[63], 5);
    EXPECT_EQ(DecodeOne(table + "00 00 00 00 10 001", block), 0);  // would land on 64
    EXPECT_EQ(DecodeOne(table + "00 00 00 00 00 110", block), 0);  // 75 zeros
    // Unused pattern of the incomplete code (111), then a truncated value.
    EXPECT_EQ(DecodeOne(table + "111", block), 0);
    // A value whose bits lie past the end of the data.
    EXPECT_EQ(DecodeOne(table + "01", block), 0);
}

TEST(HuffmanDecoder, EndlessZeroRunsEndInsteadOfHanging) {
    // The 15-zero symbol has the all-zero code: reading zeros past the end
    // would repeat it forever.
    const std::vector<uint8_t> bytes = FromBits(TableBits({{15, 1}, {16, 1}}));
    BitStream reader;
    BitStreamInitBounded(reader, bytes.data(), bytes.size());
    CHuffmanCoder coder;
    ASSERT_EQ(coder.ReadTable(&reader), 1);
    int32_t run = 0;
    EXPECT_EQ(coder.DecodeValue(run), CHuffmanCoder::kInvalidValue);
    Block b(64);
    EXPECT_EQ(coder.DecodeBlock(b.data(), IdentityScan()), 0);
}

TEST(HuffmanDecoder, NothingDecodesWithoutATable) {
    CHuffmanCoder coder;
    Block b(64);
    int32_t run;
    EXPECT_EQ(coder.DecodeBlock(b.data(), IdentityScan()), 0);
    EXPECT_EQ(coder.DecodeValue(run), CHuffmanCoder::kInvalidValue);
}

// Corrupted and truncated units never make the decoder read or write out of
// bounds (checked under the sanitizer build) and always terminate.
TEST(HuffmanDecoder, SurvivesBitFlipsAndTruncation) {
    std::mt19937 rng(2024);
    const std::vector<Block> blocks = TypicalBlocks(rng, 40);
    CHuffmanCoder encoder;
    const std::vector<uint8_t> clean = EncodeUnit(blocks, encoder);

    int tablesAccepted = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        std::vector<uint8_t> bytes = clean;
        if (trial % 3 == 0) {
            bytes.resize(std::uniform_int_distribution<std::size_t>(0, bytes.size() - 1)(rng));
        } else {
            const int flips = 1 + trial % 5;
            for (int f = 0; f < flips; ++f) {
                const std::size_t bit = std::uniform_int_distribution<std::size_t>(0, bytes.size() * 8 - 1)(rng);
                bytes[bit / 8] ^= uint8_t(0x80 >> (bit % 8));
            }
        }
        if (trial % 7 == 0) {  // pure garbage
            for (uint8_t& b : bytes) b = uint8_t(rng());
        }
        // An exact-size heap copy so that any overread is caught.
        std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size()]);
        std::copy(bytes.begin(), bytes.end(), exact.get());
        BitStream reader;
        BitStreamInitBounded(reader, exact.get(), bytes.size());
        CHuffmanCoder decoder;
        if (!decoder.ReadTable(&reader)) continue;
        ++tablesAccepted;
        // Every block takes at least one bit, so a bounded reader must
        // report failure within that many blocks.
        std::unique_ptr<int16_t[]> values(new int16_t[64]);
        std::size_t decoded = 0;
        while (decoder.DecodeBlock(values.get(), IdentityScan()) == 1) {
            for (int j = 0; j < 64; ++j) ASSERT_LE(std::abs(values[j]), 2047);
            ASSERT_LE(++decoded, bytes.size() * 8);
        }
    }
    EXPECT_GT(tablesAccepted, 1000);  // the blocks were exercised, not just the table
}

}  // namespace
