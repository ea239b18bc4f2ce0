#include "pqxlib/huffman.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace _pqxlib_ {

namespace {

// Every symbol a block can produce: at most 64 values, at most 4 zero-run
// symbols (they only cover the 63 zeros a block can hold before a value) and
// one end-of-block.
constexpr int kMaxSymbolsPerBlock = 72;

using CodedSymbol = HuffmanSymbol;

// Splits a block into its symbols. Returns the number of symbols, or -1 when
// a magnitude has no symbol.
int CollectSymbols(const int16_t* block, CodedSymbol* out) {
    int n = 0;
    bool coded = true;
    const bool ends = WalkBlock(block, [&](uint32_t run, int value) {
        const uint32_t zero_runs = ZeroRunSymbols(run);
        for (uint32_t k = 0; k < zero_runs; ++k) out[n++] = {uint8_t(kZeroRunSymbol), 0, 0};
        run -= kZeroRunLength * zero_runs;
        const uint32_t magnitude = uint32_t(value < 0 ? -value : value);
        if (magnitude > kMaxCoefficientMagnitude) {
            coded = false;
            return;
        }
        const int size = SizeClass(magnitude);
        const uint32_t sign = value < 0 ? 1u : 0u;
        out[n++] = {uint8_t(ValueSymbol(run, size)), uint8_t(ValueBitCount(size)),
                    uint16_t((sign << size) | (magnitude & ((1u << size) - 1)))};
    });
    if (!coded) return -1;
    if (ends) out[n++] = {uint8_t(kEndOfBlockSymbol), 0, 0};
    return n;
}

// Packs one block's bits behind the writer's pending bits and hands the whole
// bytes to the stream in one write. The record ends exactly as if the same
// bits had gone through PutBits one field at a time, so the caller's own
// fields and FlushBits carry on from it.
class BlockPacker {
public:
    explicit BlockPacker(BitStream& stream)
        : stream_(stream), pending_(uint64_t(stream.buffer) << 32), bits_(stream.count) {}

    // Appends the n bits (n <= 26) at the top of word.
    void Put(uint32_t word, uint32_t n) {
        pending_ |= uint64_t(word) << (32 - bits_);  // bits_ < 32 here
        bits_ += n;
        if (bits_ >= 32) {
            const uint32_t top = uint32_t(pending_ >> 32);
            bytes_[size_++] = uint8_t(top >> 24);
            bytes_[size_++] = uint8_t(top >> 16);
            bytes_[size_++] = uint8_t(top >> 8);
            bytes_[size_++] = uint8_t(top);
            pending_ <<= 32;
            bits_ -= 32;
        }
    }

    void Finish() {
        while (bits_ >= 8) {
            bytes_[size_++] = uint8_t(pending_ >> 56);
            pending_ <<= 8;
            bits_ -= 8;
        }
        stream_.count = 0;
        PutBytes(stream_, bytes_, size_);
        stream_.buffer = uint32_t(pending_ >> 32);
        stream_.count = bits_;
    }

private:
    BitStream& stream_;
    uint64_t pending_;  // next bits at the most significant end
    uint32_t bits_;
    uint32_t size_ = 0;
    // A block has at most kMaxSymbolsPerBlock symbols of at most 26 bits.
    uint8_t bytes_[(kMaxSymbolsPerBlock * 26 + 7) / 8 + 8];
};

// A node of the code tree; leaves come first, joined nodes after them.
struct TreeNode {
    uint64_t weight;
    int child[2];  // -1 for a leaf
    int symbol;
};

// Builds the code tree of the symbols that occur; returns the number of
// nodes and the root in *root, or 0 when no symbol occurs.
int JoinLightest(const uint64_t counts[kHuffmanSymbolCount], TreeNode nodes[2 * kHuffmanSymbolCount], int* root) {
    int active[kHuffmanSymbolCount];
    int nodeCount = 0, activeCount = 0;
    for (int symbol = 0; symbol < kHuffmanSymbolCount; ++symbol) {
        if (counts[symbol] == 0) continue;
        nodes[nodeCount] = {counts[symbol], {-1, -1}, symbol};
        active[activeCount++] = nodeCount++;
    }
    if (activeCount == 0) return 0;

    // The order of equal weights decides the shape of the tree, and with it
    // the stored code, so the joining follows one fixed rule: a stable sort,
    // then the joined node replaces its first child in the list, which puts it
    // ahead of the nodes of equal weight at the next sort.
    while (activeCount > 1) {
        for (int i = 1; i < activeCount; ++i) {
            const int node = active[i];
            int j = i;
            while (j > 0 && nodes[active[j - 1]].weight > nodes[node].weight) {
                active[j] = active[j - 1];
                --j;
            }
            active[j] = node;
        }
        nodes[nodeCount] = {nodes[active[0]].weight + nodes[active[1]].weight,
                            {active[0], active[1]}, -1};
        active[0] = nodeCount++;
        std::memmove(active + 1, active + 2, sizeof(int) * (activeCount - 2));
        --activeCount;
    }
    *root = active[0];
    return nodeCount;
}

// How many leaves lie at each depth; the tree can be up to 191 levels deep.
// A lone symbol still takes one bit.
void CountLeafDepths(const TreeNode nodes[], int nodeCount, int root,
                     uint32_t lengthCount[kHuffmanSymbolCount + 1]) {
    if (nodeCount == 1) {
        lengthCount[1] = 1;
        return;
    }
    int depth[2 * kHuffmanSymbolCount];
    int queue[2 * kHuffmanSymbolCount];
    int head = 0, tail = 0;
    depth[root] = 0;
    queue[tail++] = root;
    while (head < tail) {
        const int index = queue[head++];
        const TreeNode& node = nodes[index];
        const int d = depth[index];
        if (node.child[0] < 0) {
            ++lengthCount[d];
            continue;
        }
        for (int c : node.child) {
            depth[c] = d + 1;
            queue[tail++] = c;
        }
    }
}

// Each over-long code is dropped and the deepest code of at most 14 bits
// is split into two one bit longer: the symbol count stays, the code
// stays prefix-free (it only loses completeness).
void LimitCodeLengths(uint32_t lengthCount[kHuffmanSymbolCount + 1]) {
    uint32_t overLong = 0;
    for (int l = kHuffmanMaxCodeLength + 1; l <= kHuffmanSymbolCount; ++l) {
        overLong += lengthCount[l];
        lengthCount[l] = 0;
    }
    for (uint32_t k = 0; k < overLong; ++k) {
        int l = kHuffmanMaxCodeLength - 1;
        while (l > 0 && lengthCount[l] == 0) --l;
        if (l == 0) break;  // cannot happen with 192 symbols
        --lengthCount[l];
        lengthCount[l + 1] += 2;
    }
}

// Least frequent symbols take the longest lengths; equal counts go by
// increasing symbol.
void HandOutLengths(const uint64_t counts[kHuffmanSymbolCount], const uint32_t lengthCount[],
                    uint8_t lengths[kHuffmanSymbolCount]) {
    int order[kHuffmanSymbolCount];
    int used = 0;
    for (int symbol = 0; symbol < kHuffmanSymbolCount; ++symbol) {
        if (counts[symbol] != 0) order[used++] = symbol;
    }
    std::stable_sort(order, order + used,
                     [counts](int a, int b) { return counts[a] < counts[b]; });
    int next = 0;
    for (int l = kHuffmanMaxCodeLength; l >= 1; --l) {
        for (uint32_t k = 0; k < lengthCount[l] && next < used; ++k) lengths[order[next++]] = uint8_t(l);
    }
}

}  // namespace

void BuildCodeLengths(const uint64_t counts[kHuffmanSymbolCount],
                      uint8_t lengths[kHuffmanSymbolCount]) {
    std::memset(lengths, 0, kHuffmanSymbolCount);
    TreeNode nodes[2 * kHuffmanSymbolCount];
    int root = 0;
    const int nodeCount = JoinLightest(counts, nodes, &root);
    if (nodeCount == 0) return;
    uint32_t lengthCount[kHuffmanSymbolCount + 1] = {};
    CountLeafDepths(nodes, nodeCount, root, lengthCount);
    LimitCodeLengths(lengthCount);
    HandOutLengths(counts, lengthCount, lengths);
}

CHuffmanCoder::CHuffmanCoder() {
    std::memset(counts_, 0, sizeof(counts_));
    std::memset(lengths_, 0, sizeof(lengths_));
    std::memset(codes_, 0, sizeof(codes_));
    std::memset(fast_, 0, sizeof(fast_));
    std::memset(firstCode_, 0, sizeof(firstCode_));
    std::memset(lengthCount_, 0, sizeof(lengthCount_));
    std::memset(lengthOffset_, 0, sizeof(lengthOffset_));
    std::memset(canonical_, 0, sizeof(canonical_));
}

int CHuffmanCoder::CountBlock(const int16_t* block) {
    if (!block) return 0;
    CodedSymbol symbols[kMaxSymbolsPerBlock];
    const int n = CollectSymbols(block, symbols);
    if (n < 0) return 0;
    for (int i = 0; i < n; ++i) ++counts_[symbols[i].symbol];
    return 1;
}

// Counts as CountBlock and keeps the symbols for EncodeBlock: a frame's
// blocks are then split into symbols once, not twice.
int CHuffmanCoder::CountBlockKeeping(const int16_t* block) {
    // kept_ only grows, so its elements are not cleared block by block.
    const std::size_t at = keptStart_.back();
    if (kept_.size() < at + kMaxSymbolsPerBlock) kept_.resize(2 * (at + kMaxSymbolsPerBlock));
    const int n = CollectSymbols(block, kept_.data() + at);
    if (n < 0) return 0;
    for (int i = 0; i < n; ++i) ++counts_[kept_[at + i].symbol];
    keptStart_.push_back(uint32_t(at + std::size_t(n)));
    return 1;
}

const CodedSymbol* CHuffmanCoder::KeptSymbols(const int16_t* block, int* count) const {
    if (!keptBlocks_ || block < keptBlocks_) return nullptr;
    const std::size_t offset = std::size_t(block - keptBlocks_);
    const std::size_t k = offset / kCoefficientsPerBlock;
    if (offset % kCoefficientsPerBlock != 0 || k + 1 >= keptStart_.size()) return nullptr;
    *count = int(keptStart_[k + 1] - keptStart_[k]);
    return kept_.data() + keptStart_[k];
}

int CHuffmanCoder::BuildAndWriteTable(BitStream* writer, const int16_t* const* blocks,
                                      std::size_t count) {
    writer_ = nullptr;
    keptBlocks_ = nullptr;
    if (!writer || !blocks || count == 0) return 0;
    std::memset(counts_, 0, sizeof(counts_));
    for (std::size_t i = 0; i < count; ++i) {
        if (!CountBlock(blocks[i])) return 0;
    }
    return FinishTable(writer);
}

int CHuffmanCoder::BuildAndWriteTableContiguous(BitStream* writer, const int16_t* blocks,
                                                std::size_t count) {
    writer_ = nullptr;
    if (!writer || !blocks || count == 0) return 0;
    std::memset(counts_, 0, sizeof(counts_));
    keptBlocks_ = nullptr;
    keptStart_.assign(1, 0);
    keptStart_.reserve(count + 1);
    for (std::size_t i = 0; i < count; ++i) {
        if (!CountBlockKeeping(blocks + i * kCoefficientsPerBlock)) return 0;
    }
    keptBlocks_ = blocks;
    return FinishTable(writer);
}

int CHuffmanCoder::FinishTable(BitStream* writer) {
    reader_ = nullptr;
    BuildCodeLengths(counts_, lengths_);
    for (int symbol = 0; symbol < kHuffmanSymbolCount; ++symbol) {
        if (lengths_[symbol] == 0) {
            PutBits(*writer, 0, 1);
        } else {
            PutBits(*writer, (0x10u | lengths_[symbol]) << 27, 5);
        }
    }
    AssignCodes();
    writer_ = writer;
    return 1;
}

// Canonical codes from lengths_. Returns 0 when the lengths are
// over-subscribed, i.e. no prefix code has them.
int CHuffmanCoder::AssignCodes() {
    std::memset(lengthCount_, 0, sizeof(lengthCount_));
    for (int symbol = 0; symbol < kHuffmanSymbolCount; ++symbol) ++lengthCount_[lengths_[symbol]];
    lengthCount_[0] = 0;

    uint32_t next[kHuffmanMaxCodeLength + 1] = {};
    uint32_t code = 0, offset = 0;
    maxLength_ = 0;
    for (int l = 1; l <= kHuffmanMaxCodeLength; ++l) {
        firstCode_[l] = code;
        next[l] = code;
        lengthOffset_[l] = offset;
        offset += lengthCount_[l];
        code += lengthCount_[l];
        if (code > (1u << l)) return 0;
        if (lengthCount_[l]) maxLength_ = l;
        code <<= 1;
    }
    entryCount_ = offset;

    uint32_t fill[kHuffmanMaxCodeLength + 1] = {};
    for (int symbol = 0; symbol < kHuffmanSymbolCount; ++symbol) {
        const uint32_t l = lengths_[symbol];
        if (l == 0) {
            codes_[symbol] = 0;
            continue;
        }
        codes_[symbol] = next[l]++ << (32 - l);
        canonical_[lengthOffset_[l] + fill[l]++] = uint8_t(symbol);
    }
    return 1;
}

int CHuffmanCoder::EncodeBlock(const int16_t* block) {
    if (!writer_ || !block) return 0;
    CodedSymbol collected[kMaxSymbolsPerBlock];
    int n = 0;
    const CodedSymbol* symbols = KeptSymbols(block, &n);
    if (!symbols) {
        symbols = collected;
        n = CollectSymbols(block, collected);
    }
    if (n < 0) return 0;
    for (int i = 0; i < n; ++i) {
        if (lengths_[symbols[i].symbol] == 0) return 0;
    }
    BlockPacker packer(*writer_);
    for (int i = 0; i < n; ++i) {
        const CodedSymbol& cs = symbols[i];
        const uint32_t length = lengths_[cs.symbol];
        const uint32_t total = length + cs.valueLength;
        const uint32_t word =
            codes_[cs.symbol] | (cs.valueLength ? uint32_t(cs.valueBits) << (32 - total) : 0u);
        packer.Put(word, total);
    }
    packer.Finish();
    return 1;
}

int CHuffmanCoder::ReadTable(BitStream* reader) {
    reader_ = nullptr;
    writer_ = nullptr;
    keptBlocks_ = nullptr;
    if (!reader) return 0;
    int used = 0, valid = 1;
    for (int symbol = 0; symbol < kHuffmanSymbolCount; ++symbol) {
        lengths_[symbol] = 0;
        if (GetBits(*reader, 1) == 0) continue;
        const uint32_t length = GetBits(*reader, 4);
        if (length == 0 || (symbol > kEndOfBlockSymbol && symbol < kZeroRunSymbol)) valid = 0;
        lengths_[symbol] = uint8_t(length);
        ++used;
    }
    if (!valid || used == 0 || BitStreamOverrun(*reader) || !AssignCodes()) {
        std::memset(lengths_, 0, sizeof(lengths_));
        std::memset(codes_, 0, sizeof(codes_));
        return 0;
    }
    BuildDecodingTables();
    reader_ = reader;
    return 1;
}

void CHuffmanCoder::BuildDecodingTables() {
    std::memset(fast_, 0, sizeof(fast_));
    for (int symbol = 0; symbol < kHuffmanSymbolCount; ++symbol) {
        const uint32_t l = lengths_[symbol];
        if (l == 0 || l > kFastBits) continue;
        const uint32_t first = codes_[symbol] >> (32 - kFastBits);
        const uint32_t suffixBits = kFastBits - l;
        const uint32_t size = uint32_t(symbol) >> 4;
        for (uint32_t suffix = 0; suffix < (1u << suffixBits); ++suffix) {
            FastEntry& e = fast_[first + suffix];
            e.symbol = uint8_t(symbol);
            e.code_length = uint8_t(l);
            if (size == 0 || size > suffixBits) continue;
            const uint32_t bits = suffix >> (suffixBits - size);
            const uint32_t half = 1u << (size - 1);
            e.value = int16_t((bits & half) ? -int32_t(bits) : int32_t(bits + half));
            e.total_length = uint8_t(l + size);
        }
    }
}

// Codes longer than the fast look-up. The codes up to kFastBits bits cover a
// range of prefixes starting at 0, so a prefix that missed them is at or
// above the first code of every longer length: one comparison per length
// finds the code, and a prefix past the last code of the longest length is
// an unused pattern of an incomplete code.
int CHuffmanCoder::DecodeSymbolSlow(BitStream& s) const {
    const uint32_t bits = PeekBits(s, kHuffmanMaxCodeLength);
    for (uint32_t l = kFastBits + 1; l <= maxLength_; ++l) {
        const uint32_t index = (bits >> (kHuffmanMaxCodeLength - l)) - firstCode_[l];
        if (index < lengthCount_[l]) {
            GetBits(s, l);
            return canonical_[lengthOffset_[l] + index];
        }
    }
    return -1;
}

inline int CHuffmanCoder::DecodeSymbol(BitStream& s) const {
    const FastEntry& e = fast_[PeekBits(s, kFastBits)];
    if (e.code_length == 0) return DecodeSymbolSlow(s);
    GetBits(s, e.code_length);
    return e.symbol;
}

int CHuffmanCoder::DecodeCoefficients(int16_t* values, const uint8_t* scan) {
    // A local copy lets the compiler keep the bit buffer in registers while
    // coefficients are stored.
    BitStream s = *reader_;
    int ok = 1;
    int j = 0;
    while (j < kCoefficientsPerBlock) {
        // A fully decoded entry never spans more than the peeked bits.
        const FastEntry& e = fast_[PeekBits(s, kFastBits)];
        if (e.total_length != 0) {
            GetBits(s, e.total_length);
            j += e.symbol & 15;
            if (j >= kCoefficientsPerBlock) {
                ok = 0;
                break;
            }
            values[scan[j++]] = e.value;
            continue;
        }
        int symbol;
        if (e.code_length != 0) {
            GetBits(s, e.code_length);
            symbol = e.symbol;
        } else {
            symbol = DecodeSymbolSlow(s);
        }
        if (symbol <= 0) {
            ok = symbol == 0;
            break;
        }
        const uint32_t size = uint32_t(symbol) >> 4;
        if (size == 0) {
            // 15 zeros must still leave room for the value they precede.
            j += kZeroRunLength;
            if (symbol != kZeroRunSymbol || j >= kCoefficientsPerBlock) {
                ok = 0;
                break;
            }
            continue;
        }
        j += symbol & 15;
        if (j >= kCoefficientsPerBlock) {
            ok = 0;
            break;
        }
        const uint32_t bits = GetBits(s, size);
        const uint32_t half = 1u << (size - 1);
        values[scan[j]] = int16_t((bits & half) ? -int32_t(bits) : int32_t(bits + half));
        ++j;
    }
    *reader_ = s;
    return ok && !BitStreamOverrun(s);
}

int CHuffmanCoder::DecodeBlock(int16_t* values, const uint8_t* scan) {
    if (!reader_ || !values || !scan) return 0;
    for (int j = 0; j < kCoefficientsPerBlock; ++j) values[scan[j]] = 0;
    return DecodeCoefficients(values, scan);
}

int CHuffmanCoder::DecodeBlockSparse(int16_t* values, const uint8_t* scan) {
    if (!reader_ || !values || !scan) return 0;
    return DecodeCoefficients(values, scan);
}

int32_t CHuffmanCoder::DecodeValue(int32_t& run) {
    run = 0;
    if (!reader_) return kInvalidValue;
    BitStream& s = *reader_;
    int32_t zeros = 0;
    for (;;) {
        const int symbol = DecodeSymbol(s);
        if (symbol < 0 || BitStreamOverrun(s)) return kInvalidValue;
        if (symbol == kEndOfBlockSymbol) return 0;
        const uint32_t size = uint32_t(symbol) >> 4;
        zeros += symbol & 15;
        // A block has room for at most 63 zeros before a value; the bound
        // also ends an endless string of zero-run symbols.
        if (zeros >= kCoefficientsPerBlock) return kInvalidValue;
        if (size == 0) {
            if (symbol != kZeroRunSymbol) return kInvalidValue;
            continue;
        }
        const uint32_t bits = GetBits(s, size);
        if (BitStreamOverrun(s)) return kInvalidValue;
        const uint32_t half = 1u << (size - 1);
        run = zeros;
        return (bits & half) ? -int32_t(bits) : int32_t(bits + half);
    }
}

}  // namespace _pqxlib_
