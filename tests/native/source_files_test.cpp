// Where a project's files come from (builder/source_files.h): a project
// read and built from files in memory gives the setup the same files on the
// disk give, and the memory view takes paths as the disk does.
#include <doctest/doctest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "builder/archive_builder.h"
#include "builder/project.h"
#include "builder/source_files.h"
#include "tests/support/native_files.h"
#include "tests/support/test_data.h"

namespace fs = std::filesystem;

TEST_CASE("a project read and built from memory gives the setup the same files on the disk give") {
    Scratch s("source-files");
    const std::string project = R"(
[setup]
wizard-picture = "side.bmp"
uninstaller-program = "tools/uninstaller.bin"
[[set]]
name = "Disk or memory"
destination = "C:\\Either"
uninstaller = "remove.exe"
[[set.file]]
source = "app.txt"
keep-times = true
[[set.file]]
source = "docs/**"
folder = "docs"
[[set.file]]
source = "big.cab"
copy-from-setup-folder = true
[[set]]
name = "Second"
destination = "C:\\Second"
[[set.file]]
source = "app2.txt"
name = "app.txt"
delta-base = { set = 0, file = "app.txt" }
)";
    Bytes app = MadeUpProse(4000, 1, 300), app2 = app;
    app2[100] = 'X';
    std::vector<std::pair<std::string, Bytes>> files = {
        {"kelvo.toml", Bytes(project.begin(), project.end())},
        {"app.txt", app},
        {"app2.txt", app2},
        {"docs/a.txt", MadeUpProse(900, 2, 50)},
        {"docs/deeper/b.txt", MadeUpProse(700, 3, 50)},
        {"docs/.hidden/c.txt", Bytes(10, 'c')},
        {"big.cab", RandomBytes(3000, 4)},
        {"tools/uninstaller.bin", RandomBytes(500, 5)},
        {"side.bmp", Bytes{'B', 'M', 1, 2, 3}},
    };
    MemorySourceFiles memory;
    for (const auto& [name, bytes] : files) {
        WriteBytes(s.path / name, bytes);
        memory.Add(s / name, bytes);
    }
    uint64_t ticks = 0;
    REQUIRE(Disk().LastWriteTime(s / "app.txt", &ticks));
    memory.SetLastWriteTime(s / "app.txt", ticks);

    std::string stub = FakeStub(s.path);
    auto build = [&](const SourceFiles& from, const std::string& output) {
        Project read = LoadProject(s / "kelvo.toml", from);
        BuildOptions options;
        options.output = output;
        options.stub = stub;
        BuildSummary summary = BuildSetup(read, options);
        CHECK(summary.files == 4);  // app, two docs, app2: big.cab and the uninstaller pack nothing of theirs
        CHECK(summary.deltas == 1);
        return ReadBytes(output);
    };
    Bytes fromDisk = build(Disk(), s / "disk.exe");
    Bytes fromMemory = build(memory, s / "memory.exe");
    CHECK(fromDisk == fromMemory);

    // A file missing from memory is named as on the disk.
    MemorySourceFiles without;
    without.Add(s / "kelvo.toml", files[0].second);
    for (const SourceFiles* from : {&Disk(), static_cast<const SourceFiles*>(&without)}) {
        fs::path place = from == &without ? s.path : s.path / "elsewhere";
        if (from == &Disk()) WriteBytes(place / "kelvo.toml", files[0].second);
        CHECK_THROWS_WITH_AS(LoadProject((place / "kelvo.toml").string(), *from),
                             doctest::Contains(("cannot read " + (place / "side.bmp").string()).c_str()), ProjectError);
    }
}

TEST_CASE("files in memory are found by any spelling of their path, and folders by the files below them") {
    MemorySourceFiles memory;
    memory.Add("p/a.txt", Bytes{'a'});
    memory.Add("p/sub/deep/b.txt", Bytes{'b'});
    memory.Add("/abs/c.txt", Bytes{'c'});
    struct Case {
        std::string path;
        SourceKind kind;
    };
    for (const Case& c : std::vector<Case>{{"p/a.txt", SourceKind::File},
                                           {"./p//a.txt", SourceKind::File},
                                           {"p/sub/../a.txt", SourceKind::File},
                                           {"p", SourceKind::Folder},
                                           {"p/sub/", SourceKind::Folder},
                                           {"", SourceKind::Folder},
                                           {".", SourceKind::Folder},
                                           {"/abs", SourceKind::Folder},
                                           {"/abs/c.txt", SourceKind::File},
                                           {"abs/c.txt", SourceKind::Missing},
                                           {"p/a", SourceKind::Missing},
                                           {"p/a.txt/x", SourceKind::Missing}}) {
        INFO(c.path);
        CHECK(memory.KindOf(c.path) == c.kind);
    }
    CHECK(memory.Read("./p/sub/deep/../deep/b.txt") == Bytes{'b'});
    CHECK_THROWS_AS(memory.Read("p/sub"), FileReadError);

    auto sorted = [](std::vector<std::string> list) {
        std::sort(list.begin(), list.end());
        return list;
    };
    CHECK(sorted(memory.ListFiles("p", 0)) == std::vector<std::string>{"a.txt"});
    CHECK(sorted(memory.ListFiles("./p", 2)) == std::vector<std::string>{"a.txt", "sub/deep/b.txt"});
    CHECK(sorted(memory.ListFiles(".", SIZE_MAX)) == std::vector<std::string>{"p/a.txt", "p/sub/deep/b.txt"});
    CHECK(sorted(memory.ListFiles("/", SIZE_MAX)) == std::vector<std::string>{"abs/c.txt"});

    FileIdentity a, again, b;
    int error = 0;
    REQUIRE(memory.Identify("p/a.txt", &a, &error));
    REQUIRE(memory.Identify("./p/a.txt", &again, &error));
    REQUIRE(memory.Identify("p/sub/deep/b.txt", &b, &error));
    CHECK((a.file == again.file && a.file != b.file && a.size == 1));
    CHECK_FALSE(memory.Identify("p/none", &a, &error));
    CHECK(error == ENOENT);
}
