// A small bit writer for crafting compressed streams by hand in tests: fields
// go least significant bit first, Huffman codes most significant bit first,
// as in every DEFLATE-style stream.
#pragma once
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

// A Huffman code given by its code lengths, with the canonical codes that
// RFC 1951 section 3.2.2 assigns to them.
struct TestCode {
    std::vector<int> lengths;
    std::vector<uint32_t> codes;

    explicit TestCode(std::vector<int> codeLengths) : lengths(std::move(codeLengths)), codes(lengths.size()) {
        int count[16] = {0};
        for (int len : lengths) ++count[len];
        count[0] = 0;
        uint32_t next[17] = {0};
        for (int len = 1; len <= 15; ++len) next[len + 1] = (next[len] + count[len]) << 1;
        for (size_t sym = 0; sym < lengths.size(); ++sym)
            if (lengths[sym] != 0) codes[sym] = next[lengths[sym]]++;
    }
};

// One entry of a dynamic header's code-length sequence: a length 0..15, or a
// repeat code 16, 17 or 18 with the value of its extra bits.
struct CodeLengthStep {
    int symbol;
    int extra;
};

// Orders in which a dynamic header sends the code-length code's lengths.
const int ArchiveCodeLengthOrder[19] = {18, 17, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
const int StandardCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// The plain code-length sequence of the given lengths: each length sent as
// itself, no repeats.
inline std::vector<CodeLengthStep> PlainSteps(const std::vector<int>& litLen, const std::vector<int>& dist) {
    std::vector<CodeLengthStep> steps;
    for (int len : litLen) steps.push_back({len, 0});
    for (int len : dist) steps.push_back({len, 0});
    return steps;
}

class BitWriter {
public:
    // Appends the low `count` bits of `value`, least significant first.
    BitWriter& Bits(uint32_t value, int count) {
        for (int i = 0; i < count; ++i) PutBit((value >> i) & 1);
        return *this;
    }
    // Appends a Huffman code of `length` bits, its most significant bit first.
    BitWriter& Code(uint32_t code, int length) {
        for (int i = length - 1; i >= 0; --i) PutBit((code >> i) & 1);
        return *this;
    }
    // The fixed literal/length code of `symbol` (0..287).
    BitWriter& FixedLitLen(int symbol) {
        if (symbol < 144) return Code(0x30 + symbol, 8);
        if (symbol < 256) return Code(0x190 + symbol - 144, 9);
        if (symbol < 280) return Code(symbol - 256, 7);
        return Code(0xC0 + symbol - 280, 8);
    }
    // The fixed distance code of `symbol` (0..31): five bits.
    BitWriter& FixedDistance(int symbol) { return Code(symbol, 5); }
    BitWriter& Symbol(const TestCode& code, int symbol) { return Code(code.codes[symbol], code.lengths[symbol]); }
    // The fields of a dynamic header after the block kind: HLIT, HDIST, HCLEN,
    // the code-length code's lengths in `order` (trailing zeros dropped, at
    // least four sent), then the code-length sequence.
    BitWriter& DynamicHeader(int litLenCount, int distCount, const TestCode& lengthCode, const int* order,
                             const std::vector<CodeLengthStep>& steps) {
        Bits(litLenCount - 257, 5).Bits(distCount - 1, 5);
        int sent = 19;
        while (sent > 4 && lengthCode.lengths[order[sent - 1]] == 0) --sent;
        Bits(sent - 4, 4);
        for (int i = 0; i < sent; ++i) Bits(lengthCode.lengths[order[i]], 3);
        static const int extraBits[3] = {2, 3, 7};
        for (const CodeLengthStep& step : steps) {
            Symbol(lengthCode, step.symbol);
            if (step.symbol >= 16) Bits(step.extra, extraBits[step.symbol - 16]);
        }
        return *this;
    }
    // Zero bits up to the next byte boundary.
    BitWriter& Align() {
        while (used != 0) PutBit(0);
        return *this;
    }
    // Whole bytes; aligns first.
    BitWriter& Bytes(const void* data, size_t count) {
        Align();
        const uint8_t* p = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + count);
        return *this;
    }
    BitWriter& Byte(uint8_t value) { return Bytes(&value, 1); }

    size_t BitCount() const { return bytes.size() * 8 - (used == 0 ? 0 : 8 - used); }
    // The stream so far, its last byte padded with zero bits.
    std::vector<uint8_t> Finish() {
        Align();
        return bytes;
    }

private:
    void PutBit(uint32_t bit) {
        if (used == 0) bytes.push_back(0);
        bytes.back() |= uint8_t(bit << used);
        used = (used + 1) & 7;
    }

    std::vector<uint8_t> bytes;
    int used = 0;  // bits already used in the last byte
};
