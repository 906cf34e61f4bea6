// Setups run without a person (/QUIET, /PASSIVE): their exit codes, their
// logs, the starting values TARGET and INSTALLSET, the answers to the
// questions nobody is there to answer, and that QUIET shows no window.
#include <windows.h>

#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "tests/support/win32_test_files.h"

namespace {

const DWORD RunLimit = 60000;  // ms
const char ThreeFolder[] = "C:\\Kelvo Install\\Three\\";
const std::string ThreeSources = std::string(KELVO_SOURCE_DIR) + "\\tests\\fixtures\\projects\\install-three\\";

struct RunResult {
    DWORD code;
    bool windowSeen;  // a visible top-level window of the setup appeared
};

struct WindowSearch {
    DWORD process;
    bool found;
};

BOOL CALLBACK NoteVisibleWindow(HWND window, LPARAM parameter) {
    WindowSearch& search = *reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search.process && IsWindowVisible(window)) search.found = true;
    return TRUE;
}

// Runs `setup` with `options` and waits for it, watching its windows.
RunResult RunSetup(const std::string& setup, const std::string& options) {
    std::string line = "\"" + setup + "\" " + options;
    std::vector<char> text(line.begin(), line.end());
    text.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    REQUIRE(CreateProcessA(nullptr, text.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
    CloseHandle(info.hThread);
    WindowSearch search = {info.dwProcessId, false};
    DWORD waited = 0;
    while (WaitForSingleObject(info.hProcess, 20) == WAIT_TIMEOUT && waited < RunLimit) {
        waited += 20;
        EnumWindows(NoteVisibleWindow, reinterpret_cast<LPARAM>(&search));
    }
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(info.hProcess, &code);
    if (code == STILL_ACTIVE) TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hProcess);
    return {code, search.found};
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The log's last line, without its line break.
std::string LastLine(const std::string& log) {
    std::string text = log;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    size_t start = text.rfind('\n');
    return start == std::string::npos ? text : text.substr(start + 1);
}

}  // namespace

TEST_CASE("a quiet run installs with no window, logs every file and ends with 0") {
    ScratchFolder scratch("kelvo unattended");
    RemoveTree("C:\\Kelvo Install");
    std::string log = scratch.Path("setup log.txt");
    RunResult run = RunSetup(FixtureSetup("install-three"), "/QUIET /LOG=\"" + log + "\"");
    CHECK(run.code == 0);
    CHECK_FALSE(run.windowSeen);
    const char* const files[] = {"first.txt", "second.bin", "Docs\\third.txt"};
    const char* const sources[] = {"first.txt", "second.bin", "docs\\third.txt"};
    std::string text = ReadWholeFile(log);
    for (int i = 0; i < 3; i++) {
        CAPTURE(files[i]);
        CHECK(ReadWholeFile(std::string(ThreeFolder) + files[i]) == ReadWholeFile(ThreeSources + sources[i]));
        CHECK(Contains(text, std::string("installed ") + ThreeFolder + files[i] + "\r\n"));
    }
    CHECK(LastLine(text) == "exit code 0: installed");
    RemoveTree("C:\\Kelvo Install");
}

TEST_CASE("starting values and mistakes on the command line end with their codes") {
    ScratchFolder scratch("kelvo unattended values");
    struct Case {
        const char* project;
        std::string options;
        DWORD code;
        const char* installed;  // a file that must be there afterwards, or null
        const char* logPart;
    };
    const Case cases[] = {
        // TARGET, quoted with blanks, creates the missing folders.
        {"install-three", "/QUIET /TARGET=\"C:\\Kelvo Install\\With Blanks\\Deep\"", 0,
         "C:\\Kelvo Install\\With Blanks\\Deep\\first.txt", "destination C:\\Kelvo Install\\With Blanks\\Deep\\"},
        // INSTALLSET by display name in any case, and by number from 0.
        {"pages-sets", "/quiet /installset=bEtA", 0, "C:\\Kelvo Pages\\Beta\\beta.txt", "exit code 0"},
        {"pages-sets", "/PASSIVE /INSTALLSET=0", 0, "C:\\Kelvo Pages\\Alpha\\payload.txt", "exit code 0"},
        {"pages-sets", "/QUIET /INSTALLSET=7", 1639, nullptr, "invalid 7: the setup has no such install set"},
        {"pages-sets", "/QUIET /INSTALLSET=\"No Such Set\"", 1639, nullptr, "exit code 1639"},
        {"install-three", "/QUIET /TARGET=relative\\folder", 1639, nullptr, "the folder is not a full path"},
        {"install-three", "/QUIET /TARGET", 1639, nullptr, "exit code 1639: the command line is invalid"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.options);
        RemoveTree("C:\\Kelvo Install");
        RemoveTree("C:\\Kelvo Pages");
        std::string log = scratch.Path("values.log");
        DeleteFileA(log.c_str());
        RunResult run = RunSetup(FixtureSetup(c.project), c.options + " /LOG=\"" + log + "\"");
        CHECK(run.code == c.code);
        if (c.installed != nullptr) CHECK(FileExists(c.installed));
        CHECK(Contains(ReadWholeFile(log), c.logPart));
    }
    RemoveTree("C:\\Kelvo Install");
    RemoveTree("C:\\Kelvo Pages");
}

TEST_CASE("the questions nobody answers get their documented answers") {
    ScratchFolder scratch("kelvo unattended answers");
    std::string log = scratch.Path("answers.log");

    SUBCASE("a locked file is tried again, then left for the restart: 3010 with NORESTART") {
        RemoveTree("C:\\Kelvo Install");
        std::string locked = std::string(ThreeFolder) + "first.txt";
        CreateDirectoryA("C:\\Kelvo Install", nullptr);
        CreateDirectoryA(ThreeFolder, nullptr);
        WriteWholeFile(locked, std::string("an old file held open"));
        HANDLE held = CreateFileA(locked.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        REQUIRE(held != INVALID_HANDLE_VALUE);
        RunResult run = RunSetup(FixtureSetup("install-three"), "/QUIET /NORESTART /LOG=\"" + log + "\"");
        CloseHandle(held);
        CHECK(run.code == 3010);
        std::string text = ReadWholeFile(log);
        CHECK(Contains(text, "left for the restart " + locked + ": it is in use"));
        CHECK(LastLine(text) == "exit code 3010: installed; a restart completes the installation");
        std::vector<std::string> pending = PendingOperations();
        bool scheduled = false;
        for (size_t i = 1; i < pending.size(); i += 2) scheduled |= Contains(pending[i], "first.txt");
        CHECK(scheduled);
        ForgetPendingOperations(ThreeFolder);
        RemoveTree("C:\\Kelvo Install");
    }
    SUBCASE("too little space is a failure: 112") {
        ULARGE_INTEGER available, total, free;
        if (!GetDiskFreeSpaceExA("S:\\", &available, &total, &free) || total.QuadPart >= 16u * 1024 * 1024) {
            MESSAGE("no small drive S: in this session; the space answer is not checked");
            return;
        }
        RunResult run = RunSetup(FixtureSetup("pages-space"), "/QUIET /TARGET=S:\\Space /LOG=\"" + log + "\"");
        CHECK(run.code == 112);
        CHECK(LastLine(ReadWholeFile(log)) == "exit code 112: there is not enough free space on the drive");
        RemoveTree("S:\\Space");
    }
}

TEST_CASE("a second copy started while one runs ends at once with 1618") {
    // A window of the running setup's class stands for the running copy.
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KelvoClass";
    RegisterClassA(&windowClass);
    HWND running = CreateWindowExA(0, "KelvoClass", "running", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
    REQUIRE(running != nullptr);
    RemoveTree("C:\\Kelvo Install");
    RunResult run = RunSetup(FixtureSetup("install-three"), "/QUIET");
    DestroyWindow(running);
    UnregisterClassA("KelvoClass", GetModuleHandleA(nullptr));
    CHECK(run.code == 1618);
    CHECK_FALSE(FileExists(std::string(ThreeFolder) + "first.txt"));
}
