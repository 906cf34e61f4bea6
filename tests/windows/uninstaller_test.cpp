// kelvo-uninstall.exe run on a log written by hand: it removes what the log
// lists and nothing else, refuses records outside the places it may touch,
// honours shared counts, unregisters self-registered libraries before any
// file goes, takes fonts off the system, leaves files in use to the next
// restart, and on a normal start asks before it does anything.
#include <doctest/doctest.h>
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "archive/records.h"
#include "archive/uninstall_log_format.h"
#include "archive/uninstall_settings.h"
#include "archive/uninstall_texts.h"
#include "tests/support/dialogs.h"
#include "tests/support/win32_test_files.h"
#include "uninstall/uninstall_start.h"

namespace {

const char Caption[] = "Kelvo uninstaller test";
const char SharedKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char TestKey[] = UNINSTALL_KEY_PREFIX "Kelvo uninstaller test";
const DWORD ProcessPatience = 30000;

void PutU16(std::string& out, u32 value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}
void PutU32(std::string& out, u32 value) {
    PutU16(out, value & 0xFFFF);
    PutU16(out, value >> 16);
}
void PutCounted(std::string& out, const std::string& text) {
    PutU16(out, static_cast<u32>(text.size()));
    out += text;
}
std::string Record(u16 id, const std::string& body) {
    std::string out;
    PutU16(out, id);
    PutU16(out, 0);
    PutU32(out, static_cast<u32>(body.size()));
    return out + body;
}

struct FileRecord {
    std::string folder, name;
    u8 flags;
};

// One item of kelvo's list of registry values and profile entries.
struct Setting {
    SettingKind kind;
    u8 flags;
    u32 root;
    std::string first, second, third, value;
};

// The uninstaller as setup leaves it: the program, its texts, its settings
// list, the log.
std::string UninstallerFile(const std::vector<FileRecord>& files, const std::vector<Setting>& settings = {}) {
    std::string texts;
    const char* const strings[] = {Caption,      "Remove %s?", "Keep %s?", "Removing %s",
                                   "Done %s",    "Restart %s", "No log",   "Damaged log"};
    for (const char* s : strings) texts += std::string(s) + '\0';
    std::string list;
    PutU32(list, static_cast<u32>(files.size()));
    for (const FileRecord& f : files) {
        PutCounted(list, f.folder);
        PutCounted(list, f.name);
        list += static_cast<char>(f.flags);
    }
    std::string key;
    PutU32(key, LogLocalMachineRoot);
    PutCounted(key, TestKey);
    std::string settingList;
    PutU32(settingList, static_cast<u32>(settings.size()));
    for (const Setting& setting : settings) {
        settingList += static_cast<char>(setting.kind);
        settingList += static_cast<char>(setting.flags);
        PutU32(settingList, setting.root);
        for (const std::string* text : {&setting.first, &setting.second, &setting.third, &setting.value})
            PutCounted(settingList, *text);
    }
    return ReadWholeFile(KELVO_UNINSTALL_PROGRAM) + Record(UninstallTextsRecord, texts) +
           Record(UninstallSettingsRecord, settingList) + Record(LogFileListRecord, list) + Record(LogUninstallKeyRecord, key) + Record(LogEndRecord, "");
}

void SetSharedCount(const std::string& path, DWORD count) {
    HKEY key;
    REQUIRE(RegCreateKeyA(HKEY_LOCAL_MACHINE, SharedKey, &key) == ERROR_SUCCESS);
    RegSetValueExA(key, path.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof count);
    RegCloseKey(key);
}

// The count, or -1 when there is no value.
long SharedCount(const std::string& path) {
    HKEY key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, SharedKey, &key) != ERROR_SUCCESS) return -1;
    DWORD count = 0, size = sizeof count;
    LONG result = RegQueryValueExA(key, path.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&count), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? static_cast<long>(count) : -1;
}

void ForgetSharedCount(const std::string& path) {
    HKEY key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, SharedKey, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, path.c_str());
    RegCloseKey(key);
}

bool KeyExists(const char* path, HKEY root = HKEY_LOCAL_MACHINE) {
    HKEY key;
    if (RegOpenKeyA(root, path, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void MakeTestKey() {
    HKEY key;
    REQUIRE(RegCreateKeyA(HKEY_LOCAL_MACHINE, TestKey, &key) == ERROR_SUCCESS);
    RegSetValueExA(key, "DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 1);
    RegCloseKey(key);
}

// True when an operation for the next restart names a path holding `part`.
bool IsPending(const std::string& part) {
    for (const std::string& path : PendingOperations())
        if (path.find(part) != std::string::npos) return true;
    return false;
}

void SetText(HKEY root, const char* path, const char* name, const std::string& data) {
    HKEY key;
    REQUIRE(RegCreateKeyA(root, path, &key) == ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), static_cast<DWORD>(data.size()));
    RegCloseKey(key);
}

bool ValueExists(HKEY root, const char* path, const char* name) {
    HKEY key;
    if (RegOpenKeyA(root, path, &key) != ERROR_SUCCESS) return false;
    LONG result = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

std::string ProfileText(const std::string& file, const char* section, const char* key) {
    char text[256];
    GetPrivateProfileStringA(section, key, "(none)", text, sizeof text, file.c_str());
    return text;
}

std::string WindowsFile(const char* name) {
    char folder[MAX_PATH];
    GetWindowsDirectoryA(folder, MAX_PATH);
    return std::string(folder) + "\\" + name;
}

// Starts `commandLine` and returns the process; the caller waits.
HANDLE Start(std::string commandLine) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    REQUIRE(CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    CloseHandle(process.hThread);
    return process.hProcess;
}

DWORD WaitForExit(HANDLE process) {
    REQUIRE(WaitForSingleObject(process, ProcessPatience) == WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return code;
}

// Finds the uninstaller's next message box, returns its text and presses `button`.
std::string Answer(int button) {
    HWND box = WaitForVisibleWindow(DialogWindowClass, Caption, ProcessPatience);
    REQUIRE_MESSAGE(box != nullptr, "no message box appeared");
    std::string text = MessageBoxText(box);
    PressDialogButton(box, button, ProcessPatience);
    return text;
}

}  // namespace

TEST_CASE("started with /X it removes what the log lists below its folder and nothing else") {
    ScratchFolder scratch("uninstaller-x");
    std::string destination = scratch.Folder("App");
    std::string outside = scratch.Make("outside.txt", "not listed");
    std::string dll2 = scratch.Make("App\\two.dll", "shared"), dll1 = scratch.Make("App\\one.dll", "shared");
    SetSharedCount(dll2, 2);
    SetSharedCount(dll1, 1);
    scratch.Make("App\\a.txt", "a");
    scratch.Folder("App\\sub");
    scratch.Folder("App\\sub\\deep");
    scratch.Make("App\\sub\\deep\\b.txt", "b");
    scratch.Folder("App\\Data");
    scratch.Folder("App\\Named");
    scratch.Make("App\\kept.txt", "not listed");
    scratch.Folder("App\\Pair");
    scratch.Make("App\\Pair\\one.txt", "1");
    scratch.Make("App\\Pair\\two.txt", "2");
    scratch.Folder("App\\Pair\\Empty");
    std::string inUse = scratch.Make("App\\busy.txt", "in use");
    SetFileAttributesA(scratch.Make("App\\read-only.txt", "r").c_str(), FILE_ATTRIBUTE_READONLY);
    MakeTestKey();
    struct Expect {
        FileRecord record;
        std::string path;  // inside the scratch folder
        bool remains;
    };
    const Expect expected[] = {
        {{".", "a.txt", 0}, "App\\a.txt", false},
        {{".\\sub\\deep", "b.txt", 0}, "App\\sub", false},  // its emptied folders go too
        {{".\\Data", "", 0}, "App\\Data", false},
        {{".", "Named", 0}, "App\\Named", false},  // a folder named like a file
        {{".\\Pair", "one.txt", 0}, "App\\Pair\\one.txt", false},
        {{".\\Pair", "two.txt", 0}, "App\\Pair\\two.txt", false},
        // Emptied last, by a folder record behind its files: the folder goes then.
        {{".\\Pair\\Empty", "", 0}, "App\\Pair", false},
        {{".", "two.dll", LogSharedLibrary}, "App\\two.dll", true},  // still counted once
        {{".", "one.dll", LogSharedLibrary}, "App\\one.dll", true},  // without questions a shared file stays
        {{".\\..", "outside.txt", 0}, "outside.txt", true},         // climbs out of the destination: refused
        {{".", "..\\outside.txt", 0}, "outside.txt", true},
        {{scratch.Root(), "outside.txt", 0}, "outside.txt", true},  // an absolute folder setup never installs to
        {{".", "busy.txt", 0}, "App\\busy.txt", true},               // in use: left for the restart
        {{".", "read-only.txt", 0}, "App\\read-only.txt", false},
    };
    std::vector<FileRecord> records;
    for (const Expect& e : expected) records.push_back(e.record);
    std::string uninstaller = destination + "\\uninst.exe";
    WriteWholeFile(uninstaller, UninstallerFile(records));

    HANDLE busy = CreateFileA(inUse.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(busy != INVALID_HANDLE_VALUE);
    DWORD code = WaitForExit(Start(uninstaller + " /X"));
    CloseHandle(busy);

    CHECK(code == UninstallLeftForRestart);
    for (const Expect& e : expected) {
        CAPTURE(e.path);
        CHECK(FileExists(scratch.Path(e.path)) == e.remains);
    }
    CHECK(FileExists(scratch.Path("App\\kept.txt")));
    CHECK(FileExists(uninstaller));  // the waiting setup deletes it
    CHECK(SharedCount(dll2) == 1);
    CHECK(SharedCount(dll1) == -1);
    CHECK_FALSE(KeyExists(TestKey));
    CHECK(IsPending(inUse));
    ForgetPendingOperations(scratch.Root());
    ForgetSharedCount(dll2);
}

TEST_CASE("a normal start asks first: No removes nothing, Yes hands over to a copy that removes and reports") {
    ScratchFolder scratch("uninstaller-ask");
    std::string destination = scratch.Folder("App");
    std::string file = scratch.Make("App\\a.txt", "a");
    std::string shared = scratch.Make("App\\one.dll", "shared");
    SetSharedCount(shared, 1);
    MakeTestKey();
    std::string uninstaller = destination + "\\uninst.exe";
    WriteWholeFile(uninstaller, UninstallerFile({{".", "a.txt", 0}, {".", "one.dll", LogSharedLibrary}}));

    HANDLE first = Start("\"" + uninstaller + "\"");
    CHECK(Answer(IDNO) == "Remove Kelvo uninstaller test?");
    CHECK(WaitForExit(first) == UninstallCancelled);
    CHECK(FileExists(file));
    CHECK(KeyExists(TestKey));

    HANDLE second = Start("\"" + uninstaller + "\"");
    CHECK(Answer(IDYES) == "Remove Kelvo uninstaller test?");
    CHECK(WaitForExit(second) == UninstallDone);
    // The copy in the temporary folder asks about the shared file, then reports.
    CHECK(Answer(IDNO) == "Keep " + shared + "?");
    CHECK(Answer(IDOK) == "Done Kelvo uninstaller test");
    CHECK_FALSE(FileExists(file));
    CHECK_FALSE(FileExists(shared));
    CHECK_FALSE(KeyExists(TestKey));
    for (int i = 0; i < 100 && FileExists(uninstaller); i++) Sleep(50);
    CHECK_FALSE(FileExists(uninstaller));
    CHECK_FALSE(FileExists(destination));  // emptied, so it went too
    CHECK(IsPending("_uninst"));  // the copy goes at the restart
}

TEST_CASE("a damaged log removes nothing: a normal start says so, and every start ends with its own code") {
    ScratchFolder scratch("uninstaller-damaged");
    std::string destination = scratch.Folder("App");
    std::string file = scratch.Make("App\\a.txt", "a");
    const std::string whole = UninstallerFile({{".", "a.txt", 0}, {".", "b.txt", 0}});
    // The file list's first record: counted ".", counted "a.txt", flags;
    // its count comes right before it.
    const size_t name = whole.rfind("a.txt") - 2, count = name - 3 - 4;
    std::string pastRecord = whole, largerCount = whole;
    pastRecord[name] = 20;  // 17 bytes of the list follow: into the record behind it
    largerCount[count] = 3;
    struct Case {
        const char* what;
        std::string file;
    };
    const Case cases[] = {
        {"a counted string that runs past its record", pastRecord},
        {"a count larger than the records that follow", largerCount},
        {"cut just before the end record", whole.substr(0, whole.size() - 8)},
    };
    std::string uninstaller = destination + "\\uninst.exe";
    for (const Case& c : cases) {
        INFO(c.what);
        MakeTestKey();
        WriteWholeFile(uninstaller, c.file);
        for (const char* argument : {" /X", " /Q"})
            CHECK(WaitForExit(Start(uninstaller + argument)) == UninstallDamagedLog);
        HANDLE normal = Start("\"" + uninstaller + "\"");
        CHECK(Answer(IDOK) == "Damaged log");  // no question first: there is nothing it could do
        CHECK(WaitForExit(normal) == UninstallDamagedLog);
        CHECK(FileExists(file));
        CHECK(FileExists(uninstaller));
        CHECK(KeyExists(TestKey));
    }
    CHECK_FALSE(IsPending(destination));  // not even the quiet start's own file
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, TestKey);
}

TEST_CASE("a file in use is left for the restart, and the report says so") {
    ScratchFolder scratch("uninstaller-busy");
    std::string destination = scratch.Folder("App");
    std::string busy = scratch.Make("App\\busy.txt", "in use");
    MakeTestKey();
    std::string uninstaller = destination + "\\uninst.exe";
    WriteWholeFile(uninstaller, UninstallerFile({{".", "busy.txt", 0}}));
    HANDLE held = CreateFileA(busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(held != INVALID_HANDLE_VALUE);

    HANDLE started = Start("\"" + uninstaller + "\"");
    CHECK(Answer(IDYES) == "Remove Kelvo uninstaller test?");
    CHECK(WaitForExit(started) == UninstallDone);  // handed over to the copy
    CHECK(Answer(IDOK) == "Restart Kelvo uninstaller test");
    CloseHandle(held);
    CHECK(FileExists(busy));
    CHECK(IsPending(busy));
    CHECK_FALSE(KeyExists(TestKey));
    ForgetPendingOperations(scratch.Root());
}

TEST_CASE("the set's registry values and profile entries go, with the keys, sections and files left empty") {
    ScratchFolder scratch("uninstaller-settings");
    std::string destination = scratch.Folder("App");
    const char* const deep = "Software\\Kelvo Uninstall Test\\App\\Sub";
    const char* const shared = "Software\\Kelvo Uninstall Test Shared";
    const char* const kept = "Software\\Kelvo Uninstall Test Kept";
    const char* const type = ".kelvouninstalltest";
    SetText(HKEY_CURRENT_USER, deep, "Version", "1.0");
    SetText(HKEY_LOCAL_MACHINE, shared, "Path", destination);
    SetText(HKEY_LOCAL_MACHINE, shared, "Someone else's", "x");
    SetText(HKEY_CURRENT_USER, kept, "Ours", destination + "\\app.exe");
    SetText(HKEY_CURRENT_USER, kept, "Changed", "the user's own");
    SetText(HKEY_CLASSES_ROOT, type, "", "KelvoTestFile");
    std::string windowsIni = WindowsFile("kelvo-uninstall-test.ini");
    scratch.MakeElsewhere(windowsIni, "[App]\r\nPath=C:\\App\r\n");
    std::string ownIni = scratch.Make("App\\conf.ini", "[App]\r\nKey=1\r\nOther=2\r\n[Gone]\r\nX=1\r\n[Kept]\r\nK=mine\r\n");
    std::string missingIni = destination + "\\missing.ini";
    const std::vector<Setting> settings = {
        {RegistrySetting, 0, 1, deep, "Version", "", ""},
        {RegistrySetting, 0, 2, shared, "Path", "", ""},
        {RegistrySetting, SettingOnlyIfUnchanged, 1, kept, "Ours", "", "#InstallDir#\\app.exe"},
        {RegistrySetting, SettingOnlyIfUnchanged, 1, kept, "Changed", "", "setup's"},
        {RegistrySetting, 0, 0, type, "", "", ""},
        {ProfileSetting, 0, 0, "kelvo-uninstall-test.ini", "App", "Path", ""},  // a bare name: the Windows folder
        {ProfileSetting, 0, 0, "#InstallDir#\\conf.ini", "App", "Key", ""},
        {ProfileSetting, 0, 0, "#InstallDir#\\conf.ini", "Gone", "X", ""},
        {ProfileSetting, SettingOnlyIfUnchanged, 0, "#InstallDir#\\conf.ini", "Kept", "K", "setup's"},
        {ProfileSetting, 0, 0, "#InstallDir#\\missing.ini", "App", "Key", ""},
    };
    std::string uninstaller = destination + "\\uninst.exe";
    WriteWholeFile(uninstaller, UninstallerFile({}, settings));
    CHECK(WaitForExit(Start(uninstaller + " /X")) == UninstallDone);

    CHECK_FALSE(KeyExists("Software\\Kelvo Uninstall Test", HKEY_CURRENT_USER));  // emptied up to...
    CHECK(KeyExists("Software", HKEY_CURRENT_USER));                               // ...but not the top
    CHECK_FALSE(ValueExists(HKEY_LOCAL_MACHINE, shared, "Path"));
    CHECK(ValueExists(HKEY_LOCAL_MACHINE, shared, "Someone else's"));
    CHECK_FALSE(ValueExists(HKEY_CURRENT_USER, kept, "Ours"));
    CHECK(ValueExists(HKEY_CURRENT_USER, kept, "Changed"));
    CHECK_FALSE(KeyExists(type, HKEY_CLASSES_ROOT));
    CHECK_FALSE(FileExists(windowsIni));  // nothing left in it
    CHECK(ProfileText(ownIni, "App", "Key") == "(none)");
    CHECK(ProfileText(ownIni, "App", "Other") == "2");
    char sections[256] = {};
    DWORD length = GetPrivateProfileSectionNamesA(sections, sizeof sections, ownIni.c_str());
    CHECK(std::string(sections, length) == std::string("App\0Kept\0", 9));  // the emptied [Gone] went
    CHECK(ProfileText(ownIni, "Kept", "K") == "mine");  // not what setup would have written
    CHECK_FALSE(FileExists(missingIni));  // never made

    RegDeleteKeyA(HKEY_LOCAL_MACHINE, shared);
    RegDeleteKeyA(HKEY_CURRENT_USER, kept);
}

namespace {

std::string Pid() { return std::to_string(GetCurrentProcessId()); }

}  // namespace

TEST_CASE("a shared library of two installations stays until the second goes, then the user decides") {
    // The file lies in the Windows folder, as a shared library setup logs
    // with its absolute folder; both installations counted it.
    const struct {
        int keep;  // the answer to "Keep <file>?"
        bool remains;
    } cases[] = {{IDNO, false}, {IDYES, true}};
    for (const auto& c : cases) {
        CAPTURE(c.keep);
        ScratchFolder scratch("uninstaller-shared");
        std::string name = "kelvo-shared-" + Pid() + ".dll";
        std::string shared = scratch.MakeElsewhere(WindowsFolderPath() + "\\" + name, "shared");
        SetSharedCount(shared, 2);
        std::string first = scratch.Folder("First") + "\\uninst.exe";
        std::string second = scratch.Folder("Second") + "\\uninst.exe";
        for (const std::string& uninstaller : {first, second})
            WriteWholeFile(uninstaller, UninstallerFile({{WindowsFolderPath(), name, LogSharedLibrary}}));

        // The first one lowers the count and keeps the file without asking.
        MakeTestKey();
        HANDLE process = Start("\"" + first + "\"");
        CHECK(Answer(IDYES) == "Remove Kelvo uninstaller test?");
        CHECK(WaitForExit(process) == UninstallDone);
        CHECK(Answer(IDOK) == "Done Kelvo uninstaller test");
        CHECK(FileExists(shared));
        CHECK(SharedCount(shared) == 1);

        // Nobody else counts it now: the second asks whether to keep it.
        MakeTestKey();
        process = Start("\"" + second + "\"");
        CHECK(Answer(IDYES) == "Remove Kelvo uninstaller test?");
        CHECK(WaitForExit(process) == UninstallDone);
        CHECK(Answer(c.keep) == "Keep " + shared + "?");
        CHECK(Answer(IDOK) == "Done Kelvo uninstaller test");
        CHECK(FileExists(shared) == c.remains);
        CHECK(SharedCount(shared) == -1);
        ForgetSharedCount(shared);
    }
}

namespace {

const char SelfRegistrationKey[] = "Software\\Kelvo Tests\\Self Registration";

// The registration count the test library keeps for its copy at `path`
// (DllRegisterServer adds one, DllUnregisterServer takes one away); 0 when
// it has none.
long Registrations(const std::string& path) {
    HKEY key;
    if (RegOpenKeyA(HKEY_CURRENT_USER, SelfRegistrationKey, &key) != ERROR_SUCCESS) return 0;
    DWORD count = 0, size = sizeof count;
    if (RegQueryValueExA(key, path.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&count), &size) != ERROR_SUCCESS)
        count = 0;
    RegCloseKey(key);
    return static_cast<long>(count);
}

void SetRegistrations(const std::string& path, DWORD count) {
    HKEY key;
    REQUIRE(RegCreateKeyA(HKEY_CURRENT_USER, SelfRegistrationKey, &key) == ERROR_SUCCESS);
    RegSetValueExA(key, path.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof count);
    RegCloseKey(key);
}

}  // namespace

TEST_CASE("self-registered libraries are unregistered before they are removed, unless still counted elsewhere") {
    // In a subfolder, so that the library it needs is found beside it only
    // when the uninstaller loads it as setup did; the needed library comes
    // first in the list, as a set may order its files.
    ScratchFolder scratch("uninstaller-selfreg");
    std::string destination = scratch.Folder("App");
    scratch.Folder("App\\lib");
    std::string fixtures = KELVO_SELFREG_FIXTURES;
    for (const char* name : {"kelvo-selfreg-helper.dll", "kelvo-selfreg.dll"})
        REQUIRE(CopyFileA((fixtures + "\\" + name).c_str(), scratch.Path(std::string("App\\lib\\") + name).c_str(),
                          FALSE));
    REQUIRE(CopyFileA((fixtures + "\\kelvo-selfreg.dll").c_str(), scratch.Path("App\\lib\\counted.dll").c_str(), FALSE));
    std::string library = scratch.Path("App\\lib\\kelvo-selfreg.dll");
    std::string counted = scratch.Path("App\\lib\\counted.dll");
    // As setup's registration left them.
    SetRegistrations(library, 1);
    SetRegistrations(counted, 1);
    SetSharedCount(counted, 2);
    MakeTestKey();
    std::string uninstaller = destination + "\\uninst.exe";
    WriteWholeFile(uninstaller, UninstallerFile({
                                    {".\\lib", "kelvo-selfreg-helper.dll", 0},
                                    {".\\lib", "kelvo-selfreg.dll", LogSelfRegistered},
                                    {".\\lib", "counted.dll", LogSharedLibrary | LogSelfRegistered},
                                }));

    CHECK(WaitForExit(Start(uninstaller + " /X")) == UninstallDone);

    CHECK(Registrations(library) == 0);
    CHECK_FALSE(FileExists(library));
    CHECK_FALSE(FileExists(scratch.Path("App\\lib\\kelvo-selfreg-helper.dll")));
    // Another installation still counts it: it stays, registered.
    CHECK(Registrations(counted) == 1);
    CHECK(FileExists(counted));
    CHECK(SharedCount(counted) == 1);

    ForgetSharedCount(counted);
    HKEY key;
    if (RegOpenKeyA(HKEY_CURRENT_USER, SelfRegistrationKey, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, library.c_str());
        RegDeleteValueA(key, counted.c_str());
        RegCloseKey(key);
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, SelfRegistrationKey);  // only when empty
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Kelvo Tests");
}

namespace {

const char FontsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";

void SetFontValue(const std::string& name, const std::string& data) {
    HKEY key;
    REQUIRE(RegCreateKeyA(HKEY_LOCAL_MACHINE, FontsKey, &key) == ERROR_SUCCESS);
    // With its terminator, as setup stores it.
    RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>(data.size() + 1));
    RegCloseKey(key);
}

bool FontValueExists(const std::string& name) {
    HKEY key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, FontsKey, &key) != ERROR_SUCCESS) return false;
    bool found = RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return found;
}

void DeleteFontValue(const std::string& name) {
    HKEY key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, FontsKey, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, name.c_str());
    RegCloseKey(key);
}

}  // namespace

TEST_CASE("a font leaves the system: its file and the Fonts values that name it go, others stay") {
    ScratchFolder scratch("uninstaller-font");
    std::string destination = scratch.Folder("App");
    std::string name = "kelvo-font-" + Pid() + ".ttf";
    std::string font = scratch.MakeElsewhere(ShellFolder(CSIDL_FONTS) + "\\" + name, ReadWholeFile(KELVO_TEST_FONT));
    REQUIRE(AddFontResourceA(font.c_str()) != 0);
    // Setup names the file alone; a value naming its full path means it too.
    // The two follow each other (by name, as Wine lists values, and by age, as
    // Windows does), so that one removed must not hide the next.
    const struct {
        std::string value, data;
        bool remains;
    } values[] = {
        {"Kelvo Test " + Pid() + " A (TrueType)", name, false},
        {"Kelvo Test " + Pid() + " B (TrueType)", font, false},
        {"Kelvo Test " + Pid() + " C (TrueType)", "other-" + name, true},
    };
    for (const auto& v : values) SetFontValue(v.value, v.data);
    MakeTestKey();
    std::string uninstaller = destination + "\\uninst.exe";
    WriteWholeFile(uninstaller, UninstallerFile({{ShellFolder(CSIDL_FONTS), name, LogFont}}));

    CHECK(WaitForExit(Start(uninstaller + " /X")) == UninstallDone);

    CHECK_FALSE(FileExists(font));
    for (const auto& v : values) {
        CAPTURE(v.value);
        CHECK(FontValueExists(v.value) == v.remains);
        DeleteFontValue(v.value);
    }
    RemoveFontResourceA(font.c_str());
}
