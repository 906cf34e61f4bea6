// Solid LZMA packing: the x86 branch converter, how contents are gathered
// into blocks, and setups whose blocks are damaged.
#include <doctest/doctest.h>

#include <random>
#include <string>
#include <vector>

#include "archive/branch_filter.h"
#include "archive/loader.h"
#include "archive/solid_data.h"
#include "builder/lzma_encoder.h"
#include "builder/setup_reader.h"
#include "builder/solid_blocks.h"
#include "tests/support/kelvo_commands.h"
#include "tests/support/native_files.h"
#include "tests/support/test_data.h"

namespace {

const std::string RealStub = std::string(KELVO_SOURCE_DIR) + "/build/bin/kelvo-setup.exe";

// Runs of x86-like code: calls and jumps with near operands among other bytes.
Bytes CallHeavy(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes data(size);
    for (size_t i = 0; i < size; i++) {
        uint32_t r = rng();
        data[i] = r % 5 == 0 ? static_cast<uint8_t>(0xE8 + (r >> 8) % 2) : r % 7 == 0 ? static_cast<uint8_t>(0xFF * (r >> 9 & 1)) : static_cast<uint8_t>(r >> 16);
    }
    return data;
}

// Undoes the conversion in pieces of random sizes, as the setup's reader
// does, carrying the bytes a piece leaves undone to the next.
Bytes ConvertBackInPieces(const Bytes& converted, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out, pending;
    BranchFilterState state = {0};
    size_t at = 0;
    while (at < converted.size()) {
        size_t n = std::min<size_t>(converted.size() - at, 1 + rng() % 9000);
        pending.insert(pending.end(), converted.begin() + at, converted.begin() + at + n);
        at += n;
        u32 done = ConvertX86Branches(pending.data(), static_cast<u32>(pending.size()), static_cast<u32>(out.size()),
                                      &state, false);
        if (at == converted.size()) done = static_cast<u32>(pending.size());  // the block's last bytes stay as they are
        out.insert(out.end(), pending.begin(), pending.begin() + done);
        pending.erase(pending.begin(), pending.begin() + done);
    }
    return out;
}

}  // namespace

TEST_CASE("the x86 branch converter is undone exactly, whole or in pieces") {
    struct Case {
        const char* name;
        Bytes data;
        bool changes;  // the conversion touches some bytes
    };
    const Case cases[] = {
        {"a real program", ReadBytes(RealStub), true},
        {"calls and jumps everywhere", CallHeavy(200000, 1), true},
        {"random bytes", RandomBytes(100000, 2), true},
        {"shorter than an instruction", Bytes{0xE8, 0, 0, 0}, false},
        {"nothing", Bytes{}, false},
    };
    for (const Case& c : cases) {
        CAPTURE(c.name);
        Bytes converted = c.data;
        BranchFilterState state = {0};
        ConvertX86Branches(converted.data(), static_cast<u32>(converted.size()), 0, &state, true);
        CHECK((converted != c.data) == c.changes);
        CHECK(ConvertBackInPieces(converted, 7) == c.data);
    }
    CHECK(IsX86Program(cases[0].data.data(), cases[0].data.size()));
    CHECK_FALSE(IsX86Program(cases[1].data.data(), cases[1].data.size()));
}

TEST_CASE("contents gather into each set's blocks in reading order; contents read again have blocks of their own") {
    // Contents 0-4 of 100 bytes, 5 empty. Set 0 reads 0 1 2 0 3; set 1 reads 4 2 5 and a delta (content 1)
    // against set 0's file 3 (content 3).
    std::vector<PackedContent> contents(6, PackedContent{0, 100, 100, 0});
    contents[5].storedSize = contents[5].size = 0;
    std::vector<std::vector<uint32_t>> sets = {{0, 1, 2, 0, 3}, {4, 2, 5, 1}};
    DeltaBases bases = {std::vector<BaseRef>(5), std::vector<BaseRef>(4)};
    bases[1][3] = {0, 4};
    SolidPlan plan = PlanSolidBlocks(sets, bases, contents, 1 << 20);

    auto blockOf = [&](uint32_t c) { return plan.contentBlock[c]; };
    auto alone = [&](uint32_t c) { return plan.blocks[blockOf(c)].contents == std::vector<uint32_t>{c}; };
    CHECK(alone(0));  // read twice in set 0
    CHECK(alone(1));  // read in both sets
    CHECK(alone(2));
    CHECK(alone(3));  // a delta's base
    CHECK(blockOf(5) == NoContent);  // nothing to read
    CHECK(plan.blocks[blockOf(4)].contents == std::vector<uint32_t>{4});
    // Every read is a visit of its own here: none goes on in a block.
    CHECK(plan.visits[0].size() == 5);
    CHECK(plan.entryVisit[1][2] == NoContent);
    CHECK(plan.visitBases[1][plan.entryVisit[1][3]].set == 0);
    CHECK(plan.visitBases[1][plan.entryVisit[1][3]].index == plan.entryVisit[0][4]);

    // Read once, in one set: one block, one visit, in reading order; the
    // limit starts another block, a set never shares one.
    std::vector<PackedContent> many(8, PackedContent{0, 100, 100, 0});
    SolidPlan solid = PlanSolidBlocks({{0, 1, 2, 3, 4}, {5, 6, 7}}, {}, many, 250);
    REQUIRE(solid.blocks.size() == 3);
    CHECK(solid.blocks[0].contents == std::vector<uint32_t>{0, 1, 2});
    CHECK(solid.blocks[1].contents == std::vector<uint32_t>{3, 4});
    CHECK(solid.blocks[2].contents == std::vector<uint32_t>{5, 6, 7});
    CHECK(solid.visits[0] == std::vector<uint32_t>{0, 1});
    CHECK(solid.contentOffset[4] == 100);
    // A limit of 1: a block for each content.
    CHECK(PlanSolidBlocks({{0, 1, 2}}, {}, many, 1).blocks.size() == 3);
}

TEST_CASE("damaged solid data is reported, never taken for files") {
    Scratch s("solid");
    Bytes program = ReadBytes(RealStub), text = RandomBytes(30000, 3);
    for (size_t i = 0; i < text.size(); i += 2) text[i] = 'a' + text[i] % 3;
    WriteBytes(s / "app/program.exe", program);
    WriteBytes(s / "app/text.txt", text);
    WriteText(s / "kelvo.toml", "[setup]\nwizard-picture = \"\"\n[[set]]\n[[set.file]]\nsource = \"app/*\"\n");
    std::string setup = s / "setup.exe";
    {
        Silenced quiet(STDOUT_FILENO);
        REQUIRE(RunBuild({s / "kelvo.toml", "-o", setup, "--stub", FakeStub(s.path), "--level", "3"}) == 0);
    }
    Outcome listed = List(setup);
    CHECK(Contains(listed.out, "packing:           LZMA, 1 block (1 with x86 branches converted)"));
    Outcome verified = Verify(setup);
    CHECK_MESSAGE(verified.status == CommandSucceeded, verified.err);

    // The block's packed bytes end the file: damage near their start and
    // middle, each on a fresh copy.
    Bytes good = ReadBytes(setup);
    uint64_t packedSize = 0;
    {
        LoadedSetup loaded(setup);
        REQUIRE(loaded.IsLoaded());
        packedSize = SolidBlockAt(0).packedSize;
    }
    for (uint64_t from : {packedSize - 40, packedSize / 2, packedSize / 8}) {
        CAPTURE(from);
        Bytes bad = good;
        for (size_t i = 0; i < 16; i++) bad[bad.size() - from + i] ^= 0x5A;
        WriteBytes(setup, bad);
        Outcome damaged = Verify(setup);
        CHECK(damaged.status != CommandSucceeded);
        CHECK((Contains(damaged.err, "cannot be unpacked") || Contains(damaged.err, "check value")));
    }
}

TEST_CASE("bytes that do not pack are stored between packed chunks of one block, and read back") {
    Scratch s("solid-stored");
    Bytes prose(400000), noise = RandomBytes(300000, 9);
    for (size_t i = 0; i < prose.size(); i++) prose[i] = "the quick brown fox "[i % 20];
    WriteBytes(s / "app/1.txt", prose);
    WriteBytes(s / "app/2.bin", noise);
    WriteBytes(s / "app/3.txt", prose);  // equal to 1.txt: a block of its own
    WriteBytes(s / "app/4.txt", Bytes(prose.begin(), prose.begin() + 1000));
    WriteText(s / "kelvo.toml", "[setup]\nwizard-picture = \"\"\n[[set]]\n[[set.file]]\nsource = \"app/*\"\n");
    std::string setup = s / "setup.exe";
    {
        Silenced quiet(STDOUT_FILENO);
        REQUIRE(RunBuild({s / "kelvo.toml", "-o", setup, "--stub", FakeStub(s.path), "--level", "1"}) == 0);
    }
    {
        LoadedSetup loaded(setup);
        REQUIRE(loaded.IsLoaded());
        uint64_t packed = 0;
        for (u32 i = 0; i < SolidBlockCount(); i++) packed += SolidBlockAt(i).packedSize;
        // The noise costs its own size and a few chunk headers, not LZMA's
        // expansion of it; the prose next to nothing.
        CHECK(packed > noise.size());
        CHECK(packed < noise.size() + 2000);
    }
    Outcome verified = Verify(setup);
    CHECK_MESSAGE(verified.status == CommandSucceeded, verified.err);
    REQUIRE(Extract(setup, s.path / "out").status == CommandSucceeded);
    CHECK(ReadBytes(s.path / "out/2.bin") == noise);
    CHECK(ReadBytes(s.path / "out/3.txt") == prose);
    CHECK(ReadBytes(s.path / "out/4.txt") == Bytes(prose.begin(), prose.begin() + 1000));
}
