// The archive's stream decoder. The block layer follows the stream top to
// bottom (header, stored, fixed, dynamic); symbols are decoded through direct
// lookup tables with second-level tables for long codes, in a fast loop that
// runs while enough input is buffered and a checked loop for the input's end.
//
// Output goes into one flat buffer: the last WindowSize bytes of history,
// then an output area of OutputAreaSize bytes, then a margin. Matches are
// copied a word at a time and may write a few bytes past their end, which
// only lands on bytes not yet produced. When the output area is full (a
// step may run into the margin), the area leaves through the sink in whole
// windows and its last WindowSize bytes, with any bytes beyond, move to the
// front as the next history.
#include "archive/inflater.h"

#include <string.h>

#include "common/helpers.h"

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the bit reader loads little-endian words"
#endif

// ---------------------------------------------------------------------------
// Decode table entries, one u32 each:
//   bits 0-7    bits to consume: the code length (for a subtable entry, the
//               length beyond the root) and, for a length or distance, its
//               extra bits, which follow the code; for a link the root width
//   bits 8-11   the code length alone (beyond the root for a subtable entry);
//               for a link, the width of the subtable it points to
//   bit 12      end of block
//   bit 13      invalid: a symbol the format forbids or a pattern no code uses
//   bit 14      link to a subtable
//   bit 15      literal byte
//   bits 16-31  literal, length base, distance base, code-length symbol, or the
//               subtable's start index
// ---------------------------------------------------------------------------
const u32 EndOfBlockEntry = 1u << 12;
const u32 InvalidEntry = 1u << 13;
const u32 LinkEntry = 1u << 14;
const u32 LiteralEntry = 1u << 15;

// The fast loop's helpers must be inlined even where the program is built
// for size (-Os), which otherwise keeps them as calls that pass the bit
// buffer through memory.
#if defined(__GNUC__)
#define HOT_INLINE inline __attribute__((always_inline))
#else
#define HOT_INLINE inline
#endif

static inline u32 EntryBits(u32 entry) { return entry & 0xFF; }
static inline u32 EntryCodeBits(u32 entry) { return (entry >> 8) & 0xF; }
static inline u32 EntrySubtableBits(u32 entry) { return (entry >> 8) & 0xF; }
static inline u32 EntryValue(u32 entry) { return entry >> 16; }

const u32 MaxCodeLength = 15;
const u32 LiteralSymbols = 288;      // 286 and 287 exist only to be refused
const u32 DistanceSymbols = 32;      // 30 and 31 likewise
const u32 CodeLengthSymbols = 19;
const u32 LengthSymbols = 29;        // 257..285
const u32 MaxDynamicLiterals = 286;
const u32 MaxDynamicDistances = 30;

// Root widths. Dynamic blocks use wide roots so that almost every symbol
// takes one lookup. The fixed codes (at most 9 and 5 bits long) fit the same
// roots whole, so every block's lookups use the same constant widths: on
// i686 that keeps the width and its mask out of the scarce registers.
const u32 LiteralRootBits = 10;
const u32 DistanceRootBits = 8;
const u32 CodeLengthRootBits = 7;

// Table capacities. A code is complete before its table is filled, and a
// complete subtree of depth s holds at least s + 1 codes, so the subtables
// of n long codes take at most n / (s + 1) * 2^s entries with s at most
// 15 - root. The builder still refuses to exceed these.
const u32 LiteralTableSize = (1u << LiteralRootBits) + (MaxDynamicLiterals / 6 + 1) * 32;
const u32 DistanceTableSize = (1u << DistanceRootBits) + (MaxDynamicDistances / 8 + 1) * 128;
const u32 FixedLiteralTableSize = 1u << LiteralRootBits;
const u32 FixedDistanceTableSize = 1u << DistanceRootBits;
const u32 CodeLengthTableSize = 1u << CodeLengthRootBits;

// The bit reader's buffer is a machine word; a fast refill tops it up to at
// least BitBufferBits - 8 bits, enough on 64-bit hosts for a whole
// length/distance pair (15 + 5 + 15 + 13 = 48 bits) at once.
typedef uintptr_t BitBuffer;
const u32 BitBufferBits = sizeof(BitBuffer) * 8;

// The fast loop runs while this much input is buffered and while the output
// area is not full.
const u32 FastInputMargin = 32;
const u32 MaxMatchLength = 258;

// A match is copied in machine words; the copy may write up to
// MatchOverrun bytes past the match's end.
typedef uintptr_t CopyWord;
const u32 WordBytes = sizeof(CopyWord);
const u32 MatchOverrun = 3 * WordBytes;

// Room behind the output area: a step starts below the area's end and writes
// at most two literals and a match, and a match copy may overrun it.
const u32 OutputMargin = 2 + MaxMatchLength + MatchOverrun;
const u32 OutputStart = WindowSize;
const u32 OutputEnd = OutputStart + OutputAreaSize;

struct BaseTables {
    u16 lengthBase[LengthSymbols];
    u8 lengthExtra[LengthSymbols];
    u16 distanceBase[MaxDynamicDistances];
    u8 distanceExtra[MaxDynamicDistances];
};

struct Workspace {
    u32 literals[LiteralTableSize];
    u32 distances[DistanceTableSize];
    u32 codeLengths[CodeLengthTableSize];
    u32 fixedLiterals[FixedLiteralTableSize];
    u32 fixedDistances[FixedDistanceTableSize];
    BaseTables bases;
    u8 buffer[OutputEnd + OutputMargin];  // history, output area, margin
};

struct Inflater {
    InflateSource* source;
    u8* input;
    const u8* next;
    const u8* end;
    u32 limitLeft;
    bool sourceDone;
    u32 overread;  // virtual zero bytes fed to the bit reader past the input's end
    BitBuffer bits;
    u32 bitCount;
    u32 position;  // in the flat buffer: OutputStart and on
    ByteSink* sink;
    Workspace* work;
    bool fixedBuilt;
};

static inline BitBuffer LowBits(u32 n) { return (static_cast<BitBuffer>(1) << n) - 1; }

// Masks of 0..23 low bits (a distance code and its extra bits take at most
// 8 + 13 at the root): one load where a shift by a variable count would take
// three instructions and the shift register.
static const u32 LowMasks[24] = {0x0,     0x1,     0x3,     0x7,     0xF,      0x1F,     0x3F,     0x7F,
                                 0xFF,    0x1FF,   0x3FF,   0x7FF,   0xFFF,    0x1FFF,   0x3FFF,   0x7FFF,
                                 0xFFFF,  0x1FFFF, 0x3FFFF, 0x7FFFF, 0xFFFFF,  0x1FFFFF, 0x3FFFFF, 0x7FFFFF};

// The value of a symbol whose entry was consumed from `saved`: its base plus
// the extra bits behind its code (none for other symbols).
static inline u32 SymbolValue(u32 entry, BitBuffer saved) {
    return EntryValue(entry) + ((static_cast<u32>(saved) & LowMasks[EntryBits(entry)]) >> EntryCodeBits(entry));
}

// Length bases grow by 1 for 8 steps, then by 2, 4, 8 and 16 for 4 steps
// each and by 32 for 3 steps; the last symbol means 258 with no extra bits.
// Distance extra bits are 0 for 4 symbols and then 1..13 in pairs.
static void BuildBaseTables(BaseTables& t) {
    u32 base = 3;
    for (u32 i = 0; i < LengthSymbols - 1; i++) {
        t.lengthExtra[i] = static_cast<u8>(i < 8 ? 0 : (i - 4) / 4);
        t.lengthBase[i] = static_cast<u16>(base);
        base += 1u << t.lengthExtra[i];
    }
    t.lengthBase[LengthSymbols - 1] = 258;
    t.lengthExtra[LengthSymbols - 1] = 0;
    base = 1;
    for (u32 i = 0; i < MaxDynamicDistances; i++) {
        t.distanceExtra[i] = static_cast<u8>(i < 4 ? 0 : (i - 2) / 2);
        t.distanceBase[i] = static_cast<u16>(base);
        base += 1u << t.distanceExtra[i];
    }
}

// ---------------------------------------------------------------------------
// Table construction
// ---------------------------------------------------------------------------
enum CodeKind { LiteralCode, DistanceCode, CodeLengthCode };

static u32 SymbolEntry(CodeKind kind, u32 symbol, const BaseTables& t) {
    if (kind == CodeLengthCode) return symbol << 16;
    if (kind == DistanceCode) {
        if (symbol >= MaxDynamicDistances) return InvalidEntry;
        return (static_cast<u32>(t.distanceBase[symbol]) << 16) | t.distanceExtra[symbol];
    }
    if (symbol < 256) return LiteralEntry | (symbol << 16);
    if (symbol == 256) return EndOfBlockEntry;
    if (symbol - 257 >= LengthSymbols) return InvalidEntry;
    return (static_cast<u32>(t.lengthBase[symbol - 257]) << 16) | t.lengthExtra[symbol - 257];
}

// A symbol's entry (its extra bits, if any, in the low byte) with the length
// of its code, or of the code's part beyond the root.
static inline u32 WithCodeBits(u32 entry, u32 codeBits) { return entry + codeBits + (codeBits << 8); }

// The next canonical code of `length` bits, both bit-reversed (the order the
// bits arrive in): adding 1 to a code clears its trailing ones and sets the
// zero above them, so here the leading ones are cleared and the first zero
// below them is set. All ones, the last code, stays as it is.
static u32 NextReversedCode(u32 reversed, u32 length) {
    u32 zeros = reversed ^ ((1u << length) - 1);
    if (zeros == 0) return reversed;
#if defined(__GNUC__)
    u32 bit = 1u << (31 - __builtin_clz(zeros));
#else
    u32 bit = 1u << (length - 1);
    while ((zeros & bit) == 0) bit >>= 1;
#endif
    return (reversed & (bit - 1)) | bit;
}

// Width of the subtable that starts with a code of `length` bits: the least
// depth at which the remaining codes under this root prefix fill it.
static u32 SubtableBits(const u16* remaining, u32 length, u32 rootBits) {
    u32 bits = length - rootBits;
    i32 left = 1 << bits;
    while (bits + rootBits < MaxCodeLength) {
        left -= remaining[bits + rootBits];
        if (left <= 0) break;
        bits++;
        left <<= 1;
    }
    return bits;
}

struct CodeShape {
    u16 count[MaxCodeLength + 1];
    u32 maxLength;
};

// Over-subscribed codes are refused with InflateBadBlock; incomplete ones
// with InflateBadData, except a single one-bit code.
static InflateStatus CheckCodeShape(const u8* lengths, u32 symbols, CodeShape& shape) {
    memset(shape.count, 0, sizeof shape.count);
    for (u32 s = 0; s < symbols; s++) shape.count[lengths[s]]++;
    i32 left = 1;
    shape.maxLength = 0;
    for (u32 length = 1; length <= MaxCodeLength; length++) {
        left = (left << 1) - shape.count[length];
        if (left < 0) return InflateBadBlock;
        if (shape.count[length] != 0) shape.maxLength = length;
    }
    if (left > 0 && shape.maxLength > 1) return InflateBadData;
    return InflateOk;
}

struct TableTarget {
    u32* table;
    u32 capacity;
    u32 rootBits;
    CodeKind kind;
};

static InflateStatus FillTable(const TableTarget& target, const u8* lengths, u32 symbols, CodeShape& shape,
                               const BaseTables& bases) {
    u16 sorted[LiteralSymbols];
    u16 offsets[MaxCodeLength + 2] = {0, 0};
    for (u32 length = 1; length <= MaxCodeLength; length++) offsets[length + 1] = offsets[length] + shape.count[length];
    for (u32 s = 0; s < symbols; s++)
        if (lengths[s] != 0) sorted[offsets[lengths[s]]++] = static_cast<u16>(s);

    u32* table = target.table;
    const u32 root = target.rootBits;
    const u32 rootSize = 1u << root;
    // The root is filled as a table of `filled` = 2^length entries that is
    // doubled before each longer length: the entries of the shorter codes
    // repeat in every block of 2^length. A code's bits, reversed, are its
    // slot; a longer code keeps the slot of its prefix, so the reversed code
    // carries over from one length to the next.
    u32 used = rootSize, prefix = ~0u, subStart = 0, subBits = 0, reversed = 0, index = 0, filled = 2;
    for (u32 length = 1; length <= shape.maxLength; length++) {
        if (length > 1 && length <= root) {
            memcpy(table + filled, table, filled * sizeof *table);
            filled <<= 1;
        }
        for (; shape.count[length] != 0; shape.count[length]--, reversed = NextReversedCode(reversed, length)) {
            u32 entry = SymbolEntry(target.kind, sorted[index++], bases);
            if (length <= root) {
                table[reversed] = WithCodeBits(entry, length);
                continue;
            }
            if ((reversed & (rootSize - 1)) != prefix) {
                prefix = reversed & (rootSize - 1);
                subBits = SubtableBits(shape.count, length, root);
                subStart = used;
                used += 1u << subBits;
                if (used > target.capacity) return InflateNoMemory;
                table[prefix] = LinkEntry | (subStart << 16) | (subBits << 8) | root;
            }
            for (u32 i = reversed >> root; i < (1u << subBits); i += 1u << (length - root))
                table[subStart + i] = WithCodeBits(entry, length - root);
        }
    }
    for (; filled < rootSize; filled <<= 1) memcpy(table + filled, table, filled * sizeof *table);
    return InflateOk;
}

// Builds the lookup table of a canonical code given by its code lengths. An
// empty code, and the unused half of a single one-bit code, decode to
// invalid entries.
static InflateStatus BuildTable(const TableTarget& target, const u8* lengths, u32 symbols, const BaseTables& bases) {
    CodeShape shape;
    InflateStatus status = CheckCodeShape(lengths, symbols, shape);
    if (status != InflateOk) return status;
    if (shape.maxLength <= 1) target.table[0] = target.table[1] = InvalidEntry;
    return FillTable(target, lengths, symbols, shape, bases);
}

// ---------------------------------------------------------------------------
// Input
// ---------------------------------------------------------------------------

// Moves the unread bytes to the front of the input buffer and reads more
// behind them, within the source's limit. False when nothing more came.
static bool TopUpInput(Inflater& s) {
    if (s.sourceDone) return false;
    u32 kept = static_cast<u32>(s.end - s.next);
    memmove(s.input, s.next, kept);
    s.next = s.input;
    s.end = s.input + kept;
    u32 want = InputBlockSize - kept;
    if (s.source->limited && want > s.limitLeft) want = s.limitLeft;
    i32 got = want == 0 ? 0 : s.source->read(s.source->context, s.input + kept, want);
    if (got <= 0) {
        s.sourceDone = true;
        return false;
    }
    s.limitLeft -= static_cast<u32>(got);
    s.end += got;
    return true;
}

// True when bits past the real input have been consumed.
static inline bool ConsumedVirtualBits(const Inflater& s) { return s.overread * 8 > s.bitCount; }

// Ensures n bits are buffered. Past the end of the input the reader feeds
// zero bytes, counted in `overread`: they may be looked at (a lookup peeks
// further than the code it finds) but never consumed. More of them than the
// buffer holds means bits past the end are being consumed; fail at once.
static bool NeedBits(Inflater& s, u32 n) {
    while (s.bitCount < n) {
        if (s.next == s.end && !TopUpInput(s)) {
            if (++s.overread > sizeof(BitBuffer)) return false;
            s.bitCount += 8;
            continue;
        }
        s.bits |= static_cast<BitBuffer>(*s.next++) << s.bitCount;
        s.bitCount += 8;
    }
    return true;
}

static inline void DropBits(Inflater& s, u32 n) {
    s.bits >>= n;
    s.bitCount -= n;
}

static bool TakeBits(Inflater& s, u32 n, u32* value) {
    if (!NeedBits(s, n)) return false;
    *value = static_cast<u32>(s.bits & LowBits(n));
    DropBits(s, n);
    return !ConsumedVirtualBits(s);
}

// Loads a little-endian word and advances by the whole bytes that fit, so
// that at least BitBufferBits - 8 bits are buffered. Needs sizeof(BitBuffer)
// readable bytes at `next`. Bits above the count repeat the bytes at `next`,
// which the next refill ORs in again unchanged.
static HOT_INLINE void RefillFast(BitBuffer& bits, u32& count, const u8*& next) {
    BitBuffer word;
    memcpy(&word, next, sizeof word);
    bits |= word << count;
    next += (BitBufferBits - 1 - count) >> 3;
    count |= BitBufferBits - 8;
}

// ---------------------------------------------------------------------------
// Output
// ---------------------------------------------------------------------------
// Hands `count` bytes from the output area's start to the sink: whole
// windows and, last of all, one shorter piece (possibly empty).
static bool WriteOutput(Inflater& s, u32 count, bool last) {
    const u8* from = s.work->buffer + OutputStart;
    for (; count >= WindowSize; count -= WindowSize, from += WindowSize) {
        s.sink->Write(from, WindowSize);
        if (!s.sink->IsReady()) return false;
    }
    if (last) s.sink->Write(from, count);
    return s.sink->IsReady();
}

// Once the output area is full, writes it out and moves its last WindowSize
// bytes, and the bytes a step wrote beyond it, to the front as the history
// of what follows. Below the area's end there is room for one more step.
static bool MakeRoom(Inflater& s) {
    if (s.position < OutputEnd) return true;
    if (!WriteOutput(s, OutputAreaSize, false)) return false;
    u8* buffer = s.work->buffer;
    memmove(buffer, buffer + OutputAreaSize, s.position - OutputAreaSize);
    s.position -= OutputAreaSize;
    return true;
}

// One byte, with room made first. The output area's end is the only check:
// no step writes past the margin.
static inline bool PutByte(Inflater& s, u8 byte) {
    if (!MakeRoom(s)) return false;
    s.work->buffer[s.position++] = byte;
    return true;
}

// The reference copy: byte by byte, room made first. A match starts below
// the area's end, so it ends inside the margin. At most WindowSize bytes of
// history lie before the output area, so any distance stays in the buffer;
// before the first byte they are zeros.
static bool CopyMatchChecked(Inflater& s, u32 distance, u32 length) {
    if (!MakeRoom(s)) return false;
    u8* out = s.work->buffer + s.position;
    const u8* in = out - distance;
    for (u32 i = 0; i < length; i++) out[i] = in[i];
    s.position += length;
    return true;
}

static HOT_INLINE CopyWord LoadWord(const u8* p) {
    CopyWord word;
    memcpy(&word, p, sizeof word);
    return word;
}

static HOT_INLINE void StoreWord(u8* p, CopyWord word) { memcpy(p, &word, sizeof word); }

// Copy for the fast loop, which leaves MatchOverrun bytes of room past the
// match: the bytes written past its end are overwritten by what follows
// before they are output or read as history. With a distance of a word or
// more a load never reads bytes the copy has not yet stored; a distance of
// 1 repeats one byte; shorter distances go byte by byte.
static HOT_INLINE void CopyMatchFast(u8* out, u32 distance, u32 length) {
    const u8* in = out - distance;
    u8* const end = out + length;
    if (distance >= WordBytes) {
        StoreWord(out, LoadWord(in));
        StoreWord(out + WordBytes, LoadWord(in + WordBytes));
        StoreWord(out + 2 * WordBytes, LoadWord(in + 2 * WordBytes));
        out += 3 * WordBytes;
        in += 3 * WordBytes;
        while (out < end) {
            StoreWord(out, LoadWord(in));
            StoreWord(out + WordBytes, LoadWord(in + WordBytes));
            out += 2 * WordBytes;
            in += 2 * WordBytes;
        }
    } else if (distance == 1) {
        CopyWord word = static_cast<CopyWord>(~static_cast<CopyWord>(0) / 0xFF) * in[0];
        StoreWord(out, word);
        StoreWord(out + WordBytes, word);
        StoreWord(out + 2 * WordBytes, word);
        out += 3 * WordBytes;
        while (out < end) {
            StoreWord(out, word);
            StoreWord(out + WordBytes, word);
            out += 2 * WordBytes;
        }
    } else {
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
        for (u32 i = 3; i < length; i++) out[i] = in[i];
    }
}

// ---------------------------------------------------------------------------
// Huffman-coded blocks
// ---------------------------------------------------------------------------
struct BlockCodes {
    const u32* literals;
    const u32* distances;
};

// Looks up one symbol with whatever the caller has buffered (enough for the
// longest code and its extra bits) and consumes its code and extra bits;
// `saved` receives the bits they were taken from, for SymbolValue.
static HOT_INLINE u32 LookUp(const u32* table, u32 rootBits, BitBuffer& bits, u32& count, BitBuffer& saved) {
    u32 entry = table[bits & LowBits(rootBits)];
    if (entry & LinkEntry) {
        bits >>= rootBits;
        count -= rootBits;
        entry = table[EntryValue(entry) + (static_cast<u32>(bits) & LowMasks[EntrySubtableBits(entry)])];
    }
    saved = bits;
    bits >>= EntryBits(entry);
    count -= EntryBits(entry);
    return entry;
}

// Decodes one symbol, with its extra bits, into its entry and *value. The
// bits are made available in two steps (the code, then the code with its
// extra bits) so that a 32-bit buffer never needs more than 21 at once.
static bool DecodeChecked(Inflater& s, const u32* table, u32 rootBits, u32* entry, u32* value) {
    if (!NeedBits(s, MaxCodeLength)) return false;
    u32 found = table[s.bits & LowBits(rootBits)];
    if (found & LinkEntry) {
        DropBits(s, rootBits);
        found = table[EntryValue(found) + (static_cast<u32>(s.bits) & LowMasks[EntrySubtableBits(found)])];
    }
    if (!NeedBits(s, EntryBits(found))) return false;
    *value = SymbolValue(found, s.bits);
    *entry = found;
    DropBits(s, EntryBits(found));
    return !ConsumedVirtualBits(s);
}

// Decodes one symbol (a literal, the end, or a whole match) with every check.
// Returns InflateOk to go on; *ended is set at the end of the block.
static InflateStatus DecodeStepChecked(Inflater& s, const BlockCodes& codes, bool* ended) {
    u32 entry, length, distanceEntry, distance;
    if (!DecodeChecked(s, codes.literals, LiteralRootBits, &entry, &length)) return InflateInputEnded;
    if (entry & LiteralEntry) return PutByte(s, static_cast<u8>(EntryValue(entry))) ? InflateOk : InflateSinkRefused;
    if (entry & InvalidEntry) return InflateBadData;
    if (entry & EndOfBlockEntry) {
        *ended = true;
        return InflateOk;
    }
    if (!DecodeChecked(s, codes.distances, DistanceRootBits, &distanceEntry, &distance)) return InflateInputEnded;
    if (distanceEntry & InvalidEntry) return InflateBadData;
    return CopyMatchChecked(s, distance, length) ? InflateOk : InflateSinkRefused;
}

// For a 32-bit buffer, which may hold less than the longest code: looks up
// the next literal/length symbol in the root table only, and takes it when
// its whole code and extra bits are among the `count` buffered bits (a
// prefix code's root entry depends on the code's bits only, so the bits
// beyond may be anything). False, consuming nothing, for a symbol that is
// not wholly buffered, a code that goes on in a subtable, or an invalid
// symbol: the caller refills and looks it up in full.
static HOT_INLINE bool LookUpBuffered(const u32* literals, BitBuffer& bits, u32& count, BitBuffer& saved,
                                      u32* entry) {
    u32 found = literals[bits & LowMasks[LiteralRootBits]];
    if ((found & (LinkEntry | InvalidEntry)) != 0 || EntryBits(found) > count) return false;
    saved = bits;
    bits >>= EntryBits(found);
    count -= EntryBits(found);
    *entry = found;
    return true;
}

// The fast loop: no input or output checks inside, because it runs only while
// FastInputMargin input bytes are buffered and the output area is not full
// (an iteration that starts below its end writes at most into the margin).
// A refill leaves at least BitBufferBits - 8 bits: 56 on 64-bit hosts,
// enough for three symbols in a row (15 + 15 + 20 bits, the last a length
// code and its extra bits); 24 on 32-bit hosts, enough for one, so there a
// second or third symbol is decoded only when it is wholly buffered
// (LookUpBuffered). A distance follows a refill of its own. It stops at the
// end of the block, on an invalid symbol, or when the input margin runs out
// or the output area is full; *stopEntry tells which.
static void DecodeFast(Inflater& s, const BlockCodes& codes, u32* stopEntry) {
    // Room for two literals and then a length code with its 5 extra bits.
    const bool wideBuffer = BitBufferBits - 8 >= 3 * MaxCodeLength + 5;
    u32 entry = 0;
    if (static_cast<u32>(s.end - s.next) < FastInputMargin) {
        *stopEntry = entry;
        return;
    }
    BitBuffer bits = s.bits;
    u32 count = s.bitCount;
    const u8* next = s.next;
    const u8* const inputLimit = s.end - FastInputMargin;
    u8* const buffer = s.work->buffer;
    u8* out = buffer + s.position;
    u8* const outputLimit = buffer + OutputEnd;
    const u32* const literals = codes.literals;
    const u32* const distances = codes.distances;
    BitBuffer saved = 0;
    while (next <= inputLimit && out < outputLimit) {
        RefillFast(bits, count, next);
        entry = LookUp(literals, LiteralRootBits, bits, count, saved);
        if (entry & LiteralEntry) {
            *out++ = static_cast<u8>(EntryValue(entry));
            if (wideBuffer)
                entry = LookUp(literals, LiteralRootBits, bits, count, saved);
            else if (!LookUpBuffered(literals, bits, count, saved, &entry))
                continue;
            if (entry & LiteralEntry) {
                *out++ = static_cast<u8>(EntryValue(entry));
                if (wideBuffer)
                    entry = LookUp(literals, LiteralRootBits, bits, count, saved);
                else if (!LookUpBuffered(literals, bits, count, saved, &entry))
                    continue;
                if (entry & LiteralEntry) {
                    *out++ = static_cast<u8>(EntryValue(entry));
                    continue;
                }
            }
        }
        if (entry & (EndOfBlockEntry | InvalidEntry)) break;
        u32 length = SymbolValue(entry, saved);
        // A distance code and its extra bits take at most 21 bits at the
        // root, which a refill always leaves; one in a subtable takes up to
        // 20 more after the root's 8, which a 32-bit buffer refills for. At
        // most three refills an iteration on 32-bit hosts, which read up to
        // 13 bytes ahead, and two on 64-bit hosts (22 bytes).
        RefillFast(bits, count, next);
        entry = distances[bits & LowBits(DistanceRootBits)];
        if (entry & LinkEntry) {
            bits >>= DistanceRootBits;
            count -= DistanceRootBits;
            if (!wideBuffer) RefillFast(bits, count, next);
            entry = distances[EntryValue(entry) + (static_cast<u32>(bits) & LowMasks[EntrySubtableBits(entry)])];
        }
        if (entry & InvalidEntry) break;
        u32 distance = SymbolValue(entry, bits);
        bits >>= EntryBits(entry);
        count -= EntryBits(entry);
        CopyMatchFast(out, distance, length);
        out += length;
        entry = 0;
    }
    s.bits = bits;
    s.bitCount = count;
    s.position = static_cast<u32>(out - buffer);
    s.next = next;
    *stopEntry = entry;
}

static InflateStatus DecodeHuffmanBlock(Inflater& s, const BlockCodes& codes) {
    for (;;) {
        if (!MakeRoom(s)) return InflateSinkRefused;
        if (static_cast<u32>(s.end - s.next) < FastInputMargin) TopUpInput(s);
        u32 entry;
        DecodeFast(s, codes, &entry);
        if (entry & InvalidEntry) return InflateBadData;
        if (entry & EndOfBlockEntry) return InflateOk;
        bool ended = false;
        InflateStatus status = DecodeStepChecked(s, codes, &ended);
        if (status != InflateOk || ended) return status;
    }
}

static void BuildFixedTables(Inflater& s) {
    u8 lengths[LiteralSymbols];
    memset(lengths, 8, 144);
    memset(lengths + 144, 9, 112);
    memset(lengths + 256, 7, 24);
    memset(lengths + 280, 8, 8);
    Workspace& w = *s.work;
    BuildTable({w.fixedLiterals, FixedLiteralTableSize, LiteralRootBits, LiteralCode}, lengths, LiteralSymbols,
               w.bases);
    memset(lengths, 5, DistanceSymbols);
    BuildTable({w.fixedDistances, FixedDistanceTableSize, DistanceRootBits, DistanceCode}, lengths,
               DistanceSymbols, w.bases);
    s.fixedBuilt = true;
}

static InflateStatus DecodeFixedBlock(Inflater& s) {
    if (!s.fixedBuilt) BuildFixedTables(s);
    Workspace& w = *s.work;
    BlockCodes codes = {w.fixedLiterals, w.fixedDistances};
    return DecodeHuffmanBlock(s, codes);
}

// Reads the literal/length and distance code lengths as one sequence coded
// with the code-length code. 16 repeats the previous length (0 before any),
// 17 and 18 give runs of zeros; no run may pass the end of the sequence.
static InflateStatus ReadCodeLengths(Inflater& s, u8* lengths, u32 total) {
    static const u8 repeatBits[3] = {2, 3, 7};
    static const u8 repeatBase[3] = {3, 3, 11};
    u32 previous = 0;
    for (u32 n = 0; n < total;) {
        u32 entry, symbol, extra;
        if (!DecodeChecked(s, s.work->codeLengths, CodeLengthRootBits, &entry, &symbol)) return InflateInputEnded;
        if (entry & InvalidEntry) return InflateBadData;
        if (symbol < 16) {
            lengths[n++] = static_cast<u8>(previous = symbol);
            continue;
        }
        if (!TakeBits(s, repeatBits[symbol - 16], &extra)) return InflateInputEnded;
        u32 run = repeatBase[symbol - 16] + extra;
        if (symbol != 16) previous = 0;
        if (run > total - n) return InflateBadData;
        memset(lengths + n, static_cast<int>(previous), run);
        n += run;
    }
    return InflateOk;
}

// The code-length code's lengths arrive in the order 18, 17, 16, 0, 1, ..., 15.
static InflateStatus ReadCodeLengthCode(Inflater& s) {
    u32 codeLengthCount;
    if (!TakeBits(s, 4, &codeLengthCount)) return InflateInputEnded;
    u8 lengths[CodeLengthSymbols] = {};
    for (u32 i = 0; i < codeLengthCount + 4; i++) {
        u32 length;
        if (!TakeBits(s, 3, &length)) return InflateInputEnded;
        lengths[i < 3 ? 18 - i : i - 3] = static_cast<u8>(length);
    }
    Workspace& w = *s.work;
    return BuildTable({w.codeLengths, CodeLengthTableSize, CodeLengthRootBits, CodeLengthCode}, lengths,
                      CodeLengthSymbols, w.bases);
}

static InflateStatus DecodeDynamicBlock(Inflater& s) {
    u32 literalCount, distanceCount;
    if (!TakeBits(s, 5, &literalCount) || !TakeBits(s, 5, &distanceCount)) return InflateInputEnded;
    literalCount += 257;
    distanceCount += 1;
    if (literalCount > MaxDynamicLiterals || distanceCount > MaxDynamicDistances) return InflateBadData;
    InflateStatus status = ReadCodeLengthCode(s);
    u8 lengths[MaxDynamicLiterals + MaxDynamicDistances];
    if (status == InflateOk) status = ReadCodeLengths(s, lengths, literalCount + distanceCount);
    Workspace& w = *s.work;
    if (status == InflateOk)
        status = BuildTable({w.literals, LiteralTableSize, LiteralRootBits, LiteralCode}, lengths, literalCount,
                            w.bases);
    if (status == InflateOk)
        status = BuildTable({w.distances, DistanceTableSize, DistanceRootBits, DistanceCode}, lengths + literalCount,
                            distanceCount, w.bases);
    if (status != InflateOk) return status;
    BlockCodes codes = {w.literals, w.distances};
    return DecodeHuffmanBlock(s, codes);
}

// ---------------------------------------------------------------------------
// Stored blocks
// ---------------------------------------------------------------------------

// Aligns to the next byte and hands back the whole bytes still in the bit
// buffer to be read first; virtual bytes past the input's end are dropped.
static u32 DrainAlignedBytes(Inflater& s, u8* pending) {
    DropBits(s, s.bitCount & 7);
    u32 real = (s.bitCount - s.overread * 8) / 8;
    for (u32 i = 0; i < real; i++) {
        pending[i] = static_cast<u8>(s.bits);
        s.bits >>= 8;
    }
    s.bits = 0;
    s.bitCount = 0;
    s.overread = 0;
    return real;
}

static bool ReadStoredByte(Inflater& s, const u8* pending, u32 pendingCount, u32* taken, u8* byte) {
    if (*taken < pendingCount) {
        *byte = pending[(*taken)++];
        return true;
    }
    if (s.next == s.end && !TopUpInput(s)) return false;
    *byte = *s.next++;
    return true;
}

static InflateStatus CopyStoredBytes(Inflater& s, u32 length) {
    while (length > 0) {
        if (!MakeRoom(s)) return InflateSinkRefused;
        if (s.next == s.end && !TopUpInput(s)) return InflateInputEnded;
        u32 chunk = static_cast<u32>(s.end - s.next);
        if (chunk > length) chunk = length;
        if (chunk > OutputEnd - s.position) chunk = OutputEnd - s.position;
        memcpy(s.work->buffer + s.position, s.next, chunk);
        s.next += chunk;
        s.position += chunk;
        length -= chunk;
    }
    return InflateOk;
}

static InflateStatus DecodeStoredBlock(Inflater& s) {
    if (ConsumedVirtualBits(s)) return InflateInputEnded;
    u8 pending[sizeof(BitBuffer)], low, high;
    u32 pendingCount = DrainAlignedBytes(s, pending), taken = 0;
    if (!ReadStoredByte(s, pending, pendingCount, &taken, &low) ||
        !ReadStoredByte(s, pending, pendingCount, &taken, &high))
        return InflateInputEnded;
    u32 length = low | (high << 8);
    for (; taken < pendingCount && length > 0; length--)
        if (!PutByte(s, pending[taken++])) return InflateSinkRefused;
    // Drained bytes this block did not use start the next block's bits.
    for (u32 i = pendingCount; i > taken; i--) s.bits = (s.bits << 8) | pending[i - 1];
    s.bitCount = (pendingCount - taken) * 8;
    return CopyStoredBytes(s, length);
}

// ---------------------------------------------------------------------------
// Stream
// ---------------------------------------------------------------------------
enum BlockKind { FixedBlock = 5, DynamicBlock = 6, StoredBlock = 7 };
const u32 LastBlockFlag = 8;

static InflateStatus DecodeBlocks(Inflater& s) {
    for (;;) {
        u32 header;
        if (!TakeBits(s, 4, &header)) return InflateInputEnded;
        InflateStatus status;
        switch (header & 7) {
            case FixedBlock: status = DecodeFixedBlock(s); break;
            case DynamicBlock: status = DecodeDynamicBlock(s); break;
            case StoredBlock: status = DecodeStoredBlock(s); break;
            default: return InflateBadBlock;
        }
        if (status != InflateOk) return status;
        if (header & LastBlockFlag) return ConsumedVirtualBits(s) ? InflateInputEnded : InflateOk;
    }
}

static bool AttachInput(Inflater& s, InflateSource& source) {
    memset(&s, 0, sizeof s);
    s.source = &source;
    s.limitLeft = source.limit;
    if (source.read == nullptr || !AllocateBlock(InputBlockSize, &s.input)) return false;
    s.next = s.end = s.input;
    return true;
}

// Releases the input buffer and gives back what was read but not consumed:
// the buffered bytes and the whole real bytes still in the bit buffer.
static void DetachInput(Inflater& s) {
    u32 realBits = s.bitCount > s.overread * 8 ? s.bitCount - s.overread * 8 : 0;
    u32 unread = static_cast<u32>(s.end - s.next) + realBits / 8;
    if (unread != 0 && s.source->unread != nullptr) s.source->unread(s.source->context, unread);
    ReleaseBlock(&s.input);
}

InflateStatus InflateStream(InflateSource& source, ByteSink& sink) {
    Inflater s;
    if (!AttachInput(s, source)) return InflateNoMemory;
    InflateStatus status = InflateNoMemory;
    if (sink.IsReady() && AllocateBlock(sizeof(Workspace), &s.work)) {
        memset(s.work->buffer, 0, OutputStart);
        BuildBaseTables(s.work->bases);
        s.sink = &sink;
        s.position = OutputStart;
        status = DecodeBlocks(s);
        if (status == InflateOk && !WriteOutput(s, s.position - OutputStart, true)) status = InflateSinkRefused;
        ReleaseBlock(&s.work);
    }
    DetachInput(s);
    return status;
}

// ---------------------------------------------------------------------------
// Sinks and entry points
// ---------------------------------------------------------------------------
void MemorySink::Write(const u8* data, u32 count) {
    if (count > room) {
        overflow = true;
        count = room;
    }
    memcpy(next, data, count);
    next += count;
    room -= count;
}

void FileSink::Write(const u8* data, u32 count) {
    if (file == NoFile || result != WriteDone) return;
    result = WriteToFile(file, data, count);
    if (result != WriteDone) error = LastFileError();
}

static i32 ReadOpenFile(void* context, u8* buffer, u32 want) {
    u32 got = 0;
    if (!ReadFromFile(*static_cast<FileHandle*>(context), buffer, want, &got)) return -1;
    return static_cast<i32>(got);
}

static void UnreadOpenFile(void* context, u32 count) {
    SeekFile(*static_cast<FileHandle*>(context), -static_cast<i32>(count), SeekFromCurrent);
}

InflateSource FileInflateSource(FileHandle* file, u32 limit) {
    InflateSource source = {ReadOpenFile, UnreadOpenFile, file, limit, limit != 0};
    if (*file == NoFile) source.read = nullptr;
    return source;
}

bool InflateToMemory(u8* destination, u32 capacity, InflateSource& source, u32* produced) {
    MemorySink sink(destination, capacity);
    bool ok = InflateStream(source, sink) == InflateOk;
    if (produced != nullptr) *produced = capacity - sink.Room();
    return ok;
}

bool InflateToFile(FileHandle output, InflateSource& source) {
    FileSink sink(output);
    return InflateStream(source, sink) == InflateOk;
}
