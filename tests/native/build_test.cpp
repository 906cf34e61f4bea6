// `kelvo build` end to end: projects are built into setups, which are read
// back through the setup program's own loader and file-data reader, set by
// set and entry by entry, the way an installation reads them.
#include <doctest/doctest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "archive/archive_offset.h"
#include "archive/check_value.h"
#include "archive/file_data.h"
#include "archive/solid_data.h"
#include "archive/loader.h"
#include "archive/texts.h"
#include "builder/archive_builder.h"
#include "builder/code_pages.h"
#include "builder/command_line.h"
#include "builder/default_resources.h"
#include "builder/execution_level.h"
#include "builder/project.h"
#include "builder/setup_commands.h"
#include "builder/source_glob.h"
#include "builder/winget_manifest.h"
#include "builder/volume_layout.h"
#include "common/paths.h"
#include "tests/support/kelvo_commands.h"
#include "tests/support/native_files.h"
#include "tests/support/test_data.h"

namespace fs = std::filesystem;

namespace {

const std::string DemoFolder = std::string(KELVO_SOURCE_DIR) + "/examples/demo";
const std::string RealStub = std::string(KELVO_SOURCE_DIR) + "/build/bin/kelvo-setup.exe";

// Subfolder `name` of this test process's own folder, made anew.
std::string ScratchFolder(const std::string& name) {
    static Scratch root("build-test");
    return root.Folder(name);
}

uint32_t ArchiveOffsetOf(const Bytes& setup) {
    auto at = std::search(setup.begin(), setup.end(), ArchiveOffsetMarker, ArchiveOffsetMarker + 6);
    REQUIRE(at != setup.end());
    return ReadU32(&*at + 6);
}

// The script of a built setup, loaded as the setup program loads it.
struct LoadedSetup {
    LoadFault fault;
    explicit LoadedSetup(const std::string& path) {
        REQUIRE(AllocatePathBuffers());
        CopyPath(SourcePath, path.c_str(), PathCapacity);
        fault = ReadSetupArchive(ArchiveOffsetOf(ReadBytes(path)), nullptr);
    }
    ~LoadedSetup() {
        CloseFileData();
        ReleaseSetupScript();
        ReleasePathBuffers();
    }
    LoadedSetup(const LoadedSetup&) = delete;
};

std::string Text(const LoadedBody& body) { return std::string(reinterpret_cast<const char*>(body.data)); }
Bytes BodyBytes(const LoadedBody& body) { return Bytes(body.data, body.data + body.size); }

struct Unpacked {
    std::vector<std::string> names;  // every entry, folders included, in list order
    std::map<std::string, Bytes> contents;
    std::vector<uint32_t> offsets;
    std::vector<uint32_t> storedSizes;
};

// Reads set `set`'s files as an installation does: in list order, from the
// setup file on through its volumes, each checked against its check value.
Unpacked UnpackSet(uint32_t set) {
    Unpacked result;
    SelectInstallSet(set);
    REQUIRE(OpenFileData(false) == FileDataReady);
    for (uint32_t i = 0; i < currentFileCount; i++) {
        const FileEntry* entry = FileEntryAt(set, i);
        std::string name = EntryString(entry, EntryFileName);
        result.names.push_back(name);
        // FileEntry is packed: its fields are copied out before use.
        uint32_t offset = entry->dataOffset, storedSize = entry->storedSize, size = entry->size;
        uint32_t checkValue = entry->checkValue;
        result.offsets.push_back(offset);
        result.storedSizes.push_back(storedSize);
        // Deltas need their base; kelvo verify and the delta tests decode them.
        if (entry->entryKind == FolderEntry || (entry->entryFlags & DeltaEntry)) continue;
        INFO("set " << set << " entry " << name);
        REQUIRE(SeekFileData(offset) == FileDataReady);
        Bytes data(size + 1);  // never empty, so the sink always has a buffer
        u32 produced = 0;
        if (FileDataIsSolid()) {
            // Solid data is the file's own bytes in the unpacked stream.
            REQUIRE(storedSize == size);
            MemorySink sink(data.data(), size);
            REQUIRE(CopySolidData(storedSize, sink));
            produced = size - sink.Room();
        } else {
            InflateSource source = FileDataInflateSource(storedSize);
            REQUIRE(InflateToMemory(data.data(), size, source, &produced));
        }
        REQUIRE(produced == size);
        data.resize(size);
        CHECK(RotateAddCheck(data.data(), size, 0) == checkValue);
        result.contents[name] = data;
    }
    CloseFileData();
    return result;
}

// Builds the demo once for the tests that look at it.
const std::string& DemoSetup() {
    static std::string path = [] {
        std::string folder = ScratchFolder("demo");
        std::string output = folder + "/demo-setup.exe";
        std::string uninstaller = folder + "/uninstall-program.exe";
        WriteBytes(uninstaller, Bytes(300, 'U'));
        REQUIRE(RunBuild({DemoFolder + "/kelvo.toml", "-o", output, "--stub", FakeStub(folder), "--uninstaller",
                          uninstaller}) == 0);
        return output;
    }();
    return path;
}

uint16_t SetFlagsOf(uint32_t set) { return ReadU16(setupScript.sets[set].record.data + SetFlagsField); }

// Builds a set of one file (app.txt, written here) in `folder` under the
// given [setup] lines and returns the setup's path.
std::string BuildOneFileSetup(const std::string& folder, const std::string& setupLines) {
    WriteBytes(fs::path(folder) / "app.txt", Bytes(10, 'a'));
    WriteText(fs::path(folder) / "kelvo.toml", setupLines + "[[set]]\nname = \"App\"\n[[set.file]]\nsource = \"app.txt\"\n");
    std::string setup = folder + "/setup.exe";
    Silenced quiet(STDOUT_FILENO);
    REQUIRE(RunBuild({folder + "/kelvo.toml", "-o", setup, "--stub", FakeStub(folder)}) == 0);
    return setup;
}

}  // namespace

TEST_CASE("the demo's setup-wide records read back as the project gives them") {
    LoadedSetup setup(DemoSetup());
    REQUIRE(setup.fault == LoadOk);
    CHECK(setupScript.setupFlags == (FullScreenBackground | RemoveEarlierInstallations));
    CHECK(BodyBytes(setupScript.wizardPicture) == ReadBytes(DemoFolder + "/wizard.bmp"));
    CHECK(BodyBytes(setupScript.backgroundPicture) == ReadBytes(DemoFolder + "/background.bmp"));
    CHECK(Text(setupScript.backgroundTitle) == "Kelvo Demo Setup");
    CHECK(BodyBytes(setupScript.backgroundStyle) ==
          EncodeBackgroundStyle(0x000000, 0xFFFFFF, MakeLogFont("Times New Roman", 36, 700, true, 0)));  // ANSI_CHARSET: code page 1252
    CHECK_FALSE(singlePageMode);

    // The demo gives no templates: the built-in ones are there.
    const LoadedBody& templates = setupScript.dialogTemplates;
    CHECK(BodyBytes(templates) == EncodeDialogTemplates(DefaultDialogTemplates()));
}

TEST_CASE("the demo's install sets read back with their fields, texts and entries") {
    LoadedSetup setup(DemoSetup());
    REQUIRE(setup.fault == LoadOk);
    REQUIRE(setupScript.setCount == 2);

    CHECK(std::string(InstallSetText(0, DisplayNameField)) == "Kelvo Demo");
    CHECK(std::string(InstallSetText(0, CaptionField)) == "&Full: the documents, a data folder and a settings file");
    CHECK(std::string(InstallSetText(0, DefaultDestinationField)) == "#Program Files#\\Kelvo Demo");
    CHECK(InstallSetNumber(0, RegistryRootField) == 2);
    CHECK(std::string(InstallSetText(0, RegistryKeyField)) == "Software\\Kelvo\\Demo");
    CHECK(std::string(InstallSetText(0, RegistryValueField)) == "InstallPath");
    CHECK(std::string(InstallSetText(0, IniFileField)) == "kelvo.ini");
    CHECK(std::string(InstallSetText(0, IniKeyField)) == "Path");
    CHECK(SetFlagsOf(0) == (DestinationChangeable | StoreDestinationInRegistry | StoreDestinationInIni));
    CHECK(SetFlagsOf(1) == DestinationChangeable);

    // Built-in texts, replaced string by string by [setup.texts] and then
    // by a set's own.
    SelectInstallSet(1);
    CHECK(std::string(LookupText(WelcomeTexts, 0)) == "Welcome to the Kelvo Demo");
    CHECK(std::string(LookupText(WelcomeTexts, 3)) == "Click Next to continue, or Cancel to quit setup.");
    CHECK(std::string(LookupText(InformationTexts, 0)) == "About the minimal set");
    CHECK(std::string(LookupText(FinishTexts, 5)) == "&View the read-me");
    CHECK(std::string(LookupText(FinishTexts, 6)) == "&Start Kelvo Demo (minimal) now");
    CHECK(std::string(LookupText(MessageTexts, 0)) == "Kelvo Demo Setup");
    CHECK(std::string(LookupText(MessageTexts, 1)) == "Choose Folder");
    SelectInstallSet(0);
    CHECK(std::string(LookupText(InformationTexts, 0)) == "About the demo");
    CHECK(std::string(LookupText(SetSelectionTexts, 0)) == "Choose Setup Type");
    CHECK(std::string(LookupText(FinishTexts, 6)) == "&Start Kelvo Demo now");

    const FileEntry* readme = FileEntryAt(0, 0);
    CHECK(readme->afterSetupRole == OpenedDocument);
    CHECK(readme->entryKind == RemovedFile);
    CHECK(std::string(EntryString(readme, EntryMenuFolders)) == "Kelvo Demo");
    CHECK(std::string(EntryString(readme, EntryShortcutName)) == "Read me");
    CHECK(std::string(EntryString(readme, EntryDesktopName)) == "Kelvo Demo read-me");
    CHECK(FileEntryAt(0, 2)->entryKind == RemovedFile);
    const FileEntry* common = FileEntryAt(0, 3);
    CHECK(+common->destinationFolder == WindowsFolder);
    CHECK(+common->sharedCount == 1);
    CHECK(FileEntryAt(0, 7)->entryKind == FolderEntry);
    CHECK((FileEntryAt(0, 8)->entryFlags & UninstallerEntry) != 0);

    // The licence keeps its times: creation and last write are the source's mtime.
    const FileEntry* licence = FileEntryAt(0, 1);
    REQUIRE((licence->entryFlags & HasFileTimes) != 0);
    FileTimes times;
    std::memcpy(&times, reinterpret_cast<const u8*>(licence) + sizeof(FileEntry), sizeof times);
    struct stat info;
    REQUIRE(stat((DemoFolder + "/files/license.txt").c_str(), &info) == 0);
    uint64_t ticks = (static_cast<uint64_t>(info.st_mtim.tv_sec) + 11644473600ull) * 10000000 + info.st_mtim.tv_nsec / 100;
    CHECK(times.lastWrite[0] == static_cast<uint32_t>(ticks));
    CHECK(times.lastWrite[1] == static_cast<uint32_t>(ticks >> 32));
    CHECK(std::memcmp(times.creation, times.lastWrite, sizeof times.creation) == 0);

    CHECK(BodyBytes(setupScript.sets[0].registryEntries) ==
          EncodeRegistryEntries({{1, 0, "Software\\Kelvo\\Demo", "Version", "1.0"},
                                 {1, 1, "Software\\Kelvo\\Demo", "Theme", "Ocean"}}));
    CHECK(BodyBytes(setupScript.sets[0].iniEntries) ==
          EncodeIniEntries({{0, "#InstallDir#\\settings.ini", "Demo", "InstalledBy", "Kelvo Demo Setup"},
                            {1, "#InstallDir#\\settings.ini", "Demo", "Theme", "Ocean"}}));
    CHECK(BodyBytes(setupScript.sets[0].filePatches) ==
          EncodeFilePatches({{0xFFFFFFFF, "settings.ini", "Ocean", Bytes{'@', 'T', 'H', 'E', 'M', 'E', '@'}}}));
    CHECK(setupScript.sets[1].iniEntries.data == nullptr);
    CHECK(setupScript.sets[1].filePatches.data == nullptr);
}

TEST_CASE("every demo file unpacks to its source's bytes, shared files once") {
    LoadedSetup setup(DemoSetup());
    REQUIRE(setup.fault == LoadOk);
    Unpacked full = UnpackSet(0), minimal = UnpackSet(1);
    CHECK(full.names == std::vector<std::string>{"readme.txt", "licence.txt", "settings.ini",
                                                 "kelvo-demo-common.txt", "Docs\\faq.txt", "Docs\\first-run.log",
                                                 "Docs\\guide.txt", "Data\\", "uninstall.exe"});
    CHECK(minimal.names ==
          std::vector<std::string>{"readme.txt", "licence.txt", "Tools\\notes.txt", "kelvo-demo-common.txt", "guide.txt",
                                   "uninstall.exe"});
    std::map<std::string, std::string> sources = {
        {"readme.txt", "readme.txt"},        {"licence.txt", "license.txt"},
        {"settings.ini", "settings.ini"},    {"Docs\\faq.txt", "docs/faq.txt"},
        {"Docs\\first-run.log", "docs/first-run.log"}, {"Docs\\guide.txt", "docs/guide.txt"},
        {"Tools\\notes.txt", "tools/notes.txt"}, {"kelvo-demo-common.txt", "kelvo-demo-common.txt"}};
    for (const Unpacked* set : {&full, &minimal})
        for (const auto& [name, data] : set->contents)
            if (name != "uninstall.exe") CHECK_MESSAGE(data == ReadBytes(DemoFolder + "/files/" + sources.at(name)), name);
    CHECK(full.contents.at("Docs\\first-run.log").empty());
    // The minimal set's guide is a delta against the full set's.
    const FileEntry* guide = FileEntryAt(1, 4);
    CHECK((guide->entryFlags & DeltaEntry) != 0);
    CHECK(+guide->baseSet == 0);
    CHECK(+guide->baseIndex == 6);
    CHECK(+guide->storedSize < 80);  // the changed line and a few commands; the whole guide packs to some 200
    CHECK(minimal.offsets[0] == full.offsets[0]);
    CHECK(minimal.offsets[1] == full.offsets[1]);
}

TEST_CASE("the demo verifies, its delta entry included") {
    std::ostringstream out, err;
    CHECK_MESSAGE(VerifySetup(DemoSetup(), out, err) == 0, err.str());
    CHECK(out.str().find("1 delta entry") != std::string::npos);
}

TEST_CASE("the setup program's archive offset is patched to its own length") {
    if (!fs::exists(RealStub)) {
        MESSAGE("no " << RealStub << " (build the Windows tree) - checked with the stand-in only");
    }
    std::string folder = ScratchFolder("stub");
    for (const std::string& stub : {FakeStub(folder), RealStub}) {
        if (!fs::exists(stub)) continue;
        Bytes original = ReadBytes(stub);
        Bytes patched = PrepareStub(original);
        CHECK(patched.size() == original.size());
        CHECK(ArchiveOffsetOf(patched) == original.size());
        size_t differing = 0;
        for (size_t i = 0; i < original.size(); i++) differing += original[i] != patched[i];
        CHECK(differing <= 4);
    }
    Bytes twice = ReadBytes(FakeStub(folder));
    std::copy(ArchiveOffsetMarker, ArchiveOffsetMarker + 6, twice.begin() + 300);
    CHECK_THROWS_WITH(PrepareStub(twice), doctest::Contains("2 times"));
    CHECK_THROWS_WITH(PrepareStub(Bytes(100, 'S')), doctest::Contains("no archive offset marker"));
    CHECK_THROWS_WITH(PrepareStub(PrepareStub(ReadBytes(FakeStub(folder)))), doctest::Contains("already set"));
}

TEST_CASE("the FileData head is what FileDataRecordBytes puts before a volume's bytes") {
    for (uint32_t length : {0u, 5u}) {
        Bytes head = FileDataHead(length);
        Bytes whole = FileDataRecordBytes(Bytes(length, 'x'));
        CHECK(Bytes(whole.begin(), whole.begin() + static_cast<long>(head.size())) == head);
        CHECK(whole.size() == head.size() + length);
    }
}

TEST_CASE("volume names agree with the setup program's") {
    struct Case {
        std::string output;
        uint32_t volume;
        std::string expected;
    };
    for (const Case& c : std::vector<Case>{{"out/setup.exe", 1, "out/setup.D01"},
                                           {"out/setup.exe", 100, "out/setup.D100"},
                                           {"a.b/setup", 7, "a.b/setup.D07"},
                                           {"disk.1.exe", 12, "disk.1.D12"}}) {
        CHECK(VolumePath(c.output, c.volume) == c.expected);
        char path[PathCapacity];
        std::strcpy(path, c.output.c_str());
        REQUIRE(SetVolumeExtension(path, c.volume));
        CHECK(std::string(path) == c.expected);
    }
}

TEST_CASE("a copy is shared only from the volume the reader is in or a later one") {
    // Volume 0 holds 10 bytes, later volumes 10 each. Content sizes below.
    VolumeCapacity capacity{10, 10};
    std::vector<uint64_t> sizes = {4, 25, 3};
    struct Case {
        const char* what;
        std::vector<std::vector<uint32_t>> sets;
        std::vector<std::vector<uint64_t>> offsets;
        uint64_t length;
    };
    std::vector<Case> cases = {
        {"in the same volume, a repeat shares its copy", {{0, 2, 0}}, {{0, 4, 0}}, 7},
        {"after reading past a volume, an earlier copy is packed again", {{0, 1, 0}}, {{0, 4, 29}}, 33},
        {"another set starts in volume 0 and shares freely", {{0, 1}, {0, 1}}, {{0, 4}, {0, 4}}, 29},
        {"a later set reaching a later volume shares a copy placed there",
         {{0, 1, 0}, {1, 0}}, {{0, 4, 29}, {4, 29}}, 33},
        {"a folder entry has no data and moves nothing", {{NoContent, 0, NoContent, 0}}, {{0, 0, 0, 0}}, 4},
    };
    for (const Case& c : cases) {
        INFO(c.what);
        StreamLayout layout = LayOutStream(c.sets, sizes, capacity);
        CHECK(layout.entryOffsets == c.offsets);
        CHECK(layout.length == c.length);
        uint64_t total = 0;
        for (uint64_t v : layout.volumeLengths) total += v;
        CHECK(total == c.length);
    }
    StreamLayout single = LayOutStream({{0, 1, 0}}, sizes, VolumeCapacity{});
    CHECK(single.entryOffsets[0] == std::vector<uint64_t>{0, 4, 0});
    CHECK(single.volumeLengths == std::vector<uint64_t>{29});
}

namespace {

// A project of incompressible files for 32 KB disks: a small one repeated
// around a large one that spans several volumes, and a second set whose
// first file reaches past volume 0 (it cannot fit there behind the
// 600-byte stub, the records and the small file) before it repeats the
// small one. The records, with the built-in templates and two sets' texts
// but no side picture, take some 9 KB uncompressed.
struct SplitProject {
    std::string folder, project;
    Bytes small = RandomBytes(5600, 1), large = RandomBytes(72000, 2), medium = RandomBytes(24000, 3);

    explicit SplitProject(const std::string& packing = "") : folder(ScratchFolder("split")) {
        WriteBytes(folder + "/small.bin", small);
        WriteBytes(folder + "/large.bin", large);
        WriteBytes(folder + "/medium.bin", medium);
        project = folder + "/kelvo.toml";
        WriteText(project, "[setup]\n" + packing + R"(
wizard-picture = ""
[[set]]
name = "first"
[[set.file]]
source = "small.bin"
[[set.file]]
source = "medium.bin"
[[set.file]]
source = "large.bin"
[[set.file]]
source = "small.bin"
name = "small-again.bin"
[[set]]
name = "second"
[[set.file]]
source = "medium.bin"
[[set.file]]
source = "small.bin"
)");
    }
};

}  // namespace

// Each file a DEFLATE stream of its own (level 0: stored, so sizes are
// known), and LZMA blocks.
struct PackingCase {
    const char* keys;
    const char* level;
    bool solid;
};
const PackingCase Packings[] = {{"compression = \"deflate\"\n", "0", false}, {"compression = \"lzma\"\n", "1", true}};

TEST_CASE("with a disk size the file data runs through volumes the reader follows") {
    for (const PackingCase& packing : Packings) {
        CAPTURE(packing.keys);
        SplitProject p(packing.keys);
        const uint64_t diskSize = 32768;
        std::string output = p.folder + "/setup.exe";
        for (uint32_t v = 1; v <= 12; v++) WriteText(VolumePath(output, v), "left over by an earlier, larger build");
        REQUIRE(RunBuild({p.project, "-o", output, "--stub", FakeStub(p.folder), "--disk-size", "32K", "--level",
                          packing.level}) == 0);

        uint32_t volumes = 1;
        while (fs::exists(VolumePath(output, volumes))) volumes++;
        CHECK(volumes >= 4);
        CHECK(volumes < 12);
        CHECK_FALSE(fs::exists(VolumePath(output, 12)));
        for (uint32_t v = 0; v < volumes; v++) {
            std::string path = v == 0 ? output : VolumePath(output, v);
            CHECK_MESSAGE(fs::file_size(path) <= diskSize, path);
        }

        LoadedSetup setup(output);
        REQUIRE(setup.fault == LoadOk);
        CHECK(FileDataIsSolid() == packing.solid);
        Unpacked first = UnpackSet(0), second = UnpackSet(1);
        CHECK(first.contents.at("small.bin") == p.small);
        CHECK(first.contents.at("small-again.bin") == p.small);
        CHECK(first.contents.at("large.bin") == p.large);
        CHECK(second.contents.at("medium.bin") == p.medium);
        CHECK(second.contents.at("small.bin") == p.small);
        // Behind the large file the reader is volumes past the first small copy,
        // so the repeat is packed again; the second set shares what it can.
        CHECK(first.offsets[3] != first.offsets[0]);
        CHECK(second.offsets[0] == first.offsets[1]);
        CHECK(second.offsets[1] == first.offsets[3]);
        if (packing.solid) continue;

        // The large file crosses volume boundaries.
        VolumeCapacity capacity{setupScript.fileDataLength, diskSize - 4};
        CHECK(capacity.VolumeOf(first.offsets[2]) < capacity.VolumeOf(first.offsets[2] + first.storedSizes[2] - 1));
    }
}

TEST_CASE("at any disk size every file stays within it and every set reads back") {
    for (const PackingCase& packing : Packings) {
        SplitProject p(packing.keys);
        std::string stub = FakeStub(p.folder);
        for (uint64_t diskSize : {23200, 28000, 32768, 40000, 62216, 160000}) {
            INFO(packing.keys << "disk size " << diskSize);
            std::string output = p.folder + "/sweep.exe";
            REQUIRE(RunBuild({p.project, "-o", output, "--stub", stub, "--disk-size", std::to_string(diskSize)}) == 0);
            CHECK(fs::file_size(output) <= diskSize);
            for (uint32_t v = 1; fs::exists(VolumePath(output, v)); v++)
                CHECK(fs::file_size(VolumePath(output, v)) <= diskSize);
            LoadedSetup setup(output);
            REQUIRE(setup.fault == LoadOk);
            Unpacked first = UnpackSet(0), second = UnpackSet(1);
            CHECK(first.contents.at("large.bin") == p.large);
            CHECK(first.contents.at("small-again.bin") == p.small);
            CHECK(second.contents.at("small.bin") == p.small);
        }
    }
}

TEST_CASE("a disk too small for the setup program and its records is refused") {
    SplitProject p;
    Silenced quiet(STDERR_FILENO);
    CHECK(RunBuild({p.project, "-o", p.folder + "/setup.exe", "--stub", FakeStub(p.folder, 5000), "--disk-size", "4K"}) == 1);
    CHECK_FALSE(fs::exists(p.folder + "/setup.exe"));
    CHECK_FALSE(fs::exists(p.folder + "/setup.exe.partial"));
}

TEST_CASE("builds are byte-identical on one thread and on two") {
    std::string folder = ScratchFolder("identical");
    std::string stub = FakeStub(folder);
    std::string project = folder + "/kelvo.toml";
    // DEFLATE streams, LZMA blocks of a file each (packed on both threads)
    // and one solid block.
    const char* const packings[] = {"compression = \"deflate\"\n", "solid = false\n", ""};
    // Sizes out of step with their order, so two threads finish out of order.
    for (int i = 0; i < 12; i++) {
        size_t size = (i % 3 == 0) ? 300000 : 1000 + 700 * i;
        Bytes data = RandomBytes(size, 100 + i);
        for (size_t b = 0; b < size; b += 3) data[b] = 'k';  // partly compressible
        WriteBytes(folder + "/src/f" + std::to_string(i) + ".dat", data);
    }
    for (const char* packing : packings) {
        for (const char* disk : {"", "64K"}) {
            INFO(packing << "disk size " << disk);
            WriteText(project, std::string("[setup]\n") + packing +
                                   "[[set]]\n[[set.file]]\nsource = \"src/*.dat\"\nfolder = \"data\"\n");
            std::vector<Bytes> outputs;
            for (const char* threads : {"1", "2"}) {
                std::string output = folder + "/out" + threads + ".exe";
                std::vector<std::string> args = {project, "-o", output, "--stub", stub, "--threads", threads};
                if (*disk) args.insert(args.end(), {"--disk-size", disk});
                REQUIRE(RunBuild(args) == 0);
                Bytes all = ReadBytes(output);
                for (uint32_t v = 1; fs::exists(VolumePath(output, v)); v++) {
                    Bytes volume = ReadBytes(VolumePath(output, v));
                    all.insert(all.end(), volume.begin(), volume.end());
                }
                outputs.push_back(all);
            }
            CHECK(outputs[0] == outputs[1]);
        }
    }
}

TEST_CASE("identical contents in different files are packed once") {
    for (const PackingCase& packing : Packings) {
        CAPTURE(packing.keys);
        std::string folder = ScratchFolder("dedupe");
        Bytes data = RandomBytes(5000, 7), other = data;
        other[2500] ^= 1;  // same size, one bit apart
        WriteBytes(folder + "/a.bin", data);
        WriteBytes(folder + "/copy-of-a.bin", data);
        WriteBytes(folder + "/b.bin", other);
        WriteBytes(folder + "/empty1", {});
        WriteBytes(folder + "/empty2", {});
        WriteText(folder + "/project.toml", std::string("[setup]\n") + packing.keys + "[[set]]\n[[set.file]]\nsource = \"*\"\n");
        std::string output = folder + "/out/setup.exe";
        fs::create_directories(folder + "/out");
        REQUIRE(RunBuild({folder + "/project.toml", "-o", output, "--stub", FakeStub(folder + "/out"), "--level",
                          packing.level}) == 0);

        LoadedSetup setup(output);
        REQUIRE(setup.fault == LoadOk);
        Unpacked set = UnpackSet(0);
        REQUIRE(set.names == std::vector<std::string>{"a.bin", "b.bin", "copy-of-a.bin", "empty1", "empty2", "project.toml"});
        CHECK(set.offsets[2] == set.offsets[0]);
        CHECK(set.offsets[1] != set.offsets[0]);
        CHECK(set.offsets[4] == set.offsets[3]);
        CHECK(set.contents.at("a.bin") == data);
        CHECK(set.contents.at("copy-of-a.bin") == data);
        CHECK(set.contents.at("b.bin") == other);
        CHECK(set.contents.at("empty2").empty());
        // Stored: a, b, (an empty stream) and the project: no second copy of a.
        CHECK(setupScript.fileDataLength < 2 * 5000 + 1000);
    }
}

TEST_CASE("globs match within components, ** across folders, never hidden names, in sorted order") {
    // The same files on the disk and in memory: both give the same matches.
    std::string folder = ScratchFolder("glob");
    MemorySourceFiles memory;
    for (const char* name : {"a/x.txt", "a/b/y.txt", "a/b/c/z.txt", "a/.hidden/h.txt", "a/.dot.txt", "a/w.dat", "a/B.txt",
                             "a/\xC3\xA9.md", "a/[1].md", "a/ab.md"}) {
        WriteText(folder + "/" + name, name);
        memory.Add(folder + "/" + name, Bytes(name, name + strlen(name)));
    }
    struct Case {
        std::string pattern;
        std::vector<std::string> relative;
    };
    for (const Case& c : std::vector<Case>{{"a/*.txt", {"B.txt", "x.txt"}},
                                           {"a/*/*.txt", {"b/y.txt"}},
                                           {"a/**/*.txt", {"B.txt", "b/c/z.txt", "b/y.txt", "x.txt"}},
                                           {"a/b/**", {"c/z.txt", "y.txt"}},
                                           {"a/?.dat", {"w.dat"}},
                                           // '?' takes one character, not one byte
                                           {"a/?.md", {"\xC3\xA9.md"}},
                                           {"a/[wx].*", {"w.dat", "x.txt"}},
                                           {"a/[!wx].txt", {"B.txt"}},
                                           {"a/[a-c]*.md", {"ab.md"}},
                                           {"a/[[]1].md", {"[1].md"}},
                                           {"a/*b*.md", {"ab.md"}},
                                           {"a/.*.txt", {".dot.txt"}},
                                           // an absolute pattern starts at its root, not at the project
                                           {folder + "/a/*.dat", {"w.dat"}},
                                           {"nowhere/*", {}}}) {
        for (const SourceFiles* files : {&Disk(), static_cast<const SourceFiles*>(&memory)}) {
            INFO(c.pattern << (files == &memory ? " in memory" : " on disk"));
            std::vector<std::string> found;
            for (const GlobMatch& m : ExpandGlob(*files, folder, c.pattern)) {
                found.push_back(m.relative);
                CHECK(files->KindOf(m.path) == SourceKind::File);
            }
            CHECK(found == c.relative);
        }
    }
}

TEST_CASE("project faults name the file, the line and the key") {
    std::string folder = ScratchFolder("faults");
    WriteText(folder + "/there.txt", "x");
    WriteText(folder + "/broken.rc", "100 DIALOG 0, 0, 10, 10\nBEGIN\nEND\n");
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"[[set]]\n[[set.file]]\nsorce = \"there.txt\"\n", ":3: set[0].file[0].sorce: unknown key"},
        {"[[set]]\n[[set.file]]\nsource = \"missing.txt\"\n", ":3: set[0].file[0].source: no file"},
        {"[[set]]\n\n[[set.file]]\nsource = \"*.doc\"\n", ":4: set[0].file[0].source: no file matches \"*.doc\""},
        {"[[set]]\n[[set.file]]\nsource = \"there.txt\"\nuninstall = \"kep\"\n", ":4: set[0].file[0].uninstall: must be"},
        {"[[set]]\n[[set.file]]\nsource = \"*.txt\"\nname = \"x\"\n", ":4: set[0].file[0].name:"},
        {"[[set]]\n[[set.file]]\nsource = \"there.txt\"\nname = \"..\\\\up.txt\"\n", ":4: set[0].file[0].name:"},
        {"[[set]]\ndestination-changeable = \"yes\"\n", ":2: set[0].destination-changeable: must be true or false"},
        {"[[set]]\n[[set]]\n[[set]]\n[[set]]\n[[set]]\n[[set]]\n[[set]]\n", ":7: set: a setup holds at most 6"},
        {"[setup]\n[setup.background]\ntext-colour = \"white\"\n[[set]]\n", ":3: setup.background.text-colour: must be a colour"},
        {"[[set]]\n[set.texts]\ngreeting = [\"hi\"]\n", ":3: set[0].texts.greeting: not a text table"},
        {"[[set]]\n[set.texts]\nwelcome = \"hi\"\n", ":3: set[0].texts.welcome: must be a list of texts"},
        {"[setup]\nsingle-page = { page = 1, set = 1 }\n[[set]]\n", ":2: setup.single-page.set: must be from 0 to 0"},
        {"[[set]]\n[[set.registry]]\nroot = \"HKEY\"\nkey = \"k\"\n", ":3: set[0].registry[0].root: must be"},
        {"[[set]]\n[[set.patch]]\nfile = \"f\"\noffset = 4\npattern = \"p\"\nreplacement = \"r\"\n",
         ":4: set[0].patch[0].offset: give either offset or pattern"},
        {"[[set]]\n[[set.ini]]\nfile = \"f\"\nsection = \"s\"\n", ":2: set[0].ini[0].key: is missing"},
        {"[setup]\ntemplates = \"broken.rc\"\n[[set]]\n", ":2: setup.templates: no DIALOG 101"},
        {"[[set]]\nname = \"unterminated\n", ":2:"},
        {"[setup]\ntitle = \"t\"\n", ":1: set: a project needs at least one [[set]]"},
        // Characters toml++'s whitespace lookup did not expect (its result was undefined).
        {"[[set]]\n\xCF\xBB = 1\n", ":2: "},
        {"[setup]\ntitle = \"\"\"\\\n\xC2\xA7\"\"\"\n", ":1: set: a project needs at least one [[set]]"},
    };
    for (const Case& c : cases) {
        std::string path = folder + "/kelvo.toml";
        WriteText(path, c.text);
        INFO(c.text);
        std::string expected = path + c.message;
        CHECK_THROWS_WITH_AS(LoadProject(path), doctest::Contains(expected.c_str()), ProjectError);
    }
}

TEST_CASE("the command line: usage faults exit 2, build failures exit 1") {
    std::string folder = ScratchFolder("command");
    WriteText(folder + "/kelvo.toml", "[[set]]\n");
    std::string project = folder + "/kelvo.toml", output = folder + "/setup.exe", stub = FakeStub(folder);
    struct Case {
        std::vector<std::string> args;
        int code;
    };
    const Case cases[] = {
        {{}, 2},
        {{project}, 2},
        {{project, "-o"}, 2},
        {{project, "-o", output, "--level", "13"}, 2},
        {{project, "-o", output, "--disk-size", "12X"}, 2},
        {{project, "-o", output, "--threads", "0"}, 2},
        {{project, "-o", output, "--colour"}, 2},
        {{project, project, "-o", output}, 2},
        {{folder + "/none.toml", "-o", output, "--stub", stub}, 1},
        {{project, "-o", output, "--stub", folder + "/kelvo.toml"}, 1},
        {{project, "-o", folder + "/no/such/folder/setup.exe", "--stub", stub}, 1},
        {{project, "--output=" + output, "--stub=" + stub, "--disk-size=1M", "--level=1"}, 0},
        {{project, "-o", output, "--stub", stub, "--level", "0"}, 1},  // LZMA's levels start at 1
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& a : c.args) line += a + " ";
        INFO(line);
        Silenced quiet(STDERR_FILENO);
        CHECK(RunBuild(c.args) == c.code);
    }
}

TEST_CASE("version rules take the file version and language from a PE version resource") {
    std::string folder = ScratchFolder("version");
    WriteText(folder + "/version.rc",
              "1 VERSIONINFO\nFILEVERSION 1,2,3,4\nPRODUCTVERSION 1,2,0,0\nBEGIN\n"
              "  BLOCK \"StringFileInfo\"\n  BEGIN\n    BLOCK \"040704b0\"\n    BEGIN\n"
              "      VALUE \"FileVersion\", \"1.2.3.4\"\n    END\n  END\n"
              "  BLOCK \"VarFileInfo\"\n  BEGIN\n    VALUE \"Translation\", 0x407, 1200\n  END\nEND\n");
    std::string build = "cd " + folder +
                        " && i686-w64-mingw32-windres version.rc -O coff -o version.o"
                        " && i686-w64-mingw32-gcc -shared -nostdlib -o lib.dll version.o >dll.log 2>&1";
    REQUIRE_MESSAGE(std::system(build.c_str()) == 0, "needs the mingw cross toolchain; see " << folder << "/dll.log");
    WriteText(folder + "/plain.txt", "no version here");
    WriteText(folder + "/kelvo.toml",
              "[[set]]\n[[set.file]]\nsource = \"lib.dll\"\nversion-rule = true\nlanguage-rule = true\n"
              "[[set.file]]\nsource = \"version.rc\"\n");
    Project project = LoadProject(folder + "/kelvo.toml");
    const std::vector<ProjectEntry>& entries = project.sets[0].entries;
    REQUIRE(entries.size() == 2);
    CHECK(entries[0].fields.entryFlags == (VersionRule | LanguageRule));
    REQUIRE(entries[0].fields.version);
    CHECK(entries[0].fields.version->versionHigh == 0x00010002u);
    CHECK(entries[0].fields.version->versionLow == 0x00030004u);
    CHECK(entries[0].fields.version->language == 0x407u);
    CHECK_FALSE(entries[1].fields.version);

    // A file without a version resource cannot be compared: that is a fault, not a zero version.
    WriteText(folder + "/kelvo.toml", "[[set]]\n[[set.file]]\nsource = \"plain.txt\"\nversion-rule = true\n");
    std::string fault = "set[0].file[0].version-rule: " + folder + "/plain.txt has no version resource";
    CHECK_THROWS_WITH_AS(LoadProject(folder + "/kelvo.toml"), doctest::Contains(fault.c_str()), ProjectError);

    // The block reaches the built setup.
    std::string output = folder + "/setup.exe";
    WriteText(folder + "/kelvo.toml", "[[set]]\n[[set.file]]\nsource = \"lib.dll\"\nversion-rule = true\n");
    REQUIRE(RunBuild({folder + "/kelvo.toml", "-o", output, "--stub", FakeStub(folder)}) == 0);
    LoadedSetup setup(output);
    REQUIRE(setup.fault == LoadOk);
    const FileEntry* lib = FileEntryAt(0, 0);
    REQUIRE(lib->entryFlags == VersionRule);
    VersionBlock block;
    std::memcpy(&block, reinterpret_cast<const u8*>(lib) + sizeof(FileEntry), sizeof block);
    CHECK(block.versionHigh == 0x00010002u);
    CHECK(block.versionLow == 0x00030004u);
    CHECK(block.language == 0x407u);
}

TEST_CASE("a 100 MB file packs and unpacks") {
    const size_t size = 100u << 20;
    std::string folder = ScratchFolder("large");
    {
        // Phrases cut from a small random vocabulary: it packs well, but only
        // through real matching work, unlike runs of one byte.
        Bytes vocabulary = RandomBytes(4096, 11), data(size);
        std::mt19937 rng(12);
        for (size_t at = 0; at < size;) {
            size_t length = std::min<size_t>(8 + rng() % 56, size - at);
            std::memcpy(&data[at], &vocabulary[rng() % (vocabulary.size() - 64)], length);
            at += length;
        }
        WriteBytes(folder + "/large.bin", data);
    }
    WriteText(folder + "/kelvo.toml", "[[set]]\n[[set.file]]\nsource = \"large.bin\"\n");
    std::string output = folder + "/setup.exe";
    auto start = std::chrono::steady_clock::now();
    REQUIRE(RunBuild({folder + "/kelvo.toml", "-o", output, "--stub", FakeStub(folder), "--level", "1"}) == 0);
    MESSAGE("built in " << std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() << " s");

    LoadedSetup setup(output);
    REQUIRE(setup.fault == LoadOk);
    Unpacked set = UnpackSet(0);
    CHECK(set.contents.at("large.bin") == ReadBytes(folder + "/large.bin"));
    fs::remove_all(folder);
}

TEST_CASE("the setup and uninstall programs carry a manifest, whose level follows the project's privileges") {
    const std::string realUninstaller = std::string(KELVO_SOURCE_DIR) + "/build/bin/kelvo-uninstall.exe";
    if (!fs::exists(RealStub) || !fs::exists(realUninstaller)) {
        MESSAGE("no built Windows programs in build/bin (build the Windows tree): the manifest is not checked");
        return;
    }
    std::string folder = ScratchFolder("manifest");
    WriteBytes(fs::path(folder) / "app.txt", Bytes(10, 'a'));
    for (const char* privileges : {"", "privileges = \"admin\"\n", "privileges = \"user\"\n"}) {
        CAPTURE(privileges);
        WriteText(fs::path(folder) / "kelvo.toml", std::string("[setup]\n") + privileges +
                                                       "[[set]]\nname = \"App\"\nuninstaller = \"uninst.exe\"\n"
                                                       "[[set.file]]\nsource = \"app.txt\"\n");
        std::string output = folder + "/setup.exe";
        {
            Silenced quiet(STDOUT_FILENO);
            REQUIRE(RunBuild({folder + "/kelvo.toml", "-o", output, "--stub", RealStub, "--uninstaller", realUninstaller}) ==
                    0);
        }
        Bytes setup = ReadBytes(output);
        std::string expected = std::string(privileges).find("user") != std::string::npos ? "asInvoker" : "requireAdministrator";
        CHECK(ExecutionLevelOf(setup) == expected);
        // The uninstaller rides in the archive as PrefixData, with the same level.
        LoadedSetup loaded(output);
        REQUIRE(loaded.fault == LoadOk);
        CHECK(ExecutionLevelOf(BodyBytes(setupScript.prefixData)) == expected);
        std::string text(setup.begin(), setup.end());
        for (const char* part :
             {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
              "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
              "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>",
              "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""}) {
            CAPTURE(part);
            CHECK(Contains(text, part));
        }
    }
    // A user level cannot be set in a program without the manifest.
    WriteText(fs::path(folder) / "kelvo.toml", "[setup]\nprivileges = \"user\"\n[[set]]\nname = \"App\"\n");
    int status;
    {
        Silenced quiet(STDERR_FILENO);
        status = RunBuild({folder + "/kelvo.toml", "-o", folder + "/plain.exe", "--stub", FakeStub(folder)});
    }
    CHECK(status != 0);
}

TEST_CASE("kelvo manifest winget prints the switches and return codes, in YAML and in JSON") {
    std::string folder = ScratchFolder("winget");
    WriteBytes(fs::path(folder) / "app.txt", Bytes(10, 'a'));
    bool real = fs::exists(RealStub);
    for (bool user : {false, true}) {
        if (user && !real) break;  // the level lives in the real program's manifest
        CAPTURE(user);
        WriteText(fs::path(folder) / "kelvo.toml", std::string("[setup]\n") + (user ? "privileges = \"user\"\n" : "") +
                                                       "[[set]]\nname = \"App\"\n[[set.file]]\nsource = \"app.txt\"\n"
                                                       "[[set]]\nname = \"Lite\"\n");
        std::string setup = folder + "/setup.exe";
        {
            Silenced quiet(STDOUT_FILENO);
            REQUIRE(RunBuild({folder + "/kelvo.toml", "-o", setup, "--stub", real ? RealStub : FakeStub(folder)}) == 0);
        }
        std::ostringstream yaml, json, errors;
        REQUIRE(PrintWingetFragment(setup, false, yaml, errors) == CommandSucceeded);
        REQUIRE(PrintWingetFragment(setup, true, json, errors) == CommandSucceeded);
        std::string scope = user ? "user" : "machine";
        CHECK(Contains(yaml.str(), "it installs set 0, \"App\" (of 2; add /INSTALLSET=N to the switches)\n"));
        std::string body = yaml.str().substr(yaml.str().find('\n') + 1);
        CHECK(body == "InstallerType: exe\nScope: " + scope +
                          "\nInstallerSwitches:\n  Silent: '/QUIET'\n  SilentWithProgress: '/PASSIVE'\n"
                          "  InstallLocation: '/TARGET=\"<INSTALLPATH>\"'\n  Log: '/LOG=\"<LOGPATH>\"'\n"
                          "InstallerSuccessCodes:\n  - 0\nExpectedReturnCodes:\n"
                          "  - InstallerReturnCode: 3010\n    ReturnResponse: rebootRequiredToFinish\n"
                          "  - InstallerReturnCode: 1641\n    ReturnResponse: rebootInitiated\n"
                          "  - InstallerReturnCode: 1602\n    ReturnResponse: cancelledByUser\n"
                          "  - InstallerReturnCode: 1618\n    ReturnResponse: installInProgress\n"
                          "  - InstallerReturnCode: 1639\n    ReturnResponse: invalidParameter\n"
                          "  - InstallerReturnCode: 112\n    ReturnResponse: diskFull\n");
        nlohmann::json parsed = nlohmann::json::parse(json.str());
        CHECK(parsed["Scope"] == scope);
        CHECK(parsed["InstallerSwitches"]["Silent"] == "/QUIET");
        CHECK(parsed["InstallerSwitches"]["SilentWithProgress"] == "/PASSIVE");
        CHECK(parsed["InstallerSwitches"]["InstallLocation"] == "/TARGET=\"<INSTALLPATH>\"");
        CHECK(parsed["InstallerSwitches"]["Log"] == "/LOG=\"<LOGPATH>\"");
        CHECK(parsed["InstallerSuccessCodes"] == nlohmann::json::array({0}));
        std::map<int, std::string> codes;
        for (const auto& code : parsed["ExpectedReturnCodes"]) codes[code["InstallerReturnCode"]] = code["ReturnResponse"];
        CHECK(codes == std::map<int, std::string>{{112, "diskFull"},
                                                  {1602, "cancelledByUser"},
                                                  {1618, "installInProgress"},
                                                  {1639, "invalidParameter"},
                                                  {1641, "rebootInitiated"},
                                                  {3010, "rebootRequiredToFinish"}});
    }
}

// Rollback is on unless the project turns it off; the built-in Cancel
// question (13) and report (15) say what happens, in every language, and a
// project's own texts still win over them.
TEST_CASE("kelvo writes the Rollback record unless rollback = false, with texts that say so") {
    std::string folder = ScratchFolder("rollback");
    struct Case {
        const char* setup;
        uint32_t record;
        const char* question;  // a part of message 13
        const char* report;    // a part of message 15
    };
    const Case cases[] = {
        {"", RollbackOn, "setup takes back every change it has made", "The changes it made have been undone."},
        {"[setup]\nrollback = true\n", RollbackOn, "takes back every change", "have been undone"},
        {"[setup]\nrollback = false\n", 0, "they will not be completely installed", "Run setup again to install it."},
        {"[setup]\nlanguages = [\"de\"]\n", RollbackOn, "rückgängig gemacht, und App", "wurden rückgängig gemacht"},
        {"[setup]\nlanguages = [\"de\"]\nrollback = false\n", 0, "nicht vollständig installiert", "nachzuholen"},
        {"[setup]\n[setup.texts.messages]\n13 = \"Own question\"\n", RollbackOn, "Own question", "have been undone"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.setup);
        LoadedSetup loaded(BuildOneFileSetup(folder, c.setup));
        REQUIRE(loaded.fault == LoadOk);
        CHECK(setupScript.rollback == c.record);
        // The texts are in code page 1252: compare in it.
        EncodeFault fault;
        std::string question = EncodeText(c.question, 1252, &fault).value_or("?");
        std::string report = EncodeText(c.report, 1252, &fault).value_or("?");
        CHECK(std::string(LookupText(MessageTexts, ReallyStopQuestion)).find(question) != std::string::npos);
        CHECK(std::string(LookupText(MessageTexts, NotCompletedMessage)).find(report) != std::string::npos);
    }
    WriteText(fs::path(folder) / "kelvo.toml", "[setup]\nrollback = \"yes\"\n[[set]]\nname = \"App\"\n");
    CHECK_THROWS_AS(LoadProject(folder + "/kelvo.toml"), ProjectError);
}

TEST_CASE("kelvo asks for batches of entries a tick unless the project keeps the classic pace") {
    std::string folder = ScratchFolder("pace");
    struct Case {
        const char* setup;
        uint32_t milliseconds;
    };
    const Case cases[] = {{"", DefaultBatchMilliseconds},
                          {"[setup]\npace = \"batch\"\n", DefaultBatchMilliseconds},
                          {"[setup]\npace = \"classic\"\n", 0}};
    for (const Case& c : cases) {
        CAPTURE(c.setup);
        LoadedSetup loaded(BuildOneFileSetup(folder, c.setup));
        REQUIRE(loaded.fault == LoadOk);
        CHECK(setupScript.batchMilliseconds == c.milliseconds);
    }
    WriteText(fs::path(folder) / "kelvo.toml", "[setup]\npace = \"fast\"\n[[set]]\nname = \"App\"\n");
    CHECK_THROWS_AS(LoadProject(folder + "/kelvo.toml"), ProjectError);
}
