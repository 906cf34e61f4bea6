// Start-up of real setups under Wine: relocation from the removable drive A:,
// no relocation from the network drive N:, one running copy at a time, and
// the ends of setups that cannot load. The setup is built from
// tests/fixtures/projects/startup before these tests run.
#include <windows.h>

#include <doctest/doctest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/paths.h"
#include "control/command_line.h"
#include "control/relocation.h"
#include "tests/support/dialogs.h"
#include "tests/support/win32_test_files.h"

namespace {

const char StartupProject[] = "startup";  // tests/fixtures/projects/startup
const char SetupTitle[] = "Kelvo Start-up Test";
const DWORD WaitLimit = 20000;  // ms; only reached when something is wrong

std::string CopyName(u32 n) { return TempFolder() + "_inst" + std::to_string(n) + ".exe"; }

u32 FirstFreeCopyNumber() {
    u32 n = 1;
    while (FileExists(CopyName(n))) n++;
    return n;
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

// The exit code, or STILL_ACTIVE when the process did not end in time.
DWORD WaitForExit(HANDLE process) {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process, WaitLimit) == WAIT_OBJECT_0) GetExitCodeProcess(process, &code);
    return code;
}

DWORD Run(const std::string& commandLine) {
    Started started = Start(commandLine);
    DWORD code = WaitForExit(started.process);
    if (code == STILL_ACTIVE) TerminateProcess(started.process, 1);
    CloseHandle(started.process);
    return code;
}

HWND WaitForSetupWindow() { return WaitForVisibleWindow("KelvoClass", SetupTitle, WaitLimit); }

DWORD WindowProcessId(HWND window) {
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    return id;
}

std::string ProcessImage(DWORD id) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (process == nullptr) return "";
    char image[MAX_PATH];
    DWORD size = sizeof image;
    std::string result = QueryFullProcessImageNameA(process, 0, image, &size) ? image : "";
    CloseHandle(process);
    return result;
}

// Closes the setup window as a user would (the close command cancels the
// wizard) and returns the setup's exit code.
DWORD CloseSetup(HWND window) {
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, WindowProcessId(window));
    REQUIRE(process != nullptr);
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    DWORD code = WaitForExit(process);
    if (code == STILL_ACTIVE) TerminateProcess(process, 1);
    CloseHandle(process);
    return code;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return static_cast<char>(tolower(c)); });
    return text;
}

// Every path the system will rename or delete at the next restart, one a line.
std::string PendingRestartOperations() {
    std::string lines;
    for (const std::string& path : PendingOperations()) lines += path + "\n";
    return lines;
}

// A message box of the setup, found by its caption.
HWND WaitForMessageBox() { return WaitForVisibleWindow(DialogWindowClass, SetupTitle, WaitLimit); }

}  // namespace

TEST_CASE("a setup on a removable disk hands over to a copy in the temporary folder") {
    std::vector<u8> setup = ReadWholeFileBytes(FixtureSetup(StartupProject));
    REQUIRE(!setup.empty());
    u32 offset = ArchiveOffsetOf(setup);
    REQUIRE(GetDriveTypeA("A:\\") == DRIVE_REMOVABLE);
    WriteWholeFile("A:\\startup.exe", setup);

    // The first free name is taken already: the copy gets the next one.
    u32 taken = FirstFreeCopyNumber();
    WriteWholeFile(CopyName(taken), "");
    std::string copy = CopyName(taken + 1);

    CHECK(Run("A:\\startup.exe") == 0);
    HWND window = WaitForSetupWindow();
    REQUIRE(window != nullptr);

    std::vector<u8> copied = ReadWholeFileBytes(copy);
    CHECK(copied.size() == offset);
    CHECK(std::equal(copied.begin(), copied.end(), setup.begin()));
    // The copy runs (it has no archive of its own: the title came from the
    // setup on A: through the S option) and will delete itself at restart.
    CHECK(Lower(ProcessImage(WindowProcessId(window))) == Lower(copy));
    CHECK(Lower(PendingRestartOperations()).find(Lower(copy)) != std::string::npos);
    // Started from A: with the DEL option, the copy did not relocate again.
    CHECK_FALSE(FileExists(CopyName(taken + 2)));

    CHECK(CloseSetup(window) == 0);
    DeleteFileA(copy.c_str());
    DeleteFileA(CopyName(taken).c_str());
    DeleteFileA("A:\\startup.exe");
}

TEST_CASE("a setup on a network drive runs in place") {
    REQUIRE(GetDriveTypeA("N:\\") == DRIVE_REMOTE);
    WriteWholeFile("N:\\startup.exe", ReadWholeFileBytes(FixtureSetup(StartupProject)));
    u32 free = FirstFreeCopyNumber();
    Started started = Start("N:\\startup.exe");
    HWND window = WaitForSetupWindow();
    REQUIRE(window != nullptr);
    CHECK(WindowProcessId(window) == started.id);
    CHECK_FALSE(FileExists(CopyName(free)));
    CHECK(CloseSetup(window) == 0);
    CloseHandle(started.process);
    DeleteFileA("N:\\startup.exe");
}

TEST_CASE("a second start brings the running copy forward and ends") {
    std::string path = TempFolder() + "kelvo-startup-single.exe";
    WriteWholeFile(path, ReadWholeFileBytes(FixtureSetup(StartupProject)));
    Started first = Start("\"" + path + "\"");
    HWND window = WaitForSetupWindow();
    REQUIRE(window != nullptr);
    ShowWindow(window, SW_MINIMIZE);
    REQUIRE(IsIconic(window));

    CHECK(Run("\"" + path + "\"") == 0);
    CHECK_FALSE(IsIconic(window));
    CHECK(FindWindowExA(nullptr, window, "KelvoClass", nullptr) == nullptr);  // still one copy

    CHECK(CloseSetup(window) == 0);
    CloseHandle(first.process);
    DeleteFileA(path.c_str());
}

TEST_CASE("a setup that cannot load ends with -1") {
    const DWORD CannotRun = static_cast<DWORD>(-1);
    std::string path = TempFolder() + "kelvo-startup-load.exe";
    std::vector<u8> setup = ReadWholeFileBytes(FixtureSetup(StartupProject));

    SUBCASE("an empty S option: nothing to read, no message") {
        WriteWholeFile(path, setup);
        CHECK(Run("\"" + path + "\" /S \"\"") == CannotRun);
    }
    SUBCASE("an S option naming no file") {
        WriteWholeFile(path, setup);
        CHECK(Run("\"" + path + "\" /S\"C:\\no such folder\\setup.exe\"") == CannotRun);
    }
    SUBCASE("file contents cut off: the setup says so") {
        setup.resize(setup.size() - 10);
        WriteWholeFile(path, setup);
        Started started = Start("\"" + path + "\"");
        HWND box = WaitForMessageBox();
        REQUIRE(box != nullptr);
        CHECK(MessageBoxText(box) == "The setup file is incomplete.");
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        CHECK(WaitForExit(started.process) == CannotRun);
        CloseHandle(started.process);
    }
    DeleteFileA(path.c_str());
}

TEST_CASE("the relocated copy's command line survives the longest paths") {
    struct Case {
        std::string copy, source, program;  // program: how the copy's name is written
    };
    std::string longCopy = "C:\\" + std::string(240, 't') + "\\_inst998.exe";
    std::string blankCopy = "C:\\Documents and Settings\\" + std::string(220, 'u') + "\\_inst3.exe";
    const Case cases[] = {
        {"C:\\TEMP\\_inst1.exe", "A:\\SETUP.EXE", "C:\\TEMP\\_inst1.exe"},
        {"C:\\TEMP\\_inst2.exe", "A:\\My Setup\\Disk One\\setup.exe", "C:\\TEMP\\_inst2.exe"},
        {longCopy, "\\\\server\\" + std::string(240, 's') + "\\a b.exe", longCopy},
        {blankCopy, "A:\\" + std::string(255, 'a'), "\"" + blankCopy + "\""},
    };
    for (const Case& c : cases) {
        CAPTURE(c.source);
        REQUIRE(c.copy.size() < PathCapacity);
        REQUIRE(c.source.size() < PathCapacity);
        char command[RelocationCommandCapacity];
        FormatRelocationCommand(command, c.copy.c_str(), c.source.c_str());
        std::string expected = c.program + " /S\"" + c.source + "\" /DEL";
        CHECK(std::string(command) == expected);
        // What the copy reads after its own name sets both options.
        REQUIRE(AllocatePathBuffers());
        RunOptions options;
        ReadCommandLine(command + c.program.size() + 1, &options);
        CHECK(options.deleteSelf);
        CHECK(std::string(SourcePath) == c.source);
        ReleasePathBuffers();
    }
}
