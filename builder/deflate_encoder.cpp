#include "builder/deflate_encoder.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace {

const int MaxCodeBits = 15;
const int CodeLengthSymbols = 19;
const int MaxLitLenCount = 286;  // a dynamic header may declare no more
const int MaxDistCount = 30;

// Kinds of block in the archive's 4-bit header; bit 3 flags the last block.
const uint32_t FixedKind = 5;
const uint32_t DynamicKind = 6;
const uint32_t StoredKind = 7;

// The order in which each format sends the code-length code lengths.
const uint8_t StandardOrder[CodeLengthSymbols] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                  11, 4,  12, 3, 13, 2, 14, 1, 15};
const uint8_t ArchiveOrder[CodeLengthSymbols] = {18, 17, 16, 0, 1,  2,  3,  4,  5, 6,
                                                 7,  8,  9,  10, 11, 12, 13, 14, 15};

const uint16_t LengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t LengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t DistBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                               33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                               1025, 1537, 2049, 3073, 4097, 6145,  8193,  12289, 16385, 24577};
const uint8_t DistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                               6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Reads the input at any bit position. Bits past the end read as zero, so the
// hot loops need no bounds test per field; they test Overran() instead, once
// per symbol, and nothing read past the end is ever copied out.
class BitInput {
public:
    BitInput(const uint8_t* data, size_t size) : data(data), size(size), pos(0) {}

    // At least 57 bits starting at bit `at`, least significant first.
    uint64_t PeekAt(uint64_t at) const {
        size_t byte = size_t(at >> 3);
        uint64_t word = 0;
        if (byte + 8 <= size) {
            std::memcpy(&word, data + byte, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
            word = __builtin_bswap64(word);
#endif
        } else {
            for (size_t i = byte; i < size; ++i) word |= uint64_t(data[i]) << (8 * (i - byte));
        }
        return word >> (at & 7);
    }
    uint64_t Peek() const { return PeekAt(pos); }
    uint32_t Take(int count) {
        uint32_t value = uint32_t(Peek() & ((uint64_t(1) << count) - 1));
        pos += count;
        return value;
    }
    void Skip(uint64_t count) { pos += count; }
    void AlignToByte() { pos = (pos + 7) & ~uint64_t(7); }
    uint64_t Position() const { return pos; }
    bool Overran() const { return pos > uint64_t(size) * 8; }
    const uint8_t* BytesAt(uint64_t bit) const { return data + (bit >> 3); }
    size_t BytesLeft() const { return Overran() ? 0 : size - size_t((pos + 7) >> 3); }

private:
    const uint8_t* data;
    size_t size;
    uint64_t pos;  // in bits from the start of the input
};

// Appends bits least significant first, the order of every DEFLATE field.
class BitOutput {
public:
    explicit BitOutput(std::vector<uint8_t>& bytes) : bytes(bytes) {}

    // `value` must fit in `count` bits, count <= 32.
    void Put(uint64_t value, int count) {
        pending |= value << filled;
        filled += count;
        while (filled >= 8) {
            bytes.push_back(uint8_t(pending));
            pending >>= 8;
            filled -= 8;
        }
    }
    void AlignToByte() {
        if (filled != 0) Put(0, 8 - filled);
    }
    // Only at a byte boundary.
    void PutBytes(const uint8_t* data, size_t count) { bytes.insert(bytes.end(), data, data + count); }
    // Copies input bits [from, to) unchanged, whatever the two alignments.
    void CopyBits(const BitInput& in, uint64_t from, uint64_t to) {
        for (; to - from >= 32; from += 32) Put(in.PeekAt(from) & 0xFFFFFFFFu, 32);
        int rest = int(to - from);
        if (rest > 0) Put(in.PeekAt(from) & ((uint64_t(1) << rest) - 1), rest);
    }

private:
    std::vector<uint8_t>& bytes;
    uint64_t pending = 0;
    int filled = 0;
};

// Lookup table of one Huffman code, indexed by the next `bits` input bits.
// An entry holds symbol << 4 | code length; 0 marks bit patterns no code uses.
struct DecodeTable {
    std::vector<uint16_t> entries;
    int bits = 0;
};

// A code is usable when it is complete, empty (all lengths zero: any use of
// it fails), or a single one-bit code. Over-subscribed codes and any other
// incomplete code are refused by the archive's decoder too, so a stream that
// has one must not be passed on.
bool IsUsableCode(const int* countPerLength) {
    int32_t left = 1;
    for (int len = 1; len <= MaxCodeBits; ++len) {
        left = left * 2 - countPerLength[len];
        if (left < 0) return false;
    }
    int used = 0;
    for (int len = 1; len <= MaxCodeBits; ++len) used += countPerLength[len];
    return left == 0 || used == 0 || (used == 1 && countPerLength[1] == 1);
}

uint32_t ReverseBits(uint32_t code, int length) {
    uint32_t reversed = 0;
    for (int i = 0; i < length; ++i, code >>= 1) reversed = (reversed << 1) | (code & 1);
    return reversed;
}

// Assigns the canonical codes of RFC 1951 section 3.2.2 and fills the table.
bool BuildTable(const uint8_t* lengths, int symbolCount, DecodeTable& table) {
    int count[MaxCodeBits + 1] = {0};
    for (int sym = 0; sym < symbolCount; ++sym) ++count[lengths[sym]];
    count[0] = 0;
    if (!IsUsableCode(count)) return false;
    int longest = 1;
    for (int len = 1; len <= MaxCodeBits; ++len)
        if (count[len] != 0) longest = len;
    uint32_t next[MaxCodeBits + 2] = {0};
    for (int len = 1; len <= MaxCodeBits; ++len) next[len + 1] = (next[len] + count[len]) << 1;
    table.bits = longest;
    table.entries.assign(size_t(1) << longest, 0);
    for (int sym = 0; sym < symbolCount; ++sym) {
        int len = lengths[sym];
        if (len == 0) continue;
        uint32_t at = ReverseBits(next[len]++, len);
        for (; at < table.entries.size(); at += uint32_t(1) << len)
            table.entries[at] = uint16_t(sym << 4 | len);
    }
    return true;
}

// The next symbol, or -1 when the input bits match no code.
int DecodeSymbol(BitInput& in, const DecodeTable& table) {
    uint16_t entry = table.entries[in.Peek() & ((uint64_t(1) << table.bits) - 1)];
    if (entry == 0) return -1;
    in.Skip(entry & 15);
    return entry >> 4;
}

// The fixed codes, with all 32 distance codes so that the invalid distance
// symbols 30 and 31 decode and are refused as symbols.
void BuildFixedTables(DecodeTable& litLen, DecodeTable& dist) {
    uint8_t lengths[288];
    std::fill(lengths, lengths + 144, 8);
    std::fill(lengths + 144, lengths + 256, 9);
    std::fill(lengths + 256, lengths + 280, 7);
    std::fill(lengths + 280, lengths + 288, 8);
    BuildTable(lengths, 288, litLen);
    std::fill(lengths, lengths + 32, 5);
    BuildTable(lengths, 32, dist);
}

class Transcoder {
public:
    Transcoder(const uint8_t* in, size_t inSize, std::vector<uint8_t>& out) : in(in, inSize), out(out) {}
    bool Run();
    EncodeStats counts;

private:
    bool CopyStored(bool last);
    bool CopyFixed(bool last);
    bool CopyDynamic(bool last);
    bool ReadCodeLengths(int total, uint8_t* lengths);
    bool WalkSymbols(const DecodeTable& litLen, const DecodeTable& dist);

    BitInput in;
    BitOutput out;
    uint64_t produced = 0;  // decoded bytes so far, to validate distances
    DecodeTable codeLengthTable, litLenTable, distTable;
};

bool Transcoder::Run() {
    bool last = false;
    while (!last) {
        last = in.Take(1) != 0;
        uint32_t type = in.Take(2);
        if (in.Overran()) return false;
        bool ok = type == 0 ? CopyStored(last) : type == 1 ? CopyFixed(last) : type == 2 ? CopyDynamic(last) : false;
        if (!ok) return false;
    }
    out.AlignToByte();
    return true;
}

bool Transcoder::CopyStored(bool last) {
    in.AlignToByte();
    uint32_t length = in.Take(16);
    uint32_t complement = in.Take(16);
    if (in.Overran() || (length ^ 0xFFFFu) != complement || length > in.BytesLeft()) return false;
    // The archive's header is one bit longer, so the padding before LEN is
    // recomputed for the output rather than copied.
    out.Put(StoredKind | uint32_t(last) << 3, 4);
    out.AlignToByte();
    out.Put(length, 16);
    out.PutBytes(in.BytesAt(in.Position()), length);
    in.Skip(uint64_t(length) * 8);
    produced += length;
    ++counts.storedBlocks;
    return true;
}

bool Transcoder::CopyFixed(bool last) {
    static DecodeTable fixedLitLen, fixedDist;
    static const bool built = (BuildFixedTables(fixedLitLen, fixedDist), true);
    (void)built;
    out.Put(FixedKind | uint32_t(last) << 3, 4);
    uint64_t from = in.Position();
    if (!WalkSymbols(fixedLitLen, fixedDist)) return false;
    out.CopyBits(in, from, in.Position());
    ++counts.fixedBlocks;
    return true;
}

bool Transcoder::CopyDynamic(bool last) {
    int litLenCount = int(in.Take(5)) + 257;
    int distCount = int(in.Take(5)) + 1;
    int codeCount = int(in.Take(4)) + 4;
    uint8_t codeLengthLengths[CodeLengthSymbols] = {0};
    for (int i = 0; i < codeCount; ++i) codeLengthLengths[StandardOrder[i]] = uint8_t(in.Take(3));
    if (in.Overran() || litLenCount > MaxLitLenCount || distCount > MaxDistCount) return false;

    out.Put(DynamicKind | uint32_t(last) << 3, 4);
    out.Put(uint32_t(litLenCount - 257), 5);
    out.Put(uint32_t(distCount - 1), 5);
    // Zero lengths at the end of the archive's order need not be sent.
    int sent = CodeLengthSymbols;
    while (sent > 4 && codeLengthLengths[ArchiveOrder[sent - 1]] == 0) --sent;
    out.Put(uint32_t(sent - 4), 4);
    for (int i = 0; i < sent; ++i) out.Put(codeLengthLengths[ArchiveOrder[i]], 3);

    // From here to the end of the block both formats agree bit for bit, but
    // the end is only found by decoding everything up to it.
    uint64_t from = in.Position();
    uint8_t lengths[MaxLitLenCount + MaxDistCount];
    if (!BuildTable(codeLengthLengths, CodeLengthSymbols, codeLengthTable)) return false;
    if (!ReadCodeLengths(litLenCount + distCount, lengths)) return false;
    if (!BuildTable(lengths, litLenCount, litLenTable)) return false;
    if (!BuildTable(lengths + litLenCount, distCount, distTable)) return false;
    if (!WalkSymbols(litLenTable, distTable)) return false;
    out.CopyBits(in, from, in.Position());
    ++counts.dynamicBlocks;
    return true;
}

bool Transcoder::ReadCodeLengths(int total, uint8_t* lengths) {
    int index = 0;
    while (index < total) {
        int sym = DecodeSymbol(in, codeLengthTable);
        if (sym < 0 || in.Overran()) return false;
        if (sym < 16) {
            lengths[index++] = uint8_t(sym);
            continue;
        }
        uint8_t value = 0;
        int repeat;
        if (sym == 16) {
            if (index == 0) return false;  // nothing to repeat in standard DEFLATE
            value = lengths[index - 1];
            repeat = 3 + int(in.Take(2));
        } else {
            repeat = sym == 17 ? 3 + int(in.Take(3)) : 11 + int(in.Take(7));
        }
        if (index + repeat > total) return false;
        std::fill(lengths + index, lengths + index + repeat, value);
        index += repeat;
    }
    return !in.Overran();
}

// Steps over the symbols of one block up to and including its end-of-block
// code, checking each one as a standard decoder would.
bool Transcoder::WalkSymbols(const DecodeTable& litLen, const DecodeTable& dist) {
    for (;;) {
        if (in.Overran()) return false;
        int sym = DecodeSymbol(in, litLen);
        if (sym < 256) {
            if (sym < 0) return false;
            ++produced;
            continue;
        }
        if (sym == 256) return !in.Overran();
        sym -= 257;
        if (sym >= 29) return false;
        uint32_t length = LengthBase[sym] + in.Take(LengthExtra[sym]);
        int distSym = DecodeSymbol(in, dist);
        if (distSym < 0 || distSym >= 30) return false;
        uint32_t distance = DistBase[distSym] + in.Take(DistExtra[distSym]);
        if (distance > produced) return false;
        produced += length;
    }
}

struct CompressorDeleter {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

}  // namespace

bool TranscodeRawDeflate(const uint8_t* in, size_t inSize, std::vector<uint8_t>& out, EncodeStats* stats) {
    out.clear();
    out.reserve(inSize + inSize / 64 + 16);
    static const uint8_t nothing = 0;
    Transcoder transcoder(in != nullptr ? in : &nothing, in != nullptr ? inSize : 0, out);
    if (!transcoder.Run()) return false;
    if (stats != nullptr) {
        stats->storedBlocks += transcoder.counts.storedBlocks;
        stats->fixedBlocks += transcoder.counts.fixedBlocks;
        stats->dynamicBlocks += transcoder.counts.dynamicBlocks;
    }
    return true;
}

std::vector<uint8_t> EncodeStream(const uint8_t* data, size_t size, int level, EncodeStats* stats) {
    if (level < 0 || level > 12) throw std::invalid_argument("compression level must be 0..12");
    std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(libdeflate_alloc_compressor(level));
    if (!compressor) throw std::runtime_error("cannot allocate the compressor");
    static const uint8_t nothing = 0;
    if (data == nullptr) data = &nothing;
    std::vector<uint8_t> standard(libdeflate_deflate_compress_bound(compressor.get(), size));
    size_t written = libdeflate_deflate_compress(compressor.get(), data, size, standard.data(), standard.size());
    if (written == 0) throw std::runtime_error("compressed data exceeded its bound");
    std::vector<uint8_t> stream;
    if (!TranscodeRawDeflate(standard.data(), written, stream, stats))
        throw std::logic_error("libdeflate wrote a stream the transcoder refused");
    return stream;
}
