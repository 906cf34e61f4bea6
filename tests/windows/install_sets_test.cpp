// Each install set's proposed destination under Wine: earlier installations
// recorded in the prefix's registry and in profile files, the fallback to the
// expanded default, and the stored spelling of found folders.
#include <windows.h>

#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "archive/loader.h"
#include "archive/script.h"
#include "common/paths.h"
#include "control/install_sets.h"
#include "tests/support/win32_test_files.h"

namespace {

const u32 StubSize = 16;
const char TestKey[] = "Software\\Kelvo Test\\Earlier";

// The fields of one InstallSet record that the destination lookup reads.
struct SetFields {
    const char* destination = nullptr;
    u32 root = 1;
    const char* key = nullptr;
    const char* value = nullptr;
    const char* iniFile = nullptr;
    const char* iniSection = nullptr;
    const char* iniKey = nullptr;
};

void PutU32(std::vector<u8>& bytes, u32 at, u32 value) {
    for (int i = 0; i < 4; i++) bytes[at + i] = static_cast<u8>(value >> (8 * i));
}

std::vector<u8> InstallSetBody(const SetFields& set) {
    std::vector<u8> body(InstallSetFixedSize, 0);
    auto text = [&body](u32 field, const char* value) {
        if (value == nullptr) return;
        PutU32(body, field, static_cast<u32>(body.size()));
        body.insert(body.end(), value, value + strlen(value) + 1);
    };
    text(DefaultDestinationField, set.destination);
    PutU32(body, RegistryRootField, set.root);
    text(RegistryKeyField, set.key);
    text(RegistryValueField, set.value);
    text(IniFileField, set.iniFile);
    text(IniSectionField, set.iniSection);
    text(IniKeyField, set.iniKey);
    return body;
}

void AppendRecord(std::vector<u8>& archive, u16 id, const std::vector<u8>& body) {
    std::vector<u8> header(8, 0);
    header[0] = static_cast<u8>(id);
    header[1] = static_cast<u8>(id >> 8);
    PutU32(header, 4, static_cast<u32>(body.size()));
    archive.insert(archive.end(), header.begin(), header.end());
    archive.insert(archive.end(), body.begin(), body.end());
}

// An archive of the given sets, written to a file and read through the
// loader as the setup program reads it; released and deleted at the end.
class LoadedArchive {
public:
    explicit LoadedArchive(const std::vector<SetFields>& sets)
        : path(TempFolder() + "kelvo-install-sets-" + std::to_string(GetCurrentProcessId()) + ".exe") {
        std::vector<u8> archive(StubSize, 'S');
        for (const SetFields& set : sets) AppendRecord(archive, InstallSetRecord, InstallSetBody(set));
        AppendRecord(archive, FileDataRecord, std::vector<u8>(4, 0));
        WriteWholeFile(path, archive);

        REQUIRE(AllocatePathBuffers());
        CopyPath(SourcePath, path.c_str(), PathCapacity);
        findEarlierInstallation = FindEarlierInstallation;
        fault = ReadSetupArchive(StubSize, nullptr);
    }
    ~LoadedArchive() {
        ReleaseSetupScript();
        ReleasePathBuffers();
        DeleteFileA(path.c_str());
    }
    LoadedArchive(const LoadedArchive&) = delete;
    LoadedArchive& operator=(const LoadedArchive&) = delete;

    LoadFault fault;

private:
    std::string path;
};

// Each set's proposed destination after loading an archive of `sets`.
std::vector<std::string> LoadDestinations(const std::vector<SetFields>& sets) {
    std::vector<std::string> destinations;
    std::string current;
    LoadFault fault;
    {
        LoadedArchive archive(sets);
        fault = archive.fault;
        for (u32 i = 0; i < setupScript.setCount; i++) destinations.push_back(setupScript.sets[i].destination);
        current = DestinationPath;
    }
    REQUIRE(fault == LoadOk);
    REQUIRE(current == destinations.at(0));  // the first set is current
    return destinations;
}

void SetRegistryText(HKEY root, const char* name, const std::string& data) {
    HKEY key;
    REQUIRE(RegCreateKeyExA(root, TestKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) == 0);
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>(data.size() + 1));
    RegCloseKey(key);
}

// Folders and values the tests find, removed again at the end.
struct EarlierInstallation {
    std::string base = "C:\\Kelvo-Test-" + std::to_string(GetCurrentProcessId());
    std::string folder = base + "\\Earlier Program";
    std::string file = folder + "\\Program.exe";
    std::string profile = base + "\\recorded.ini";

    EarlierInstallation() {
        CreateDirectoryA(base.c_str(), nullptr);
        CreateDirectoryA(folder.c_str(), nullptr);
        WriteWholeFile(file, "");
        WritePrivateProfileStringA("Paths", "Program", (folder + "\\").c_str(), profile.c_str());
        WritePrivateProfileStringA("Paths", "Empty", "", profile.c_str());
    }
    ~EarlierInstallation() {
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, profile.c_str());
        DeleteFileA(profile.c_str());
        DeleteFileA(file.c_str());
        RemoveDirectoryA(folder.c_str());
        RemoveDirectoryA(base.c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, TestKey);
        RegDeleteKeyA(HKEY_CURRENT_USER, TestKey);
    }
};

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(toupper(c));
    return text;
}

}  // namespace

TEST_CASE("a set proposes an earlier installation or its expanded default") {
    EarlierInstallation earlier;
    std::string fallback = WindowsFolderPath() + "\\Kelvo Default";
    SetRegistryText(HKEY_LOCAL_MACHINE, "Typed", Upper(earlier.folder) + "\\");
    SetRegistryText(HKEY_LOCAL_MACHINE, "Program", earlier.file);
    SetRegistryText(HKEY_LOCAL_MACHINE, "Empty", "");
    SetRegistryText(HKEY_LOCAL_MACHINE, "Gone", earlier.base + "\\Removed Since\\Program.exe");
    char shortFolder[MAX_PATH];
    REQUIRE(GetShortPathNameA(earlier.folder.c_str(), shortFolder, sizeof shortFolder) != 0);
    SetRegistryText(HKEY_CURRENT_USER, "Short", shortFolder);

    struct Case {
        const char* name;
        SetFields set;
        std::string expected;
    };
    const Case cases[] = {
        {"root 2, folder in other case with a trailing backslash",
         {"#Windows#\\Kelvo Default", 2, TestKey, "Typed"}, earlier.folder},
        {"value naming a file inside the folder", {"#Windows#\\Kelvo Default", 2, TestKey, "Program"}, earlier.folder},
        {"empty value", {"#Windows#\\Kelvo Default", 2, TestKey, "Empty"}, fallback},
        {"missing value", {"#Windows#\\Kelvo Default", 2, TestKey, "Missing"}, fallback},
        {"missing key", {"#Windows#\\Kelvo Default", 2, "Software\\Kelvo Test\\Nowhere", "Typed"}, fallback},
        {"root 7 reads the current user, short name made long",
         {"#Windows#\\Kelvo Default", 7, TestKey, "Short"}, earlier.folder},
        {"root 2 does not read the current user", {"#Windows#\\Kelvo Default", 2, TestKey, "Short"}, fallback},
        {"recorded folder cut back to what still exists",
         {"#Windows#\\Kelvo Default", 2, TestKey, "Gone"}, earlier.base},
        {"profile entry", {"#Windows#\\Kelvo Default", 1, nullptr, nullptr, earlier.profile.c_str(), "Paths", "Program"},
         earlier.folder},
        {"empty profile entry",
         {"#Windows#\\Kelvo Default", 1, nullptr, nullptr, earlier.profile.c_str(), "Paths", "Empty"}, fallback},
        {"missing profile entry",
         {"#Windows#\\Kelvo Default", 1, nullptr, nullptr, earlier.profile.c_str(), "Paths", "Missing"}, fallback},
        {"profile file not named in full",
         {"#Windows#\\Kelvo Default", 1, nullptr, nullptr, earlier.profile.c_str(), nullptr, "Program"}, fallback},
        // A key path wins over a profile file, even when its value is missing.
        {"registry before profile",
         {"#Windows#\\Kelvo Default", 2, TestKey, "Missing", earlier.profile.c_str(), "Paths", "Program"}, fallback},
    };
    for (const Case& c : cases) {
        CAPTURE(c.name);
        CHECK(LoadDestinations({c.set}) == std::vector<std::string>{c.expected});
    }
}

TEST_CASE("a set without a default proposes what the set before it proposed") {
    SetFields none;
    SetFields fixed;
    fixed.destination = "C:\\Fixed";
    SetFields macro;
    macro.destination = "#Windows#";
    std::vector<std::string> expected = {"", "", "C:\\Fixed", "C:\\Fixed", WindowsFolderPath(), WindowsFolderPath()};
    CHECK(LoadDestinations({none, none, fixed, none, macro, none}) == expected);
}

TEST_CASE("switching sets and back keeps the folder typed for each") {
    SetFields a, b;
    a.destination = "C:\\A";
    b.destination = "C:\\B";
    LoadedArchive archive({a, b});
    REQUIRE(archive.fault == LoadOk);

    CopyPath(DestinationPath, "D:\\Typed For A", PathCapacity);
    SelectInstallSet(1);
    CHECK(std::string(DestinationPath) == "C:\\B");
    CopyPath(DestinationPath, "D:\\Typed For B", PathCapacity);
    SelectInstallSet(0);
    CHECK(std::string(DestinationPath) == "D:\\Typed For A");
    SelectInstallSet(1);
    CHECK(std::string(DestinationPath) == "D:\\Typed For B");
}

TEST_CASE("CorrectPathCase spells a path as the file system stores it") {
    EarlierInstallation earlier;
    char shortFile[MAX_PATH];
    REQUIRE(GetShortPathNameA(earlier.file.c_str(), shortFile, sizeof shortFile) != 0);
    std::string lowerDrive = "c" + earlier.folder.substr(1);
    struct Case {
        std::string path, expected;
    };
    const Case cases[] = {
        {Upper(earlier.folder) + "\\", earlier.folder},
        {"c:" + Upper(earlier.folder.substr(2)), lowerDrive},  // the drive is kept as written
        {shortFile, earlier.file},
        {Upper(earlier.file), earlier.file},
        {"C:\\", "C:\\"},
        {"C:", "C:"},
        {Upper(earlier.folder) + "\\Not There", Upper(earlier.folder) + "\\Not There"},
        {Upper(earlier.base) + "\\Nowhere\\Program.exe", Upper(earlier.base) + "\\Nowhere\\Program.exe"},
        {Upper(earlier.base) + "\\Earlier*", Upper(earlier.base) + "\\Earlier*"},
        {"\\\\server\\share\\folder", "\\\\server\\share\\folder"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.path);
        char path[PathCapacity];
        CopyPath(path, c.path.c_str(), PathCapacity);
        CorrectPathCase(path);
        CHECK(std::string(path) == c.expected);
    }
}
