// A project goes through kelvo build and comes back through list, verify and
// extract byte for byte: two sets, subfolders, an empty file, a 100 MB file
// and every record kind, in one setup file with DEFLATE streams and split
// over volumes with LZMA blocks.
#include <doctest/doctest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "builder/command_line.h"
#include "builder/setup_commands.h"
#include "tests/support/kelvo_commands.h"
#include "tests/support/native_files.h"

namespace fs = std::filesystem;

namespace {

const std::string Demo = std::string(KELVO_SOURCE_DIR) + "/examples/demo";
const std::string Stub = std::string(KELVO_SOURCE_DIR) + "/build/bin/kelvo-setup.exe";
const size_t LargeSize = 100u << 20;

std::string Pseudorandom(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string data(size, '\0');
    for (char& c : data) c = static_cast<char>(rng() % 7 == 0 ? rng() : 'a' + rng() % 4);
    return data;
}

const char* const Project = R"(
[setup]
title = "Round trip"
PACKING
wizard-picture = "DEMO/wizard.bmp"
remove-earlier-installations = true

[setup.background]
picture = "DEMO/background.bmp"
title = "Round trip"

[[set]]
name = "Full"
destination = "#Program Files#\\Round Trip"
destination-registry = { root = "HKLM", key = "Software\\Round Trip", value = "Path" }
destination-ini = { file = "rt.ini", section = "Round Trip", key = "Path" }

[set.texts]
messages = ["Round trip setup"]

[[set.file]]
source = "tree/**"
folder = "App"

[[set.file]]
source = "large.bin"

[[set.folder]]
name = "Data"

[[set.registry]]
root = "HKCU"
key = "Software\\Round Trip"
name = "Version"
data = "2"

[[set.ini]]
file = "App\\a.txt"
section = "s"
key = "k"
value = "v"

[[set.patch]]
file = "App\\a.txt"
pattern = "old"
replacement = "new"

[[set]]
name = "Small"

[[set.file]]
source = "tree/a.txt"
name = "Only\\a.txt"
)";

// The project and its sources, with where each file lands when extracted.
struct Fixture {
    Scratch scratch{"roundtrip"};
    const fs::path& root = scratch.path;
    std::map<std::string, fs::path> fullSet, smallSet;  // extracted name -> source

    Fixture() {
        WriteText(root / "tree/a.txt", "an old text\n");
        WriteText(root / "tree/empty.txt", "");
        WriteText(root / "tree/sub/b.bin", Pseudorandom(70000, 1));
        WriteText(root / "tree/sub/deeper/c.txt", std::string(5000, 'c'));
        WriteText(root / "large.bin", Pseudorandom(LargeSize, 2));
        std::string project = Project;
        for (size_t at; (at = project.find("DEMO")) != std::string::npos;) project.replace(at, 4, Demo);
        WriteText(root / "kelvo.toml.in", project);
        for (const char* name : {"a.txt", "empty.txt", "sub/b.bin", "sub/deeper/c.txt"})
            fullSet[std::string("App/") + name] = root / "tree" / name;
        fullSet["large.bin"] = root / "large.bin";
        smallSet["Only/a.txt"] = root / "tree/a.txt";
    }
};

int Build(Fixture& f, const std::string& output, const std::string& diskSize, const std::string& packing) {
    std::string project = ReadText(f.root / "kelvo.toml.in");
    project.replace(project.find("PACKING"), 7, packing);
    WriteText(f.root / "kelvo.toml", project);
    std::vector<std::string> args = {(f.root / "kelvo.toml").string(), "-o", output, "--stub", Stub, "--level", "1"};
    if (!diskSize.empty()) args.insert(args.end(), {"--disk-size", diskSize});
    return RunBuild(args);
}

// Every regular file under `folder`, by its path relative to it.
std::map<std::string, std::string> FilesUnder(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(folder))
        if (item.is_regular_file()) files[fs::relative(item.path(), folder).string()] = ReadText(item.path());
    return files;
}

void CheckExtracted(const std::string& setup, uint32_t set, const std::map<std::string, fs::path>& expected,
                    const fs::path& into) {
    std::ostringstream out, err;
    REQUIRE_MESSAGE(ExtractSetup({setup, into.string(), set}, out, err) == CommandSucceeded, err.str());
    std::map<std::string, std::string> files = FilesUnder(into);
    CHECK(files.size() == expected.size());
    for (const auto& [name, source] : expected) {
        CAPTURE(name);
        REQUIRE(files.count(name) == 1);
        CHECK(files[name] == ReadText(source));
    }
}

}  // namespace

TEST_CASE("a setup built from a project lists, verifies and extracts to its sources") {
    Fixture f;
    struct Case {
        std::string layout;
        std::string diskSize;
        bool volumes;
        std::string packing;
    };
    const Case cases[] = {{"one file, DEFLATE", "", false, "compression = \"deflate\""},
                          {"volumes of 20 MB, LZMA", "20M", true, "compression = \"lzma\""}};
    for (const Case& c : cases) {
        CAPTURE(c.layout);
        std::string setup = (f.root / "setup.exe").string();
        REQUIRE(Build(f, setup, c.diskSize, c.packing) == 0);
        CHECK(fs::exists(f.root / "setup.D01") == c.volumes);
        CHECK(fs::exists(f.root / "setup.D02") == c.volumes);

        std::ostringstream out, err;
        CHECK(ListSetup(setup, out, err) == CommandSucceeded);
        for (const char* shown : {"App\\sub\\deeper\\c.txt", "large.bin", "Data", "Only\\a.txt", "Small"})
            CHECK_MESSAGE(out.str().find(shown) != std::string::npos, shown);
        CHECK_MESSAGE(VerifySetup(setup, out, err) == CommandSucceeded, err.str());

        fs::remove_all(f.root / "out");
        CheckExtracted(setup, 0, f.fullSet, f.root / "out/full");
        CHECK(fs::is_directory(f.root / "out/full/Data"));
        CheckExtracted(setup, 1, f.smallSet, f.root / "out/small");
    }
}
