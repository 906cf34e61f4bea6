// Folders whose names the ANSI code page cannot hold: this test runs with
// LANG=en_US.UTF-8 (CMakeLists.txt), so Wine's ANSI code page is 1252, which
// has no Cyrillic letters. A temporary folder named in Cyrillic, as a
// Russian user name puts in a profile, comes back by its short name; setup
// relocates into it and the uninstaller hands over to its copy there.
#include <windows.h>

#include <doctest/doctest.h>
#include <string.h>
#include <wchar.h>

#include <algorithm>
#include <string>

#include "common/paths.h"
#include "common/system_paths.h"
#include "tests/windows/support/code_page_setup.h"
#include "uninstall/uninstall_start.h"

using namespace code_page_setup;

namespace {

const char StartupTitle[] = "Kelvo Start-up Test";  // tests/fixtures/projects/startup

std::wstring WideTempFolder() {
    wchar_t folder[MAX_PATH];
    REQUIRE(GetTempPathW(MAX_PATH, folder) != 0);
    return folder;
}

std::wstring FromAnsi(const std::string& text) {
    wchar_t wide[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, MAX_PATH);
    return wide;
}

std::wstring LongName(const std::wstring& path) {
    wchar_t name[MAX_PATH] = {};
    GetLongPathNameW(path.c_str(), name, MAX_PATH);
    return name;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return static_cast<char>(tolower(c)); });
    return text;
}

bool IsPendingPath(const std::string& path) {
    for (const std::string& pending : PendingOperations())
        if (Lower(pending).find(Lower(path)) != std::string::npos) return true;
    return false;
}

// A fresh folder of the given name in the temporary folder, removed with
// everything in it at the end.
class WideFolder {
public:
    explicit WideFolder(const std::wstring& name)
        : path(WideTempFolder() + name + L" " + std::to_wstring(GetCurrentProcessId())) {
        Remove();
        REQUIRE(CreateDirectoryW(path.c_str(), nullptr));
    }
    ~WideFolder() { Remove(); }
    WideFolder(const WideFolder&) = delete;
    WideFolder& operator=(const WideFolder&) = delete;
    // Its path in the ANSI code page, as the programs use it.
    std::string Ansi() const {
        char ansi[PathCapacity];
        REQUIRE(PutAnsiPath(path.c_str(), ansi));
        return ansi;
    }

    std::wstring path;

private:
    void Remove() {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                std::wstring file = path + L"\\" + found.cFileName;
                SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(file.c_str());
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(path.c_str());
    }
};

const wchar_t CyrillicName[] = L"Kelvo \u0422\u0435\u0441\u0442";  // "Тест"

// This process's environment with TEMP and TMP naming `folder`.
std::wstring EnvironmentWithTemp(const std::wstring& folder) {
    std::wstring block;
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* p = strings; *p != L'\0'; p += wcslen(p) + 1) {
        if (_wcsnicmp(p, L"TEMP=", 5) == 0 || _wcsnicmp(p, L"TMP=", 4) == 0) continue;
        block.append(p, wcslen(p) + 1);
    }
    FreeEnvironmentStringsW(strings);
    for (const wchar_t* name : {L"TEMP=", L"TMP="}) block.append(name + folder + L'\0');
    return block;  // its own terminator ends the block
}

// Sets the variable for the length of a test.
class TempVariables {
public:
    explicit TempVariables(const std::wstring& folder) {
        for (int i = 0; i < 2; i++) {
            before[i].resize(MAX_PATH);
            before[i].resize(GetEnvironmentVariableW(names[i], &before[i][0], MAX_PATH));
            SetEnvironmentVariableW(names[i], folder.c_str());
        }
    }
    ~TempVariables() {
        for (int i = 0; i < 2; i++) SetEnvironmentVariableW(names[i], before[i].empty() ? nullptr : before[i].c_str());
    }

private:
    const wchar_t* names[2] = {L"TEMP", L"TMP"};
    std::wstring before[2];
};

}  // namespace

TEST_CASE("the system code page here is 1252, without Cyrillic letters") { REQUIRE(GetACP() == 1252); }

TEST_CASE("a folder the code page cannot name comes back by its short name, one it can by its own") {
    REQUIRE(GetACP() == 1252);
    WideFolder cyrillic(CyrillicName);
    std::string ansi = cyrillic.Ansi();
    CHECK(ansi.find('?') == std::string::npos);
    CHECK(GetFileAttributesA(ansi.c_str()) == FILE_ATTRIBUTE_DIRECTORY);
    CHECK(LongName(FromAnsi(ansi)) == cyrillic.path);

    WideFolder western(L"Kelvo Caf\u00E9");
    CHECK(FromAnsi(western.Ansi()) == western.path);

    // The temporary folder, and the program's own file, through the helpers.
    TempVariables temp(cyrillic.path);
    char path[PathCapacity];
    REQUIRE(GetTempFolderPath(path));
    CHECK(std::string(path) == ansi + "\\");
    REQUIRE(GetOwnProgramPath(path));
    CHECK(GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES);
}

TEST_CASE("a setup on a removable disk relocates into a temporary folder the code page cannot name") {
    REQUIRE(GetACP() == 1252);
    REQUIRE(GetDriveTypeA("A:\\") == DRIVE_REMOVABLE);
    WideFolder temp(CyrillicName);
    WriteWholeFile("A:\\startup-cyrillic.exe", ReadWholeFileBytes(FixtureSetup("startup")));

    std::wstring line = L"A:\\startup-cyrillic.exe";
    std::wstring environment = EnvironmentWithTemp(temp.path);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    REQUIRE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT, &environment[0],
                           nullptr, &startup, &process));
    CloseHandle(process.hThread);
    CHECK(WaitForSingleObject(process.hProcess, Patience) == WAIT_OBJECT_0);
    CloseHandle(process.hProcess);

    // The copy runs from the temporary folder, by its short name, and will
    // be deleted at the restart by that name.
    HWND window = WaitForVisibleWindow("KelvoClass", StartupTitle, Patience);
    REQUIRE(window != nullptr);
    std::wstring copy = temp.path + L"\\_inst1.exe";
    CHECK(ExistsWide(copy));
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    HANDLE running = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    REQUIRE(running != nullptr);
    wchar_t image[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    CHECK(QueryFullProcessImageNameW(running, 0, image, &size));
    CHECK(LongName(image) == copy);
    CHECK(IsPendingPath(temp.Ansi() + "\\_inst1.exe"));

    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    CHECK(WaitForSingleObject(running, Patience) == WAIT_OBJECT_0);
    CloseHandle(running);
    ForgetPendingOperations(temp.Ansi());
    DeleteFileA("A:\\startup-cyrillic.exe");
}

TEST_CASE("an uninstaller hands over to its copy in a temporary folder the code page cannot name") {
    REQUIRE(GetACP() == 1252);
    WideFolder temp(CyrillicName);
    ScratchFolder scratch("ansi-paths");
    std::string destination = scratch.Folder("App") + "\\";
    std::string uninstaller;
    {
        InstalledSet set(destination, false);
        uninstaller = set.uninstaller;
    }
    REQUIRE(FileExists(destination + "QQRR.txt"));

    std::wstring environment = EnvironmentWithTemp(temp.path);
    CHECK(RunUninstaller(FromAnsi(uninstaller), environment.c_str()) == UninstallDone);
    CHECK(GoneWide(FromAnsi(uninstaller)));
    CHECK_FALSE(FileExists(destination + "QQRR.txt"));
    CHECK_FALSE(FileExists(destination + "QQ\\RR\\aRR.txt"));
    CHECK_FALSE(FileExists(destination));
    // The copy ran from the Cyrillic folder and goes at the restart.
    CHECK(ExistsWide(temp.path + L"\\_uninst1.exe"));
    CHECK(IsPendingPath(temp.Ansi() + "\\_uninst1.exe"));
    ForgetPendingOperations(temp.Ansi());
}
