// What a set writes after its files, checked under Wine in the prefix's real
// registry and in real files: the destination record, INI entries, registry
// entries and file patches, and lists damaged in every way a body can be,
// placed before an inaccessible page so that any read past them faults.
#include <windows.h>

#include <doctest/doctest.h>
#include <string.h>

#include <string>
#include <vector>

#include "archive/script.h"
#include "common/paths.h"
#include "control/install_sets.h"
#include "engine/set_entries.h"
#include "tests/support/current_entries.h"
#include "tests/support/guarded_bytes.h"
#include "tests/support/set_entry_bodies.h"
#include "tests/support/win32_test_files.h"

namespace {

const std::string Pid = std::to_string(GetCurrentProcessId());
// One key name under each root the tests write to; all removed at the end.
const std::string TestKey = "Software\\Kelvo Test Set Entries " + Pid;
const std::string ClassesKey = "Kelvo.SetEntriesTest." + Pid;
const std::string UsersKey = ".DEFAULT\\" + TestKey;
const char ScratchLabel[] = "kelvo-set-entries-test";

class PathBuffers {
public:
    PathBuffers() { REQUIRE(AllocatePathBuffers()); }
    ~PathBuffers() { ReleasePathBuffers(); }
};

void RemoveTestKeys() {
    RegDeleteTreeA(HKEY_CURRENT_USER, TestKey.c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, TestKey.c_str());
    RegDeleteTreeA(HKEY_CLASSES_ROOT, ClassesKey.c_str());
    RegDeleteTreeA(HKEY_USERS, UsersKey.c_str());
}

// Removes the test keys before (leftovers of a crashed run) and after.
class TestKeys {
public:
    TestKeys() { RemoveTestKeys(); }
    ~TestKeys() { RemoveTestKeys(); }
};

// A value exactly as the registry holds it.
struct StoredValue {
    bool present = false;
    DWORD type = 0;
    std::string bytes;  // all `size` bytes, a terminator included when stored
};

StoredValue ReadStoredValue(HKEY root, const std::string& key, const char* name) {
    StoredValue value;
    HKEY opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return value;
    char data[1024];
    DWORD size = sizeof data;
    if (RegQueryValueExA(opened, name, nullptr, &value.type, reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS) {
        value.present = true;
        value.bytes.assign(data, size);
    }
    RegCloseKey(opened);
    return value;
}

bool KeyExists(HKEY root, const std::string& key) {
    HKEY opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    RegCloseKey(opened);
    return true;
}

void StoreValue(HKEY root, const std::string& key, const char* name, DWORD type, const std::string& bytes) {
    HKEY opened;
    REQUIRE(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &opened, nullptr) == 0);
    REQUIRE(RegSetValueExA(opened, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                           static_cast<DWORD>(bytes.size())) == 0);
    RegCloseKey(opened);
}

// A string value as this program must store it: the text and its terminator.
std::string StoredText(const std::string& text) { return text + '\0'; }

std::string ProfileValue(const std::string& file, const std::string& section, const std::string& key) {
    char value[4096];
    GetPrivateProfileStringA(section.c_str(), key.c_str(), "<absent>", value, sizeof value, file.c_str());
    return value;
}

LoadedBody BodyOf(std::vector<u8>& bytes) {
    return {bytes.empty() ? nullptr : bytes.data(), static_cast<u32>(bytes.size())};
}

// The set under test made the current one, with its InstallSet record and
// its three lists, for as long as it lives; the script as it was comes back
// at the end.
class CurrentSet {
public:
    CurrentSet(const DestinationRecordShape& shape, LoadedBody ini, LoadedBody registry, LoadedBody patches)
        : savedScript(setupScript), savedSet(currentSet), record(InstallSetBody(shape)) {
        InstallSetSlot slot = {};
        slot.record = BodyOf(record);
        slot.iniEntries = ini;
        slot.registryEntries = registry;
        slot.filePatches = patches;
        setupScript.sets[0] = slot;
        setupScript.setCount = 1;
        currentSet = 0;
    }
    ~CurrentSet() {
        setupScript = savedScript;
        currentSet = savedSet;
    }
    CurrentSet(const CurrentSet&) = delete;
    CurrentSet& operator=(const CurrentSet&) = delete;

private:
    SetupScript savedScript;
    i32 savedSet;
    std::vector<u8> record;
};

// The three lists of a set; an empty body is an absent record.
struct SetLists {
    std::vector<u8> ini, registry, patches;
};

void WriteEntriesOf(const std::string& destination, const DestinationRecordShape& record, SetLists lists = {}) {
    CurrentSet set(record, BodyOf(lists.ini), BodyOf(lists.registry), BodyOf(lists.patches));
    CopyPath(DestinationPath, destination.c_str(), PathCapacity);
    WriteSetEntries();
}

void WritePatches(const std::string& destination, const std::vector<FilePatchShape>& patches) {
    SetLists lists;
    lists.patches = FilePatchesBody(patches);
    WriteEntriesOf(destination, {}, lists);
}

// Bytes no marker of these tests contains: lower-case letters.
std::string FillerBytes(size_t size, u32 seed) {
    std::string bytes(size, 'a');
    for (char& c : bytes) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>('a' + (seed >> 16) % 26);
    }
    return bytes;
}

// A marker of upper-case letters, which no filler contains.
std::string MarkerBytes(size_t size) {
    std::string bytes(size, 'A');
    for (size_t i = 0; i < size; i++) bytes[i] = static_cast<char>('A' + (i * 7 + i / 26) % 26);
    return bytes;
}

// "" when the file holds `expected`; else where it first differs, so a
// failure of a 100,000-byte case stays readable.
std::string DifferenceFrom(const std::string& path, const std::string& expected) {
    const std::string actual = ReadWholeFile(path);
    if (actual == expected) return "";
    size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) at++;
    return "size " + std::to_string(actual.size()) + " instead of " + std::to_string(expected.size()) +
           ", first difference at " + std::to_string(at) + ": \"" + actual.substr(at, 16) + "\" instead of \"" +
           expected.substr(at, 16) + "\"";
}

// The marker with its last byte changed: a place that only a search that
// compares the whole marker rejects.
std::string Spoiled(std::string marker) {
    marker.back() = 'z';
    return marker;
}

}  // namespace

TEST_CASE("the destination is recorded under the set's key without its trailing backslash, terminator counted") {
    PathBuffers buffers;
    TestKeys keys;
    struct Case {
        const char* label;
        DestinationRecordShape record;
        const char* destination;
        HKEY expectedRoot;  // null: nothing is written
        const char* expected;
    };
    const std::string key = TestKey;
    const Case cases[] = {
        {"local machine, named value", {StoreDestinationInRegistry, 2, key.c_str(), "InstallDir"}, "C:\\Apps\\Tool\\",
         HKEY_LOCAL_MACHINE, "C:\\Apps\\Tool"},
        {"root 7 is the current user; no name is the default value", {StoreDestinationInRegistry, 7, key.c_str()},
         "C:\\Apps\\Tool", HKEY_CURRENT_USER, "C:\\Apps\\Tool"},
        {"a drive root keeps its backslash", {StoreDestinationInRegistry, 1, key.c_str(), "Root"}, "D:\\",
         HKEY_CURRENT_USER, "D:\\"},
        {"not asked for", {StoreDestinationInIni, 1, key.c_str(), "Unasked"}, "C:\\Apps\\Tool", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.label));
        WriteEntriesOf(c.destination, c.record);
        CHECK(std::string(DestinationPath) == (c.expected != nullptr ? c.expected : "C:\\Apps\\Tool"));
        if (c.expectedRoot == nullptr) {
            CHECK_FALSE(KeyExists(HKEY_CURRENT_USER, key));
            continue;
        }
        StoredValue value = ReadStoredValue(c.expectedRoot, key, c.record.value);
        CHECK(value.present);
        CHECK(value.type == REG_SZ);
        CHECK(value.bytes == StoredText(c.expected));
        RemoveTestKeys();
    }
}

TEST_CASE("the destination goes into the set's profile file only when the set names file, section and entry") {
    PathBuffers buffers;
    ScratchFolder scratch(ScratchLabel);
    const std::string file = scratch.Path("record.ini");
    struct Case {
        const char* label;
        u16 flags;
        const char* section;
        bool written;
    };
    const Case cases[] = {
        {"asked for, all names given", StoreDestinationInIni, "Setup", true},
        {"no section", StoreDestinationInIni, nullptr, false},
        {"not asked for", StoreDestinationInRegistry, "Setup", false},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.label));
        DestinationRecordShape record;
        record.setFlags = c.flags;
        record.iniFile = file.c_str();
        record.iniSection = c.section;
        record.iniKey = "Folder";
        WriteEntriesOf("C:\\Apps\\Tool\\", record);
        CHECK(FileExists(file) == c.written);
        if (c.written) {
            // On disk at once, not only in the system's cache.
            CHECK(ReadWholeFile(file).find("Folder=C:\\Apps\\Tool\r\n") != std::string::npos);
            CHECK(ProfileValue(file, "Setup", "Folder") == "C:\\Apps\\Tool");
        }
        DeleteFileA(file.c_str());
    }
}

TEST_CASE("a recorded destination is the folder the next run proposes") {
    PathBuffers buffers;
    TestKeys keys;
    ScratchFolder scratch(ScratchLabel);
    const std::string folder = scratch.Folder("Recorded Program");
    const std::string profile = scratch.Path("proposed.ini");
    DestinationRecordShape inRegistry;
    inRegistry.setFlags = StoreDestinationInRegistry;
    inRegistry.root = 1;
    inRegistry.key = TestKey.c_str();
    inRegistry.value = "Path";
    DestinationRecordShape inProfile;
    inProfile.setFlags = StoreDestinationInIni;
    inProfile.iniFile = profile.c_str();
    inProfile.iniSection = "Setup";
    inProfile.iniKey = "Folder";
    for (const DestinationRecordShape* record : {&inRegistry, &inProfile}) {
        const bool inTheRegistry = record->key != nullptr;
        CAPTURE(inTheRegistry);
        WriteEntriesOf(folder + "\\", *record);
        CurrentSet set(*record, {}, {}, {});
        DestinationPath[0] = '\0';
        FindEarlierInstallation(0);
        CHECK(lstrcmpiA(DestinationPath, folder.c_str()) == 0);
    }
    SetCurrentDirectoryA(TempFolder().c_str());  // the lookup leaves it in the folder
}

TEST_CASE("INI entries: values are expanded, names are not, and the keep flag keeps only a non-empty value") {
    PathBuffers buffers;
    ScratchFolder scratch(ScratchLabel);
    const std::string ini = scratch.Make(
        "app.ini", "[Main]\r\nKept=old\r\nEmpty=\r\nReplaced=old\r\nLong=" + std::string(40, 'x') + "\r\n");
    struct Case {
        u8 flags;
        const char* section;
        const char* key;
        const char* value;
        std::string expected;
    };
    const Case cases[] = {
        {0, "Main", "Plain", "text", "text"},
        {0, "Main", "Folder", "#InstallDir#\\bin", "C:\\Apps\\Tool\\bin"},
        {0, "Main", "Replaced", "new", "new"},
        {KeepExisting, "Main", "Kept", "new", "old"},
        {KeepExisting, "Main", "Long", "new", std::string(40, 'x')},
        {KeepExisting, "Main", "Empty", "new", "new"},
        {KeepExisting, "Main", "Missing", "new", "new"},
        {KeepExisting, "New Section", "Missing", "new", "new"},
        {0, "#Windows#", "#System#", "as stored", "as stored"},
        {0, "Main", "Unknown", "a#gone#b", "ab"},
    };
    std::vector<IniEntryShape> entries;
    for (const Case& c : cases) entries.push_back({c.flags, ini, c.section, c.key, c.value});
    SetLists lists;
    lists.ini = IniEntriesBody(entries);
    WriteEntriesOf("C:\\Apps\\Tool\\", {}, lists);
    for (const Case& c : cases) {
        CAPTURE(std::string(c.key));
        CHECK(ProfileValue(ini, c.section, c.key) == c.expected);
    }
    CHECK(ReadWholeFile(ini).find("Plain=text\r\n") != std::string::npos);  // on disk, not only cached
}

TEST_CASE("INI files and patch targets named like a file entry are that entry's installed file") {
    PathBuffers buffers;
    ScratchFolder scratch(ScratchLabel);
    const std::string destination = scratch.Folder("dest");
    scratch.Folder("dest\\conf");
    scratch.Folder("source");
    CopyPath(SourcePath, scratch.Path("source\\setup.exe").c_str(), PathCapacity);
    CurrentEntries installed({{"conf\\App.ini"}, {"beside.ini", SetupFolderFile}, {"conf\\data.bin"}});
    const std::string data = scratch.Make("dest\\conf\\data.bin", "0123456789");

    SetLists lists;
    lists.ini = IniEntriesBody({
        {0, "CONF\\APP.INI", "S", "K", "in the entry's file"},
        {0, "Beside.INI", "S", "K", "beside the setup program"},
        {0, "#InstallDir#\\conf\\named.ini", "S", "K", "no entry: a path"},
    });
    lists.patches = FilePatchesBody({{4, "Conf\\Data.Bin", "xy", ""}});
    WriteEntriesOf(destination + "\\", {}, lists);

    CHECK(ProfileValue(scratch.Path("dest\\conf\\App.ini"), "S", "K") == "in the entry's file");
    CHECK(ProfileValue(scratch.Path("source\\beside.ini"), "S", "K") == "beside the setup program");
    CHECK(ProfileValue(scratch.Path("dest\\conf\\named.ini"), "S", "K") == "no entry: a path");
    CHECK(ReadWholeFile(data) == "0123xy6789");
}

TEST_CASE("registry entries: the root by its index, data expanded, key and name as stored, terminator counted") {
    PathBuffers buffers;
    TestKeys keys;
    const std::string hashKey = TestKey + "\\#Windows#";
    struct Case {
        u32 root;
        std::string key;
        const char* name;
        const char* data;
        HKEY expectedRoot;
        std::string expected;
    };
    const Case cases[] = {
        {0, ClassesKey, "Classes", "#InstallDir#\\tool.exe", HKEY_CLASSES_ROOT, "C:\\Apps\\Tool\\tool.exe"},
        {1, TestKey, "User", "plain", HKEY_CURRENT_USER, "plain"},
        {2, TestKey, "Machine", "#InstallDir#", HKEY_LOCAL_MACHINE, "C:\\Apps\\Tool"},
        {3, UsersKey, "Users", "x", HKEY_USERS, "x"},
        {7, TestKey, "Seven", "seven", HKEY_CURRENT_USER, "seven"},
        {0xFFFFFFFF, TestKey, "AllOnes", "ones", HKEY_CURRENT_USER, "ones"},
        {1, hashKey, "#System#", "#gone#kept", HKEY_CURRENT_USER, "kept"},
        {1, TestKey, "", "the default value", HKEY_CURRENT_USER, "the default value"},
        {1, TestKey, "Empty", "", HKEY_CURRENT_USER, ""},
    };
    std::vector<RegistryEntryShape> entries;
    for (const Case& c : cases) entries.push_back({c.root, 0, c.key, c.name, c.data});
    SetLists lists;
    lists.registry = RegistryEntriesBody(entries);
    WriteEntriesOf("C:\\Apps\\Tool\\", {}, lists);
    for (const Case& c : cases) {
        CAPTURE(c.root);
        CAPTURE(std::string(c.name));
        StoredValue value = ReadStoredValue(c.expectedRoot, c.key, c.name);
        CHECK(value.present);
        CHECK(value.type == REG_SZ);
        CHECK(value.bytes == StoredText(c.expected));
    }
}

TEST_CASE("registry keep flag: an existing non-empty value of any type or length is kept") {
    PathBuffers buffers;
    TestKeys keys;
    const std::string longText(100, 'L');
    const std::string five("\5\0\0\0", 4);
    StoreValue(HKEY_CURRENT_USER, TestKey, "Text", REG_SZ, StoredText("old"));
    StoreValue(HKEY_CURRENT_USER, TestKey, "Long", REG_SZ, StoredText(longText));
    StoreValue(HKEY_CURRENT_USER, TestKey, "Number", REG_DWORD, five);
    StoreValue(HKEY_CURRENT_USER, TestKey, "Empty", REG_SZ, StoredText(""));
    StoreValue(HKEY_CURRENT_USER, TestKey, "NoBytes", REG_BINARY, "");
    struct Case {
        std::string key;
        const char* name;
        DWORD expectedType;
        std::string expected;
    };
    const std::string newKey = TestKey + "\\New";
    const Case cases[] = {
        {TestKey, "Text", REG_SZ, StoredText("old")},
        {TestKey, "Long", REG_SZ, StoredText(longText)},
        {TestKey, "Number", REG_DWORD, five},
        {TestKey, "Empty", REG_SZ, StoredText("new")},
        {TestKey, "NoBytes", REG_SZ, StoredText("new")},
        {TestKey, "Missing", REG_SZ, StoredText("new")},
        {newKey, "InNewKey", REG_SZ, StoredText("new")},
    };
    std::vector<RegistryEntryShape> entries;
    for (const Case& c : cases) entries.push_back({1, KeepExisting, c.key, c.name, "new"});
    SetLists lists;
    lists.registry = RegistryEntriesBody(entries);
    WriteEntriesOf("C:\\Apps\\Tool\\", {}, lists);
    for (const Case& c : cases) {
        CAPTURE(std::string(c.name));
        StoredValue value = ReadStoredValue(HKEY_CURRENT_USER, c.key, c.name);
        CHECK(value.type == c.expectedType);
        CHECK(value.bytes == c.expected);
    }
}

TEST_CASE("file patches at an offset: in place, past the end the file grows, a place it cannot take gets nothing") {
    PathBuffers buffers;
    ScratchFolder scratch(ScratchLabel);
    struct Case {
        const char* label;
        std::string contents;
        u32 offset;
        const char* text;
        std::string expected;
    };
    const Case cases[] = {
        {"inside", "0123456789", 2, "ab", "01ab456789"},
        {"over the end", "0123456789", 8, "abcd", "01234567abcd"},
        {"at the end", "01234", 5, "XY", "01234XY"},
        {"past the end", "01234", 10, "XY", std::string("01234\0\0\0\0\0XY", 12)},
        {"macros in the text", "0123456789", 1, "[#InstallDir#]", "0[C:\\D]789"},
        {"an empty text", "0123456789", 0, "", "0123456789"},
        {"a text that expands to nothing", "0123456789", 0, "#nothing#", "0123456789"},
        {"an offset no seek reaches", "0123456789", 0x80000000u, "ab", "0123456789"},
        {"an offset of -2", "0123456789", 0xFFFFFFFEu, "ab", "0123456789"},
    };
    std::vector<FilePatchShape> patches;
    std::vector<std::string> files;
    for (const Case& c : cases) {
        files.push_back(scratch.Make("patch" + std::to_string(files.size()) + ".bin", c.contents));
        patches.push_back({c.offset, files.back(), c.text, ""});
    }
    // A target that does not exist is skipped and not created; the next entries still run.
    const std::string missing = scratch.Path("missing.bin");
    patches.insert(patches.begin(), {0, missing, "text", ""});
    WritePatches("C:\\D\\", patches);
    CHECK_FALSE(FileExists(missing));
    for (size_t i = 0; i < files.size(); i++) {
        CAPTURE(std::string(cases[i].label));
        CHECK(ReadWholeFile(files[i]) == cases[i].expected);
    }
}

TEST_CASE("file patches by marker: the first place only, across every window edge, markers of any length") {
    PathBuffers buffers;
    ScratchFolder scratch(ScratchLabel);
    const std::string text = "PATCHED!";  // no '#': written as it is
    struct Case {
        const char* label;
        size_t fileSize;
        std::string marker;
        std::vector<size_t> places;  // where the marker is put into the filler
        std::string tail;            // bytes after the filler
        bool found;                  // then patched at places[0]
        std::string decoy = "";      // put at offset 2: all but the marker's last byte match
    };
    const std::string mark = "<MARK>";
    const Case cases[] = {
        {"found twice", 64, mark, {10, 30}, "", true},
        {"absent", 64, mark, {}, "", false},
        {"empty marker", 64, "", {}, "", false},
        {"only a beginning at the end", 64, mark, {}, "<MAR", false},
        {"a NUL inside the marker", 64, std::string("M\0K", 3), {20}, "M", true, std::string("M\0X", 3)},
        {"at the start", 64, mark, {0}, "", true},
        {"ending at the last byte", 64, mark, {58}, "", true},
        {"as long as the file", 6, mark, {0}, "", true},
        {"longer than the file", 5, mark, {}, "", false},
        {"across 16,384", 100000, mark, {16381}, "", true},
        {"across 32,768", 100000, mark, {32765}, "", true},
        {"across 49,152", 100000, mark, {49150, 60000}, "", true},
        {"at the end of a long file", 100000, mark, {99994}, "", true},
        {"16,384 bytes long", 100000, MarkerBytes(16384), {40000}, "", true},
        {"20,000 bytes long", 70000, MarkerBytes(20000), {30001}, "", true, Spoiled(MarkerBytes(20000))},
        {"40,000 bytes long", 120000, MarkerBytes(40000), {50003}, "", true, Spoiled(MarkerBytes(40000))},
        {"40,000 bytes long at the end", 120000, MarkerBytes(40000), {80000}, "", true},
        {"40,000 bytes long but cut short", 120000, MarkerBytes(40000), {}, MarkerBytes(39999), false},
    };
    std::vector<FilePatchShape> patches;
    std::vector<std::string> files, expected;
    for (const Case& c : cases) {
        std::string contents = FillerBytes(c.fileSize, static_cast<u32>(files.size()));
        contents.replace(2, c.decoy.size(), c.decoy);
        for (size_t place : c.places) contents.replace(place, c.marker.size(), c.marker);
        contents += c.tail;
        std::string after = contents;
        if (c.found) after.replace(c.places[0], text.size(), text);
        files.push_back(scratch.Make("marked" + std::to_string(files.size()) + ".bin", contents));
        expected.push_back(after);
        patches.push_back({AtMarker, files.back(), text, c.marker});
    }
    WritePatches("C:\\D\\", patches);
    for (size_t i = 0; i < files.size(); i++) {
        CAPTURE(std::string(cases[i].label));
        CHECK(DifferenceFrom(files[i], expected[i]) == "");
    }
}

TEST_CASE("the entries follow the destination record: INI entries, then registry entries, then patches") {
    PathBuffers buffers;
    TestKeys keys;
    ScratchFolder scratch(ScratchLabel);
    const std::string ini = scratch.Path("order.ini");
    DestinationRecordShape record;
    record.setFlags = StoreDestinationInRegistry | StoreDestinationInIni;
    record.key = TestKey.c_str();
    record.value = "Folder";
    record.iniFile = ini.c_str();
    record.iniSection = "Setup";
    record.iniKey = "Folder";
    SetLists lists;
    lists.ini = IniEntriesBody({{0, ini, "Setup", "Folder", "from the INI entry <AAAA>"}});
    lists.registry = RegistryEntriesBody({{1, 0, TestKey, "Folder", "from the registry entry"}});
    lists.patches = FilePatchesBody({{AtMarker, ini, "BBBB", "AAAA"}});
    WriteEntriesOf("C:\\Apps\\Tool\\", record, lists);
    CHECK(ReadWholeFile(ini).find("Folder=from the INI entry <BBBB>\r\n") != std::string::npos);
    CHECK(ReadStoredValue(HKEY_CURRENT_USER, TestKey, "Folder").bytes == StoredText("from the registry entry"));
}

TEST_CASE("damaged lists end at their damage and are never read past their bodies") {
    PathBuffers buffers;
    TestKeys keys;
    ScratchFolder scratch(ScratchLabel);
    const std::string target = scratch.Make("target.bin");
    const std::string original = "0123456789";
    using set_entry_bodies::PutU32At;
    using set_entry_bodies::SetListCount;

    // Lists of INI entries and registry entries that write the named keys or
    // values, and one patch; each case damages them. Each case has an INI
    // file of its own, so no profile the system cached is read back.
    auto iniPath = [&scratch](size_t index) { return scratch.Path("damaged" + std::to_string(index) + ".ini"); };
    auto iniOf = [&iniPath](size_t index, std::vector<const char*> keys) {
        std::vector<IniEntryShape> entries;
        for (const char* key : keys) entries.push_back({0, iniPath(index), "S", key, "value"});
        return IniEntriesBody(entries);
    };
    auto registryOf = [](std::vector<const char*> names) {
        std::vector<RegistryEntryShape> entries;
        for (const char* name : names) entries.push_back({1, 0, TestKey, name, "value"});
        return RegistryEntriesBody(entries);
    };
    auto cut = [](std::vector<u8> body, size_t bytes) {
        body.resize(body.size() - bytes);
        return body;
    };
    auto counted = [](std::vector<u8> body, u16 count) {
        SetListCount(body, count);
        return body;
    };
    const size_t iniEntrySize = iniOf(0, {"I1", "I2"}).size() - iniOf(0, {"I1"}).size();
    const size_t registryEntrySize = registryOf({"R1", "R2"}).size() - registryOf({"R1"}).size();
    const std::vector<u8> patch = FilePatchesBody({{2, target, "ab", ""}});
    const std::string patched = "01ab456789";
    // Marker lengths sit at offset 6 of a one-patch list.
    std::vector<u8> longMarker = FilePatchesBody({{AtMarker, target, "ab", "01"}});
    PutU32At(longMarker, 6, 3);
    std::vector<u8> hugeMarker = longMarker;
    PutU32At(hugeMarker, 6, 0xFFFFFFF0u);

    struct Case {
        const char* label;
        std::vector<u8> ini, registry, patches;
        std::vector<const char*> written;  // INI keys and registry names
        std::string targetAfter;
    };
    const Case cases[] = {
        {"whole lists ending where the page ends", iniOf(0, {"I1", "I2"}), registryOf({"R1", "R2"}), patch,
         {"I1", "I2", "R1", "R2"}, patched},
        {"counts promising more than the bodies hold", counted(iniOf(1, {"I1"}), 900),
         counted(registryOf({"R1"}), 0xFFFF), counted(patch, 2), {"I1", "R1"}, patched},
        {"last strings without their terminators", cut(iniOf(2, {"I1", "I2"}), 1), cut(registryOf({"R1", "R2"}), 1),
         cut(patch, 1), {"I1", "R1"}, original},
        {"the last entries cut inside their numbers", cut(iniOf(3, {"I1", "I2"}), iniEntrySize - 1),
         cut(registryOf({"R1", "R2"}), registryEntrySize - 2), cut(patch, patch.size() - 5), {"I1", "R1"}, original},
        {"a marker length past the body", {}, {}, longMarker, {}, original},
        {"a marker length near 4 GB", {}, {}, hugeMarker, {}, original},
        {"one byte of the count", {0x01}, {0x01}, {0x01}, {}, original},
        {"empty bodies", {}, {}, {}, {}, original},
    };
    const char* const allNames[] = {"I1", "I2", "R1", "R2"};
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
        const Case& c = cases[i];
        CAPTURE(std::string(c.label));
        const std::string caseIni = iniPath(i);
        WriteWholeFile(target, original);
        RemoveTestKeys();
        // Empty bodies too lie at the page's end: present, but with no byte to read.
        GuardedBytes iniBody(c.ini), registryBody(c.registry), patchBody(c.patches);
        {
            CurrentSet set({}, iniBody.Body(), registryBody.Body(), patchBody.Body());
            CopyPath(DestinationPath, "C:\\D", PathCapacity);
            WriteSetEntries();
        }
        for (const char* name : allNames) {
            CAPTURE(std::string(name));
            bool expected = false;
            for (const char* written : c.written) expected = expected || strcmp(written, name) == 0;
            bool found = name[0] == 'I' ? ProfileValue(caseIni, "S", name) == "value"
                                        : ReadStoredValue(HKEY_CURRENT_USER, TestKey, name).present;
            CHECK(found == expected);
        }
        CHECK(ReadWholeFile(target) == c.targetAfter);
    }
}
