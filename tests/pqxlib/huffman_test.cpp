#include "pqxlib/huffman.h"
#include "pqxlib/scan_tables.h"
#include "pqxlib/zigzag.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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

// '0' and '1' characters to bytes, zero padded; spaces are for reading.
std::vector<uint8_t> FromBits(const std::string& text) {
    std::vector<uint8_t> bytes;
    int n = 0;
    for (char c : text) {
        if (c == ' ') continue;
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
        for (int i = 3; i >= 0; --i) bits += char('0' + ((it->second >> i) & 1));
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

const uint8_t* IdentityScan() {
    static const auto scan = [] {
        std::array<uint8_t, 64> s;
        for (int j = 0; j < 64; ++j) s[j] = uint8_t(j);
        return s;
    }();
    return scan.data();
}

// Decodes every block through a bounded reader over exactly the coded bytes.
std::vector<Block> DecodeUnit(const std::vector<uint8_t>& bytes, std::size_t blockCount) {
    BitStream reader;
    BitStreamInitBounded(reader, bytes.data(), bytes.size());
    CHuffmanCoder decoder;
    EXPECT_EQ(decoder.ReadTable(&reader), 1);
    std::vector<Block> blocks(blockCount, Block(64, 0x5555));
    for (Block& b : blocks) EXPECT_EQ(decoder.DecodeBlock(b.data(), IdentityScan()), 1);
    EXPECT_FALSE(BitStreamOverrun(reader));
    return blocks;
}

// Quantised DCT-like blocks: a larger DC, a few small low-frequency values.
std::vector<Block> TypicalBlocks(std::mt19937& rng, int count) {
    std::vector<Block> blocks;
    std::geometric_distribution<int> magnitude(0.45);
    auto sign = [&] { return rng() & 1 ? 1 : -1; };
    for (int i = 0; i < count; ++i) {
        Block b(64, 0);
        b[0] = int16_t(sign() * magnitude(rng) * 7);
        for (int j = 1; j < 64; ++j) {
            if (int(rng() % 100) < 40 - j / 2) b[j] = int16_t(sign() * (1 + magnitude(rng)));
        }
        blocks.push_back(b);
    }
    return blocks;
}

std::vector<int> LengthsFor(const std::map<int, uint64_t>& counts) {
    uint64_t table[kHuffmanSymbolCount] = {};
    for (auto [symbol, count] : counts) table[symbol] = count;
    uint8_t lengths[kHuffmanSymbolCount];
    BuildCodeLengths(table, lengths);
    std::vector<int> result;
    for (auto [symbol, count] : counts) result.push_back(lengths[symbol]);
    return result;
}

TEST(HuffmanCodeLengths, TiesFollowTheFixedJoiningAndHandOutOrder) {
    // Weights 2, 1, 1, 2: the joined pair goes ahead of the other weight-2
    // nodes, giving a three-level tree rather than a balanced one.
    EXPECT_EQ(LengthsFor({{0, 2}, {16, 1}, {17, 1}, {32, 2}}), (std::vector<int>{2, 3, 3, 1}));
    // Five equal weights: the tree has the two lowest symbols at depth 2, but
    // lengths go out along (count, symbol), so they take the 3-bit lengths.
    EXPECT_EQ(LengthsFor({{16, 1}, {17, 1}, {18, 1}, {19, 1}, {20, 1}}),
              (std::vector<int>{3, 3, 2, 2, 2}));
    EXPECT_EQ(LengthsFor({{0, 1000}}), (std::vector<int>{1}));
}

TEST(HuffmanCodeLengths, DeepTreeIsLimitedToFifteenBits) {
    // Fibonacci counts on 18 symbols give depths 1..16, 17, 17. The three
    // over-long codes split, in turn, a 14-, a 13- and a 14-bit code.
    std::map<int, uint64_t> counts;
    uint64_t a = 1, b = 1;
    for (int i = 0; i < 18; ++i) {
        counts[16 + i] = a;
        a = std::exchange(b, a + b);
    }
    EXPECT_EQ(LengthsFor(counts),
              (std::vector<int>{15, 15, 15, 15, 15, 14, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1}));
}

TEST(HuffmanEncoder, WritesTheExactTableAndBlockBits) {
    struct Case {
        std::vector<Block> blocks;
        std::string bits;
    };
    const Case cases[] = {
        // Counts: end 2, 0x10 one, 0x11 one, 0x20 two. Codes 0x20 = 0,
        // end = 10, 0x10 = 110, 0x11 = 111; values 2 = 00, 3 = 01, -1 = 1, 1 = 0.
        {{MakeBlock({{0, 2}}), MakeBlock({{0, 3}, {1, -1}, {3, 1}})},
         TableBits({{0x00, 2}, {0x10, 3}, {0x11, 3}, {0x20, 1}}) + "0 00 10" + "0 01 110 1 111 0 10"},
        // A lone last coefficient: four 15-zero symbols, run 3 with size
        // class 2 (symbol 51, value 5 = 001) and no end-of-block.
        {{MakeBlock({{63, 5}})}, TableBits({{15, 1}, {51, 1}}) + "0000 1 001"},
        // All-zero blocks: only the end-of-block, one bit each.
        {std::vector<Block>(10, Block(64, 0)), TableBits({{0, 1}}) + "0000000000"},
    };
    for (const Case& c : cases) {
        CHuffmanCoder coder;
        const std::vector<uint8_t> bytes = EncodeUnit(c.blocks, coder);
        EXPECT_EQ(bytes, FromBits(c.bits));
        EXPECT_EQ(DecodeUnit(bytes, c.blocks.size()), c.blocks);
    }
}

TEST(HuffmanEncoder, RefusesWhatItCannotCodeWithoutWriting) {
    CHuffmanCoder coder;
    MemoryWriter writer;
    for (int bad : {2048, -2048, -32768, 32767}) {
        const Block block = MakeBlock({{5, bad}});
        const int16_t* pointer = block.data();
        EXPECT_EQ(coder.BuildAndWriteTable(&writer.stream, &pointer, 1), 0) << bad;
    }
    const Block zeros(64, 0);
    const int16_t* pointer = zeros.data();
    const int16_t* missing = nullptr;
    EXPECT_EQ(coder.BuildAndWriteTable(nullptr, &pointer, 1), 0);
    EXPECT_EQ(coder.BuildAndWriteTable(&writer.stream, &pointer, 0), 0);
    EXPECT_EQ(coder.BuildAndWriteTable(&writer.stream, &missing, 1), 0);
    EXPECT_EQ(writer.stream.position + writer.stream.count, 0u);

    // A block with a symbol the counted blocks never produced.
    ASSERT_EQ(coder.BuildAndWriteTableContiguous(&writer.stream, zeros.data(), 1), 1);
    const BitStream before = writer.stream;
    EXPECT_EQ(coder.EncodeBlock(MakeBlock({{0, 1}}).data()), 0);
    EXPECT_EQ(coder.EncodeBlock(MakeBlock({{0, 4000}}).data()), 0);
    EXPECT_EQ(writer.stream.position, before.position);
    EXPECT_EQ(writer.stream.count, before.count);
}

TEST(HuffmanRoundTrip, TypicalExtremeAndSkewedUnits) {
    std::mt19937 rng(1234);
    std::vector<Block> blocks = TypicalBlocks(rng, 300);
    Block extremes(64);
    for (int j = 0; j < 64; ++j) extremes[j] = int16_t(j & 1 ? -2047 : 2047);
    blocks.push_back(extremes);
    blocks.push_back(MakeBlock({{0, -2047}, {17, 1024}, {40, -1024}, {62, 1}}));
    blocks.push_back(MakeBlock({{15, 1}, {31, -1}, {47, 2}, {63, 1}}));  // runs of exactly 15
    blocks.push_back(MakeBlock({{16, 1}, {48, 3}}));                     // runs of 16 and 31
    CHuffmanCoder coder;
    EXPECT_EQ(DecodeUnit(EncodeUnit(blocks, coder), blocks.size()), blocks);

    // Symbol k drawn with probability about 2^-k over 40 symbols: the
    // unlimited tree is far deeper than 15 levels.
    std::geometric_distribution<int> pick(0.5);
    std::vector<Block> skewed(1, Block(64, 0));
    int position = 0;
    for (int n = 0; n < 200000; ++n) {
        const int k = std::min(pick(rng), 39), run = k % 4, size = k / 4;
        if (position + run >= 64) {
            skewed.emplace_back(64, 0);
            position = 0;
        }
        position += run;
        skewed.back()[position++] = int16_t((n & 1 ? -1 : 1) << size);
    }
    const std::vector<uint8_t> bytes = EncodeUnit(skewed, coder);
    uint32_t longest = 0;
    for (int s = 0; s < kHuffmanSymbolCount; ++s) longest = std::max(longest, coder.CodeLength(s));
    EXPECT_EQ(longest, 15u);
    EXPECT_EQ(DecodeUnit(bytes, skewed.size()), skewed);
}

// The frame writer puts its own fields between blocks on the same stream, and
// the decoders scatter into the interleaved four-channel block; every
// decoding call must agree with the others.
TEST(HuffmanRoundTrip, CallerFieldsScansAndEveryDecoderAgree) {
    std::mt19937 rng(5);
    const std::vector<Block> blocks = TypicalBlocks(rng, 60);
    std::vector<const int16_t*> pointers;
    for (const Block& b : blocks) pointers.push_back(b.data());
    MemoryWriter writer;
    CHuffmanCoder coder;
    ASSERT_EQ(coder.BuildAndWriteTable(&writer.stream, pointers.data(), pointers.size()), 1);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        PutBits(writer.stream, uint32_t(i % 64) << 26, 6);
        ASSERT_EQ(coder.EncodeBlock(blocks[i].data()), 1);
    }
    const std::vector<uint8_t> bytes = writer.Finish();

    uint8_t scans[4][64];
    BuildInterleavedScanTables(scans);
    BitStream reader;
    BitStreamInitBounded(reader, bytes.data(), bytes.size());
    CHuffmanCoder decoder;
    ASSERT_EQ(decoder.ReadTable(&reader), 1);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        ASSERT_EQ(GetBits(reader, 6), i % 64);
        const int k = int(i % 4);
        std::vector<int16_t> interleaved(256, 0);
        if (i % 3 == 0) {
            ASSERT_EQ(decoder.DecodeBlock(interleaved.data(), scans[k]), 1);
        } else if (i % 3 == 1) {
            ASSERT_EQ(decoder.DecodeBlockSparse(interleaved.data(), scans[k]), 1);
        } else {
            for (int j = 0;;) {
                int32_t run = -1;
                const int32_t value = decoder.DecodeValue(run);
                ASSERT_NE(value, CHuffmanCoder::kInvalidValue);
                if (value == 0) break;
                j += run;
                ASSERT_LT(j, 64);
                interleaved[scans[k][j++]] = int16_t(value);
                if (j == 64) break;
            }
        }
        for (int j = 0; j < 64; ++j) {
            const int row = kZigZag[j] / 8, column = kZigZag[j] % 8;
            ASSERT_EQ(interleaved[32 * row + 4 * column + k], blocks[i][j]) << i << " " << j;
        }
    }
    EXPECT_FALSE(BitStreamOverrun(reader));
}

int ReadTableFrom(const std::string& bits) {
    const std::vector<uint8_t> bytes = FromBits(bits);
    BitStream reader;
    BitStreamInitBounded(reader, bytes.data(), bytes.size());
    CHuffmanCoder coder;
    return coder.ReadTable(&reader);
}

TEST(HuffmanDecoder, AcceptsOnlyTablesThatArePrefixCodes) {
    EXPECT_EQ(ReadTableFrom(TableBits({{0, 1}, {16, 1}, {17, 1}})), 0);  // over-subscribed
    EXPECT_EQ(ReadTableFrom(TableBits({{0, 1}, {16, 2}, {17, 2}, {18, 3}})), 0);
    EXPECT_EQ(ReadTableFrom(TableBits({{0, 1}, {16, 0}})), 0);  // used with length 0
    EXPECT_EQ(ReadTableFrom(TableBits({{0, 1}, {7, 1}})), 0);   // symbol never coded
    EXPECT_EQ(ReadTableFrom(TableBits({})), 0);                 // nothing used
    std::string cut = TableBits({{0, 1}, {191, 1}});
    EXPECT_EQ(ReadTableFrom(cut.substr(0, cut.size() - 9)), 0);  // ends inside the table

    EXPECT_EQ(ReadTableFrom(TableBits({{0, 1}, {16, 1}})), 1);             // complete
    EXPECT_EQ(ReadTableFrom(TableBits({{0, 1}})), 1);                      // single symbol
    EXPECT_EQ(ReadTableFrom(TableBits({{0, 1}, {16, 2}, {191, 15}})), 1);  // incomplete
}

TEST(HuffmanDecoder, RefusesBlocksThatLeaveTheBlockOrTheData) {
    // Codes: 15 = 00, end = 010, 51 (run 3, size 2) = 011, 52 (run 4,
    // size 2) = 100, 180 (run 4, size 11) = 101; 11x is no code.
    const std::string table = TableBits({{0, 3}, {15, 2}, {51, 3}, {52, 3}, {180, 3}});
    auto decode = [&](const std::string& blockBits) {
        const std::vector<uint8_t> bytes = FromBits(table + blockBits);
        BitStream reader;
        BitStreamInitBounded(reader, bytes.data(), bytes.size());
        CHuffmanCoder coder;
        EXPECT_EQ(coder.ReadTable(&reader), 1);
        Block block(64);
        const int result = coder.DecodeBlock(block.data(), IdentityScan());
        EXPECT_TRUE(result == 0 || block == MakeBlock({{63, 5}}));
        return result == 1;
    };
    EXPECT_TRUE(decode("00 00 00 00 011 001"));            // lands on 63
    EXPECT_FALSE(decode("00 00 00 00 100 001"));           // would land on 64
    EXPECT_FALSE(decode("00 00 00 00 101 00000000000"));   // the same with a long value
    EXPECT_FALSE(decode("00 00 00 00 00 010"));            // 75 zeros
    EXPECT_FALSE(decode("111"));                           // no code
    EXPECT_FALSE(decode("011"));                           // value bits past the data

    // The 15-zero symbol with the all-zero code, read on past the data, would
    // repeat forever.
    const std::vector<uint8_t> bytes = FromBits(TableBits({{15, 1}, {16, 1}}));
    BitStream reader;
    BitStreamInitBounded(reader, bytes.data(), bytes.size());
    CHuffmanCoder coder;
    ASSERT_EQ(coder.ReadTable(&reader), 1);
    int32_t run = 0;
    EXPECT_EQ(coder.DecodeValue(run), CHuffmanCoder::kInvalidValue);
    Block b(64);
    EXPECT_EQ(coder.DecodeBlock(b.data(), IdentityScan()), 0);
    EXPECT_EQ(CHuffmanCoder().DecodeBlock(b.data(), IdentityScan()), 0);  // no table
}

// Corrupted and truncated units never make the decoder read or write out of
// bounds (checked under the sanitizer build) and always come to an end.
TEST(HuffmanDecoder, SurvivesBitFlipsTruncationAndGarbage) {
    std::mt19937 rng(2024);
    CHuffmanCoder encoder;
    const std::vector<uint8_t> clean = EncodeUnit(TypicalBlocks(rng, 40), encoder);
    int tablesAccepted = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        std::vector<uint8_t> bytes = clean;
        if (trial % 3 == 0) {
            bytes.resize(rng() % bytes.size());
        } else {
            for (int f = 0; f <= trial % 5; ++f) bytes[rng() % bytes.size()] ^= uint8_t(1 << rng() % 8);
        }
        if (trial % 7 == 0) {
            for (uint8_t& b : bytes) b = uint8_t(rng());
        }
        std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size()]);
        std::copy(bytes.begin(), bytes.end(), exact.get());
        BitStream reader;
        BitStreamInitBounded(reader, exact.get(), bytes.size());
        CHuffmanCoder decoder;
        if (!decoder.ReadTable(&reader)) continue;
        ++tablesAccepted;
        // Every block takes at least one bit, so the end of the data must be
        // reported within that many blocks.
        std::unique_ptr<int16_t[]> values(new int16_t[64]());
        std::size_t decoded = 0;
        int32_t run;
        while (trial % 2 ? decoder.DecodeBlockSparse(values.get(), IdentityScan()) == 1
                         : decoder.DecodeValue(run) != CHuffmanCoder::kInvalidValue) {
            ASSERT_LE(++decoded, bytes.size() * 8 + 1);
        }
        for (int j = 0; j < 64; ++j) ASSERT_LE(std::abs(values[j]), 2047);
    }
    EXPECT_GT(tablesAccepted, 1000);  // the blocks were exercised, not just the tables
}

}  // namespace

// A contiguous run's symbols are kept from counting for encoding: the bits
// must be those of a coder that splits every block again, for blocks of the
// run in any order, a block given twice, and a block from outside the run
// (it is split afresh) - and a failed count must keep nothing.
TEST(HuffmanCoder, KeptSymbolsEncodeExactlyAsFreshOnes) {
    std::mt19937 rng(9);
    const std::size_t count = 40;
    std::vector<int16_t> blocks(count * 64, 0);
    for (std::size_t i = 0; i < blocks.size(); ++i)
        if (rng() % 5 == 0) blocks[i] = int16_t(int(rng() % 4095) - 2047);
    for (std::size_t i = 64 * 7; i < 64 * 8; ++i) blocks[i] = 0;  // an empty block
    blocks[64 * 9 + 63] = 5;                                      // ends on a value
    std::vector<const int16_t*> pointers;
    for (std::size_t b = 0; b < count; ++b) pointers.push_back(blocks.data() + 64 * b);
    const std::vector<int16_t> outside(blocks.begin() + 64 * 3, blocks.begin() + 64 * 4);
    const std::size_t order[] = {0, 5, 5, 39, 1, 7, 9, 20};

    MemoryWriter kept_writer, fresh_writer;
    CHuffmanCoder kept, fresh;
    ASSERT_EQ(kept.BuildAndWriteTableContiguous(&kept_writer.stream, blocks.data(), count), 1);
    ASSERT_EQ(fresh.BuildAndWriteTable(&fresh_writer.stream, pointers.data(), count), 1);
    for (std::size_t b : order) {
        ASSERT_EQ(kept.EncodeBlock(blocks.data() + 64 * b), 1) << b;
        ASSERT_EQ(fresh.EncodeBlock(blocks.data() + 64 * b), 1) << b;
    }
    ASSERT_EQ(kept.EncodeBlock(outside.data()), 1);
    ASSERT_EQ(fresh.EncodeBlock(outside.data()), 1);
    EXPECT_EQ(kept_writer.Finish(), fresh_writer.Finish());

    // A run with a magnitude that has no symbol is refused and leaves no
    // symbols behind for the blocks' addresses.
    std::vector<int16_t> bad = blocks;
    bad[64 * 30] = 4000;
    MemoryWriter again;
    EXPECT_EQ(kept.BuildAndWriteTableContiguous(&again.stream, bad.data(), count), 0);
    EXPECT_EQ(kept.EncodeBlock(bad.data()), 0);
}
