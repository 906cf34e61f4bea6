// kelvo's inspection commands (list, verify, extract, dump) on setups crafted
// record by record: several sets, subfolders, an empty file, a folder entry,
// every record kind, file data split over two volumes, and damaged copies of
// them. The commands run in-process; one case runs the kelvo program for its
// command line.
#include <doctest/doctest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>

#include "archive/archive_offset.h"
#include "archive/check_value.h"
#include "archive/texts.h"
#include "builder/deflate_encoder.h"
#include "builder/delta_encoder.h"
#include "builder/entry_records.h"
#include "builder/extract_paths.h"
#include "builder/record_writer.h"
#include "builder/setup_commands.h"
#include "tests/support/kelvo_commands.h"
#include "tests/support/native_files.h"
#include "tests/support/test_data.h"

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------
// Files

// Everything below `root`, as relative paths; links are listed, not followed.
std::set<std::string> TreeOf(const fs::path& root) {
    std::set<std::string> names;
    for (const auto& item : fs::recursive_directory_iterator(root)) names.insert(fs::relative(item.path(), root).string());
    return names;
}

Bytes Prose(size_t size, uint32_t seed) {
    static const char* const words[] = {"setup", "copies", "the", "files", "into", "a", "folder", "and",
                                        "registers", "its", "uninstaller", "when", "done", "program"};
    std::mt19937 rng(seed);
    Bytes text;
    while (text.size() < size) {
        const char* word = words[rng() % 14];
        text.insert(text.end(), word, word + strlen(word));
        text.push_back(rng() % 12 == 0 ? '\n' : ' ');
    }
    text.resize(size);
    return text;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// ---------------------------------------------------------------------------
// Crafting setups

struct CraftedSet {
    InstallSetFields fields;
    std::vector<FileEntryFields> entries;
    std::vector<IniEntryFields> ini;
    std::vector<RegistryEntryFields> registry;
    std::vector<FilePatchFields> patches;
};

const size_t StubSize = 64;
const size_t MarkerPosition = 24;

// A stand-in for the setup program: "MZ", then the marker and the archive
// offset in what would be its initialised data.
Bytes FakeStub(uint32_t archiveOffset) {
    Bytes stub(StubSize, 0);
    stub[0] = 'M';
    stub[1] = 'Z';
    std::copy(ArchiveOffsetMarker, ArchiveOffsetMarker + 6, stub.begin() + MarkerPosition);
    for (int i = 0; i < 4; i++) stub[MarkerPosition + 6 + i] = static_cast<uint8_t>(archiveOffset >> (8 * i));
    return stub;
}

struct SetupCrafter {
    std::vector<std::pair<uint16_t, Bytes>> leadingRecords;
    std::vector<CraftedSet> sets;
    Bytes stream;                      // the file data, all volumes
    std::vector<size_t> volumeStarts;  // stream offsets where volumes 1, 2 ... start
    int fileListLevel = -1;            // >= 0: the file lists are compressed
    bool withFileData = true;
    std::map<uint16_t, uint32_t> recordAt;  // file offset of the first record of each id

    // Stores `contents` in the stream and returns a file entry for them.
    FileEntryFields Stored(const std::string& name, const Bytes& contents, int level = 6) {
        FileEntryFields entry;
        Bytes packed = EncodeStream(contents.data(), contents.size(), level);
        entry.dataOffset = static_cast<uint32_t>(stream.size());
        entry.storedSize = static_cast<uint32_t>(packed.size());
        entry.size = static_cast<uint32_t>(contents.size());
        entry.checkValue = RotateAddCheck(contents.data(), static_cast<u32>(contents.size()), 0);
        entry.strings[EntryFileName] = name;
        PutBytes(stream, packed);
        return entry;
    }

    // Stores the delta that turns `base` into `contents`; the entry's base
    // fields are left to the caller.
    FileEntryFields Delta(const std::string& name, const Bytes& base, const Bytes& contents) {
        FileEntryFields entry;
        Bytes delta = EncodeDelta(base.data(), base.size(), contents.data(), contents.size(), 6);
        entry.dataOffset = static_cast<uint32_t>(stream.size());
        entry.storedSize = static_cast<uint32_t>(delta.size());
        entry.size = static_cast<uint32_t>(contents.size());
        entry.checkValue = RotateAddCheck(contents.data(), static_cast<u32>(contents.size()), 0);
        entry.entryFlags = DeltaEntry;
        entry.strings[EntryFileName] = name;
        PutBytes(stream, delta);
        return entry;
    }

    void Append(Bytes& out, uint16_t id, const Bytes& body, int level = -1) {
        if (recordAt.count(id) == 0) recordAt[id] = static_cast<uint32_t>(out.size());
        PutBytes(out, RecordBytes(id, body, level));
    }

    Bytes FirstVolume() const {
        size_t end = volumeStarts.empty() ? stream.size() : volumeStarts[0];
        return Bytes(stream.begin(), stream.begin() + static_cast<long>(end));
    }

    Bytes Build() {
        Bytes out = FakeStub(StubSize);
        recordAt.clear();
        for (const auto& record : leadingRecords) Append(out, record.first, record.second);
        for (const CraftedSet& set : sets) {
            Append(out, InstallSetRecord, EncodeInstallSet(set.fields));
            Append(out, FileListRecord, EncodeFileList(set.entries), fileListLevel);
            if (!set.ini.empty()) Append(out, IniEntriesRecord, EncodeIniEntries(set.ini));
            if (!set.registry.empty()) Append(out, RegistryEntriesRecord, EncodeRegistryEntries(set.registry));
            if (!set.patches.empty()) Append(out, FilePatchesRecord, EncodeFilePatches(set.patches));
        }
        recordAt[FileDataRecord] = static_cast<uint32_t>(out.size());
        if (withFileData) PutBytes(out, FileDataRecordBytes(FirstVolume()));
        return out;
    }

    // Writes the setup file and its volumes; returns the setup's path.
    std::string Write(const fs::path& folder) {
        fs::path setup = folder / "setup.exe";
        WriteBytes(setup, Build());
        for (size_t v = 0; v < volumeStarts.size(); v++) {
            size_t end = v + 1 < volumeStarts.size() ? volumeStarts[v + 1] : stream.size();
            Bytes volume;
            PutU32(volume, static_cast<uint32_t>(end - volumeStarts[v]));
            volume.insert(volume.end(), stream.begin() + static_cast<long>(volumeStarts[v]),
                          stream.begin() + static_cast<long>(end));
            char extension[24];
            snprintf(extension, sizeof extension, ".D%02zu", v + 1);
            WriteBytes(folder / ("setup" + std::string(extension)), volume);
        }
        return setup.string();
    }
};

// ---------------------------------------------------------------------------
// The rich setup most tests use: two sets and every kind of record.

const Bytes PrefixBytes = Text("PREFIX-DATA");

struct RichFile {
    uint32_t set;
    uint32_t index;
    std::string extractedAs;  // below the extraction folder; "" when not written
    Bytes contents;           // as extracted
};

Bytes BitmapFile(int32_t width, int32_t height, uint16_t bits) {
    Bytes bmp = Text("BM");
    bmp.resize(14, 0);
    PutU32(bmp, 40);
    PutU32(bmp, static_cast<uint32_t>(width));
    PutU32(bmp, static_cast<uint32_t>(height));
    PutU16(bmp, 1);
    PutU16(bmp, bits);
    bmp.resize(14 + 40 + 16, 0);
    return bmp;
}

// The setup's readme holds the marker again, with another offset behind it:
// only the first marker, in the program, may count.
Bytes ReadmeWithDecoyMarker() {
    Bytes readme = Text("Read me first.\n");
    readme.insert(readme.end(), ArchiveOffsetMarker, ArchiveOffsetMarker + 6);
    PutU32(readme, 1);
    PutBytes(readme, Prose(3000, 7));
    return readme;
}

FileTimes WriteTimeOf(uint64_t ticks) {
    FileTimes times = {};
    times.lastWrite[0] = static_cast<u32>(ticks);
    times.lastWrite[1] = static_cast<u32>(ticks >> 32);
    return times;
}

// 2021-01-01 00:00:00 UTC as FILETIME ticks and as Unix time.
const uint64_t AppWriteTicks = 132539328000000000ull;
const time_t AppWriteUnixTime = 1609459200;

// Set 1's tool, the base of set 0's delta entry.
Bytes ToolContents() { return Prose(20000, 4); }

void AddSetZero(SetupCrafter& c, std::vector<RichFile>& files) {
    CraftedSet set;
    set.fields.displayName = "Demo Application";
    set.fields.caption = "Demo Setup";
    set.fields.defaultDestination = "C:\\Program Files\\Demo";
    set.fields.setFlags = DestinationChangeable | StoreDestinationInRegistry;
    set.fields.registryKey = "Software\\Demo";
    set.fields.registryValue = "InstallDir";
    set.fields.tables[WelcomeTexts] = {"Welcome to Demo", "Caf\xE9 edition"};
    Bytes app = Prose(100000, 1), deep = RandomBytes(40000, 2), readme = ReadmeWithDecoyMarker();
    Bytes helper = RandomBytes(5000, 3), uninstaller = Text("uninstaller body");
    Bytes patched = ToolContents();  // set 1's tool with a few words changed
    patched.insert(patched.begin() + 5000, {'n', 'e', 'w', ' '});
    patched[12000] = '!';

    FileEntryFields e = c.Stored("bin\\app.exe", app);
    e.entryFlags = VersionRule | HasFileTimes;
    e.version = VersionBlock{(1u << 16) | 2, (3u << 16) | 4, {}, 0x409};
    e.times = WriteTimeOf(AppWriteTicks);
    e.afterSetupRole = LaunchedProgram;
    e.strings[EntryMenuFolders] = "Demo";
    e.strings[EntryShortcutName] = "Demo App";
    set.entries.push_back(e);
    set.entries.push_back(c.Stored("empty.txt", {}));
    set.entries.push_back(c.Stored("readme.txt", readme, 0));
    e = c.Stored("helper.dll", helper);
    e.destinationFolder = SystemFolder;
    e.registration = SelfRegistering;
    set.entries.push_back(e);
    e = FileEntryFields();
    e.entryKind = FolderEntry;
    e.strings[EntryFileName] = "data\\";
    set.entries.push_back(e);
    e.entryKind = SetupFolderFile;
    e.size = 77;
    e.strings[EntryFileName] = "extra.txt";
    set.entries.push_back(e);
    e.entryKind = RemovedFile;
    e.entryFlags = CopiedFromSetupFolder;
    e.strings[EntryFileName] = "copied.dat";
    set.entries.push_back(e);
    e = c.Stored("uninst.exe", uninstaller);
    e.entryFlags = UninstallerEntry;
    set.entries.push_back(e);
    e = c.Delta("patch.dll", ToolContents(), patched);
    e.baseSet = 1;
    set.entries.push_back(e);
    set.entries.push_back(c.Stored("data\\sub\\deep.bin", deep, 9));

    set.ini = {{1, "demo.ini", "Setup", "Path", "%s"}};
    set.registry = {{2, 1, "Software\\Demo", "Version", "1.0"}};
    set.patches = {{0x100, "bin\\app.exe", "patched", Text("ABCD")}};
    c.sets.push_back(set);

    Bytes uninstallerFile = PrefixBytes;
    PutBytes(uninstallerFile, uninstaller);
    files.insert(files.end(), {{0, 0, "bin/app.exe", app},          {0, 1, "empty.txt", {}},
                               {0, 2, "readme.txt", readme},        {0, 3, "<system>/helper.dll", helper},
                               {0, 5, "", {}},                      {0, 6, "", {}},
                               {0, 7, "uninst.exe", uninstallerFile}, {0, 8, "patch.dll", patched},
                               {0, 9, "data/sub/deep.bin", deep}});
}

void AddSetOne(SetupCrafter& c, std::vector<RichFile>& files) {
    CraftedSet set;
    set.fields.displayName = "Tools";
    set.fields.defaultDestination = "C:\\Tools";
    set.fields.iniFile = "tools.ini";
    set.fields.iniSection = "Install";
    set.fields.iniKey = "Dir";
    Bytes tool = ToolContents(), font = RandomBytes(3000, 5), config = Text("[kelvo]\n");
    set.entries.push_back(c.Stored("tools\\tool.exe", tool));
    FileEntryFields e = c.Stored("demo.ttf", font);
    e.destinationFolder = FontsFolder;
    set.entries.push_back(e);
    e = c.Stored("kelvo.cfg", config);
    e.destinationFolder = WindowsFolder;
    set.entries.push_back(e);
    c.sets.push_back(set);
    files.insert(files.end(), {{1, 0, "tools/tool.exe", tool}, {1, 1, "<fonts>/demo.ttf", font},
                               {1, 2, "<windows>/kelvo.cfg", config}});
}

struct RichSetup {
    SetupCrafter crafter;
    std::vector<RichFile> files;
};

RichSetup CraftRichSetup() {
    RichSetup rich;
    SetupCrafter& c = rich.crafter;
    c.leadingRecords = {
        {SetupFlagsRecord, EncodeSetupFlags(FullScreenBackground | RemoveEarlierInstallations)},
        {WizardPictureRecord, BitmapFile(164, 314, 8)},
        {BackgroundTitleRecord, Text(std::string("Demo Title", 11))},
        {BackgroundStyleRecord, EncodeBackgroundStyle(0x000000, 0xFFFFFF, {})},
        {DialogTemplatesRecord, EncodeDialogTemplates({Text("first"), Text("second template")})},
        {PrefixDataRecord, PrefixBytes},
    };
    AddSetZero(c, rich.files);
    AddSetOne(c, rich.files);
    return rich;
}

}  // namespace

// ---------------------------------------------------------------------------
// list

TEST_CASE("list shows each set, its files, folders and entries, and totals") {
    Scratch scratch;
    RichSetup rich = CraftRichSetup();
    Outcome listed = List(rich.crafter.Write(scratch.path));
    REQUIRE(listed.status == CommandSucceeded);
    CHECK(listed.err.empty());
    const std::string& out = listed.out;
    CHECK(Contains(out, "setup flags:       0x00000011 (full-screen background, removes earlier installations)"));
    CHECK(Contains(out, "wizard picture:    70 bytes, 164x314, 8 bits per pixel"));
    CHECK(Contains(out, "background title:  Demo Title"));
    CHECK(Contains(out, "dialog templates:  2 "));
    CHECK(Contains(out, "prefix data:       11 bytes"));
    CHECK(Contains(out, "Set 0: Demo Application"));
    CHECK(Contains(out, "destination:  C:\\Program Files\\Demo"));
    CHECK(Contains(out, "remembered:   HKCU\\Software\\Demo, value \"InstallDir\""));
    CHECK(Contains(out, "Set 1: Tools"));
    CHECK(Contains(out, "remembered:   tools.ini [Install] Dir"));

    const FileEntryFields& app = rich.crafter.sets[0].entries[0];
    std::string appLine = LineWith(out, "<set>\\bin\\app.exe");
    CHECK(Contains(appLine, " 100000 "));
    CHECK(Contains(appLine, " " + std::to_string(app.storedSize) + " "));
    CHECK(Contains(appLine, "file    -V-T--"));
    CHECK(Contains(appLine, "version 1.2.3.4, run after setup, menu \"Demo\\Demo App\""));
    CHECK(Contains(LineWith(out, "empty.txt"), "         0 "));
    CHECK(Contains(LineWith(out, "<system>\\helper.dll"), "self-registers"));
    CHECK(Contains(LineWith(out, "extra.txt"), "beside  ------"));
    CHECK(Contains(LineWith(out, "uninst.exe"), "U-----"));
    CHECK(Contains(LineWith(out, "patch.dll"), "delta of set 1 file 0"));
    CHECK(Contains(out, "<fonts>\\demo.ttf"));
    CHECK(Contains(out, "<windows>\\kelvo.cfg"));
    CHECK(Contains(out, "folders (1):\n    <set>\\data\\\n"));
    CHECK(Contains(out, "INI entries (1):\n    demo.ini [Setup] Path=%s  (only when not set yet)"));
    CHECK(Contains(out, "registry entries (1):\n    HKLM\\Software\\Demo  \"Version\" = \"1.0\"  (keeps an existing value)"));
    CHECK(Contains(out, "file patches (1):\n    bin\\app.exe at offset 0x00000100: 4-byte pattern -> \"patched\""));
    CHECK(Contains(out, "  9 files, 1 folder, "));
    CHECK(Contains(out, "total: 2 sets, 12 files, 1 folder, "));
}

TEST_CASE("list shows texts from the code page the archive names, and their bytes as they are without one") {
    struct Case {
        const char* name;
        std::optional<uint32_t> codePage;  // the CodePage record's, or none
        std::string title;                 // the background title's line
    };
    const Case cases[] = {
        {"no code page record", std::nullopt, "Caf\xE9 \xC6"},
        {"code page 1252", 1252, "Café Æ"},
        {"code page 1251", 1251, "Cafй Ж"},
    };
    for (const Case& c : cases) {
        INFO(c.name);
        Scratch scratch;
        RichSetup rich = CraftRichSetup();
        for (auto& [id, body] : rich.crafter.leadingRecords)
            if (id == BackgroundTitleRecord) body = Text(std::string("Caf\xE9 \xC6", 7));
        if (c.codePage) rich.crafter.leadingRecords.push_back({CodePageRecord, EncodeSetupFlags(*c.codePage)});
        Outcome listed = List(rich.crafter.Write(scratch.path));
        REQUIRE(listed.status == CommandSucceeded);
        CHECK(Contains(listed.out, "background title:  " + c.title + "\n"));
    }
}

// ---------------------------------------------------------------------------
// verify and extract on sound setups

// The rich setup whole, and with its file data split inside app.exe's
// stream (so one decode crosses volumes) and again before the last set.
struct VolumeLayout {
    const char* name;
    std::vector<double> splits;  // fractions of the stream
};
const VolumeLayout volumeLayouts[] = {
    {"one volume", {}},
    {"two volumes", {0.3}},
    {"three volumes", {0.1, 0.8}},
};

std::string WriteInVolumes(RichSetup& rich, const VolumeLayout& layout, const fs::path& folder) {
    for (double split : layout.splits)
        rich.crafter.volumeStarts.push_back(static_cast<size_t>(split * double(rich.crafter.stream.size())));
    return rich.crafter.Write(folder);
}

TEST_CASE("verify passes a sound setup in one volume or several") {
    for (const VolumeLayout& layout : volumeLayouts) {
        CAPTURE(std::string(layout.name));
        Scratch scratch;
        RichSetup rich = CraftRichSetup();
        Outcome verified = Verify(WriteInVolumes(rich, layout, scratch.path));
        CHECK(verified.status == CommandSucceeded);
        CHECK(verified.err.empty());
        CHECK(Contains(verified.out, "checked 10 stored files"));
        CHECK(Contains(verified.out, "bytes, 1 delta entry) in 2 sets; skipped 3 entries without stored data"));
        CHECK(Contains(verified.out, "all stored files are intact"));
        if (!layout.splits.empty()) CHECK(Contains(verified.out, "setup.D01 ("));
    }
}

TEST_CASE("extract writes each set's files byte for byte, and only those") {
    for (const VolumeLayout& layout : volumeLayouts) {
        CAPTURE(std::string(layout.name));
        Scratch scratch;
        RichSetup rich = CraftRichSetup();
        std::string setup = WriteInVolumes(rich, layout, scratch.path);
        for (uint32_t set = 0; set < 2; set++) {
            CAPTURE(set);
            fs::path folder = scratch.path / ("out" + std::to_string(set));
            Outcome extracted = Extract(setup, folder, set);
            REQUIRE(extracted.status == CommandSucceeded);
            CHECK(extracted.err.empty());
            std::set<std::string> expected;
            for (const RichFile& file : rich.files) {
                if (file.set != set || file.extractedAs.empty()) continue;
                CAPTURE(file.extractedAs);
                CHECK(ReadBytes(folder / file.extractedAs) == file.contents);
                for (fs::path p = file.extractedAs; !p.empty(); p = p.parent_path()) expected.insert(p.string());
            }
            if (set == 0) {
                expected.insert("data");  // the folder entry
                CHECK(Contains(extracted.out, "skipped <set>\\extra.txt: lies beside the setup and is not installed"));
                CHECK(Contains(extracted.out, "skipped <set>\\copied.dat: copied from the setup's folder"));
                CHECK(Contains(extracted.out, "wrote patch.dll (20004 bytes)"));
            }
            CHECK(TreeOf(folder) == expected);  // no temporary names left, nothing extra
        }
    }
}

TEST_CASE("extract gives a file its stored write time") {
    Scratch scratch;
    RichSetup rich = CraftRichSetup();
    fs::path folder = scratch.path / "out";
    REQUIRE(Extract(rich.crafter.Write(scratch.path), folder).status == CommandSucceeded);
    struct stat info;
    REQUIRE(stat((folder / "bin/app.exe").c_str(), &info) == 0);
    CHECK(info.st_mtime == AppWriteUnixTime);
}

TEST_CASE("extract refuses a set that does not exist") {
    Scratch scratch;
    RichSetup rich = CraftRichSetup();
    Outcome extracted = Extract(rich.crafter.Write(scratch.path), scratch.path / "out", 2);
    CHECK(extracted.status == CommandFailed);
    CHECK(Contains(extracted.err, "set 2 does not exist"));
    CHECK(!fs::exists(scratch.path / "out"));
}

// ---------------------------------------------------------------------------
// extract never writes outside its folder

TEST_CASE("names that would leave the folder are recognised") {
    const char* const unsafe[] = {
        "",          "..\\x",      "C:\\x",          "\\\\server\\x", "a\\..\\..\\x", "/etc/x",  "a/../../x",
        "a\\\\b",    "a\\",        ".",              "...",           "a\\b. ",       "x:stream", "CON",
        "lpt1.txt",  "nul .txt",   "a\\aux\\b",      "a?b",           "a*b",          "a|b",      "a\"b",
        "tab\there", "<windows>\\x",
    };
    for (const char* name : unsafe) {
        CAPTURE(std::string(name));
        CHECK(!UnsafeNameReason(name).empty());
    }
    const char* const safe[] = {"app.exe", "bin\\app.exe", "a/b/c", "x..y", ".hidden", "console.txt",
                                "com10.txt", "Program Files\\\xE9t\xE9.txt"};
    for (const char* name : safe) {
        CAPTURE(std::string(name));
        CHECK(UnsafeNameReason(name) == "");
    }
}

TEST_CASE("extract refuses a set with any unsafe name and writes nothing") {
    struct Case {
        const char* name;
        uint8_t kind;
    };
    const Case cases[] = {
        {"..\\x", RemovedFile},       {"C:\\x", RemovedFile},   {"\\\\server\\x", RemovedFile},
        {"a\\..\\..\\x", RemovedFile}, {"", RemovedFile},        {"/tmp/x", RemovedFile},
        {"a/../../x", KeptFile},       {"sub\\\\x", RemovedFile}, {"..\\up", FolderEntry},
        {"CON", RemovedFile},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.name));
        Scratch scratch;
        fs::create_directories(scratch.path / "a/b");
        SetupCrafter crafter;
        CraftedSet set;
        set.fields.displayName = "Hostile";
        set.entries.push_back(crafter.Stored("ok.txt", Text("fine")));
        FileEntryFields hostile = crafter.Stored(c.name, Text("escaped"));
        hostile.entryKind = c.kind;
        set.entries.push_back(hostile);
        crafter.sets.push_back(set);
        std::string setup = crafter.Write(scratch.path / "a/b");

        Outcome extracted = Extract(setup, scratch.path / "a/b/out");
        CHECK(extracted.status == CommandFailed);
        CHECK(Contains(extracted.err, "set 0 \"Hostile\", file 1 "));
        CHECK(Contains(extracted.err, "unsafe name"));
        CHECK(Contains(extracted.err, "nothing was written"));
        CHECK(TreeOf(scratch.path) == std::set<std::string>{"a", "a/b", "a/b/setup.exe"});
    }
}

TEST_CASE("extract never follows a symbolic link already in the folder") {
    struct Case {
        const char* what;
        const char* link;   // below the extraction folder
        bool toFolder;      // the link points at a folder outside, else at a file outside
        const char* fault;
    };
    const Case cases[] = {
        {"link in place of a folder", "bin", true, "refusing to follow the symbolic link bin"},
        {"link in place of a subfolder", "data/sub", true, "refusing to follow the symbolic link data/sub"},
        {"link in place of a file", "bin/app.exe", false, "refusing to replace the symbolic link bin/app.exe"},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.what));
        Scratch scratch;
        RichSetup rich = CraftRichSetup();
        std::string setup = rich.crafter.Write(scratch.path);
        fs::path outside = scratch.path / "outside", folder = scratch.path / "out";
        fs::create_directories(outside);
        WriteBytes(outside / "app.exe", Text("precious"));
        fs::create_directories((folder / c.link).parent_path());
        fs::create_symlink(c.toFolder ? outside : outside / "app.exe", folder / c.link);

        Outcome extracted = Extract(setup, folder);
        CHECK(extracted.status == CommandFailed);
        CHECK(Contains(extracted.err, c.fault));
        CHECK(TreeOf(outside) == std::set<std::string>{"app.exe"});
        CHECK(ReadBytes(outside / "app.exe") == Text("precious"));
        CHECK(fs::is_symlink(folder / c.link));
        CHECK(fs::file_size(folder / "readme.txt") == rich.files[2].contents.size());  // the rest is written
    }
}

// ---------------------------------------------------------------------------
// verify catches damage

struct Damage {
    const char* what;
    uint32_t set, entry;  // the entry that suffers
    // Changes the crafted setup before it is written ...
    std::function<void(SetupCrafter&)> craft;
    // ... or the files after.
    std::function<void(const fs::path& folder)> files;
    std::string fault;
};

void FlipStreamByte(SetupCrafter& c, uint32_t entry, uint32_t at, uint8_t value) {
    c.stream[c.sets[0].entries[entry].dataOffset + at] ^= value;
}

// Moves the last file's stored data (set 1's kelvo.cfg, 11 bytes) into a volume.
void LastFileInVolume(SetupCrafter& c) { c.volumeStarts = {c.sets[1].entries[2].dataOffset}; }

TEST_CASE("verify names the damaged file and what is wrong with it") {
    const uint32_t App = 0, Readme = 2, Patch = 8, Deep = 9, Config = 2;
    const Damage damages[] = {
        {"a flipped byte in stored data", 0, Readme, [&](SetupCrafter& c) { FlipStreamByte(c, Readme, 40, 0x20); },
         {}, "check value 0x"},
        {"a stream that does not decode", 0, App,
         [&](SetupCrafter& c) { c.stream[c.sets[0].entries[App].dataOffset] = 0x08; }, {},  // block kind 0
         "stored data does not decode (stream offset 0, "},
        {"a wrong check value", 0, Deep, [&](SetupCrafter& c) { c.sets[0].entries[Deep].checkValue ^= 1; }, {},
         "check value "},
        {"a wrong size", 0, Deep, [&](SetupCrafter& c) { c.sets[0].entries[Deep].size += 1; }, {},
         "stored data decodes to 40000 bytes, expected 40001"},
        {"a stored size cut short", 0, App, [&](SetupCrafter& c) { c.sets[0].entries[App].storedSize = 100; }, {},
         "stored data ends before its stream does"},
        {"data past the stream's end", 0, Deep,
         [&](SetupCrafter& c) { c.sets[0].entries[Deep].dataOffset += 1000000; }, {}, "setup.D01, which is missing"},
        {"a delta whose base does not exist", 0, Patch, [&](SetupCrafter& c) { c.sets[0].entries[Patch].baseIndex = 7; },
         {}, "the delta's base (set 1 file 7) does not exist"},
        {"a delta against a folder", 0, Patch,
         [&](SetupCrafter& c) { c.sets[0].entries[Patch].baseSet = 0, c.sets[0].entries[Patch].baseIndex = 4; }, {},
         "the delta's base (set 0 file 4) has no stored contents of its own"},
        {"a delta cut short", 0, Patch, [&](SetupCrafter& c) { c.sets[0].entries[Patch].storedSize -= 1; }, {},
         "delta: the literal stream ends before"},
        {"a delta against a shorter file", 0, Patch,
         [&](SetupCrafter& c) { c.sets[0].entries[Patch].baseIndex = 2; }, {},
         "delta: command at byte 0 copies bytes 0..5000, outside the base's 8"},
        {"a missing volume", 1, Config, LastFileInVolume,
         [](const fs::path& folder) { fs::remove(folder / "setup.D01"); }, "setup.D01, which is missing"},
        {"a truncated volume", 1, Config, LastFileInVolume,
         [](const fs::path& folder) { fs::resize_file(folder / "setup.D01", 4 + 5); },
         "setup.D01, which is truncated: it holds 5 of 11 bytes"},
    };
    for (const Damage& damage : damages) {
        CAPTURE(std::string(damage.what));
        Scratch scratch;
        RichSetup rich = CraftRichSetup();
        damage.craft(rich.crafter);
        std::string setup = rich.crafter.Write(scratch.path);
        if (damage.files) damage.files(scratch.path);

        Outcome verified = Verify(setup);
        CAPTURE(verified.err);
        CHECK(verified.status == CommandFailed);
        const char* setName = damage.set == 0 ? "\"Demo Application\"" : "\"Tools\"";
        std::string victim = "kelvo: error: set " + std::to_string(damage.set) + " " + setName + ", file " +
                             std::to_string(damage.entry) + " ";
        CHECK(Contains(LineWith(verified.err, victim), damage.fault));
        CHECK(Contains(verified.err, "1 of 10 stored files failed verification"));
    }
}

TEST_CASE("a wrong check value is reported with both values") {
    Scratch scratch;
    RichSetup rich = CraftRichSetup();
    FileEntryFields& readme = rich.crafter.sets[0].entries[2];
    uint32_t real = readme.checkValue;
    readme.checkValue = 0x12345678;
    Outcome verified = Verify(rich.crafter.Write(scratch.path));
    CHECK(Contains(verified.err, "<set>\\readme.txt: check value " + Hex32(real) + " expected 0x12345678"));
}

TEST_CASE("extract leaves no file behind for data that fails its check") {
    Scratch scratch;
    RichSetup rich = CraftRichSetup();
    rich.crafter.sets[0].entries[9].checkValue ^= 1;
    fs::path folder = scratch.path / "out";
    Outcome extracted = Extract(rich.crafter.Write(scratch.path), folder);
    CHECK(extracted.status == CommandFailed);
    CHECK(Contains(extracted.err, "<set>\\data\\sub\\deep.bin: check value"));
    CHECK(Contains(extracted.err, "1 entry could not be extracted"));
    CHECK(TreeOf(folder / "data/sub").empty());
    CHECK(ReadBytes(folder / "bin/app.exe") == rich.files[0].contents);
}

// ---------------------------------------------------------------------------
// Loader faults, named with their record and offset

struct LoadDamage {
    const char* what;
    std::function<void(SetupCrafter&)> craft;
    std::function<void(Bytes& setup, const SetupCrafter&)> bytes;
    std::function<std::string(const SetupCrafter&)> message;
};

std::string At(const SetupCrafter& c, uint16_t id) { return std::to_string(c.recordAt.at(id)); }

void NoCraft(SetupCrafter&) {}
void NoBytes(Bytes&, const SetupCrafter&) {}

TEST_CASE("a setup the loader refuses is named with what is wrong and where") {
    const LoadDamage damages[] = {
        {"no marker", NoCraft, [](Bytes& b, const SetupCrafter&) { b[MarkerPosition] = 0; },
         [](const SetupCrafter&) { return std::string("not a Kelvo setup: the archive marker is not in it"); }},
        {"archive offset 0", NoCraft, [](Bytes& b, const SetupCrafter&) { b[MarkerPosition + 6] = 0; },
         [](const SetupCrafter&) { return std::string("no archive appended"); }},
        {"archive offset past the end", NoCraft,
         [](Bytes& b, const SetupCrafter&) { b[MarkerPosition + 9] = 0x40; },
         [](const SetupCrafter&) { return std::string("not a Kelvo setup: its archive offset 1073741888 lies beyond"); }},
        {"cut inside a file list", NoCraft,
         [](Bytes& b, const SetupCrafter& c) { b.resize(c.recordAt.at(FileListRecord) + 20); },
         [](const SetupCrafter& c) {
             return "truncated: the file ends inside record 0x123A (file list) at offset " + At(c, FileListRecord);
         }},
        {"cut inside a record header", NoCraft,
         [](Bytes& b, const SetupCrafter& c) { b.resize(c.recordAt.at(InstallSetRecord) + 3); },
         [](const SetupCrafter& c) {
             return "truncated: the file ends inside the record header at offset " + At(c, InstallSetRecord);
         }},
        {"no file data record", [](SetupCrafter& c) { c.withFileData = false; }, NoBytes,
         [](const SetupCrafter& c) {
             return "truncated: the archive ends at offset " + At(c, FileDataRecord) + " without a file data record";
         }},
        {"an entry longer than its list", NoCraft,
         [](Bytes& b, const SetupCrafter& c) { b[c.recordAt.at(FileListRecord) + 8 + 4 + 1] = 0x7F; },
         [](const SetupCrafter& c) {
             return "damaged: record 0x123A (file list) at offset " + At(c, FileListRecord) +
                    " holds an offset, count or string that leaves its body";
         }},
        {"a compressed body that does not decode", [](SetupCrafter& c) { c.fileListLevel = 9; },
         [](Bytes& b, const SetupCrafter& c) {
             size_t at = c.recordAt.at(FileListRecord);
             REQUIRE(b[at + 2] == CompressedBody);
             b[at + 8 + 4] = 0x08;  // block kind 0
         },
         [](const SetupCrafter& c) {
             return "damaged: the compressed body of record 0x123A (file list) at offset " + At(c, FileListRecord) +
                    " does not decode";
         }},
        {"a file list before any set",
         [](SetupCrafter& c) { c.leadingRecords.push_back({FileListRecord, EncodeFileList({})}); }, NoBytes,
         [](const SetupCrafter& c) {
             return "damaged: record 0x123A (file list) at offset " + At(c, FileListRecord) +
                    " comes before the first install set";
         }},
        {"a seventh install set", [](SetupCrafter& c) { c.sets.resize(7); }, NoBytes,
         [](const SetupCrafter&) { return std::string("(install set) at offset "); }},
    };
    for (const LoadDamage& damage : damages) {
        CAPTURE(std::string(damage.what));
        Scratch scratch;
        SetupCrafter crafter;
        crafter.sets.resize(1);
        crafter.sets[0].entries.push_back(crafter.Stored("a.txt", Text("a")));
        damage.craft(crafter);
        Bytes setup = crafter.Build();
        damage.bytes(setup, crafter);
        fs::path path = scratch.path / "setup.exe";
        WriteBytes(path, setup);
        for (const auto& run : {List, Verify, Dump}) {
            Outcome outcome = run(path.string());
            CHECK(outcome.status == CommandFailed);
            CHECK(outcome.out.empty());
            CHECK(Contains(outcome.err, "kelvo: error: " + path.string() + ": "));
            CHECK(Contains(outcome.err, damage.message(crafter)));
        }
    }
}

// With a FixedPage record the loader reports no fault for missing file data
// (one page needs none), so both ways must be caught.
TEST_CASE("a setup without its file contents can be listed and dumped but not verified or extracted") {
    for (bool fixedPage : {false, true}) {
        CAPTURE(fixedPage);
        Scratch scratch;
        RichSetup rich = CraftRichSetup();
        if (fixedPage) rich.crafter.leadingRecords.push_back({FixedPageRecord, EncodeFixedPage(3, 1)});
        Bytes setup = rich.crafter.Build();
        setup.resize(setup.size() - 1000);
        fs::path path = scratch.path / "setup.exe";
        WriteBytes(path, setup);
        std::string missing = "file contents missing: the record 0x7F7F (file data) at offset " +
                              At(rich.crafter, FileDataRecord) + " declares " +
                              std::to_string(rich.crafter.stream.size()) + " bytes but the file holds only " +
                              std::to_string(rich.crafter.stream.size() - 1000);

        Outcome listed = List(path.string());
        CHECK(listed.status == CommandSucceeded);
        CHECK(Contains(listed.out, "file data:         " + missing));
        CHECK(Contains(listed.out, "<set>\\bin\\app.exe"));
        Outcome dumped = Dump(path.string());
        REQUIRE(dumped.status == CommandSucceeded);
        nlohmann::json json = nlohmann::json::parse(dumped.out);
        CHECK(json["fileData"]["complete"] == false);
        CHECK(json["fixedPage"] == (fixedPage ? nlohmann::json{{"page", 3}, {"set", 1}} : nlohmann::json()));
        Outcome verified = Verify(path.string());
        CHECK(verified.status == CommandFailed);
        CHECK(Contains(verified.err, missing));
        Outcome extracted = Extract(path.string(), scratch.path / "out");
        CHECK(extracted.status == CommandFailed);
        CHECK(Contains(extracted.err, missing));
        CHECK(!fs::exists(scratch.path / "out"));
    }
}

// ---------------------------------------------------------------------------
// dump

TEST_CASE("dump prints every record as JSON") {
    Scratch scratch;
    RichSetup rich = CraftRichSetup();
    Outcome dumped = Dump(rich.crafter.Write(scratch.path));
    REQUIRE(dumped.status == CommandSucceeded);
    nlohmann::json json = nlohmann::json::parse(dumped.out);
    CHECK(json["archiveOffset"] == StubSize);
    CHECK(json["setupFlags"]["value"] == 0x11);
    CHECK(json["setupFlags"]["fullScreenBackground"] == true);
    CHECK(json["wizardPicture"]["bitmap"] == nlohmann::json{{"width", 164}, {"height", 314}, {"bitsPerPixel", 8}});
    CHECK(json["backgroundPicture"].is_null());
    CHECK(json["backgroundTitle"] == "Demo Title");
    CHECK(json["backgroundStyle"]["textColour"] == 0xFFFFFF);
    CHECK(json["dialogTemplates"]["count"] == 2);
    CHECK(json["dialogTemplates"]["offsets"] == nlohmann::json{8, 16});
    CHECK(json["fixedPage"].is_null());
    CHECK(json["prefixData"]["size"] == PrefixBytes.size());
    CHECK(json["fileData"]["length"] == rich.crafter.stream.size());
    CHECK(json["fileData"]["complete"] == true);

    REQUIRE(json["sets"].size() == 2);
    const nlohmann::json& set = json["sets"][0];
    CHECK(set["displayName"] == "Demo Application");
    CHECK(set["setFlags"] == (DestinationChangeable | StoreDestinationInRegistry));
    CHECK(set["registryValue"] == "InstallDir");
    CHECK(set["texts"][0] == nlohmann::json{"Welcome to Demo", "Caf\u00e9 edition"});
    CHECK(set["texts"][1].is_null());
    REQUIRE(set["files"].size() == 10);
    const nlohmann::json& app = set["files"][0];
    const FileEntryFields& appFields = rich.crafter.sets[0].entries[0];
    CHECK(app["fileName"] == "bin\\app.exe");
    CHECK(app["dataOffset"] == appFields.dataOffset);
    CHECK(app["storedSize"] == appFields.storedSize);
    CHECK(app["checkValue"] == appFields.checkValue);
    CHECK(app["version"]["text"] == "1.2.3.4");
    CHECK(app["version"]["language"] == 0x409);
    CHECK(app["times"]["lastWrite"] == AppWriteTicks);
    CHECK(app["afterSetupRole"] == LaunchedProgram);
    CHECK(app["shortcutName"] == "Demo App");
    CHECK(set["files"][4]["kindName"] == "folder");
    CHECK(set["files"][8]["baseSet"] == 1);
    CHECK(set["iniEntries"][0] ==
          nlohmann::json{{"flags", 1}, {"file", "demo.ini"}, {"section", "Setup"}, {"key", "Path"}, {"value", "%s"}});
    CHECK(set["registryEntries"][0]["rootName"] == "HKLM");
    CHECK(set["registryEntries"][0]["data"] == "1.0");
    CHECK(set["filePatches"][0]["offset"] == 0x100);
    CHECK(set["filePatches"][0]["pattern"] == "41424344");
    CHECK(json["sets"][1]["files"][1]["destinationFolder"] == FontsFolder);
}

// ---------------------------------------------------------------------------
// The kelvo program's command line

TEST_CASE("kelvo parses its command line and reports usage errors") {
    const fs::path kelvo = fs::path(KELVO_SOURCE_DIR) / "build/bin/kelvo";
    if (!fs::exists(kelvo)) {
        MESSAGE("build/bin/kelvo is not built; command line not checked");
        return;
    }
    Scratch scratch;
    RichSetup rich = CraftRichSetup();
    std::string setup = rich.crafter.Write(scratch.path);
    struct Case {
        std::string arguments;
        int status;
        std::string err;
    };
    const Case cases[] = {
        {"", 2, "kelvo: error: no command given"},
        {"frobnicate", 2, "kelvo: error: unknown command 'frobnicate'"},
        {"list", 2, "kelvo: error: list takes one SETUP"},
        {"list --bogus " + setup, 2, "unknown option --bogus for list"},
        {"extract " + setup, 2, "extract needs -d DIR"},
        {"extract " + setup + " --dir", 2, "missing DIR after --dir"},
        {"extract " + setup + " -d o --set=9", 2, "the set must be 0..5, not '9'"},
        {"list " + scratch.path.string() + "/none.exe", 1, "none.exe: cannot open: No such file or directory"},
        {"extract " + setup + " --dir=" + scratch.path.string() + "/o1 --set 1", 0, ""},
        {"extract " + setup + " -d " + scratch.path.string() + "/o2 -s 1", 0, ""},
        {"verify " + setup, 0, ""},
    };
    for (const Case& c : cases) {
        CAPTURE(c.arguments);
        fs::path errFile = scratch.path / "stderr.txt";
        std::string command = kelvo.string() + " " + c.arguments + " >/dev/null 2>" + errFile.string();
        int status = std::system(command.c_str());
        REQUIRE(WIFEXITED(status));
        CHECK(WEXITSTATUS(status) == c.status);
        Bytes err = ReadBytes(errFile);
        CHECK(Contains(std::string(err.begin(), err.end()), c.err));
    }
    CHECK(ReadBytes(scratch.path / "o1/tools/tool.exe") == rich.files[9].contents);
    CHECK(fs::exists(scratch.path / "o2/<fonts>/demo.ttf"));
}
