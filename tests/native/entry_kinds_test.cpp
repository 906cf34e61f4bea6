// Entries beyond plain files in setups kelvo builds: files copied from or
// left beside the setup, folders, the uninstaller with its prefix data,
// kept file times and deltas against other entries. Each setup is read back
// through the setup program's loader and kelvo's list, verify and extract.
#include <doctest/doctest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "archive/archive_offset.h"
#include "archive/check_value.h"
#include "archive/loader.h"
#include "builder/archive_builder.h"
#include "builder/command_line.h"
#include "builder/entry_records.h"
#include "builder/project.h"
#include "builder/setup_commands.h"
#include "builder/setup_reader.h"
#include "tests/support/kelvo_commands.h"
#include "tests/support/native_files.h"
#include "tests/support/test_data.h"

namespace fs = std::filesystem;

namespace {

// Text of a vocabulary of 500 words.
Bytes Prose(size_t size, uint32_t seed) { return MadeUpProse(size, seed, 500); }

void Build(const fs::path& folder, const std::string& setup, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {(folder / "kelvo.toml").string(), "-o", setup, "--stub", FakeStub(folder)};
    args.insert(args.end(), more.begin(), more.end());
    Silenced quiet(STDOUT_FILENO);
    REQUIRE(RunBuild(args) == 0);
}

uint64_t FileTimeOf(const timespec& t) { return (uint64_t(t.tv_sec) + 11644473600ull) * 10000000 + uint64_t(t.tv_nsec) / 100; }
uint64_t Ticks(const uint32_t time[2]) { return (uint64_t(time[1]) << 32) | time[0]; }

}  // namespace

TEST_CASE("files beside the setup, folders, the uninstaller and file times read back as the project gives them") {
    Scratch s("entry-kinds");
    Bytes cab = RandomBytes(3000, 1), app = Prose(5000, 2), program = RandomBytes(700, 3);
    WriteBytes(s.path / "big.cab", cab);
    WriteBytes(s.path / "app.txt", app);
    WriteBytes(s.path / "uninstaller.bin", program);
    WriteText(s.path / "kelvo.toml", R"(
[setup]
wizard-picture = ""
uninstaller-program = "uninstaller.bin"

[[set]]
name = "Main"
uninstaller = "Tools\\uninst.exe"

[[set.file]]
source = "big.cab"
copy-from-setup-folder = true

[[set.file]]
name = "Disk1/manual.pdf"
copy-from-setup-folder = true
uninstall = "keep"

[[set.file]]
name = "readme.txt"
stays-in-setup-folder = true
role = "open"
desktop = { name = "Read me" }

[[set.file]]
source = "app.txt"
keep-times = true

[[set.folder]]
name = "Data"
)");
    std::string setup = (s.path / "setup.exe").string();
    Build(s.path, setup);
    struct stat info;
    REQUIRE(stat((s.path / "app.txt").c_str(), &info) == 0);

    {
        LoadedSetup loaded(setup);
        REQUIRE(loaded.IsLoaded());
        CHECK(Bytes(setupScript.prefixData.data, setupScript.prefixData.data + setupScript.prefixData.size) == program);
        std::vector<const FileEntry*> entries = FileEntriesOf(0);
        REQUIRE(entries.size() == 6);
        struct Expected {
            std::string name;
            uint8_t flags, kind;
            uint32_t size, storedSize;
        };
        const Expected expected[] = {
            {"big.cab", CopiedFromSetupFolder, RemovedFile, 3000, 0},
            {"Disk1\\manual.pdf", CopiedFromSetupFolder, KeptFile, 0, 0},
            {"readme.txt", 0, SetupFolderFile, 0, 0},
            {"app.txt", HasFileTimes, RemovedFile, 5000, +entries[3]->storedSize},
            {"Data\\", 0, FolderEntry, 0, 0},  // the backslash makes setup create the folder itself
            {"Tools\\uninst.exe", UninstallerEntry, KeptFile, 8, +entries[5]->storedSize},
        };
        for (size_t i = 0; i < entries.size(); i++) {
            CAPTURE(expected[i].name);
            const FileEntry& e = *entries[i];
            CHECK(std::string(EntryString(&e, EntryFileName)) == expected[i].name);
            CHECK(+e.entryFlags == expected[i].flags);
            CHECK(+e.entryKind == expected[i].kind);
            CHECK(+e.size == expected[i].size);
            CHECK(+e.storedSize == expected[i].storedSize);
        }
        CHECK(+entries[0]->checkValue == RotateAddCheck(cab.data(), 3000, 0));
        CHECK(+entries[2]->afterSetupRole == OpenedDocument);
        CHECK(std::string(EntryString(entries[2], EntryDesktopName)) == "Read me");
        CHECK(+entries[3]->storedSize > 0);
        REQUIRE(TimesOf(*entries[3]) != nullptr);
        FileTimes times;  // copied out: the entry's fields are unaligned
        std::memcpy(&times, TimesOf(*entries[3]), sizeof times);
        CHECK(Ticks(times.lastWrite) == FileTimeOf(info.st_mtim));
        CHECK(Ticks(times.creation) == FileTimeOf(info.st_mtim));
        CHECK(Ticks(times.lastAccess) == FileTimeOf(info.st_mtim));  // reading a source must not change a build
    }

    Outcome listed = List(setup);
    CHECK(Contains(LineWith(listed.out, "big.cab"), "file    -----C"));
    CHECK(Contains(LineWith(listed.out, "readme.txt"), "beside  ------"));
    CHECK(Contains(LineWith(listed.out, "uninst.exe"), "U-----"));
    CHECK(Contains(listed.out, "prefix data:       700 bytes"));

    Outcome verified = Verify(setup);
    CHECK(verified.status == CommandSucceeded);
    CHECK(Contains(verified.out, "checked 2 stored files"));
    CHECK(Contains(verified.out, "skipped 4 entries without stored data"));

    Outcome extracted = Extract(setup, s.path / "out", 0);
    REQUIRE(extracted.status == CommandSucceeded);
    Bytes uninstaller = program;
    uninstaller.insert(uninstaller.end(), {0x7F, 0x7F, 0, 0, 0, 0, 0, 0});  // the log's first header goes here
    CHECK(ReadBytes(s.path / "out/Tools/uninst.exe") == uninstaller);
    CHECK(ReadBytes(s.path / "out/app.txt") == app);
    CHECK(fs::is_directory(s.path / "out/Data"));
    CHECK_FALSE(fs::exists(s.path / "out/big.cab"));
}

namespace {

// Two sets: version 1 of three files, and version 2 of them.
struct DeltaProject {
    Scratch s{"entry-kinds"};
    Bytes text1 = Prose(400000, 10), text2, noise1 = RandomBytes(60000, 11), noise2 = RandomBytes(60000, 12), same = Prose(9000, 13);

    explicit DeltaProject(const std::string& secondSetKeys, const std::string& setupKeys = "") {
        text2 = text1;
        text2.insert(text2.begin() + 1000, {'a', 'd', 'd', 'e', 'd'});
        text2.erase(text2.begin() + 200000, text2.begin() + 200100);
        text2[300000] = '#';
        WriteBytes(s.path / "v1/text.txt", text1);
        WriteBytes(s.path / "v2/text.txt", text2);
        WriteBytes(s.path / "v1/noise.bin", noise1);
        WriteBytes(s.path / "v2/noise.bin", noise2);
        WriteBytes(s.path / "v1/same.txt", same);
        WriteBytes(s.path / "v2/same.txt", same);
        WriteText(s.path / "kelvo.toml", "[setup]\nwizard-picture = \"\"\n" + setupKeys +
                                         "[[set]]\nname = \"one\"\n[[set.file]]\nsource = \"v1/*\"\n"
                                         "[[set]]\nname = \"two\"\n" + secondSetKeys);
    }
};

}  // namespace

TEST_CASE("auto deltas are taken where they are smaller, named ones always, and decode through the loader") {
    DeltaProject p("[[set.file]]\nsource = \"v2/*\"\ndelta = \"auto\"\n"
                   "[[set.file]]\nsource = \"v2/noise.bin\"\nname = \"copy.bin\"\n"
                   "delta-base = { set = 0, file = \"noise.bin\" }\n");
    std::string setup = (p.s.path / "setup.exe").string(), plain = (p.s.path / "plain.exe").string();
    Build(p.s.path, setup);
    {
        LoadedSetup loaded(setup);
        REQUIRE(loaded.IsLoaded());
        std::vector<const FileEntry*> two = FileEntriesOf(1);
        REQUIRE(two.size() == 4);  // noise.bin, same.txt, text.txt, copy.bin
        CHECK_FALSE(IsDeltaEntry(*two[0]));  // unrelated contents: the delta is no smaller
        CHECK_FALSE(IsDeltaEntry(*two[1]));  // identical contents are shared, not deltas
        REQUIRE(IsDeltaEntry(*two[2]));
        CHECK(+two[2]->baseSet == 0);
        CHECK(+two[2]->baseIndex == 2);
        CHECK(+two[2]->storedSize < 200);
        CHECK(+two[2]->size == p.text2.size());
        CHECK(+two[2]->checkValue == RotateAddCheck(p.text2.data(), static_cast<u32>(p.text2.size()), 0));
        REQUIRE(IsDeltaEntry(*two[3]));  // named: taken although it is no smaller
        CHECK(+two[3]->baseIndex == 0);
    }
    Outcome listed = List(setup);
    std::string deltaLine = LineWith(listed.out, "delta of set 0 file 2");
    CHECK(Contains(deltaLine, "----D-  <set>\\text.txt"));
    Outcome verified = Verify(setup);
    CHECK_MESSAGE(verified.status == CommandSucceeded, verified.err);
    CHECK(Contains(verified.out, "2 delta entries"));
    REQUIRE(Extract(setup, p.s.path / "out", 1).status == CommandSucceeded);
    CHECK(ReadBytes(p.s.path / "out/text.txt") == p.text2);
    CHECK(ReadBytes(p.s.path / "out/copy.bin") == p.noise2);

    // Without deltas the same project is larger by about the text's size.
    WriteText(p.s.path / "kelvo.toml", "[setup]\nwizard-picture = \"\"\n[[set]]\n[[set.file]]\nsource = \"v1/*\"\n"
                                       "[[set]]\n[[set.file]]\nsource = \"v2/*\"\n");
    Build(p.s.path, plain);
    CHECK(fs::file_size(plain) > fs::file_size(setup) + 50000);
}

TEST_CASE("split over disks, a delta reads its base from the volume the setup is in") {
    // DEFLATE streams of their own, and LZMA blocks: the base is read twice,
    // so it has a block of its own that the delta's run goes back to.
    const std::pair<const char*, const char*> packings[] = {{"compression = \"deflate\"\n", "0"},
                                                            {"compression = \"lzma\"\n", "1"}};
    for (const auto& [packing, level] : packings) {
        CAPTURE(packing);
        DeltaProject p("[[set.file]]\nsource = \"v2/text.txt\"\ndelta-base = { set = 0, file = \"text.txt\" }\n"
                       "[[set.file]]\nsource = \"v2/noise.bin\"\n",
                       packing);
        std::string setup = (p.s.path / "setup.exe").string();
        Build(p.s.path, setup, {"--disk-size", "40K", "--level", level});
        CHECK(fs::exists(p.s.path / "setup.D04"));
        Outcome verified = Verify(setup);
        CHECK_MESSAGE(verified.status == CommandSucceeded, verified.err);
        REQUIRE(Extract(setup, p.s.path / "out", 1).status == CommandSucceeded);
        CHECK(ReadBytes(p.s.path / "out/text.txt") == p.text2);
        CHECK(ReadBytes(p.s.path / "out/noise.bin") == p.noise2);
    }

    DeltaProject p("");
    std::string setup = (p.s.path / "setup.exe").string();
    // A base that comes after its delta cannot be reached across disks.
    WriteText(p.s.path / "kelvo.toml", "[setup]\nwizard-picture = \"\"\n"
                                       "[[set]]\n[[set.file]]\nsource = \"v2/text.txt\"\n"
                                       "delta-base = { set = 1, file = \"text.txt\" }\n"
                                       "[[set]]\n[[set.file]]\nsource = \"v1/text.txt\"\n");
    Project later = LoadProject((p.s.path / "kelvo.toml").string());
    CHECK_THROWS_WITH(BuildSetup(later, BuildOptions{setup, FakeStub(p.s.path), 40960, 1, 6}),
                      doctest::Contains("set 0 file 0 is a delta against set 1 file 0, which comes later"));
}

TEST_CASE("faults of the new keys name the file, the line and the key") {
    Scratch s("entry-kinds");
    WriteText(s.path / "a.txt", "a");
    WriteText(s.path / "b.txt", "b");
    WriteText(s.path / "uninst.bin", "program");
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"[[set]]\n[[set.file]]\nsource = \"a.txt\"\nversion-rule = true\n",
         ":4: set[0].file[0].version-rule: " /* path */},
        {"[[set]]\n[[set.file]]\nsource = \"a.txt\"\nlanguage-rule = true\n", "has no version resource (VERSIONINFO)"},
        {"[[set]]\n[[set.file]]\nsource = \"a.txt\"\ncopy-from-setup-folder = true\nkeep-times = true\n",
         ":5: set[0].file[0].keep-times: does not go with copy-from-setup-folder"},
        {"[[set]]\n[[set.file]]\nname = \"x\"\nstays-in-setup-folder = true\nuninstall = \"keep\"\n",
         ":5: set[0].file[0].uninstall: does not go with stays-in-setup-folder"},
        {"[[set]]\n[[set.file]]\ncopy-from-setup-folder = true\n", ":3: set[0].file[0].copy-from-setup-folder: needs a name"},
        {"[[set]]\n[[set.file]]\nsource = \"a.txt\"\ndelta-base = { set = 3, file = \"a.txt\" }\n",
         ":2: set[0].file[0].delta-base: set 3 does not exist"},
        {"[[set]]\n[[set.file]]\nsource = \"a.txt\"\n[[set]]\n[[set.file]]\nsource = \"b.txt\"\n"
         "delta-base = { set = 0, file = \"c.txt\" }\n",
         ":5: set[1].file[0].delta-base: set 0 has no file \"c.txt\""},
        {"[[set]]\n[[set.folder]]\nname = \"d\"\n[[set.file]]\nsource = \"b.txt\"\ndelta-base = { set = 0, file = \"d\" }\n",
         "\"d\" of set 0 is no packed file of its own"},
        {"[[set]]\n[[set.file]]\nsource = \"a.txt\"\ndelta-base = { set = 0, file = \"a.txt\" }\n", "cannot be its own base"},
        {"[[set]]\n[[set.file]]\nsource = \"*.txt\"\ndelta-base = { set = 0, file = \"a.txt\" }\n",
         ":4: set[0].file[0].delta-base: needs a single source"},
        {"[[set]]\n[[set.file]]\nsource = \"a.txt\"\ndelta = \"always\"\n", ":4: set[0].file[0].delta: must be \"none\" or \"auto\""},
        {"[setup]\nuninstaller-program = \"uninst.bin\"\n[[set]]\n", ":2: setup.uninstaller-program: no set has an uninstaller"},
        {"[[set]]\nuninstaller = \"..\\\\u.exe\"\n", ":2: set[0].uninstaller:"},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.text));
        WriteText(s.path / "kelvo.toml", c.text);
        CHECK_THROWS_WITH_AS(LoadProject((s.path / "kelvo.toml").string()), doctest::Contains(c.message), ProjectError);
    }
}
