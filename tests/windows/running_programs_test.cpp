// Removing the earlier installations of the other sets of the fixture setup
// tests/fixtures/projects/uninstall-log: the registered uninstaller (a
// stand-in that records its command line beside itself) is run with "/X",
// waited for and deleted (kept when it refused a damaged log); sets that do
// not qualify run nothing.
#include <windows.h>

#include <doctest/doctest.h>

#include <string>

#include "archive/loader.h"
#include "archive/script.h"
#include "archive/uninstall_log_format.h"
#include "common/paths.h"
#include "engine/running_programs.h"

#include "tests/support/win32_test_files.h"

namespace {

const char Root[] = "C:\\Kelvo Earlier";
// Blanks in the path: it must reach the system as one program name.
const char Uninstaller[] = "C:\\Kelvo Earlier\\Other Set\\uninst one.exe";
const std::string Arguments = std::string(Uninstaller) + ".args";
const std::string ExitCode = std::string(Uninstaller) + ".exit";
const u32 MainSet = 0, OtherSet = 1, PlainSet = 2;  // set 2 has no uninstaller entry
const char* const DisplayNames[] = {"Kelvo Log Test", "Kelvo Log Other", "Kelvo Log Plain"};

std::string UninstallKey(u32 set) { return std::string(UNINSTALL_KEY_PREFIX) + DisplayNames[set]; }

void RemoveTraces() {
    RemoveTree(Root);
    for (u32 set = 0; set < 3; set++) RegDeleteKeyA(HKEY_LOCAL_MACHINE, UninstallKey(set).c_str());
}

// Registers Uninstaller as set `set`'s, as its setup run would have.
void Register(u32 set) {
    HKEY key;
    REQUIRE(RegCreateKeyA(HKEY_LOCAL_MACHINE, UninstallKey(set).c_str(), &key) == ERROR_SUCCESS);
    RegSetValueExA(key, "UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(Uninstaller),
                   sizeof Uninstaller);
    RegCloseKey(key);
}

}  // namespace

TEST_CASE("the other sets' registered uninstallers run with /X and are deleted, others are left alone") {
    struct Case {
        const char* what;
        u32 current, registered;
        bool present, runs;
        const char* exitCode;  // what the uninstaller ends with, when not 0
        bool kept;             // the uninstaller stays after its run
    };
    const Case cases[] = {
        {"another set's uninstaller", MainSet, OtherSet, true, true, nullptr, false},
        {"it left files for the restart", MainSet, OtherSet, true, true, "3010", false},
        {"it refused its damaged log, removing nothing", MainSet, OtherSet, true, true, "1610", true},
        {"its file was deleted by hand", MainSet, OtherSet, false, false, nullptr, false},
        {"the current set's own", OtherSet, OtherSet, true, false, nullptr, false},
        {"a set without an uninstaller entry", MainSet, PlainSet, true, false, nullptr, false},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        RemoveTraces();
        CreateDirectoryA(Root, nullptr);
        CreateDirectoryA("C:\\Kelvo Earlier\\Other Set", nullptr);
        if (c.present) REQUIRE(CopyFileA(KELVO_RECORDING_UNINSTALLER, Uninstaller, FALSE));
        if (c.exitCode != nullptr) WriteWholeFile(ExitCode, c.exitCode);
        Register(c.registered);

        REQUIRE(AllocatePathBuffers());
        std::string setup = FixtureSetup("uninstall-log");
        CopyPath(SourcePath, setup.c_str(), PathCapacity);
        REQUIRE(ReadSetupArchive(ArchiveOffsetOf(ReadWholeFileBytes(setup)), nullptr) == LoadOk);
        SelectInstallSet(c.current);
        RunEarlierUninstallers();
        ReleaseSetupScript();
        ReleasePathBuffers();

        if (c.runs) {
            CHECK(ReadWholeFile(Arguments) == "\"" + std::string(Uninstaller) + "\" /X\r\n");
            CHECK(FileExists(Uninstaller) == c.kept);
        } else {
            CHECK_FALSE(FileExists(Arguments));
            CHECK(FileExists(Uninstaller) == c.present);
        }
        RemoveTraces();
    }
}

TEST_CASE("a started program is told running until it ends; one that cannot start gives no handle") {
    HANDLE process = INVALID_HANDLE_VALUE;
    CHECK_FALSE(RunProgram("C:\\Kelvo Earlier\\missing.exe", "/X", &process));
    CHECK(process == nullptr);

    ScratchFolder scratch("kelvo-run-program");
    std::string program = scratch.Path("recorder.exe");
    REQUIRE(CopyFileA(KELVO_RECORDING_UNINSTALLER, program.c_str(), FALSE));
    REQUIRE(RunProgram(program.c_str(), "one two", &process));
    REQUIRE(process != nullptr);
    WaitForSingleObject(process, INFINITE);
    CHECK_FALSE(IsStillRunning(process));
    CloseHandle(process);
    CHECK(ReadWholeFile(program + ".args") == "\"" + program + "\" one two\r\n");
}
