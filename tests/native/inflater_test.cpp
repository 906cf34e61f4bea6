// The setup program's stream decoder on hand-made streams: each block kind
// and header value, the code rules, invalid symbols, truncated input, sinks
// that must not be overrun, the write pattern and where the input is left.
// Every stream is also given to the reference decoder, which must agree.
#include <doctest/doctest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <utility>

#include "archive/inflater.h"
#include "tests/support/bit_writer.h"
#include "tests/support/memory_source.h"
#include "tests/support/reference_inflate.h"

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

struct Decoded {
    InflateStatus status;
    Bytes bytes;
    std::vector<u32> writes;
    u32 inputLeftAt;  // the memory source's position afterwards
};

Decoded Decode(const Bytes& stream, u32 limit = 0, u32 failAfter = ~0u) {
    MemoryInput input;
    input.data = stream.data();
    input.size = u32(stream.size());
    input.failAfter = failAfter;
    InflateSource source = MemoryInflateSource(input, limit);
    RecordingSink sink;
    InflateStatus status = InflateStream(source, sink);
    return {status, sink.bytes, sink.writes, input.position};
}

int ReferenceDecode(const Bytes& stream, Bytes& out) {
    return ReferenceInflate(stream.data(), stream.size(), out, 1u << 20);
}

// The code-length code most crafted dynamic blocks use: 0, 1 and 2 in two
// bits, the repeats 16 and 18 in three. It is complete.
TestCode LengthCode(std::vector<std::pair<int, int>> entries = {{0, 2}, {1, 2}, {2, 2}, {16, 3}, {18, 3}}) {
    std::vector<int> lengths(19, 0);
    for (auto& e : entries) lengths[e.first] = e.second;
    return TestCode(lengths);
}

// `count` code lengths, all zero except the given symbol/length pairs.
std::vector<int> Lengths(int count, std::vector<std::pair<int, int>> entries) {
    std::vector<int> lengths(count, 0);
    for (auto& e : entries) lengths[e.first] = e.second;
    return lengths;
}

// 'a' in one bit, end-of-block and length 3 (257) in two: complete.
const std::vector<int> LitA = Lengths(258, {{'a', 1}, {256, 2}, {257, 2}});
// A single one-bit distance code for distance 1.
const std::vector<int> DistOne = {1};

// A dynamic block holding "a" and a match of 3 at distance 1: "aaaa".
BitWriter& PutDynamicAaaa(BitWriter& w, bool last, const std::vector<CodeLengthStep>& steps) {
    TestCode lit(LitA), dist(DistOne);
    w.Bits(6 | (last ? 8 : 0), 4).DynamicHeader(258, 1, LengthCode(), ArchiveCodeLengthOrder, steps);
    return w.Symbol(lit, 'a').Symbol(lit, 257).Symbol(dist, 0).Symbol(lit, 256);
}

BitWriter& PutStored(BitWriter& w, bool last, const Bytes& data) {
    return w.Bits(7 | (last ? 8 : 0), 4).Align().Bits(u32(data.size()), 16).Bytes(data.data(), data.size());
}

// Stored blocks of at most 65535 bytes each.
Bytes StoredStream(const Bytes& data) {
    BitWriter w;
    size_t at = 0;
    do {
        size_t chunk = std::min<size_t>(65535, data.size() - at);
        PutStored(w, at + chunk == data.size(), Bytes(data.begin() + long(at), data.begin() + long(at + chunk)));
        at += chunk;
    } while (at < data.size());
    return w.Finish();
}

Bytes Pattern(size_t size) {
    Bytes data(size);
    for (size_t i = 0; i < size; ++i) data[i] = uint8_t(i * 7 + i / 251);
    return data;
}

// Three blocks of different kinds, the last two not starting on a byte.
Bytes MultiBlockStream() {
    BitWriter w;
    PutStored(w, false, ToBytes("abc"));
    w.Bits(5, 4).FixedLitLen('h').FixedLitLen('i').FixedLitLen(258).FixedDistance(1).FixedLitLen(256);
    PutDynamicAaaa(w, true, PlainSteps(LitA, DistOne));
    return w.Finish();
}
const char MultiBlockText[] = "abchihihiaaaa";

// A stream of several KiB: fixed literals and matches, a stored block and a
// dynamic block, so truncations hit the decoder's fast and careful paths.
Bytes LongStream(Bytes* expected) {
    BitWriter w;
    w.Bits(5, 4);
    for (int i = 0; i < 6000; ++i) {
        int literal = (i * 37) % 256;
        w.FixedLitLen(literal);
        expected->push_back(uint8_t(literal));
        if (i % 50 == 49) {  // a match of 10 at distance 40
            w.FixedLitLen(264).FixedDistance(10).Bits(7, 4);
            for (int k = 0; k < 10; ++k) expected->push_back((*expected)[expected->size() - 40]);
        }
    }
    w.FixedLitLen(256);
    Bytes stored = Pattern(5000);
    PutStored(w, false, stored);
    expected->insert(expected->end(), stored.begin(), stored.end());
    PutDynamicAaaa(w, true, PlainSteps(LitA, DistOne));
    for (int k = 0; k < 4; ++k) expected->push_back('a');
    return w.Finish();
}

}  // namespace

TEST_CASE("a stored block of 33 bytes in 36 is decoded and consumed to its last byte") {
    const Bytes text = ToBytes("thirty-three bytes of stored text");
    REQUIRE(text.size() == 33);
    BitWriter w;
    Bytes stream = PutStored(w, true, text).Finish();
    REQUIRE(stream.size() == 36);

    Decoded d = Decode(stream);
    CHECK(d.status == InflateOk);
    CHECK((d.bytes == text));
    CHECK(d.inputLeftAt == 36);

    // Through a file, with other data behind the stream: the file position
    // must end right behind the stream's last byte.
    char path[] = "/tmp/kelvo_inflater_XXXXXX";
    int fd = mkstemp(path);
    REQUIRE(fd >= 0);
    Bytes file = stream;
    for (int i = 0; i < 100; ++i) file.push_back(uint8_t(i));
    REQUIRE(write(fd, file.data(), file.size()) == ssize_t(file.size()));
    close(fd);
    FileHandle handle = OpenExistingFile(path, OpenRead);
    REQUIRE(handle != NoFile);
    InflateSource source = FileInflateSource(&handle, 0);
    u8 out[40] = {0};
    u32 produced = 0;
    CHECK(InflateToMemory(out, sizeof out, source, &produced));
    CHECK(produced == 33);
    CHECK(std::equal(text.begin(), text.end(), out));
    CHECK(SeekFile(handle, 0, SeekFromCurrent) == 36);
    CloseFile(handle);
    unlink(path);
}

TEST_CASE("valid streams of every block kind decode, and the input ends where they do") {
    BitWriter w[10];
    w[0].Bits(13, 4).FixedLitLen('h').FixedLitLen('i').FixedLitLen(256);
    PutDynamicAaaa(w[1], false, PlainSteps(LitA, DistOne)).Bits(13, 4).FixedLitLen('b').FixedLitLen(256);
    PutStored(w[2], true, Bytes());
    PutStored(w[3], false, Bytes()).Bits(13, 4).FixedLitLen('z').FixedLitLen(256);
    // 16 first repeats zeros: 6, then 91 more by 18, 'a', 158 zeros, then
    // end-of-block, length 3 and the distance code.
    PutDynamicAaaa(w[4], true, {{16, 3}, {18, 80}, {1, 0}, {18, 127}, {18, 9}, {2, 0}, {2, 0}, {1, 0}});
    // A literal/length code that is a single one-bit code: end-of-block.
    {
        TestCode lit(Lengths(257, {{256, 1}}));
        w[5].Bits(14, 4).DynamicHeader(257, 1, LengthCode(), ArchiveCodeLengthOrder,
                                       PlainSteps(lit.lengths, {0}));
        w[5].Symbol(lit, 256);
    }
    // Matches that reach before the first byte copy zeros: 4 at distance 3
    // right at the start; 4 at distance 3 after "ab", half zeros and half
    // bytes; 3 at distance 32768.
    w[9].Bits(13, 4).FixedLitLen(258).FixedDistance(2).FixedLitLen('q').FixedLitLen(256);
    w[6].Bits(13, 4).FixedLitLen('a').FixedLitLen('b').FixedLitLen(258).FixedDistance(2);
    w[6].FixedLitLen(257).FixedDistance(29).Bits(8191, 13).FixedLitLen(256);
    // Distance 32768 once more than 32 KiB are out: real bytes, not zeros.
    Bytes pattern = Pattern(32868);
    PutStored(w[7], false, pattern).Bits(13, 4).FixedLitLen(264).FixedDistance(29).Bits(8191, 13).FixedLitLen(256);
    Bytes patternThenCopy = pattern;
    patternThenCopy.insert(patternThenCopy.end(), pattern.begin() + 100, pattern.begin() + 110);
    PutStored(w[8], true, ToBytes("x"));

    struct Case {
        const char* name;
        Bytes stream;
        Bytes expected;
    };
    const Case cases[] = {
        {"header 13: fixed, last", w[0].Finish(), ToBytes("hi")},
        {"header 6: dynamic, not last, with a one-bit distance code; then a last block", w[1].Finish(), ToBytes("aaaab")},
        {"a last stored block of LEN 0", w[2].Finish(), Bytes()},
        {"a stored block of LEN 0, not last", w[3].Finish(), ToBytes("z")},
        {"a code-length sequence that starts with 16 repeats zeros", w[4].Finish(), ToBytes("aaaa")},
        {"a single one-bit literal/length code", w[5].Finish(), Bytes()},
        {"a match as the first thing copies zeros", w[9].Finish(), ToBytes(std::string("\0\0\0\0q", 5))},
        {"matches that reach before the first byte copy zeros", w[6].Finish(), ToBytes(std::string("ab\0ab\0\0\0\0", 9))},
        {"distance 32768 after 32 KiB", w[7].Finish(), patternThenCopy},
        {"three blocks of different kinds", MultiBlockStream(), ToBytes(MultiBlockText)},
        {"header 15: stored, last", w[8].Finish(), ToBytes("x")},
    };
    for (const Case& c : cases) {
        INFO(std::string(c.name));
        Bytes withTail = c.stream;
        for (char t : std::string("TAIL")) withTail.push_back(uint8_t(t));
        Decoded d = Decode(withTail);
        CHECK(d.status == InflateOk);
        CHECK((d.bytes == c.expected));
        CHECK(d.inputLeftAt == c.stream.size());
        Bytes reference;
        CHECK(ReferenceDecode(c.stream, reference) == ReferenceOk);
        CHECK((reference == c.expected));
    }
}

// A stream the format forbids, with the status its fault calls for.
struct InvalidStream {
    std::string name;
    Bytes stream;
    int status;  // AnyFailure where the format fixes none
};
const int AnyFailure = -1;

// Ones follow each stream, so no decoder runs out of input before the fault.
InvalidStream Invalid(std::string name, BitWriter& w, int status) {
    return {name, w.Bits(0xFFFFFFFF, 32).Bits(0xFFFFFFFF, 32).Finish(), status};
}

std::vector<InvalidStream> HeaderAndSymbolFaults() {
    std::vector<InvalidStream> cases;
    for (int kind = 0; kind < 5; ++kind) {
        for (int last : {0, 8}) {
            BitWriter w;
            w.Bits(kind | last, 4);
            cases.push_back(Invalid("block kind " + std::to_string(kind) + (last ? ", last" : ""), w, InflateBadBlock));
        }
    }
    for (int symbol : {286, 287}) {
        BitWriter w;
        w.Bits(13, 4).FixedLitLen('a').FixedLitLen(symbol).FixedDistance(0).FixedLitLen(256);
        cases.push_back(Invalid("fixed literal/length symbol " + std::to_string(symbol), w, InflateBadData));
    }
    for (int symbol : {30, 31}) {
        BitWriter w;
        w.Bits(13, 4).FixedLitLen('a').FixedLitLen(257).FixedDistance(symbol).FixedLitLen(256);
        cases.push_back(Invalid("fixed distance symbol " + std::to_string(symbol), w, InflateBadData));
    }
    for (std::pair<int, int> counts : {std::make_pair(287, 1), std::make_pair(288, 1), std::make_pair(258, 31),
                                       std::make_pair(258, 32)}) {
        BitWriter w;
        w.Bits(14, 4).Bits(counts.first - 257, 5).Bits(counts.second - 1, 5);
        cases.push_back(Invalid("HLIT " + std::to_string(counts.first) + ", HDIST " + std::to_string(counts.second), w,
                                InflateBadData));
    }
    return cases;
}

std::vector<InvalidStream> CodeFaults() {
    struct Dynamic {
        const char* name;
        TestCode lengthCode;
        std::vector<int> lit, dist;
        std::vector<CodeLengthStep> steps;  // empty: the plain sequence
        int status;
    };
    std::vector<CodeLengthStep> runPastEnd = PlainSteps(Lengths(257, {{'a', 1}, {256, 1}}), {});
    runPastEnd.push_back({18, 0});  // 11 zeros where 2 lengths are left
    std::vector<CodeLengthStep> repeatPastEnd = PlainSteps(Lengths(257, {{'a', 1}, {256, 1}}), {});
    repeatPastEnd.push_back({16, 0});  // 3 copies where 2 lengths are left
    const Dynamic dynamics[] = {
        {"a run of zeros past the last length", LengthCode(), LitA, DistOne, runPastEnd, InflateBadData},
        {"a repeat past the last length", LengthCode(), LitA, DistOne, repeatPastEnd, InflateBadData},
        {"an incomplete literal/length code", LengthCode(), Lengths(258, {{'a', 1}, {256, 2}}), DistOne, {}, InflateBadData},
        {"an incomplete distance code", LengthCode(), LitA, {2, 2}, {}, InflateBadData},
        {"an incomplete code-length code", LengthCode({{0, 2}, {1, 2}, {2, 2}}), LitA, DistOne, {}, InflateBadData},
        {"an over-subscribed literal/length code", LengthCode(), Lengths(258, {{'a', 1}, {'b', 1}, {256, 1}}), DistOne, {}, InflateBadBlock},
        {"an over-subscribed distance code", LengthCode(), LitA, {1, 1, 1}, {}, InflateBadBlock},
        {"an over-subscribed code-length code", LengthCode({{0, 1}, {1, 1}, {2, 1}}), LitA, DistOne, {}, InflateBadBlock},
        {"an empty distance code, used", LengthCode(), LitA, {0}, {}, AnyFailure},
        {"the unused half of a one-bit distance code", LengthCode(), LitA, DistOne, {}, InflateBadData},
        {"no end-of-block code", LengthCode(), Lengths(258, {{'a', 1}, {257, 1}}), DistOne, {}, AnyFailure},
    };
    std::vector<InvalidStream> cases;
    for (const Dynamic& d : dynamics) {
        BitWriter w;
        w.Bits(14, 4).DynamicHeader(int(d.lit.size()), int(d.dist.size()), d.lengthCode, ArchiveCodeLengthOrder,
                                    d.steps.empty() ? PlainSteps(d.lit, d.dist) : d.steps);
        // 'a', then a match of 3 whose distance code is all one bits, which
        // the one-bit distance code does not use.
        if (d.lit['a'] && d.lit[d.lit.size() - 1]) w.Symbol(TestCode(d.lit), 'a').Symbol(TestCode(d.lit), 257);
        cases.push_back(Invalid(d.name, w, d.status));
    }
    return cases;
}

TEST_CASE("invalid streams fail with the status their fault calls for") {
    std::vector<InvalidStream> cases = HeaderAndSymbolFaults();
    for (InvalidStream& c : CodeFaults()) cases.push_back(c);
    for (const InvalidStream& c : cases) {
        INFO(c.name);
        Decoded d = Decode(c.stream);
        if (c.status == AnyFailure)
            CHECK(d.status != InflateOk);
        else
            CHECK(int(d.status) == c.status);
        Bytes reference;
        int result = ReferenceDecode(c.stream, reference);
        CHECK(result != ReferenceOk);
        if (c.status != AnyFailure) CHECK(result == c.status);
    }
}

TEST_CASE("every truncation of a valid stream fails") {
    Bytes longExpected;
    struct Case {
        const char* name;
        Bytes stream;
        size_t step;
    };
    const Case cases[] = {{"three short blocks", MultiBlockStream(), 1}, {"several KiB", LongStream(&longExpected), 7}};
    for (const Case& c : cases) {
        INFO(std::string(c.name));
        REQUIRE(Decode(c.stream).status == InflateOk);
        for (size_t size = 0; size < c.stream.size(); size += (c.stream.size() - size < 64 ? 1 : c.step)) {
            CAPTURE(size);
            Bytes cut(c.stream.begin(), c.stream.begin() + long(size));
            CHECK(Decode(cut).status == InflateInputEnded);
            // The same through the source's limit, with the rest of the
            // stream still readable behind it.
            CHECK(Decode(c.stream, u32(size == 0 ? 1 : size)).status != InflateOk);
            Bytes reference;
            CHECK(ReferenceDecode(cut, reference) == ReferenceInputEnded);
        }
        Decoded whole = Decode(c.stream, u32(c.stream.size()));
        CHECK(whole.status == InflateOk);
        CHECK(whole.inputLeftAt == c.stream.size());
    }
    Bytes reference;
    CHECK(ReferenceDecode(cases[1].stream, reference) == ReferenceOk);
    CHECK((reference == longExpected));
    CHECK((Decode(cases[1].stream).bytes == longExpected));
}

TEST_CASE("a bounded memory sink is never written past its end") {
    // Long outputs come from matches as well as from stored blocks.
    BitWriter matches;
    matches.Bits(13, 4).FixedLitLen('m');
    for (int i = 0; i < 200; ++i) matches.FixedLitLen(285).FixedDistance(0);
    Bytes matched = matches.FixedLitLen(256).Finish();
    BitWriter longMatches;
    longMatches.Bits(13, 4).FixedLitLen('m');
    for (int i = 0; i < 800; ++i) longMatches.FixedLitLen(285).FixedDistance(0);
    Bytes longMatched = longMatches.FixedLitLen(256).Finish();
    struct Case {
        const char* name;
        Bytes stream;
        u32 outputSize, capacity;
    };
    const Case cases[] = {
        {"100 bytes into 100", StoredStream(Pattern(100)), 100, 100},
        {"100 bytes into 99", StoredStream(Pattern(100)), 100, 99},
        {"100 bytes into none", StoredStream(Pattern(100)), 100, 0},
        {"40000 bytes into 32768", StoredStream(Pattern(40000)), 40000, 32768},
        {"40000 bytes into 39999", StoredStream(Pattern(40000)), 40000, 39999},
        {"70000 bytes into 40000", StoredStream(Pattern(70000)), 70000, 40000},
        {"70000 bytes into 70000", StoredStream(Pattern(70000)), 70000, 70000},
        {"51601 matched bytes into 33000", matched, 51601, 33000},
        {"51601 matched bytes into 51600", matched, 51601, 51600},
        {"300000 bytes into 140000", StoredStream(Pattern(300000)), 300000, 140000},
        {"300000 bytes into 300000", StoredStream(Pattern(300000)), 300000, 300000},
        {"206401 matched bytes into 140000", longMatched, 206401, 140000},
        {"206401 matched bytes into 206400", longMatched, 206401, 206400},
    };
    const u32 canaryBytes = 64;
    for (const Case& c : cases) {
        INFO(std::string(c.name));
        Bytes buffer(c.capacity + canaryBytes, 0xCC);
        MemoryInput input;
        input.data = c.stream.data();
        input.size = u32(c.stream.size());
        InflateSource source = MemoryInflateSource(input);
        MemorySink sink(buffer.data(), c.capacity);
        InflateStatus status = InflateStream(source, sink);
        bool fits = c.outputSize <= c.capacity;
        CHECK(status == (fits ? InflateOk : InflateSinkRefused));
        CHECK(std::all_of(buffer.begin() + c.capacity, buffer.end(), [](uint8_t b) { return b == 0xCC; }));
        Bytes reference;
        CHECK(ReferenceInflate(c.stream.data(), c.stream.size(), reference, c.capacity) ==
              (fits ? ReferenceOk : ReferenceTooLong));
    }
}

// 'a' and matches up to `before` bytes (32254..32509), then two literals and
// a match of 258, which a decoder may take in one step to end at exactly
// before + 260, and 40 literals more.
Bytes TwoLiteralsAndAMatchAfter(u32 before) {
    BitWriter w;
    w.Bits(13, 4).FixedLitLen('a');
    for (int i = 0; i < 125; ++i) w.FixedLitLen(285).FixedDistance(0);
    u32 rest = before - 1 - 125 * 258;
    if (rest == 258)
        w.FixedLitLen(285).FixedDistance(0);
    else
        w.FixedLitLen(284).Bits(rest - 227, 5).FixedDistance(0);
    w.FixedLitLen('b').FixedLitLen('c').FixedLitLen(285).FixedDistance(0);
    for (int i = 0; i < 40; ++i) w.FixedLitLen('d');
    return w.FixedLitLen(256).Finish();
}

TEST_CASE("output leaves in whole windows and one shorter piece") {
    // 'w' and then matches of 258 at distance 1 up to exactly 32768 bytes,
    // so the window fills through matches rather than a stored copy.
    BitWriter w;
    w.Bits(13, 4).FixedLitLen('w');
    u32 made = 1;
    for (; made + 258 <= 32768; made += 258) w.FixedLitLen(285).FixedDistance(0);
    for (; made < 32768; ++made) w.FixedLitLen('w');
    Bytes fullWindowOfMatches = w.FixedLitLen(256).Finish();

    struct Case {
        const char* name;
        Bytes stream;
        std::vector<u32> writes;
    };
    const Case cases[] = {
        {"nothing", StoredStream(Bytes()), {0}},
        {"one byte", StoredStream(Pattern(1)), {1}},
        {"32767 bytes", StoredStream(Pattern(32767)), {32767}},
        {"32768 stored bytes", StoredStream(Pattern(32768)), {32768, 0}},
        {"32768 bytes of matches", fullWindowOfMatches, {32768, 0}},
        {"32769 bytes", StoredStream(Pattern(32769)), {32768, 1}},
        {"100000 bytes", StoredStream(Pattern(100000)), {32768, 32768, 32768, 1696}},
        {"two literals and a match ending 1 byte short of the window", TwoLiteralsAndAMatchAfter(32507), {32768, 39}},
        {"two literals and a match ending at the window's end", TwoLiteralsAndAMatchAfter(32508), {32768, 40}},
        {"two literals and a match ending 1 byte past the window", TwoLiteralsAndAMatchAfter(32509), {32768, 41}},
    };
    for (const Case& c : cases) {
        INFO(std::string(c.name));
        Decoded d = Decode(c.stream);
        CHECK(d.status == InflateOk);
        CHECK((d.writes == c.writes));
        Bytes reference;
        CHECK(ReferenceDecode(c.stream, reference) == ReferenceOk);
        CHECK((d.bytes == reference));
    }
}

// The fixed code of a match of `length` (3..258) at `distance` (1..32768),
// with the extra bits of each.
BitWriter& FixedMatch(BitWriter& w, u32 length, u32 distance) {
    u32 symbol = 0, base = 3, extra = 0;
    for (; symbol < 28 && base + (1u << extra) <= length; ++symbol) {
        base += 1u << extra;
        extra = symbol + 1 < 8 ? 0 : (symbol + 1 - 4) / 4;
    }
    if (length == 258) symbol = 28, base = 258, extra = 0;
    w.FixedLitLen(int(257 + symbol)).Bits(length - base, int(extra));
    symbol = 0, base = 1, extra = 0;
    for (; base + (1u << extra) <= distance; ++symbol) {
        base += 1u << extra;
        extra = symbol + 1 < 4 ? 0 : (symbol + 1 - 2) / 2;
    }
    return w.FixedDistance(int(symbol)).Bits(distance - base, int(extra));
}

// The decoder gathers its output in an area of OutputAreaSize bytes behind
// 32 KiB of history; when the area fills, it is written out and its last
// 32 KiB move to the front. Each stream: `before` bytes in stored blocks,
// then fixed-code literals and matches around and across that point.
TEST_CASE("matches across the output area's end copy the right history") {
    struct Match {
        u32 length, distance, times;
    };
    struct Case {
        const char* name;
        u32 before, literalsBefore;
        std::vector<Match> matches;
        u32 literalsAfter;  // few: the input ends near the area's end
        u32 bytesBehind = 0;  // input behind the stream, so the fast loop runs to its end
    };
    const u32 end = OutputAreaSize;
    const Case cases[] = {
        {"matches of 258 at distance 40 across the end", end - 300, 0, {{258, 40, 3}}, 100},
        {"a match at distance 32768 ends at the end", end - 258, 0, {{258, 32768, 1}}, 100},
        {"a match at distance 32768 across the end, then from the moved history", end - 100, 0,
         {{258, 32768, 1}, {258, 32768, 1}, {3, 32768, 1}}, 100},
        {"a match at distance 32768 right after a move", end, 0, {{258, 32768, 2}}, 100},
        {"two areas' worth of matches at distance 32768", 32768, 0, {{258, 32768, 2 * end / 258 + 3}}, 100},
        {"distance 1 up to 1 byte short of the end", end - 1 - 3 * 258, 0, {{258, 1, 3}}, 100},
        {"distance 1 up to the end", end - 3 * 258, 0, {{258, 1, 3}}, 100},
        {"distance 1 up to 1 byte past the end", end + 1 - 3 * 258, 0, {{258, 1, 3}}, 100},
        {"distance 2, length 3, across the end", end - 10, 0, {{3, 2, 7}}, 100},
        {"distance 3, length 5, across the end", end - 11, 0, {{5, 3, 5}}, 100},
        {"distance 5, length 4, across the end", end - 9, 0, {{4, 5, 5}}, 100},
        {"distance 7, length 10, across the end", end - 15, 0, {{10, 7, 3}}, 100},
        {"distance 9, length 258, across the end", end - 130, 0, {{258, 9, 1}}, 100},
        {"short matches at the end, then the input ends", end - 6, 0, {{3, 2, 2}, {4, 3, 1}, {5, 1, 1}}, 0},
        {"a match at distance 32768 across the end, then the input ends", end - 100, 0, {{258, 32768, 1}}, 1},
        {"a match across the end as the stream's last symbol", end - 100, 0, {{258, 40, 1}}, 0, 64},
        {"literals and a match across the end, the stream's last symbols", end - 100, 2, {{258, 40, 1}}, 0, 64},
        {"two literals and a match of 258 from the area's last byte", end - 1, 2, {{258, 40, 1}}, 100},
        {"two literals and a match of 258 at distance 1 from the area's last byte", end - 1, 2, {{258, 1, 1}}, 100},
    };
    for (const Case& c : cases) {
        INFO(std::string(c.name));
        Bytes prefix = Pattern(c.before);
        BitWriter w;
        for (size_t at = 0; at < prefix.size(); at += 65535) {
            size_t chunk = std::min<size_t>(65535, prefix.size() - at);
            PutStored(w, false, Bytes(prefix.begin() + long(at), prefix.begin() + long(at + chunk)));
        }
        w.Bits(13, 4);
        for (u32 i = 0; i < c.literalsBefore; ++i) w.FixedLitLen('x');
        for (const Match& m : c.matches)
            for (u32 i = 0; i < m.times; ++i) FixedMatch(w, m.length, m.distance);
        for (u32 i = 0; i < c.literalsAfter; ++i) w.FixedLitLen(int('a' + i % 26));
        Bytes stream = w.FixedLitLen(256).Finish();

        Bytes reference;
        REQUIRE(ReferenceDecode(stream, reference) == ReferenceOk);
        Bytes input = stream;
        input.resize(stream.size() + c.bytesBehind, 0xFF);
        Decoded d = Decode(input);
        CHECK(d.status == InflateOk);
        CHECK((d.bytes == reference));
        std::vector<u32> writes(reference.size() / WindowSize, WindowSize);
        writes.push_back(u32(reference.size() % WindowSize));
        CHECK((d.writes == writes));
    }
}

TEST_CASE("a failing read fails the decode") {
    Bytes expected;
    Bytes stream = LongStream(&expected);
    for (u32 failAfter : {0u, 10u, 4096u, u32(stream.size() - 1)}) {
        CAPTURE(failAfter);
        Decoded d = Decode(stream, 0, failAfter);
        CHECK(d.status == InflateInputEnded);
    }
}
