// The uninstall log and registration, on the sets of the fixture setup
// tests/fixtures/projects/uninstall-log installed in this process: the log
// appended to the uninstaller is read back record by record, and the values
// under the uninstall key are read back from the registry.
#include <windows.h>
#include <shlobj.h>

#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "archive/loader.h"
#include "archive/script.h"
#include "archive/uninstall_log_format.h"
#include "common/paths.h"
#include "engine/installation.h"
#include "engine/path_macros.h"
#include "engine/setup_state.h"
#include "engine/uninstall_log.h"
#include "tests/support/win32_test_files.h"
#include "wizard/progress.h"

namespace {

const char Root[] = "C:\\Kelvo Log";
const char MainDestination[] = "C:\\Kelvo Log\\Main\\";
const char LinkName[] = "Kelvo Log App.lnk";
const char MenuFolder[] = "Kelvo Log Menu";
const char SharedName[] = "kelvo-log-shared.txt";
const std::string UninstallKeys = UNINSTALL_KEY_PREFIX;
const char* const DisplayNames[] = {"Kelvo Log Test", "Kelvo Log Other"};
const u32 MainSet = 0, OtherSet = 1, NamelessSet = 3;

// The uninstall program's image that the fixture setup writes ahead of the
// log: the project's uninstaller-program file.
std::string Prefix() {
    return ReadWholeFile(std::string(KELVO_SOURCE_DIR) + "\\tests\\fixtures\\projects\\uninstall-log\\uninst.bin");
}

// Everything an installation of the fixture sets may leave behind.
void RemoveInstalledTraces() {
    SetCurrentDirectoryA(TempFolder().c_str());
    RemoveTree(Root);
    DeleteFileA((ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\" + LinkName).c_str());
    DeleteFileA((ShellFolder(CSIDL_STARTUP) + "\\" + LinkName).c_str());
    RemoveTree(ShellFolder(CSIDL_PROGRAMS) + "\\" + MenuFolder);
    DeleteFileA((WindowsFolderPath() + "\\" + SharedName).c_str());
    HKEY shared;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", &shared) ==
        ERROR_SUCCESS) {
        RegDeleteValueA(shared, (WindowsFolderPath() + "\\" + SharedName).c_str());
        RegCloseKey(shared);
    }
    for (const char* name : DisplayNames) RegDeleteKeyA(HKEY_LOCAL_MACHINE, (UninstallKeys + name).c_str());
}

// The fixture setup loaded as the setup program loads it, with set `set`
// current and installed under Root; traces removed before and after.
class LoadedSetup {
public:
    explicit LoadedSetup(u32 set) {
        RemoveInstalledTraces();
        REQUIRE(SUCCEEDED(OleInitialize(nullptr)));  // as the setup program does, for the shortcuts
        REQUIRE(AllocatePathBuffers());
        std::string path = FixtureSetup("uninstall-log");
        CopyPath(SourcePath, path.c_str(), PathCapacity);
        REQUIRE(ReadSetupArchive(ArchiveOffsetOf(ReadWholeFileBytes(path)), nullptr) == LoadOk);
        SelectInstallSet(set);
        CopyPath(DestinationPath, (std::string(Root) + "\\Set " + std::to_string(set) + "\\").c_str(), PathCapacity);
        if (set == MainSet) CopyPath(DestinationPath, MainDestination, PathCapacity);
    }
    ~LoadedSetup() {
        ReleaseSetupScript();
        ReleasePathBuffers();
        RemoveInstalledTraces();
        OleUninitialize();
    }
};

// A stand-in progress page, so the bar has somewhere to go.
class ProgressStandIn {
public:
    ProgressStandIn()
        : window(CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr)) {
        SetProgressPage(window);
    }
    ~ProgressStandIn() {
        SetProgressPage(nullptr);
        DestroyWindow(window);
    }
    HWND window;
};

void InstallCurrentSet() {
    ProgressStandIn progress;
    REQUIRE(StartInstallation());
    while (InstallNextEntry()) {
    }
    REQUIRE(engineState == NoEngineError);
    FinishInstallation();
}

struct LogRecord {
    u16 id;
    std::string body;
};

struct FileRecord {
    std::string folder, name;
    int flags;  // -1 for a shortcut record, which has none
};

// The records as one text, so a mismatch shows them all.
std::string Describe(const std::vector<FileRecord>& records) {
    std::string text;
    for (const FileRecord& record : records)
        text += "{" + record.folder + " | " + record.name + " | " + std::to_string(record.flags) + "} ";
    return text;
}

u32 ReadNumber(const std::string& bytes, size_t at, size_t width) {
    u32 value = 0;
    for (size_t i = 0; i < width; i++) value |= static_cast<u32>(static_cast<u8>(bytes.at(at + i))) << (8 * i);
    return value;
}

// The records behind `prefixLength` bytes of the uninstaller file, up to and
// including the end record, which must be the file's last bytes.
std::vector<LogRecord> ReadLog(const std::string& file, size_t prefixLength) {
    std::vector<LogRecord> records;
    size_t at = prefixLength;
    for (;;) {
        REQUIRE(at + 8 <= file.size());
        LogRecord record{static_cast<u16>(ReadNumber(file, at, 2)), ""};
        CHECK(ReadNumber(file, at + 2, 2) == 0);  // not compressed, reserved 0
        u32 length = ReadNumber(file, at + 4, 4);
        REQUIRE(at + 8 + length <= file.size());
        record.body = file.substr(at + 8, length);
        records.push_back(record);
        at += 8 + length;
        if (record.id == LogEndRecord) break;
    }
    CHECK(at == file.size());
    CHECK(records.back().body.empty());
    return records;
}

std::string ReadCounted(const std::string& body, size_t& at) {
    size_t length = ReadNumber(body, at, 2);
    std::string text = body.substr(at + 2, length);
    REQUIRE(text.size() == length);
    at += 2 + length;
    return text;
}

// The file or shortcut records of a list body; its count must match them
// and they must fill the body exactly.
std::vector<FileRecord> ReadList(const std::string& body, bool withFlags) {
    std::vector<FileRecord> list;
    size_t at = 4;
    while (at < body.size()) {
        FileRecord record;
        record.folder = ReadCounted(body, at);
        record.name = ReadCounted(body, at);
        record.flags = withFlags ? static_cast<u8>(body.at(at++)) : -1;
        list.push_back(record);
    }
    CHECK(at == body.size());
    CHECK(ReadNumber(body, 0, 4) == list.size());
    return list;
}

std::vector<u16> IdsOf(const std::vector<LogRecord>& records) {
    std::vector<u16> ids;
    for (const LogRecord& record : records) ids.push_back(record.id);
    return ids;
}

// A string value under the uninstall key of `name`. (Its stored length is not
// asked: the registry here adds a terminator to a string stored without one.)
bool ReadUninstallValue(const std::string& name, const char* value, std::string& data) {
    HKEY key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, (UninstallKeys + name).c_str(), &key) != ERROR_SUCCESS) return false;
    char buffer[MAX_PATH] = {};
    DWORD type = 0, size = sizeof buffer;
    LONG result = RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    data = buffer;
    return result == ERROR_SUCCESS && type == REG_SZ;
}

// The uninstaller file stand-in: some program bytes and the closing header
// the log's first header replaces.
const std::string ClosingHeader("\x7F\x7F\0\0\0\0\0\0", 8);

}  // namespace

TEST_CASE("an installation's uninstall log lists its files, folders and shortcuts behind the program") {
    LoadedSetup setup(MainSet);
    InstallCurrentSet();

    std::string uninstaller = std::string(MainDestination) + "uninst.exe";
    CHECK(std::string(UninstallerPath) == uninstaller);
    std::string file = ReadWholeFile(uninstaller);
    REQUIRE(file.compare(0, Prefix().size(), Prefix()) == 0);
    std::vector<LogRecord> log = ReadLog(file, Prefix().size());
    REQUIRE(IdsOf(log) == std::vector<u16>{LogFileListRecord, LogShortcutListRecord, LogUninstallKeyRecord,
                                           LogEndRecord});

    // The folder and files in list order, each desktop shortcut after its file; the file that
    // stays at uninstall and the uninstaller itself are not listed.
    std::vector<FileRecord> files = ReadList(log[0].body, true);
    std::vector<FileRecord> expectedFiles = {
        {".\\Data", "", 0},  // the folder itself (its name ends in a backslash)
        {".", "app.txt", 0},
        {ShellFolder(CSIDL_DESKTOPDIRECTORY), LinkName, 0},
        {".\\Sub\\Deeper", "deep.txt", 0},
        {WindowsFolderPath(), SharedName, LogSharedLibrary},
        {".", "selfreg.txt", LogSelfRegistered},
    };
    CHECK(Describe(files) == Describe(expectedFiles));

    std::vector<FileRecord> shortcuts = ReadList(log[1].body, false);
    std::vector<FileRecord> expectedShortcuts = {
        {ShellFolder(CSIDL_PROGRAMS) + "\\" + MenuFolder, LinkName, -1},
        {ShellFolder(CSIDL_STARTUP), LinkName, -1},
    };
    CHECK(Describe(shortcuts) == Describe(expectedShortcuts));
    for (const FileRecord& shortcut : shortcuts)
        CHECK_MESSAGE(GetFileAttributesA((shortcut.folder + "\\" + shortcut.name).c_str()) != INVALID_FILE_ATTRIBUTES,
                      shortcut.folder);

    std::string key = UninstallKeys + DisplayNames[MainSet];
    CHECK(log[2].body.size() == key.size() + 6);
    CHECK(ReadNumber(log[2].body, 0, 4) == LogLocalMachineRoot);
    size_t at = 4;
    CHECK(ReadCounted(log[2].body, at) == key);

    // Registered for the list of installed software.
    std::string data;
    REQUIRE(ReadUninstallValue(DisplayNames[MainSet], "DisplayName", data));
    CHECK(data == DisplayNames[MainSet]);
    REQUIRE(ReadUninstallValue(DisplayNames[MainSet], "UninstallString", data));
    CHECK(data == uninstaller);
}

TEST_CASE("shortcut list and uninstall key appear only when the set has them") {
    struct Case {
        const char* what;
        u32 set;
        std::vector<u16> ids;
    };
    const Case cases[] = {
        {"no program-menu shortcuts", OtherSet, {LogFileListRecord, LogUninstallKeyRecord, LogEndRecord}},
        {"no display name", NamelessSet, {LogFileListRecord, LogEndRecord}},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        LoadedSetup setup(c.set);
        InstallCurrentSet();
        std::vector<LogRecord> log = ReadLog(ReadWholeFile(UninstallerPath), Prefix().size());
        CHECK(IdsOf(log) == c.ids);
        CHECK(Describe(ReadList(log[0].body, true)) == Describe({{".", "app.txt", 0}}));
        // Nothing is registered under the bare uninstall key for a set without a name.
        std::string data;
        CHECK_FALSE(ReadUninstallValue("", "UninstallString", data));
    }
}

TEST_CASE("a file is listed with its flags only when the installation put it there") {
    struct Case {
        const char* what;
        u8 kind, outcome, folder, shared, registration;
        bool listed;
        int flags;
    };
    const Case cases[] = {
        {"new file", RemovedFile, FileNew, SetFolder, 0, 0, true, 0},
        {"replaced file", RemovedFile, FileReplaced, SetFolder, 0, 0, true, 0},
        {"skipped or left to the restart", RemovedFile, NotInstalled, SetFolder, 0, 0, false, 0},
        {"not replaceable", RemovedFile, FileNotReplaced, SetFolder, 0, 0, false, 0},
        {"file that stays", KeptFile, FileNew, SetFolder, 0, 0, false, 0},
        {"file beside the setup", SetupFolderFile, FileNew, SetFolder, 0, 0, false, 0},
        {"shared in the set's folder is not counted", RemovedFile, FileNew, SetFolder, 1, 0, true, 0},
        {"shared font", RemovedFile, FileNew, FontsFolder, 1, 0, true, LogSharedLibrary | LogFont},
        {"shared self-registering library", RemovedFile, FileNew, WindowsFolder, 1, SelfRegistering, true,
         LogSharedLibrary | LogSelfRegistered},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        LoadedSetup setup(OtherSet);
        ScratchFolder scratch("kelvo-log-flags");
        CopyPath(UninstallerPath, scratch.Make("uninst.exe", "MZ" + ClosingHeader).c_str(), PathCapacity);
        FileEntry* entry = currentFirstEntry;
        entry->entryKind = c.kind;
        entry->outcome = c.outcome;
        entry->destinationFolder = c.folder;
        entry->sharedCount = c.shared;
        entry->registration = c.registration;
        ResolveDestination(entry);
        std::string path = WorkPath;
        size_t slash = path.rfind('\\');
        WriteUninstallLog();

        std::vector<LogRecord> log = ReadLog(ReadWholeFile(UninstallerPath), 2);
        std::vector<FileRecord> files = ReadList(log[0].body, true);
        std::string folder = c.folder == SetFolder ? "." : path.substr(0, slash);
        if (c.listed)
            CHECK(Describe(files) == Describe({{folder, path.substr(slash + 1), c.flags}}));
        else
            CHECK(files.empty());
    }
}

TEST_CASE("the destination is recognised in any spelling and an absent prefix is not taken for it") {
    LoadedSetup setup(OtherSet);
    ScratchFolder scratch("kelvo-log-spelling");
    CopyPath(UninstallerPath, scratch.Make("uninst.exe", ClosingHeader).c_str(), PathCapacity);
    currentFirstEntry->outcome = FileNew;
    currentFirstEntry->destinationFolder = WindowsFolder;
    std::string windows = WindowsFolderPath();
    std::string upper = windows;
    CharUpperA(&upper[0]);
    struct Case {
        std::string destination, folder;
    };
    const Case cases[] = {
        {windows, "."},                                   // backslash appended first
        {upper, "."},                                     // another case
        {windows.substr(0, windows.size() - 1), windows},  // a shorter name is not its folder
    };
    for (const Case& c : cases) {
        CAPTURE(c.destination);
        WriteWholeFile(UninstallerPath, ClosingHeader);
        CopyPath(DestinationPath, c.destination.c_str(), PathCapacity);
        WriteUninstallLog();
        std::vector<LogRecord> log = ReadLog(ReadWholeFile(UninstallerPath), 0);
        CHECK(Describe(ReadList(log[0].body, true)) == Describe({{c.folder, "app.txt", 0}}));
    }
}

TEST_CASE("an uninstaller file that cannot take the log is left alone and still registered") {
    struct Case {
        const char* what;
        bool present;
        std::string contents;
    };
    const Case cases[] = {{"missing", false, ""}, {"shorter than a closing header", true, "MZ"}};
    for (const Case& c : cases) {
        CAPTURE(c.what);
        LoadedSetup setup(OtherSet);
        ScratchFolder scratch("kelvo-log-unusable");
        std::string path = c.present ? scratch.Make("uninst.exe", c.contents) : scratch.Path("uninst.exe");
        CopyPath(UninstallerPath, path.c_str(), PathCapacity);
        WriteUninstallLog();
        CHECK((GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) == c.present);
        if (c.present) CHECK(ReadWholeFile(path) == c.contents);
        std::string data;
        CHECK(ReadUninstallValue(DisplayNames[OtherSet], "UninstallString", data));
        CHECK(data == path);
    }
}
