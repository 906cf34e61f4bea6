// The tests of paths in other code pages: the fixture setup
// tests/fixtures/projects/dbcs-paths installed in this process, the item
// texts its progress showed, and its uninstaller started as a user starts it
// and answered through its message boxes.
#pragma once
#include <windows.h>

#include <doctest/doctest.h>
#include <string.h>

#include <string>
#include <vector>

#include "archive/loader.h"
#include "archive/script.h"
#include "archive/uninstall_log_format.h"
#include "common/paths.h"
#include "engine/installation.h"
#include "engine/progress.h"
#include "engine/setup_state.h"
#include "tests/support/dialogs.h"
#include "tests/support/win32_test_files.h"

namespace code_page_setup {

const char Project[] = "dbcs-paths";
const char DisplayName[] = "Kelvo DBCS Test";
const char UninstallCaption[] = "Kelvo DBCS uninstall";
const DWORD Patience = 30000;  // ms; only reached when something is wrong

inline std::vector<std::string>& ShownItems() {
    static std::vector<std::string> items;
    return items;
}
inline void KeepItem(const char* text) { ShownItems().push_back(text); }
inline void IgnorePercent(u32) {}
inline bool NeverCancelled() { return false; }
inline void Nothing() {}

// The names in the entries' strings with "QQ" made Shift-JIS "ソ" (0x83 0x5C)
// and "RR" "表" (0x95 0x5C), in place: the lengths stay.
inline void PutShiftJisNames(u32 set) {
    for (u32 index = 0; FileEntry* entry = FileEntryAt(set, index); index++) {
        for (u32 n = 0; n < EntryStringCount; n++) {
            char* text = const_cast<char*>(EntryString(entry, n));
            for (char* p = text; p[0] != '\0' && p[1] != '\0'; p++) {
                if (p[0] == 'Q' && p[1] == 'Q') memcpy(p, "\x83\x5C", 2);
                if (p[0] == 'R' && p[1] == 'R') memcpy(p, "\x95\x5C", 2);
            }
        }
    }
}

// The fixture's set installed into `destination` (with its trailing
// backslash) by the engine, as the progress page drives it; its item texts
// are kept in ShownItems().
class InstalledSet {
public:
    InstalledSet(const std::string& destination, bool shiftJisNames) {
        ShownItems().clear();
        REQUIRE(SUCCEEDED(OleInitialize(nullptr)));
        REQUIRE(AllocatePathBuffers());
        std::string path = FixtureSetup(Project);
        CopyPath(SourcePath, path.c_str(), PathCapacity);
        REQUIRE(ReadSetupArchive(ArchiveOffsetOf(ReadWholeFileBytes(path)), nullptr) == LoadOk);
        SelectInstallSet(0);
        if (shiftJisNames) PutShiftJisNames(0);
        CopyPath(DestinationPath, destination.c_str(), PathCapacity);
        static const ProgressListener recorder = {IgnorePercent, KeepItem, NeverCancelled, Nothing, Nothing};
        const ProgressListener* before = progressListener;
        progressListener = &recorder;
        REQUIRE(StartInstallation());
        while (InstallNextEntry()) {
        }
        CHECK(engineState == NoEngineError);
        FinishInstallation();
        progressListener = before;
        uninstaller = UninstallerPath;
        SetCurrentDirectoryA(TempFolder().c_str());
    }
    ~InstalledSet() {
        ReleaseSetupScript();
        ReleasePathBuffers();
        OleUninitialize();
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(UNINSTALL_KEY_PREFIX) + DisplayName).c_str());
    }
    InstalledSet(const InstalledSet&) = delete;
    InstalledSet& operator=(const InstalledSet&) = delete;

    std::string uninstaller;  // its path, in the system's code page
};

// Presses `button` on the uninstaller's next message box.
inline void Answer(int button) {
    HWND box = WaitForVisibleWindow(DialogWindowClass, UninstallCaption, Patience);
    REQUIRE_MESSAGE(box != nullptr, "no message box of the uninstaller appeared");
    CHECK(PressDialogButton(box, button, Patience));
}

// Starts the uninstaller at `path` (UTF-16) as a user does, with the
// environment block `environment` (null: this process's), says Yes to its
// question and OK to its report, and returns the first process's exit code.
inline DWORD RunUninstaller(const std::wstring& path, const wchar_t* environment = nullptr) {
    std::wstring line = L"\"" + path + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    REQUIRE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                           const_cast<wchar_t*>(environment), nullptr, &startup, &process));
    CloseHandle(process.hThread);
    Answer(IDYES);
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process.hProcess, Patience) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    // The copy in the temporary folder removes the installation and reports.
    Answer(IDOK);
    return code;
}

// True when `path` (UTF-16) names an existing file or folder.
inline bool ExistsWide(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Waits for the copy's removal of `path` to be done (it may still be at
// work when its report shows): true once it is gone.
inline bool GoneWide(const std::wstring& path) {
    for (int i = 0; i < 100 && ExistsWide(path); i++) Sleep(50);
    return !ExistsWide(path);
}

}  // namespace code_page_setup
