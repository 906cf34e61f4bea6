// The decoder follows the stream in order: bits, stored blocks, Huffman
// decoding, code construction, symbol decoding, fixed and dynamic blocks.
// Speed is not a goal; each step is as direct as its description.
#include "tests/support/reference_inflate.h"

namespace {

const int MaxBits = 15;
const int MaxLitLenCodes = 286;  // the most a dynamic header may declare
const int MaxDistCodes = 30;
const int FixedLitLenCodes = 288;

struct Failure {
    int result;
};

struct State {
    const uint8_t* in;
    size_t inSize;
    size_t inPos;
    uint32_t bitBuf;  // bits read from the input but not yet used
    int bitCount;
    std::vector<uint8_t>* out;
    size_t maxOut;
};

// `need` bits, least significant first; the input ending first is a failure.
int Bits(State& s, int need) {
    uint32_t value = s.bitBuf;
    while (s.bitCount < need) {
        if (s.inPos == s.inSize) throw Failure{ReferenceInputEnded};
        value |= uint32_t(s.in[s.inPos++]) << s.bitCount;
        s.bitCount += 8;
    }
    s.bitBuf = value >> need;
    s.bitCount -= need;
    return int(value & ((1u << need) - 1));
}

void Put(State& s, uint8_t byte) {
    if (s.out->size() >= s.maxOut) throw Failure{ReferenceTooLong};
    s.out->push_back(byte);
}

// A stored block: the rest of the current byte is dropped, then LEN (16 bits)
// and LEN bytes follow. There is no complemented copy of LEN.
void Stored(State& s) {
    s.bitBuf = 0;
    s.bitCount = 0;
    int length = Bits(s, 8);
    length |= Bits(s, 8) << 8;
    while (length-- > 0) {
        if (s.inPos == s.inSize) throw Failure{ReferenceInputEnded};
        Put(s, s.in[s.inPos++]);
    }
}

// A canonical Huffman code: how many codes have each length, and the symbols
// ordered by code (by length, then by symbol value).
struct Huffman {
    short count[MaxBits + 1];
    short symbol[FixedLitLenCodes];
};

// Reads one code bit at a time, most significant first, until the code read
// so far is one of the codes of its length.
int Decode(State& s, const Huffman& h) {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len <= MaxBits; ++len) {
        code |= Bits(s, 1);
        int count = h.count[len];
        if (code - count < first) return h.symbol[index + (code - first)];
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    throw Failure{ReferenceBadData};  // no code matches, or the code is empty
}

// Builds `h` from code lengths. Returns 0 for a complete (or all-zero) code,
// a negative value for an over-subscribed one, a positive one if incomplete.
int Construct(Huffman& h, const short* length, int n) {
    for (int len = 0; len <= MaxBits; ++len) h.count[len] = 0;
    for (int sym = 0; sym < n; ++sym) h.count[length[sym]]++;
    if (h.count[0] == n) return 0;
    int left = 1;
    for (int len = 1; len <= MaxBits; ++len) {
        left <<= 1;
        left -= h.count[len];
        if (left < 0) return left;
    }
    short offs[MaxBits + 1];
    offs[1] = 0;
    for (int len = 1; len < MaxBits; ++len) offs[len + 1] = short(offs[len] + h.count[len]);
    for (int sym = 0; sym < n; ++sym)
        if (length[sym] != 0) h.symbol[offs[length[sym]]++] = short(sym);
    return left;
}

// Over-subscribed codes are bad blocks; incomplete ones are bad data unless
// the code is a single code of one bit.
void CheckCode(const Huffman& h, int constructed, int n) {
    if (constructed < 0) throw Failure{ReferenceBadBlock};
    if (constructed > 0 && n - h.count[0] != 1) throw Failure{ReferenceBadData};
    if (constructed > 0 && h.count[1] != 1) throw Failure{ReferenceBadData};
}

const short LengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                              31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const short LengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                               2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const short DistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                            33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                            1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const short DistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                             6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Decodes literals and matches until end-of-block. A match that reaches
// before the first output byte copies zeros: the window starts zero-filled.
void Codes(State& s, const Huffman& lencode, const Huffman& distcode) {
    for (;;) {
        int symbol = Decode(s, lencode);
        if (symbol < 256) {
            Put(s, uint8_t(symbol));
            continue;
        }
        if (symbol == 256) return;
        symbol -= 257;
        if (symbol >= 29) throw Failure{ReferenceBadData};  // 286, 287
        int length = LengthBase[symbol] + Bits(s, LengthExtra[symbol]);
        symbol = Decode(s, distcode);
        if (symbol >= 30) throw Failure{ReferenceBadData};  // 30, 31
        size_t dist = size_t(DistBase[symbol] + Bits(s, DistExtra[symbol]));
        while (length-- > 0) {
            size_t have = s.out->size();
            Put(s, dist > have ? 0 : (*s.out)[have - dist]);
        }
    }
}

struct FixedCodes {
    Huffman lencode, distcode;
};

// Fixed codes. All 32 distance codes are listed so that 30 and 31 decode and
// are then refused as symbols.
FixedCodes BuildFixed() {
    FixedCodes fixed;
    short lengths[FixedLitLenCodes];
    int sym = 0;
    for (; sym < 144; ++sym) lengths[sym] = 8;
    for (; sym < 256; ++sym) lengths[sym] = 9;
    for (; sym < 280; ++sym) lengths[sym] = 7;
    for (; sym < FixedLitLenCodes; ++sym) lengths[sym] = 8;
    Construct(fixed.lencode, lengths, FixedLitLenCodes);
    for (sym = 0; sym < 32; ++sym) lengths[sym] = 5;
    Construct(fixed.distcode, lengths, 32);
    return fixed;
}

void Fixed(State& s) {
    static const FixedCodes fixed = BuildFixed();
    Codes(s, fixed.lencode, fixed.distcode);
}

// The order in which the code-length code lengths are sent.
const short CodeLengthOrder[19] = {18, 17, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

// Reads the literal/length and distance code lengths with the code-length
// code. Code 16 repeats the previous length, 0 at the very start.
void ReadLengths(State& s, const Huffman& lencode, short* lengths, int total) {
    int index = 0;
    while (index < total) {
        int symbol = Decode(s, lencode);
        if (symbol < 16) {
            lengths[index++] = short(symbol);
            continue;
        }
        short len = 0;
        if (symbol == 16) {
            if (index > 0) len = lengths[index - 1];
            symbol = 3 + Bits(s, 2);
        } else if (symbol == 17) {
            symbol = 3 + Bits(s, 3);
        } else {
            symbol = 11 + Bits(s, 7);
        }
        if (index + symbol > total) throw Failure{ReferenceBadData};
        while (symbol-- > 0) lengths[index++] = len;
    }
}

void Dynamic(State& s) {
    int nlen = Bits(s, 5) + 257;
    int ndist = Bits(s, 5) + 1;
    if (nlen > MaxLitLenCodes || ndist > MaxDistCodes) throw Failure{ReferenceBadData};
    int ncode = Bits(s, 4) + 4;
    short lengths[MaxLitLenCodes + MaxDistCodes] = {0};
    for (int index = 0; index < ncode; ++index) lengths[CodeLengthOrder[index]] = short(Bits(s, 3));
    Huffman lencode, distcode;
    CheckCode(lencode, Construct(lencode, lengths, 19), 19);
    ReadLengths(s, lencode, lengths, nlen + ndist);
    CheckCode(lencode, Construct(lencode, lengths, nlen), nlen);
    CheckCode(distcode, Construct(distcode, lengths + nlen, ndist), ndist);
    Codes(s, lencode, distcode);
}

}  // namespace

int ReferenceInflate(const uint8_t* in, size_t inSize, std::vector<uint8_t>& out, size_t maxOut) {
    State s = {in, inSize, 0, 0, 0, &out, maxOut};
    out.clear();
    try {
        int last;
        do {
            int header = Bits(s, 4);  // kind in bits 0-2, last-block flag in bit 3
            last = header >> 3;
            switch (header & 7) {
                case 7: Stored(s); break;
                case 5: Fixed(s); break;
                case 6: Dynamic(s); break;
                default: throw Failure{ReferenceBadBlock};
            }
        } while (!last);
    } catch (const Failure& failure) {
        return failure.result;
    }
    return ReferenceOk;
}
