// Shared-library counts, fonts and self-registration in the prefix's real
// registry: counts under SharedDLLs, a font added and listed under its
// Macintosh full name, the font name reader on damaged and hostile files
// that end just before an inaccessible page, and DllRegisterServer of a test
// library that counts its calls. Every value, font and file is removed again.
#include <windows.h>

#include <doctest/doctest.h>
#include <string.h>

#include <string>
#include <vector>

#include "common/paths.h"
#include "engine/shared_files.h"
#include "tests/support/guarded_bytes.h"
#include "tests/support/shaped_entries.h"
#include "tests/support/win32_test_files.h"

namespace {

const char SharedLibrariesKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char FontsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";
const char SelfRegistrationKey[] = "Software\\Kelvo Tests\\Self Registration";

std::string Pid() { return std::to_string(GetCurrentProcessId()); }

// ---------------------------------------------------------------------------
// Font files made in memory: an offset table, table records and one name
// table, big-endian.

struct NameRecord {
    u16 platform;
    u16 nameId;
    std::string text;
};

void Put16(std::vector<u8>& bytes, u32 value) {
    bytes.push_back(static_cast<u8>(value >> 8));
    bytes.push_back(static_cast<u8>(value));
}

void Put32(std::vector<u8>& bytes, u32 value) {
    Put16(bytes, value >> 16);
    Put16(bytes, value & 0xFFFF);
}

// A font of `tableCount` table records, the name table's being record
// `nameRecordIndex` (the others are "glyf" records); the name table follows.
std::vector<u8> MadeFont(const std::vector<NameRecord>& names, u32 tableCount = 3, u32 nameRecordIndex = 1) {
    std::vector<u8> font;
    Put32(font, 0x00010000);
    Put16(font, tableCount);
    Put16(font, 0), Put16(font, 0), Put16(font, 0);
    u32 nameTable = 12 + 16 * tableCount;
    for (u32 i = 0; i < tableCount; i++) {
        const char* tag = i == nameRecordIndex ? "name" : "glyf";
        font.insert(font.end(), tag, tag + 4);
        Put32(font, 0);
        Put32(font, nameTable);
        Put32(font, 0);
    }
    Put16(font, 0);
    Put16(font, static_cast<u32>(names.size()));
    Put16(font, static_cast<u32>(6 + 12 * names.size()));
    u32 offset = 0;
    for (const NameRecord& name : names) {
        Put16(font, name.platform), Put16(font, 0), Put16(font, 0), Put16(font, name.nameId);
        Put16(font, static_cast<u32>(name.text.size())), Put16(font, offset);
        offset += static_cast<u32>(name.text.size());
    }
    for (const NameRecord& name : names) font.insert(font.end(), name.text.begin(), name.text.end());
    return font;
}

// The Macintosh full name FindMacintoshFullName finds in `font`, which
// ends right before an inaccessible page.
std::string FullName(const GuardedBytes& font) {
    char name[FontNameLimit + 1];
    memset(name, 'x', sizeof name);
    FindMacintoshFullName(font.data, font.size, name);
    return name;
}

void Set16(std::vector<u8>& bytes, u32 at, u32 value) {
    bytes[at] = static_cast<u8>(value >> 8);
    bytes[at + 1] = static_cast<u8>(value);
}

void Set32(std::vector<u8>& bytes, u32 at, u32 value) {
    Set16(bytes, at, value >> 16);
    Set16(bytes, at + 2, value & 0xFFFF);
}

// Where the made font's name table and its first name record start.
const u32 MadeNameTable = 12 + 16 * 3;
const u32 MadeFirstNameRecord = MadeNameTable + 6;

// ---------------------------------------------------------------------------
// Registry helpers

// The key under HKEY_LOCAL_MACHINE opened, or made when the prefix lacks it;
// a key it made is removed at the end when nothing else has put values in it.
class MachineKey {
public:
    explicit MachineKey(const char* path) : path(path) {
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
            REQUIRE(RegCreateKeyA(HKEY_LOCAL_MACHINE, path, &key) == ERROR_SUCCESS);
            made = true;
        }
    }
    ~MachineKey() {
        for (const std::string& value : values) RegDeleteValueA(key, value.c_str());
        DWORD count = 0;
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                         nullptr, nullptr);
        RegCloseKey(key);
        if (made && count == 0) RegDeleteKeyA(HKEY_LOCAL_MACHINE, path);
    }
    MachineKey(const MachineKey&) = delete;
    MachineKey& operator=(const MachineKey&) = delete;

    void WillRemoveValue(const std::string& value) { values.push_back(value); }
    // Type and bytes of a value; false when it is absent.
    bool Read(const std::string& value, DWORD* type, std::vector<u8>* data) const {
        DWORD size = 0;
        if (RegQueryValueExA(key, value.c_str(), nullptr, type, nullptr, &size) != ERROR_SUCCESS) return false;
        data->assign(size, 0);
        return RegQueryValueExA(key, value.c_str(), nullptr, type, data->data(), &size) == ERROR_SUCCESS;
    }

    HKEY key;

private:
    const char* path;
    bool made = false;
    std::vector<std::string> values;
};

u32 AsCount(const std::vector<u8>& data) {
    u32 count = 0;
    memcpy(&count, data.data(), data.size() < 4 ? data.size() : 4);
    return count;
}

}  // namespace

TEST_CASE("a shared library is counted once per call, in the type a count already has") {
    MachineKey shared(SharedLibrariesKey);
    ScratchFolder scratch("shared-counts");
    std::string fresh = scratch.Path("fresh-" + Pid() + ".dll");
    std::string binary = scratch.Path("binary-" + Pid() + ".dll");
    shared.WillRemoveValue(fresh);
    shared.WillRemoveValue(binary);
    DWORD type = 0;
    std::vector<u8> data;

    CountSharedLibrary(fresh.c_str());
    REQUIRE(shared.Read(fresh, &type, &data));
    CHECK(type == REG_DWORD);
    CHECK(data.size() == 4);
    CHECK(AsCount(data) == 1);
    CountSharedLibrary(fresh.c_str());
    REQUIRE(shared.Read(fresh, &type, &data));
    CHECK(AsCount(data) == 2);

    const u32 earlier = 5;
    REQUIRE(RegSetValueExA(shared.key, binary.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(&earlier), 4) ==
            ERROR_SUCCESS);
    CountSharedLibrary(binary.c_str());
    REQUIRE(shared.Read(binary, &type, &data));
    CHECK(type == REG_BINARY);
    CHECK(AsCount(data) == 6);
}

TEST_CASE("without the shared-library key nothing is counted and the key is not made") {
    // HKEY_LOCAL_MACHINE of this process is pointed at an empty key of its own.
    std::string standIn = "Software\\Kelvo Tests\\Machine " + Pid();
    HKEY machine;
    REQUIRE(RegCreateKeyA(HKEY_CURRENT_USER, standIn.c_str(), &machine) == ERROR_SUCCESS);
    REQUIRE(RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine) == ERROR_SUCCESS);
    CountSharedLibrary("C:\\kelvo\\absent.dll");
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    DWORD subkeys = 1;
    RegQueryInfoKeyA(machine, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr);
    RegCloseKey(machine);
    CHECK(subkeys == 0);
    RegDeleteTreeA(HKEY_CURRENT_USER, standIn.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Kelvo Tests");  // only when empty
}

TEST_CASE("the Macintosh full name is read from the name table") {
    struct Case {
        const char* what;
        std::vector<u8> font;
        std::string name;
    };
    std::string longest(FontNameLimit, 'L');
    const Case cases[] = {
        {"Macintosh full name", MadeFont({{3, 4, "W"}, {1, 1, "Family"}, {1, 4, "Kelvo Sans"}}), "Kelvo Sans"},
        {"Windows names only", MadeFont({{3, 1, "Family"}, {3, 4, "Full"}}), ""},
        {"a later full name wins", MadeFont({{1, 4, "First"}, {1, 4, "Second"}}), "Second"},
        {"no names", MadeFont({}), ""},
        {"cut to the longest kept", MadeFont({{1, 4, longest + "cut"}}), longest},
        {"name table as the 40th record", MadeFont({{1, 4, "Fortieth"}}, 45, 39), "Fortieth"},
        {"name table after the 40th record", MadeFont({{1, 4, "Late"}}, 45, 40), ""},
        {"name table as the last record", MadeFont({{1, 4, "Hidden"}}, 3, 2), "Hidden"},
    };
    for (const Case& test : cases) {
        CAPTURE(test.what);
        GuardedBytes font(test.font);
        CHECK(FullName(font) == test.name);
    }

    // numTables says 2: the name table in the third record is never looked at.
    std::vector<u8> counted = MadeFont({{1, 4, "Hidden"}}, 3, 2);
    Set16(counted, 4, 2);
    GuardedBytes font(counted);
    CHECK(FullName(font).empty());
}

TEST_CASE("a damaged or hostile font is never read beyond its end") {
    const std::vector<u8> good = MadeFont({{1, 1, "Family"}, {1, 4, "Kelvo Sans"}});
    const u32 lastRecord = MadeFirstNameRecord + 12;

    SUBCASE("every truncation finds the name only when all of it is there") {
        for (u32 size = 0; size <= good.size(); size++) {
            CAPTURE(size);
            GuardedBytes font(std::vector<u8>(good.begin(), good.begin() + size));
            CHECK(FullName(font) == (size == good.size() ? "Kelvo Sans" : ""));
        }
    }
    SUBCASE("offsets and counts that point outside") {
        struct Patch {
            const char* what;
            u32 at;
            u32 value;
            bool wide;  // a 32-bit field
            bool named;  // the good name is still found
        };
        const Patch patches[] = {
            {"table count far beyond the records", 4, 0xFFFF, false, true},
            {"name table past the end", 12 + 16 + 8, 0xFFFFFFF0u, true, false},
            {"name table at the very end", 12 + 16 + 8, static_cast<u32>(good.size()), true, false},
            {"name count far beyond the records", MadeNameTable + 2, 0xFFFF, false, true},
            {"string storage past the end", MadeNameTable + 4, 0xFFFF, false, false},
            {"name string one byte past the end", lastRecord + 10, 7, false, false},
            {"name string longer than the file", lastRecord + 8, 0xFFFF, false, false},
        };
        for (const Patch& patch : patches) {
            CAPTURE(patch.what);
            std::vector<u8> hostile = good;
            if (patch.wide)
                Set32(hostile, patch.at, patch.value);
            else
                Set16(hostile, patch.at, patch.value);
            GuardedBytes font(hostile);
            CHECK(FullName(font) == (patch.named ? "Kelvo Sans" : ""));
        }
        // The string may end exactly at the end of the file.
        GuardedBytes font(good);
        CHECK(FullName(font) == "Kelvo Sans");
    }
}

namespace {

const char HostFontName[] = "DejaVu Sans";

// Renames the font: every name string equal to `from`, in single bytes or in
// UTF-16 big-endian, becomes `to` of the same length.
void RenameFont(std::vector<u8>& font, const std::string& from, const std::string& to) {
    std::string wideFrom, wideTo;
    for (size_t i = 0; i < from.size(); i++) {
        wideFrom += {'\0', from[i]};
        wideTo += {'\0', to[i]};
    }
    for (const auto& pair : {std::make_pair(from, to), std::make_pair(wideFrom, wideTo)}) {
        std::string bytes(font.begin(), font.end());
        for (size_t at = 0; (at = bytes.find(pair.first, at)) != std::string::npos; at += pair.first.size())
            memcpy(&font[at], pair.second.data(), pair.second.size());
    }
}

int CALLBACK NoteFamily(const LOGFONTA*, const TEXTMETRICA*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

// True when the running system knows a font family named `family`.
bool FamilyKnown(const std::string& family) {
    LOGFONTA wanted = {};
    wanted.lfCharSet = DEFAULT_CHARSET;
    lstrcpynA(wanted.lfFaceName, family.c_str(), LF_FACESIZE);
    HDC screen = GetDC(nullptr);
    bool found = false;
    EnumFontFamiliesExA(screen, &wanted, NoteFamily, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    return found;
}

// The record of the Macintosh full name, for turning it into another platform's.
u32 MacintoshFullNameRecord(const std::vector<u8>& font) {
    auto at16 = [&](u32 at) { return static_cast<u32>(font[at] << 8 | font[at + 1]); };
    for (u32 i = 0; i < at16(4); i++) {
        u32 record = 12 + 16 * i;
        if (memcmp(&font[record], "name", 4) != 0) continue;
        u32 table = at16(record + 8) << 16 | at16(record + 10);
        for (u32 n = 0; n < at16(table + 2); n++) {
            u32 name = table + 6 + 12 * n;
            if (at16(name) == 1 && at16(name + 6) == 4) return name;
        }
    }
    return 0;
}

// Values of the Fonts key whose data names `fileName`.
std::vector<std::string> FontValuesNaming(const MachineKey& fonts, const std::string& fileName) {
    std::vector<std::string> found;
    for (DWORD i = 0;; i++) {
        char name[512];
        DWORD nameSize = sizeof name;
        BYTE data[512];
        DWORD dataSize = sizeof data - 1;
        if (RegEnumValueA(fonts.key, i, name, &nameSize, nullptr, nullptr, data, &dataSize) != ERROR_SUCCESS) break;
        data[dataSize] = 0;
        if (fileName == reinterpret_cast<char*>(data)) found.push_back(name);
    }
    return found;
}

}  // namespace

TEST_CASE("a font is added to the system and listed under its Macintosh full name") {
    // A host font renamed to this process's own family, so that it is new to
    // the system and its Fonts value is one nobody else has.
    std::vector<u8> font = ReadWholeFileBytes(KELVO_TEST_FONT);
    REQUIRE(!font.empty());
    std::string ownName = "Kelvo" + Pid();
    ownName.resize(strlen(HostFontName), 'K');
    RenameFont(font, HostFontName, ownName);
    REQUIRE(!FamilyKnown(ownName));

    MachineKey fonts(FontsKey);
    ScratchFolder scratch("fonts");
    std::string fileName = "kelvo-font-" + Pid() + ".ttf";
    std::string path = scratch.Path(fileName);
    WriteWholeFile(path, font);
    std::string valueName = ownName + " (TrueType)";
    fonts.WillRemoveValue(valueName);

    RegisterFont(path.c_str());
    CHECK(FamilyKnown(ownName));
    CHECK(RemoveFontResourceA(path.c_str()) != 0);
    DWORD type = 0;
    std::vector<u8> data;
    REQUIRE(fonts.Read(valueName, &type, &data));
    CHECK(type == REG_SZ);
    CHECK(std::string(data.begin(), data.end()) == fileName + '\0');  // terminated

    SUBCASE("without a Macintosh full name it is added but not listed") {
        std::string windowsOnly = scratch.Path("windows-" + fileName);
        Set16(font, MacintoshFullNameRecord(font), 3);
        WriteWholeFile(windowsOnly, font);
        RegisterFont(windowsOnly.c_str());
        CHECK(FamilyKnown(ownName));
        CHECK(RemoveFontResourceA(windowsOnly.c_str()) != 0);
        CHECK(FontValuesNaming(fonts, "windows-" + fileName).empty());
    }
    SUBCASE("a file that is no font is passed over") {
        std::string empty = scratch.Make("empty-" + fileName);
        RegisterFont(empty.c_str());
        RegisterFont(scratch.Path("absent.ttf").c_str());
        CHECK(FontValuesNaming(fonts, "empty-" + fileName).empty());
    }
}

namespace {

// Copies of the self-registering library and the library it needs in a
// folder of their own, the path buffers set to install there, and the
// counts its calls leave in the registry.
class SelfRegistration {
public:
    SelfRegistration() : scratch("self-registration") {
        REQUIRE(AllocatePathBuffers());
        CopyPath(DestinationPath, (scratch.Root() + "\\").c_str(), PathCapacity);
        scratch.Folder("lib");
        std::string fixtures = KELVO_SELFREG_FIXTURES;
        for (const char* name : {"kelvo-selfreg-helper.dll", "kelvo-selfreg.dll"})
            REQUIRE(CopyFileA((fixtures + "\\" + name).c_str(), scratch.Path(std::string("lib\\") + name).c_str(),
                              FALSE));
        REQUIRE(CopyFileA((fixtures + "\\kelvo-selfreg.dll").c_str(), scratch.Path("lib\\again.dll").c_str(), FALSE));
        REQUIRE(CopyFileA((fixtures + "\\kelvo-selfreg.dll").c_str(), scratch.Path("lib\\unmarked.dll").c_str(),
                          FALSE));
        REQUIRE(CopyFileA((std::string(KELVO_VERSIONED_FIXTURES) + "\\kelvo-versioned-1.dll").c_str(),
                          scratch.Path("lib\\no-entry.dll").c_str(), FALSE));
        // Not the libraries' folder: what they need must be found beside them.
        SetCurrentDirectoryA(TempFolder().c_str());
    }
    ~SelfRegistration() {
        HKEY key;
        if (RegOpenKeyA(HKEY_CURRENT_USER, SelfRegistrationKey, &key) == ERROR_SUCCESS) {
            for (const char* name : {"kelvo-selfreg.dll", "again.dll", "unmarked.dll"})
                RegDeleteValueA(key, scratch.Path(std::string("lib\\") + name).c_str());
            RegCloseKey(key);
        }
        RegDeleteKeyA(HKEY_CURRENT_USER, SelfRegistrationKey);  // only when empty
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Kelvo Tests");
        ReleasePathBuffers();
    }
    // Calls of DllRegisterServer the copy `name` counted; 0 for none.
    u32 Calls(const char* name) const {
        DWORD count = 0;
        DWORD size = sizeof count;
        HKEY key;
        if (RegOpenKeyA(HKEY_CURRENT_USER, SelfRegistrationKey, &key) != ERROR_SUCCESS) return 0;
        if (RegQueryValueExA(key, scratch.Path(std::string("lib\\") + name).c_str(), nullptr, nullptr,
                             reinterpret_cast<BYTE*>(&count), &size) != ERROR_SUCCESS)
            count = 0;
        RegCloseKey(key);
        return count;
    }

    ScratchFolder scratch;
};

}  // namespace

TEST_CASE("every marked library registers itself once, finding what it needs beside it") {
    SelfRegistration setting;
    ShapedEntries entries{
        {.name = "lib\\kelvo-selfreg.dll", .registration = SelfRegistering},
        {.name = "lib\\unmarked.dll"},
        {.name = "lib\\absent.dll", .registration = SelfRegistering},
        {.name = "lib\\no-entry.dll", .registration = SelfRegistering},
        {.name = "lib\\again.dll", .registration = SelfRegistering},
        {.name = "lib\\unmarked.dll", .registration = ScreenSaver},
    };

    SelfRegisterLibraries();

    CHECK(setting.Calls("kelvo-selfreg.dll") == 1);
    CHECK(setting.Calls("again.dll") == 1);
    CHECK(setting.Calls("unmarked.dll") == 0);
    // Each library was let go again: its file can be removed.
    CHECK(DeleteFileA(setting.scratch.Path("lib\\again.dll").c_str()));
}
