#pragma once
// Two-pass Huffman coder for blocks of 64 quantised coefficients, shared by
// the video frames and the still images. The encoder counts the symbols of
// every block of a coded unit, derives a code of at most 15 bits per symbol,
// writes the code-length table and then each block with that code; the
// decoder reads the table back and decodes the blocks.
//
// A block is 64 signed coefficients in scan order, each magnitude at most
// 2047. It is coded as a string of symbols, one byte each: low nibble = run
// of zeros before a value (0..15), high nibble = size class s + 1 where
// 2^s <= |value| < 2^(s+1). Symbol 0 ends the block (the rest is zero),
// symbol 15 stands for 15 zeros with no value; 1..14 are never used. A value
// symbol is followed by a sign bit (1 = negative) and the s bits of the
// magnitude below its leading one. A block whose last coefficient is non-zero
// has no end-of-block symbol.
//
// The length table is, for each symbol 0..191, a bit 0 (unused) or a bit 1
// and the code length in 4 bits. Codes are canonical: shorter codes first,
// within one length in increasing symbol order.
//
// Decoding is safe on untrusted data read through a bounded BitStream: a bit
// pattern that is no code, a run past the end of the block, a table that is
// not a prefix code or bits consumed past the end of the data all make the
// call report failure; no write ever leaves the 64 positions of the scan.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "support/bitstream.h"

namespace _pqxlib_ {

constexpr int kHuffmanSymbolCount = 192;
constexpr int kHuffmanMaxCodeLength = 15;
constexpr int kMaxCoefficientMagnitude = 2047;
constexpr int kCoefficientsPerBlock = 64;

// The symbol alphabet, for the coder and for whatever prices its blocks.
constexpr int kEndOfBlockSymbol = 0;
constexpr int kZeroRunSymbol = 15;
constexpr uint32_t kZeroRunLength = 15;   // zeros one kZeroRunSymbol stands for
constexpr uint32_t kLongestValueRun = 15;  // zeros a value symbol carries itself
constexpr int kSizeClassCount = 11;        // magnitudes 1..2047

// The size class s of a magnitude 1..2047: 2^s <= magnitude < 2^(s+1).
inline int SizeClass(uint32_t magnitude) { return 31 - __builtin_clz(magnitude); }
// The symbol of a value of size class `size` after run (0..15) zeros.
constexpr int ValueSymbol(uint32_t run, int size) { return int(run) + 16 * (size + 1); }
// The sign and magnitude bits that follow a value symbol.
constexpr uint32_t ValueBitCount(int size) { return uint32_t(size) + 1; }
// How many zero-run symbols a value after `run` (0..63) zeros needs first;
// the value symbol carries the rest, run - kZeroRunLength * that many.
constexpr uint32_t ZeroRunSymbols(uint32_t run) { return run > kLongestValueRun ? (run - 1) / kZeroRunLength : 0; }

// Bit i set when block[i] != 0. The flags are formed as bytes, which the
// compiler vectorises, and each run of eight is gathered into one byte of the
// mask with a multiply: byte k of a group lands on bit 56 + k.
inline uint64_t NonZeroCoefficients(const int16_t* block) {
    uint8_t flags[kCoefficientsPerBlock];
    for (int i = 0; i < kCoefficientsPerBlock; ++i) flags[i] = block[i] != 0;
    uint64_t mask = 0;
    for (int g = 0; g < 8; ++g) {
        uint64_t eight;
        std::memcpy(&eight, flags + 8 * g, 8);
        if constexpr (std::endian::native == std::endian::big) eight = __builtin_bswap64(eight);
        mask |= ((eight * 0x0102040810204080ull) >> 56) << (8 * g);
    }
    return mask;
}

// The walk the coder makes through a block: visit(run, value) for every
// non-zero coefficient after position `after`, in scan order, run being the
// zeros since the previous one (0..63; ZeroRunSymbols tells how they are
// coded). Returns whether an end-of-block symbol follows, which it does
// unless the last coefficient is non-zero. Prices of a block's bits walk it
// the same way, so they follow any change to how the coder splits a block.
template <class Visit>
bool WalkBlock(const int16_t* block, Visit&& visit, int after = -1) {
    uint64_t nonZero = NonZeroCoefficients(block);
    if (after >= 0) nonZero = after < kCoefficientsPerBlock - 1 ? nonZero & (~uint64_t(0) << (after + 1)) : 0;
    int last = after;
    while (nonZero) {
        const int i = __builtin_ctzll(nonZero);
        nonZero &= nonZero - 1;
        visit(uint32_t(i - last - 1), block[i]);
        last = i;
    }
    return last < kCoefficientsPerBlock - 1;
}

// Code lengths (0 = unused, else 1..15) of the code the encoder derives from
// the symbol counts of a unit. A single used symbol gets length 1; when the
// Huffman tree is deeper than 15 levels the lengths are limited, which leaves
// the code incomplete (some bit patterns are no code).
void BuildCodeLengths(const uint64_t counts[kHuffmanSymbolCount],
                      uint8_t lengths[kHuffmanSymbolCount]);

// One coder per coded unit. The writer or reader is the caller's: the caller
// writes or reads its own fields on the same stream between the blocks.
// One symbol of a block with the value bits that follow it.
struct HuffmanSymbol {
    uint8_t symbol;
    uint8_t valueLength;  // sign bit and magnitude bits, 0 for run symbols
    uint16_t valueBits;
};

class CHuffmanCoder {
public:
    CHuffmanCoder();

    // Counts the symbols of the blocks (pointers to 64 coefficients in scan
    // order), derives the code and writes the length table. Returns 0 and
    // writes nothing when the writer or the blocks are missing, count is 0, or
    // a coefficient's magnitude exceeds 2047 (it has no symbol).
    int BuildAndWriteTable(BitStream* writer, const int16_t* const* blocks, std::size_t count);
    // The same for count blocks stored one after the other; their symbols
    // are kept for EncodeBlock, so the blocks must not change until they
    // have been encoded.
    int BuildAndWriteTableContiguous(BitStream* writer, const int16_t* blocks, std::size_t count);

    // Writes one block with the current code. Returns 0 and writes nothing
    // when there is no code yet, a magnitude exceeds 2047 or a symbol of the
    // block has no code (the block was not among those counted).
    int EncodeBlock(const int16_t* block);

    // Reads a length table and builds the decoding tables. Returns 0 for a
    // table the encoder cannot produce: no symbol used, a used symbol with
    // length 0, a length given to one of the symbols 1..14, lengths that are
    // over-subscribed (not a prefix code) or a table cut short by the end of
    // bounded data. Incomplete codes are accepted (the encoder's length limit
    // and single-symbol tables produce them); their unused bit patterns make
    // decoding fail.
    int ReadTable(BitStream* reader);

    // Decodes one block, writing coefficient j to values[scan[j]] for all 64
    // j. Returns 0 on a corrupt block (values then hold a partial block and
    // the unit should be abandoned), on data past the end of a bounded
    // reader, or when no table has been read.
    int DecodeBlock(int16_t* values, const uint8_t* scan);
    // The same, but only the non-zero coefficients are written; the caller
    // has cleared the block.
    int DecodeBlockSparse(int16_t* values, const uint8_t* scan);

    // Next non-zero value and the zeros before it (15-zero symbols included)
    // in run; 0 with run 0 at the end of a block. Returns kInvalidValue on a
    // corrupt stream (no code, or zeros running past a block's 63 positions).
    // The caller keeps track of its position in the block.
    int32_t DecodeValue(int32_t& run);
    static constexpr int32_t kInvalidValue = INT32_MIN;

    // The current code: length 0..15 and the code left-aligned in 32 bits.
    uint32_t CodeLength(int symbol) const { return lengths_[symbol]; }
    uint32_t Code(int symbol) const { return codes_[symbol]; }

private:
    // Bits of the first decoding look-up; longer codes take the slow path.
    static constexpr int kFastBits = 11;

    // What the next kFastBits bits decode to. A value symbol whose code and
    // value bits both fit is decoded completely (total_length != 0).
    struct FastEntry {
        int16_t value;
        uint8_t symbol;
        uint8_t code_length;   // 0: no code of at most kFastBits bits starts here
        uint8_t total_length;  // code plus value bits, 0 when they do not fit
        uint8_t unused;
    };

    int CountBlock(const int16_t* block);
    int CountBlockKeeping(const int16_t* block);
    // The kept symbols of a block of the contiguous run counted last, or
    // null when the block is not one of them.
    const HuffmanSymbol* KeptSymbols(const int16_t* block, int* count) const;
    int FinishTable(BitStream* writer);
    int AssignCodes();
    void BuildDecodingTables();
    int DecodeSymbolSlow(BitStream& s) const;
    inline int DecodeSymbol(BitStream& s) const;
    int DecodeCoefficients(int16_t* values, const uint8_t* scan);

    BitStream* writer_ = nullptr;
    BitStream* reader_ = nullptr;
    uint64_t counts_[kHuffmanSymbolCount];
    uint8_t lengths_[kHuffmanSymbolCount];
    uint32_t codes_[kHuffmanSymbolCount];

    // Decoding: the fast look-up; per length the first canonical code
    // (right-aligned), the number of codes and where its symbols start in the
    // canonical list.
    FastEntry fast_[1 << kFastBits];
    uint32_t firstCode_[kHuffmanMaxCodeLength + 1];
    uint32_t lengthCount_[kHuffmanMaxCodeLength + 1];
    uint32_t lengthOffset_[kHuffmanMaxCodeLength + 1];
    uint8_t canonical_[kHuffmanSymbolCount];
    uint32_t maxLength_ = 0;
    uint32_t entryCount_ = 0;

    // The contiguous run's symbols, kept from counting for encoding: block k
    // has kept_[keptStart_[k] .. keptStart_[k + 1]); kept_ may be longer.
    const int16_t* keptBlocks_ = nullptr;
    std::vector<HuffmanSymbol> kept_;
    std::vector<uint32_t> keptStart_;
};

}  // namespace _pqxlib_
