// The delta format: each command and distance form byte for byte, the
// framing of the two streams, round trips of the encoder through the
// decoder on edited data, and the faults the decoder reports.
#include <doctest/doctest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "archive/delta_reader.h"
#include "builder/delta_decoder.h"
#include "builder/delta_encoder.h"
#include "tests/support/test_data.h"

namespace {

// Words from a tiny vocabulary: compresses well.
Bytes Words(size_t size, uint32_t seed) {
    static const char* const words[] = {"alpha ", "beta ", "gamma ", "delta ", "epsilon ", "zeta\n", "eta ", "theta "};
    std::mt19937 rng(seed);
    Bytes data;
    while (data.size() < size) {
        const char* w = words[rng() % 8];
        data.insert(data.end(), w, w + strlen(w));
    }
    data.resize(size);
    return data;
}

Bytes RoundTrip(const Bytes& base, const Bytes& target, size_t* deltaSize = nullptr) {
    Bytes delta = EncodeDelta(base.data(), base.size(), target.data(), target.size(), 6);
    if (deltaSize != nullptr) *deltaSize = delta.size();
    Bytes output;
    std::string fault = ApplyDelta(base.data(), base.size(), delta.data(), delta.size(), &output);
    REQUIRE_MESSAGE(fault.empty(), fault);
    return output;
}

// Reads one command with the setup program's reader: the bytes it takes, or
// 0 when it is cut short.
size_t ReadCommand(const uint8_t* bytes, size_t available, DeltaCommand* command) {
    Cursor cursor = MakeCursor(bytes, static_cast<u32>(available));
    return ReadDeltaCommand(cursor, command) ? static_cast<size_t>(cursor.next - bytes) : 0;
}

}  // namespace

TEST_CASE("each command and distance form is written and read byte for byte") {
    struct Case {
        const char* what;
        uint32_t literals, copy;
        int64_t distance;
        Bytes bytes;
    };
    const Case cases[] = {
        {"six literals", 6, 0, 0, {0x85}},
        {"32 literals, the longest run", 32, 0, 0, {0x9F}},
        {"one literal then a copy of 5", 1, 5, 0, {0xA3, 0x80}},
        {"three literals then a copy of 33", 3, 33, 0, {0xFF, 0x80}},
        {"a copy of 6", 0, 6, 0, {0x05, 0x80}},
        {"a copy of 128, the longest short one", 0, 128, 0, {0x7F, 0x80}},
        {"a copy of 129, the shortest long one", 0, 129, 0, {0x00, 0x00, 0x00, 0x80}},
        {"a copy of 385", 0, 385, 0, {0x00, 0x00, 0x01, 0x80}},
        {"a copy of 65,664, the longest", 0, 65664, 0, {0x00, 0xFF, 0xFF, 0x80}},
        {"one-byte distance 31", 0, 2, 31, {0x01, 0x9F}},
        {"one-byte distance -1", 0, 2, -1, {0x01, 0xBF}},
        {"one-byte distance -32", 0, 2, -32, {0x01, 0xA0}},
        {"two-byte distance 32", 0, 2, 32, {0x01, 0x00, 0x00}},
        {"two-byte distance -33", 0, 2, -33, {0x01, 0x7F, 0xFF}},
        {"two-byte distance 16,415", 0, 2, 16415, {0x01, 0x3F, 0xFF}},
        {"two-byte distance -16,416", 0, 2, -16416, {0x01, 0x40, 0x00}},
        {"three-byte distance 16,416", 0, 2, 16416, {0x01, 0xC0, 0x00, 0x00}},
        {"three-byte distance -16,417", 0, 2, -16417, {0x01, 0xFF, 0xFF, 0xFF}},
        {"three-byte distance, the largest", 0, 2, 16416 + 0x1FFFFF, {0x01, 0xDF, 0xFF, 0xFF}},
        {"t = 0x100000 takes the seven-byte form", 0, 2, 16416 + 0x100000,
         {0x01, 0xD0, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00}},
        {"seven-byte distance past the three-byte reach", 0, 2, 16416 + 0x200000,
         {0x01, 0xD0, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00}},
        {"seven-byte negative distance", 0, 2, -16416 - 0x200001,
         {0x01, 0xD0, 0x00, 0x00, 0xFF, 0xDF, 0xFF, 0xFF}},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.what));
        Bytes written;
        PutDeltaOp(written, c.literals, c.copy, c.distance);
        CHECK(written == c.bytes);
        DeltaCommand command;
        REQUIRE(ReadCommand(c.bytes.data(), c.bytes.size(), &command) == c.bytes.size());
        CHECK(command.literals == c.literals);
        CHECK(command.copy == c.copy);
        CHECK(static_cast<int32_t>(command.distance) == c.distance);
        CHECK(ReadCommand(c.bytes.data(), c.bytes.size() - 1, &command) == 0);  // cut short: no command
    }
}

TEST_CASE("long runs and copies are split into commands the format can hold") {
    struct Case {
        const char* what;
        uint32_t literals, copy;
        int64_t distance;
        Bytes bytes;
    };
    const Case cases[] = {
        {"33 literals: a full run and one riding on the copy", 33, 10, 5, {0x9F, 0xA8, 0x85}},
        {"five literals are too many to ride on a copy", 5, 10, 5, {0x84, 0x09, 0x85}},
        {"a copy of 65,665 leaves no single byte", 0, 65665, 0, {0x00, 0xFD, 0xFF, 0x80, 0x02, 0x80}},
        {"two literals and a copy of 40 continue at distance 0", 2, 40, -3, {0xDF, 0xBD, 0x06, 0x80}},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.what));
        Bytes written;
        PutDeltaOp(written, c.literals, c.copy, c.distance);
        CHECK(written == c.bytes);
    }
}

TEST_CASE("a stream is framed raw or compressed, with 16- or 32-bit sizes") {
    struct Case {
        const char* what;
        Bytes raw;
        uint8_t flags;
    };
    const Case cases[] = {
        {"empty", {}, 0x00},
        {"incompressible", RandomBytes(300, 1), 0x00},
        {"compressible", Words(3000, 2), 0x01},
        {"large and incompressible", RandomBytes(70000, 3), 0x02},
        {"large and compressible", Words(200000, 4), 0x03},
        {"large, compressed to more than 64 KB", [] {
             Bytes data = RandomBytes(120000, 5);
             for (size_t i = 0; i < data.size(); i += 2) data[i] = 'x';
             return data;
         }(), 0x07},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.what));
        Bytes framed = FrameDeltaStream(c.raw, 6);
        REQUIRE(!framed.empty());
        CHECK(framed[0] == c.flags);
        if (!(c.flags & 0x01)) CHECK(framed.size() == 1 + ((c.flags & 0x02) ? 4 : 2) + c.raw.size());
        // Framed as the command stream, with an empty literal stream behind it.
        Bytes data = framed;
        data.insert(data.end(), {0x00, 0x00, 0x00});
        DeltaStreams streams;
        REQUIRE(ReadDeltaStreams(data.data(), data.size(), &streams) == "");
        CHECK(streams.commands == c.raw);
        CHECK(streams.literals.empty());
    }
}

TEST_CASE("edited data decodes back exactly and costs little") {
    Bytes text = MadeUpProse(3 << 20, 10, 2000, 10), noise = RandomBytes(1 << 20, 11);
    auto edited = [](Bytes data, uint32_t seed) {
        std::mt19937 rng(seed);
        for (int i = 0; i < 50; i++) {
            size_t at = rng() % (data.size() - 100);
            switch (i % 3) {
                case 0: data[at] ^= 0x5A; break;                                                         // changed
                case 1: data.insert(data.begin() + static_cast<long>(at), 17, static_cast<uint8_t>(i)); break;  // inserted
                default: data.erase(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + 23));  // deleted
            }
        }
        return data;
    };
    auto shifted = [](const Bytes& data, size_t by) {
        Bytes out(data.begin() + static_cast<long>(by), data.end());
        out.insert(out.end(), data.begin(), data.begin() + static_cast<long>(by));
        return out;
    };
    struct Case {
        const char* what;
        Bytes base, target;
        double maxRatio;  // delta size / target size
    };
    const Case cases[] = {
        {"identical", noise, noise, 0.001},
        {"random bytes with edits", noise, edited(noise, 1), 0.01},
        {"text with edits", text, edited(text, 2), 0.01},
        {"rotated by a third", noise, shifted(noise, noise.size() / 3), 0.001},
        {"halves swapped and a block inserted", text,
         [&] {
             Bytes t = shifted(text, text.size() / 2);
             Bytes block = RandomBytes(5000, 3);
             t.insert(t.begin() + 1000, block.begin(), block.end());
             return t;
         }(),
         0.01},
        {"the first half only", noise, Bytes(noise.begin(), noise.begin() + static_cast<long>(noise.size() / 2)), 0.001},
        {"unrelated data", noise, RandomBytes(100000, 4), 1.01},
        {"an empty target", noise, {}, 1.0},
        {"an empty base", {}, text, 0.5},
        {"a target shorter than a hash block", noise, Bytes{1, 2, 3}, 3.0},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.what));
        size_t deltaSize = 0;
        CHECK(RoundTrip(c.base, c.target, &deltaSize) == c.target);
        CHECK(static_cast<double>(deltaSize) <= c.maxRatio * static_cast<double>(std::max<size_t>(c.target.size(), 6)));
    }
}

TEST_CASE("the encoder uses every command and distance form on a file gathered from a large base") {
    // Pieces of a 6 MB base taken out of order (near, far forward, far back,
    // beyond the three-byte reach), some longer than one copy command can
    // take, with one to forty new bytes behind each.
    struct Piece {
        size_t start, length, literals;
    };
    const Piece pieces[] = {{0, 150000, 2},  {100, 30, 5},       {40, 50, 1},         {20000, 90, 40},
                            {9000, 5000, 3}, {600000, 70000, 7}, {5000000, 1000, 2}, {300, 64, 1}};
    Bytes base = RandomBytes(6 << 20, 20), target;
    std::mt19937 rng(21);
    for (const Piece& piece : pieces) {
        target.insert(target.end(), base.begin() + static_cast<long>(piece.start),
                      base.begin() + static_cast<long>(piece.start + piece.length));
        for (size_t i = 0; i < piece.literals; i++) target.push_back(static_cast<uint8_t>(rng()));
    }
    DeltaStreams streams = DiffAgainstBase(base.data(), base.size(), target.data(), target.size());
    std::set<std::string> forms;
    for (size_t at = 0; at < streams.commands.size();) {
        DeltaCommand command;
        size_t size = ReadCommand(streams.commands.data() + at, streams.commands.size() - at, &command);
        REQUIRE(size > 0);
        uint8_t b = streams.commands[at];
        forms.insert(b >= 0xA0 ? "literals and copy" : b >= 0x80 ? "literals" : b > 0 ? "short copy" : "long copy");
        size_t countSize = b == 0 ? 3 : 1;  // the command byte, and a long copy's count
        if (command.copy > 0) forms.insert("distance of " + std::to_string(size - countSize));
        at += size;
    }
    CHECK(forms == std::set<std::string>{"literals", "literals and copy", "short copy", "long copy", "distance of 1",
                                         "distance of 2", "distance of 3", "distance of 7"});
    Bytes output;
    REQUIRE(ApplyDeltaStreams(base.data(), base.size(), streams, &output) == "");
    CHECK(output == target);
}

TEST_CASE("a damaged delta is reported, not applied") {
    Bytes base = Words(1000, 30);
    auto framed = [](const Bytes& commands, const Bytes& literals) {
        Bytes data = FrameDeltaStream(commands, 0);
        Bytes more = FrameDeltaStream(literals, 0);
        data.insert(data.end(), more.begin(), more.end());
        return data;
    };
    struct Case {
        const char* what;
        Bytes data;
        std::string fault;
    };
    const Case cases[] = {
        {"no streams", {}, "the command stream is missing"},
        {"a header cut short", {0x00, 0x05}, "the command stream ends inside its header"},
        {"a raw stream cut short", {0x00, 0x05, 0x00, 0x85}, "the command stream ends before its 5 bytes"},
        {"a compressed stream that does not decode", {0x01, 0x05, 0x00, 0x02, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00},
         "the command stream does not decode to its 5 bytes"},
        {"a compressed stream claiming more than deflate can hold",
         {0x07, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00, 0x03, 0x00},
         "the command stream claims 4294967295 bytes, more than its 2 compressed bytes can hold"},
        {"bytes behind the streams", [&] {
             Bytes d = framed({0x85}, Bytes(6, 'x'));
             d.push_back(0);
             return d;
         }(), "1 bytes follow the delta's two streams"},
        {"a command cut short", framed({0x00, 0x01}, {}), "the command stream ends inside the command at byte 0"},
        {"literals beyond their stream", framed({0x85}, Bytes(5, 'x')), "command at byte 0 takes literals beyond"},
        {"a copy before the base's start", framed({0x05, 0xBF}, {}), "copies bytes -1..5, outside the base's 1000"},
        {"a copy past the base's end", framed({0x05, 0x03, 0xFF}, {}), "copies bytes 1055..1061, outside the base's 1000"},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.what));
        Bytes output;
        std::string fault = ApplyDelta(base.data(), base.size(), c.data.data(), c.data.size(), &output);
        CAPTURE(fault);
        CHECK(fault.find(c.fault) != std::string::npos);
    }
}
