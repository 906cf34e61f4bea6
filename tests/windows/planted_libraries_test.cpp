// Libraries planted beside the setup and uninstall programs, and beside
// their copies in the temporary folder, under the names of system libraries
// that are no KnownDLLs. Wine runs this file with those names native-first
// (KELVO_WINE_DLL_OVERRIDES, see CMakeLists.txt), so Wine, like Windows,
// would load a planted copy found beside the program before its own. Each
// planted library leaves a marker file when it loads (fixtures/
// planted_library.cpp); none may appear.
//
// version.dll is planted only in the in-process case: Wine's own user32
// imports it, so under Wine every window program loads a version.dll found
// beside it at start-up, before a line of its code runs. Windows' user32 does
// not, and the build's import check keeps the programs' own import tables to
// the KnownDLLs.
#include <windows.h>

#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "common/system_libraries.h"
#include "tests/support/dialogs.h"
#include "tests/support/win32_test_files.h"

namespace {

const char* const PlantedNames[] = {"comctl32.dll", "comdlg32.dll", "uxtheme.dll", "shfolder.dll", "userenv.dll",
                                    "dwmapi.dll",   "cryptbase.dll", "propsys.dll", "profapi.dll",  "apphelp.dll",
                                    "oleacc.dll",   "msimg32.dll",  "winmm.dll",   "riched20.dll", "sspicli.dll",
                                    "secur32.dll",  "ntmarta.dll",  "wintrust.dll"};
const std::string PlantedLibrary = std::string(KELVO_PLANTED_FIXTURES) + "\\kelvo-planted.dll";
const std::string Probe = std::string(KELVO_PLANTED_FIXTURES) + "\\kelvo-planted-probe.exe";
const char InstalledFolder[] = "C:\\Kelvo Planted";
const char UninstallCaption[] = "Uninstall";
const DWORD WaitLimit = 30000;  // ms; only reached when something is wrong

std::string Marker(const std::string& library) { return library + ".loaded"; }

// Planted libraries in a folder, removed again with their markers.
class Planted {
public:
    Planted(const std::string& folder, std::vector<std::string> names) : folder(folder) {
        std::vector<u8> image = ReadWholeFileBytes(PlantedLibrary);
        REQUIRE(!image.empty());
        for (const std::string& name : names) {
            std::string path = Path(name);
            DeleteFileA(Marker(path).c_str());
            WriteWholeFile(path, image);
            paths.push_back(path);
        }
    }
    ~Planted() {
        for (const std::string& path : paths) {
            DeleteFileA(path.c_str());
            DeleteFileA(Marker(path).c_str());
        }
    }
    Planted(const Planted&) = delete;
    Planted& operator=(const Planted&) = delete;

    std::string Path(const std::string& name) const { return folder + "\\" + name; }
    // The libraries that were loaded, one a line.
    std::string Loaded() const {
        std::string loaded;
        for (const std::string& path : paths)
            if (FileExists(Marker(path))) loaded += path + "\n";
        return loaded;
    }

private:
    std::string folder;
    std::vector<std::string> paths;
};

std::vector<std::string> AllNames() { return std::vector<std::string>(std::begin(PlantedNames), std::end(PlantedNames)); }

std::string WithoutBackslash(std::string folder) {
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    return folder;
}

struct Started {
    HANDLE process;
    DWORD id;
};

Started Start(const std::string& commandLine) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    REQUIRE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
    CloseHandle(info.hThread);
    return {info.hProcess, info.dwProcessId};
}

// The exit code; STILL_ACTIVE (after ending the process) when it ran too long.
DWORD Finish(HANDLE process) {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process, WaitLimit) == WAIT_OBJECT_0) GetExitCodeProcess(process, &code);
    if (code == STILL_ACTIVE) TerminateProcess(process, 1);
    CloseHandle(process);
    return code;
}

DWORD Run(const std::string& commandLine) { return Finish(Start(commandLine).process); }

// Presses `button` in the uninstaller's next message box and returns its text.
std::string Answer(int button) {
    HWND box = WaitForVisibleWindow(DialogWindowClass, UninstallCaption, WaitLimit);
    REQUIRE_MESSAGE(box != nullptr, "no message box appeared");
    std::string text = MessageBoxText(box);
    PressDialogButton(box, button, WaitLimit);
    return text;
}

}  // namespace

// First in this file: the search is narrowed for the rest of the process.
TEST_CASE("the library service takes system libraries from the system folder, in both of its ways") {
    char own[MAX_PATH];
    REQUIRE(GetModuleFileNameA(nullptr, own, MAX_PATH) != 0);
    std::string folder = own;
    folder.erase(folder.rfind('\\'));
    Planted planted(folder, {"kelvo-planted-beside.dll"});
    std::string beside = planted.Path("kelvo-planted-beside.dll");

    // Loaded by name, the library beside the program is found.
    CHECK(LoadLibraryA("kelvo-planted-beside.dll") == nullptr);
    CHECK(FileExists(Marker(beside)));
    DeleteFileA(Marker(beside).c_str());

    // Full paths first (as on Windows 98), then by name in the narrowed search.
    for (bool narrowed : {false, true}) {
        CAPTURE(narrowed);
        if (narrowed) RestrictLibrarySearch();
        CHECK(SystemFunction("version.dll", "GetFileVersionInfoSizeA") != nullptr);
        CHECK(SystemFunction("comctl32.dll", "InitCommonControls") != nullptr);
        CHECK(SystemFunction("comdlg32.dll", "GetSaveFileNameA") != nullptr);
        CHECK(SystemFunction("version.dll", "NoSuchFunction") == nullptr);
        CHECK(LoadSystemLibrary("kelvo-planted-beside.dll") == nullptr);
        CHECK_FALSE(FileExists(Marker(beside)));
    }
    // What a system library loads by name later stays in the system folder too.
    CHECK(LoadLibraryA("kelvo-planted-beside.dll") == nullptr);
    CHECK_FALSE(FileExists(Marker(beside)));
}

TEST_CASE("a planted library beside a program that loads it by name is loaded: the markers work") {
    ScratchFolder scratch("kelvo-planted-probe");
    std::string probe = scratch.Path("probe.exe");
    WriteWholeFile(probe, ReadWholeFileBytes(Probe));
    Planted planted(WithoutBackslash(scratch.Root()), {"comctl32.dll"});
    CHECK(Run("\"" + probe + "\" comctl32.dll") == 1);  // the planted library fails its load
    CHECK(planted.Loaded() == planted.Path("comctl32.dll") + "\n");
}

TEST_CASE("setup and uninstaller load no planted library: beside them, nor beside their copies in the temporary folder") {
    ScratchFolder scratch("kelvo-planted");
    RemoveTree(InstalledFolder);
    Planted inTemp(WithoutBackslash(TempFolder()), AllNames());

    SUBCASE("a quiet setup from a downloads folder, and the uninstaller it installs, started normally") {
        std::string setup = scratch.Path("kelvo-planted-setup.exe");
        WriteWholeFile(setup, ReadWholeFileBytes(FixtureSetup("planted")));
        Planted downloads(WithoutBackslash(scratch.Root()), AllNames());
        CHECK(Run("\"" + setup + "\" /QUIET") == 0);
        CHECK(downloads.Loaded() == "");
        std::string installed = std::string(InstalledFolder) + "\\app.txt";
        REQUIRE(FileExists(installed));

        // The uninstaller asks, hands over to its copy in the temporary
        // folder, which shows its progress (the common controls) and reports.
        std::string uninstaller = std::string(InstalledFolder) + "\\uninst.exe";
        REQUIRE(FileExists(uninstaller));
        {
            Planted besideUninstaller(InstalledFolder, AllNames());
            Started started = Start("\"" + uninstaller + "\"");
            CHECK(Answer(IDYES).find("Kelvo Planted") != std::string::npos);
            CHECK(Finish(started.process) == 0);
            CHECK(Answer(IDNO).find("shared file") != std::string::npos);  // keep it? no
            CHECK(Answer(IDOK).find("was removed") != std::string::npos);
            CHECK(besideUninstaller.Loaded() == "");
        }
        CHECK_FALSE(FileExists(installed));
    }

    SUBCASE("a setup on a removable disk, and its copy in the temporary folder") {
        Planted onDisk("A:", AllNames());
        WriteWholeFile("A:\\kelvo-planted.exe", ReadWholeFileBytes(FixtureSetup("startup")));
        CHECK(Run("A:\\kelvo-planted.exe") == 0);  // hands over to the copy and ends
        HWND window = WaitForVisibleWindow("KelvoClass", "Kelvo Start-up Test", WaitLimit);
        REQUIRE(window != nullptr);
        DWORD id = 0;
        GetWindowThreadProcessId(window, &id);
        HANDLE copy = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, id);
        REQUIRE(copy != nullptr);
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        CHECK(Finish(copy) == 0);
        CHECK(onDisk.Loaded() == "");
        DeleteFileA("A:\\kelvo-planted.exe");
    }
    CHECK(inTemp.Loaded() == "");
    RemoveTree(InstalledFolder);
}
