// The encoder against both decoders: the plain reference decoder and the
// setup program's own. Also the rewriting of standard raw DEFLATE (from
// libdeflate and from zlib) and the refusal of malformed standard streams.
#include <doctest/doctest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>

#include "archive/inflater.h"
#include "builder/deflate_encoder.h"
#include "tests/support/bit_writer.h"
#include "tests/support/memory_source.h"
#include "tests/support/reference_inflate.h"
#include "tests/support/test_data.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// Words of skewed frequency, punctuation and line breaks: compresses like
// prose, so the encoder picks dynamic codes for it.
Bytes Text(size_t size, uint32_t seed) {
    static const char* words[] = {"the",   "installer", "writes", "files", "into",   "a",     "folder",
                                  "and",   "registers", "its",    "own",   "uninstaller", "when", "done",
                                  "setup", "copies",    "shortcuts", "to",  "menu",   "of",    "program"};
    std::mt19937 rng(seed);
    std::string text;
    while (text.size() < size) {
        text += words[std::min(rng() % 21, rng() % 21)];
        uint32_t r = rng() % 20;
        text += r == 0 ? ".\n" : r == 1 ? ", " : " ";
    }
    return Bytes(text.begin(), text.begin() + long(size));
}

// Long runs and one short phrase repeated: long matches, distance 1 included.
Bytes Repetitive(size_t size) {
    Bytes data(size);
    const char phrase[] = "abcabcabd";
    for (size_t i = 0; i < size; ++i) data[i] = (i / 5000) % 2 ? uint8_t('z') : uint8_t(phrase[i % 9]);
    return data;
}

// Sections of text, random bytes, zeros and repeats, so one stream holds
// blocks of every kind and matches that reach across section borders.
Bytes Mixed(size_t size, uint32_t seed) {
    Bytes data;
    for (uint32_t part = 0; data.size() < size; ++part) {
        Bytes piece = part % 4 == 0 ? Text(70000, seed + part)
                      : part % 4 == 1 ? RandomBytes(50000, seed + part)
                      : part % 4 == 2 ? Bytes(40000, 0)
                                      : Repetitive(60000);
        data.insert(data.end(), piece.begin(), piece.end());
    }
    data.resize(size);
    return data;
}

InflateStatus InflateBytes(const Bytes& stream, RecordingSink& sink) {
    MemoryInput input;
    input.data = stream.data();
    input.size = u32(stream.size());
    InflateSource source = MemoryInflateSource(input);
    return InflateStream(source, sink);
}

// Both decoders give back `original` exactly from `stream`, the setup
// program's decoder in n / 32768 + 1 writes and to the stream's last byte.
void CheckDecodesTo(const Bytes& stream, const Bytes& original) {
    Bytes reference;
    CHECK(ReferenceInflate(stream.data(), stream.size(), reference, original.size()) == ReferenceOk);
    CHECK((reference == original));

    MemoryInput input;
    input.data = stream.data();
    input.size = u32(stream.size());
    InflateSource source = MemoryInflateSource(input);
    RecordingSink sink;
    CHECK(InflateStream(source, sink) == InflateOk);
    CHECK((sink.bytes == original));
    CHECK(sink.writes.size() == original.size() / WindowSize + 1);
    CHECK(input.position == stream.size());

    Bytes buffer(original.size() + 1);
    MemoryInput again;
    again.data = stream.data();
    again.size = u32(stream.size());
    InflateSource againSource = MemoryInflateSource(again);
    u32 produced = 0;
    CHECK(InflateToMemory(buffer.data(), u32(original.size()), againSource, &produced));
    CHECK(produced == original.size());
    CHECK(std::equal(original.begin(), original.end(), buffer.begin()));
}

struct Sample {
    const char* name;
    Bytes data;
};

std::vector<Sample> Samples() {
    return {
        {"empty", Bytes()},
        {"one byte", Bytes(1, 'x')},
        {"32768 random bytes", RandomBytes(32768, 1)},
        {"32769 bytes of text", Text(32769, 2)},
        {"32768 zeros", Bytes(32768, 0)},
        {"random", RandomBytes(150000, 3)},
        {"text", Text(300000, 4)},
        {"repetitive", Repetitive(400000)},
        {"several MB mixed", Mixed(3 * 1024 * 1024 + 7, 5)},
    };
}

Bytes ZlibRawDeflate(const Bytes& data, int level, int strategy, size_t flushEvery) {
    z_stream z = {};
    REQUIRE(deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy) == Z_OK);
    size_t flushes = flushEvery == 0 ? 0 : data.size() / flushEvery;
    Bytes out(deflateBound(&z, uLong(data.size())) + 16 * flushes + 64);
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    static const int flushModes[] = {Z_SYNC_FLUSH, Z_FULL_FLUSH, Z_PARTIAL_FLUSH, Z_BLOCK};
    size_t at = 0;
    for (int n = 0;; ++n) {
        size_t chunk = std::min(flushEvery, data.size() - at);
        z.next_in = const_cast<Bytes::value_type*>(data.data()) + at;
        z.avail_in = uInt(chunk);
        at += chunk;
        bool done = at == data.size();
        int result = deflate(&z, done ? Z_FINISH : flushModes[n % 4]);
        REQUIRE(result == (done ? Z_STREAM_END : Z_OK));
        if (done) break;
    }
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

}  // namespace

TEST_CASE("encoded streams decode to their input at every level") {
    for (const Sample& sample : Samples()) {
        for (int level : {0, 1, 6, 12}) {
            INFO(std::string(sample.name) << " at level " << level);
            Bytes stream = EncodeStream(sample.data.data(), sample.data.size(), level);
            CheckDecodesTo(stream, sample.data);
            if (level != 0 && sample.data.size() > 100000 && sample.name != std::string("random"))
                CHECK(stream.size() < sample.data.size() / 2);
        }
    }
}

TEST_CASE("each block kind occurs where it pays") {
    struct Case {
        const char* name;
        Bytes data;
        int level;
        bool stored, fixed, dynamic;
    };
    const Case cases[] = {
        {"level 0 stores everything", Text(200000, 6), 0, true, false, false},
        {"a short input takes the fixed codes", Repetitive(100), 6, false, true, false},
        {"text takes dynamic codes", Text(100000, 8), 6, false, false, true},
        {"random data is stored even at level 12", RandomBytes(100000, 9), 12, true, false, false},
    };
    for (const Case& c : cases) {
        INFO(std::string(c.name));
        EncodeStats stats;
        Bytes stream = EncodeStream(c.data.data(), c.data.size(), c.level, &stats);
        CHECK((stats.storedBlocks > 0) == c.stored);
        CHECK((stats.fixedBlocks > 0) == c.fixed);
        CHECK((stats.dynamicBlocks > 0) == c.dynamic);
        CheckDecodesTo(stream, c.data);
    }
    // A stream over 64 KiB at level 0 needs several stored blocks, each
    // within the 16-bit length.
    EncodeStats stats;
    Bytes big = RandomBytes(200000, 10);
    CheckDecodesTo(EncodeStream(big.data(), big.size(), 0, &stats), big);
    CHECK(stats.storedBlocks >= 4);
}

TEST_CASE("the encoder refuses levels outside 0..12") {
    const uint8_t byte = 0;
    CHECK_THROWS_AS(EncodeStream(&byte, 1, -1), std::invalid_argument);
    CHECK_THROWS_AS(EncodeStream(&byte, 1, 13), std::invalid_argument);
    Bytes empty = EncodeStream(nullptr, 0, 6);
    CheckDecodesTo(empty, Bytes());
}

TEST_CASE("zlib's raw deflate streams transcode and decode") {
    const Sample samples[] = {{"text", Text(120000, 11)}, {"mixed", Mixed(400000, 12)}, {"tiny", Text(10, 13)}};
    struct Variant {
        const char* name;
        int level, strategy;
        size_t flushEvery;
    };
    const Variant variants[] = {
        {"level 0", 0, Z_DEFAULT_STRATEGY, size_t(-1)},
        {"level 1", 1, Z_DEFAULT_STRATEGY, size_t(-1)},
        {"level 9", 9, Z_DEFAULT_STRATEGY, size_t(-1)},
        {"fixed codes only", 6, Z_FIXED, size_t(-1)},
        {"Huffman only", 6, Z_HUFFMAN_ONLY, size_t(-1)},
        {"run lengths", 6, Z_RLE, size_t(-1)},
        // Flushes leave empty stored blocks, empty fixed blocks and blocks
        // that end mid-byte before a stored block.
        {"flushed every 7000 bytes", 6, Z_DEFAULT_STRATEGY, 7000},
        {"stored, flushed every 3000 bytes", 0, Z_DEFAULT_STRATEGY, 3000},
    };
    for (const Sample& sample : samples) {
        for (const Variant& v : variants) {
            INFO(std::string(sample.name) << ", " << v.name);
            Bytes standard = ZlibRawDeflate(sample.data, v.level, v.strategy, v.flushEvery);
            Bytes stream;
            EncodeStats stats;
            REQUIRE(TranscodeRawDeflate(standard.data(), standard.size(), stream, &stats));
            CheckDecodesTo(stream, sample.data);
            if (v.strategy == Z_FIXED) CHECK(stats.dynamicBlocks == 0);
            if (v.level == 0 && v.flushEvery == size_t(-1)) CHECK(stats.fixedBlocks + stats.dynamicBlocks == 0);
        }
    }
}

TEST_CASE("transcoding rewrites block headers and copies the rest bit for bit") {
    // A dynamic code for "a" and end-of-block, and a single one-bit distance
    // code. The code-length code uses only 1 and 18: last but one in the
    // standard order, among the first five in the archive's.
    std::vector<int> litLen(257, 0);
    litLen['a'] = 1;
    litLen[256] = 1;
    TestCode lit(litLen);
    std::vector<int> lengthCodeLengths(19, 0);
    lengthCodeLengths[1] = 1;
    lengthCodeLengths[18] = 1;
    TestCode lengthCode(lengthCodeLengths);
    const std::vector<CodeLengthStep> steps = {{18, 86}, {1, 0}, {18, 127}, {18, 9}, {1, 0}, {1, 0}};

    struct Case {
        const char* name;
        BitWriter standard, archive;
        const char* text;
    };
    Case cases[3] = {{"a fixed last block", {}, {}, "hi"},
                     {"a fixed block, then a stored one two bits further on", {}, {}, "hixyz"},
                     {"a dynamic block, then a stored one", {}, {}, "aaxyz"}};
    cases[0].standard.Bits(1, 1).Bits(1, 2).FixedLitLen('h').FixedLitLen('i').FixedLitLen(256);
    cases[0].archive.Bits(13, 4).FixedLitLen('h').FixedLitLen('i').FixedLitLen(256);
    cases[1].standard.Bits(0, 1).Bits(1, 2).FixedLitLen('h').FixedLitLen('i').FixedLitLen(256);
    cases[1].archive.Bits(5, 4).FixedLitLen('h').FixedLitLen('i').FixedLitLen(256);
    cases[2].standard.Bits(0, 1).Bits(2, 2).DynamicHeader(257, 1, lengthCode, StandardCodeLengthOrder, steps);
    cases[2].archive.Bits(6, 4).DynamicHeader(257, 1, lengthCode, ArchiveCodeLengthOrder, steps);
    for (int i = 2; i < 3; ++i) {
        for (BitWriter* w : {&cases[i].standard, &cases[i].archive})
            w->Symbol(lit, 'a').Symbol(lit, 'a').Symbol(lit, 256);
    }
    for (int i = 1; i < 3; ++i) {
        cases[i].standard.Bits(1, 1).Bits(0, 2).Align().Bits(3, 16).Bits(0xFFFC, 16).Bytes("xyz", 3);
        cases[i].archive.Bits(15, 4).Align().Bits(3, 16).Bytes("xyz", 3);
    }
    for (Case& c : cases) {
        INFO(std::string(c.name));
        Bytes standard = c.standard.Finish();
        Bytes expected = c.archive.Finish();
        Bytes stream;
        REQUIRE(TranscodeRawDeflate(standard.data(), standard.size(), stream));
        CHECK((stream == expected));
        CheckDecodesTo(stream, Bytes(c.text, c.text + strlen(c.text)));
    }
}

TEST_CASE("the transcoder refuses malformed standard streams") {
    std::vector<int> litLen(257, 0);
    litLen['a'] = 1;
    litLen[256] = 1;
    std::vector<int> lengthCodeLengths(19, 0);
    for (int sym : {0, 1, 16, 18}) lengthCodeLengths[sym] = 2;
    TestCode lengthCode(lengthCodeLengths);
    auto dynamic = [&](int litCount, std::vector<CodeLengthStep> steps) {
        BitWriter w;
        w.Bits(1, 1).Bits(2, 2).DynamicHeader(litCount, 1, lengthCode, StandardCodeLengthOrder, steps);
        return w.Bits(0, 16).Finish();  // enough bits for any symbol that follows
    };
    std::vector<int> overSubscribed = litLen;
    overSubscribed['b'] = 1;
    std::vector<int> incomplete = litLen;
    incomplete[256] = 2;

    struct Case {
        const char* name;
        Bytes stream;
    };
    const Case cases[] = {
        {"no input", Bytes()},
        {"reserved block type", BitWriter().Bits(1, 1).Bits(3, 2).Finish()},
        {"stored length and complement disagree", BitWriter().Bits(1, 3).Align().Bits(3, 16).Bits(0xFFFB, 16).Bytes("abc", 3).Finish()},
        {"stored block longer than the input", BitWriter().Bits(1, 3).Align().Bits(4, 16).Bits(0xFFFB, 16).Bytes("abc", 3).Finish()},
        {"no end-of-block", BitWriter().Bits(1, 1).Bits(1, 2).FixedLitLen('a').FixedLitLen('b').Finish()},
        {"a block that is not the last, then nothing", BitWriter().Bits(0, 1).Bits(1, 2).FixedLitLen(256).Finish()},
        {"length symbol 286", BitWriter().Bits(1, 1).Bits(1, 2).FixedLitLen('a').FixedLitLen(286).FixedDistance(0).FixedLitLen(256).Finish()},
        {"distance symbol 30", BitWriter().Bits(1, 1).Bits(1, 2).FixedLitLen('a').FixedLitLen(257).FixedDistance(30).FixedLitLen(256).Finish()},
        {"distance before the first byte", BitWriter().Bits(1, 1).Bits(1, 2).FixedLitLen('a').FixedLitLen(257).FixedDistance(1).FixedLitLen(256).Finish()},
        {"more than 286 length codes", dynamic(287, PlainSteps(std::vector<int>(287, 0), {0}))},
        {"a repeat of the previous length with none before", dynamic(257, {{16, 0}})},
        {"a repeat past the last length", dynamic(257, {{18, 127}, {18, 127}, {0, 0}})},
        {"an empty literal code", dynamic(257, PlainSteps(std::vector<int>(257, 0), {0}))},
        {"an over-subscribed literal code", dynamic(257, PlainSteps(overSubscribed, {0}))},
        {"an incomplete literal code", dynamic(257, PlainSteps(incomplete, {0}))},
    };
    for (const Case& c : cases) {
        INFO(std::string(c.name));
        Bytes out;
        EncodeStats stats;
        CHECK_FALSE(TranscodeRawDeflate(c.stream.data(), c.stream.size(), out, &stats));
        CHECK(stats.storedBlocks + stats.fixedBlocks + stats.dynamicBlocks == 0);
    }
}

TEST_CASE("a standard stream fed to the setup's decoder fails at its first block") {
    // The standard 3-bit headers of a last stored block and a last fixed
    // block read as the archive's kinds 1 and 3; not-last ones as 0 and 2.
    const Bytes hello = Text(40, 14);
    struct Case {
        const char* name;
        Bytes stream;
        int standardType;
    };
    const Case cases[] = {
        {"zlib, stored", ZlibRawDeflate(hello, 0, Z_DEFAULT_STRATEGY, size_t(-1)), 0},
        {"zlib, fixed codes", ZlibRawDeflate(hello, 6, Z_DEFAULT_STRATEGY, size_t(-1)), 1},
        {"zlib, flushed: not last, stored", ZlibRawDeflate(hello, 0, Z_DEFAULT_STRATEGY, 20), 0},
        {"crafted, fixed codes, not last", BitWriter().Bits(0, 1).Bits(1, 2).FixedLitLen(256).Bits(1, 1).Bits(1, 2).FixedLitLen(256).Finish(), 1},
    };
    for (const Case& c : cases) {
        INFO(std::string(c.name));
        REQUIRE(!c.stream.empty());
        REQUIRE(((c.stream[0] >> 1) & 3) == c.standardType);
        RecordingSink sink;
        CHECK(InflateBytes(c.stream, sink) == InflateBadBlock);
        CHECK(sink.bytes.empty());
        Bytes out;
        CHECK(ReferenceInflate(c.stream.data(), c.stream.size(), out, 1000) == ReferenceBadBlock);
    }
}
