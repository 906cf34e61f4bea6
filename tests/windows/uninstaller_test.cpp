// kelvo-uninstall.exe run on a log written by hand: it removes what the log
// lists and nothing else, refuses records outside the places it may touch,
// honours shared counts, leaves files in use to the next restart, and on a
// normal start asks before it does anything.
#include <doctest/doctest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "archive/records.h"
#include "archive/uninstall_log_format.h"
#include "tests/support/win32_test_files.h"
#include "uninstall/settings_record.h"
#include "uninstall/uninstall_start.h"
#include "uninstall/uninstall_texts.h"

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
    const char* const strings[] = {Caption, "Remove %s?", "Keep %s?", "Removing %s", "Done %s", "Restart %s", "No log"};
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

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

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

std::string PendingRenames() {
    HKEY key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", &key) != ERROR_SUCCESS)
        return "";
    std::vector<char> data(65536);
    DWORD size = static_cast<DWORD>(data.size());
    LONG result = RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? std::string(data.data(), size) : "";
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
    for (DWORD waited = 0; waited < ProcessPatience; waited += 50) {
        HWND box = FindWindowA("#32770", Caption);
        if (box != nullptr && IsWindowVisible(box)) {
            char text[1024] = "";
            GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
            PostMessageA(box, WM_COMMAND, static_cast<WPARAM>(button), 0);
            // The next box must not be taken for this one while it closes.
            for (DWORD closing = 0; IsWindow(box) && closing < ProcessPatience; closing += 20) Sleep(20);
            return text;
        }
        Sleep(50);
    }
    FAIL("no message box appeared");
    return "";
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
    std::string inUse = scratch.Make("App\\busy.txt", "in use");
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
        {{".", "two.dll", LogSharedLibrary}, "App\\two.dll", true},  // still counted once
        {{".", "one.dll", LogSharedLibrary}, "App\\one.dll", true},  // without questions a shared file stays
        {{".\\..", "outside.txt", 0}, "outside.txt", true},         // climbs out of the destination: refused
        {{".", "..\\outside.txt", 0}, "outside.txt", true},
        {{scratch.Root(), "outside.txt", 0}, "outside.txt", true},  // an absolute folder setup never installs to
        {{".", "busy.txt", 0}, "App\\busy.txt", true},               // in use: left for the restart
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
        CHECK(Exists(scratch.Path(e.path)) == e.remains);
    }
    CHECK(Exists(scratch.Path("App\\kept.txt")));
    CHECK(Exists(uninstaller));  // the waiting setup deletes it
    CHECK(SharedCount(dll2) == 1);
    CHECK(SharedCount(dll1) == -1);
    CHECK_FALSE(KeyExists(TestKey));
    CHECK(PendingRenames().find(inUse) != std::string::npos);
    SetSharedCount(dll2, 0);
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
    CHECK(Exists(file));
    CHECK(KeyExists(TestKey));

    HANDLE second = Start("\"" + uninstaller + "\"");
    CHECK(Answer(IDYES) == "Remove Kelvo uninstaller test?");
    CHECK(WaitForExit(second) == UninstallDone);
    // The copy in the temporary folder asks about the shared file, then reports.
    CHECK(Answer(IDNO) == "Keep " + shared + "?");
    CHECK(Answer(IDOK) == "Done Kelvo uninstaller test");
    CHECK_FALSE(Exists(file));
    CHECK_FALSE(Exists(shared));
    CHECK_FALSE(KeyExists(TestKey));
    for (int i = 0; i < 100 && Exists(uninstaller); i++) Sleep(50);
    CHECK_FALSE(Exists(uninstaller));
    CHECK_FALSE(Exists(destination));  // emptied, so it went too
    CHECK(PendingRenames().find("_uninst") != std::string::npos);  // the copy goes at the restart
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
    CHECK_FALSE(Exists(windowsIni));  // nothing left in it
    CHECK(ProfileText(ownIni, "App", "Key") == "(none)");
    CHECK(ProfileText(ownIni, "App", "Other") == "2");
    char sections[256] = {};
    DWORD length = GetPrivateProfileSectionNamesA(sections, sizeof sections, ownIni.c_str());
    CHECK(std::string(sections, length) == std::string("App\0Kept\0", 9));  // the emptied [Gone] went
    CHECK(ProfileText(ownIni, "Kept", "K") == "mine");  // not what setup would have written
    CHECK_FALSE(Exists(missingIni));  // never made

    RegDeleteKeyA(HKEY_LOCAL_MACHINE, shared);
    RegDeleteKeyA(HKEY_CURRENT_USER, kept);
}
