// kelvo-driver: works a setup program under Wine the way a person would.
//
//   kelvo-driver run SETUP.exe [OPTIONS...]
//       starts the setup, waits for its window, reports what it shows, then
//       closes the window (which cancels the wizard) and reports how the
//       setup ended.
//   kelvo-driver tour SETUP.exe [--shots DIR] [--pages N] [-- OPTIONS...]
//       starts the setup and walks through its first N wizard pages (5 when
//       not told): for each it reports the title, the texts and the frame
//       buttons, saves a screenshot DIR/NN-<page title>.bmp and clicks Next;
//       on the last it clicks Cancel, answers the question Yes and any report
//       OK. A screenshot DIR/00-background.bmp is taken as soon as the main
//       window shows. A setup that shows no page yet is reported, its frame
//       saved as DIR/01-frame.bmp and its window closed.
//   kelvo-driver install SETUP.exe --to FOLDER [--set N] [--timeout S] [-- OPTIONS...]
//       installs: clicks Next on every page, chooses install set N (0 when
//       not told) on the set selection page, types FOLDER into the
//       destination page, answers Yes to its questions ("create the
//       folder?"), waits for the finish page (at most S seconds in all, 600
//       when not told) and closes it; then prints the wall time from the
//       setup's start to its exit (a benchmark reads it).
//
//   kelvo-driver shortcut LINK.lnk...
//       prints each shortcut's target, arguments, working folder and icon.
//   kelvo-driver uninstall NAME [--keep-shared] [--shots DIR]
//       uninstalls as a person would from the list of installed programs:
//       starts the UninstallString registered for NAME, answers Yes to its
//       question, No to keeping shared files nobody counts any more (Yes
//       with --keep-shared), OK to its report, and waits until the
//       uninstaller and its copy in the temporary folder have ended; with
//       --shots it saves a screenshot DIR/NN-<text>.bmp of each box first.
//       Exits 0 when the report came, 1 otherwise.
//
// run, tour and install exit with the setup's exit code (1 when it could not be started or
// did not end, 2 for a wrong command line).
#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <ctype.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "tests/support/dialogs.h"
#include "tests/support/setup_driver.h"

namespace {

const int DefaultTourPages = 5;
const DWORD PageWaitLimit = 10000;  // ms for the next page after a click
const DWORD RunPageWait = 2000;     // ms run gives the first page to show before reporting
const DWORD EndWaitLimit = 20000;   // ms for the setup to end after Cancel
const DWORD LateBoxWait = 1000;     // ms to watch for another message box at the end
const size_t SlugLimit = 40;
const int DefaultInstallSeconds = 600;
const char FinishTitle[] = "Setup Complete";  // the built-in finish page title
const int ExitFailed = 1;
const int ExitUsage = 2;

const char Usage[] =
    "usage: kelvo-driver run SETUP.exe [OPTIONS...]\n"
    "       kelvo-driver tour SETUP.exe [--shots DIR] [--pages N] [-- OPTIONS...]\n"
    "       kelvo-driver install SETUP.exe --to FOLDER [--set N] [--timeout S] [-- OPTIONS...]\n"
    "       kelvo-driver shortcut LINK.lnk...\n"
    "       kelvo-driver uninstall NAME [--keep-shared] [--shots DIR]\n";

struct TourSettings {
    std::string setup;
    std::string options;
    std::string shots;  // "" for no screenshots
    int pages = DefaultTourPages;
};

struct InstallSettings {
    std::string setup;
    std::string options;
    std::string folder;
    int set = 0;
    DWORD limit = DefaultInstallSeconds * 1000;  // ms for the whole installation
};

// Wall time in seconds since construction, from the performance counter:
// GetTickCount moves in steps of 10-16 ms.
class Stopwatch {
public:
    Stopwatch() { QueryPerformanceCounter(&start); }
    double Seconds() const {
        LARGE_INTEGER now, frequency;
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    }

private:
    LARGE_INTEGER start;
};

// A text on one line: line breaks shown as \n.
std::string OneLine(const std::string& text) {
    std::string line;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\r') continue;
        line += text[i] == '\n' ? std::string("\\n") : std::string(1, text[i]);
    }
    return line;
}

// A page title as part of a file name: lower-case letters and digits, the
// rest as single dashes.
std::string Slug(const std::string& title) {
    std::string slug;
    for (char c : title) {
        if (slug.size() >= SlugLimit) break;
        if (isalnum(static_cast<unsigned char>(c))) {
            slug += static_cast<char>(tolower(static_cast<unsigned char>(c)));
        } else if (!slug.empty() && slug.back() != '-') {
            slug += '-';
        }
    }
    while (!slug.empty() && slug.back() == '-') slug.pop_back();
    return slug.empty() ? "page" : slug;
}

std::string Joined(const std::vector<std::string>& words, const char* separator) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : separator) + word;
    return text;
}

// Saves a screenshot as DIR/NN-name.bmp when screenshots are wanted.
void Shoot(const TourSettings& settings, int number, const std::string& name) {
    if (settings.shots.empty()) return;
    char prefix[8];
    wsprintfA(prefix, "%02d-", number);
    const char* separator = settings.shots.find('/') != std::string::npos ? "/" : "\\";  // as DIR is written
    std::string path = settings.shots + separator + prefix + name + ".bmp";
    if (SetupDriver::Screenshot(path)) {
        printf("  screenshot: %s\n", path.c_str());
    } else {
        fprintf(stderr, "kelvo-driver: cannot save the screenshot %s\n", path.c_str());
    }
}

void ReportWindows(const SetupDriver& driver) {
    printf("setup window: \"%s\"\n", driver.MainTitle().c_str());
    if (driver.Frame() != nullptr) printf("  frame: \"%s\"\n", driver.FrameCaption().c_str());
}

void ReportPage(const SetupDriver& driver, int number) {
    printf("page %d: \"%s\"\n", number, driver.PageTitle().c_str());
    for (int id = FirstPageText; id <= LastPageText; id++) {
        if (driver.PageHasControl(id)) printf("  text %d: \"%s\"\n", id, OneLine(driver.PageText(id)).c_str());
    }
    const struct {
        int id;
        const char* name;
    } buttons[] = {{FrameBackButton, "Back"}, {FrameNextButton, "Next"}, {FrameCancelButton, "Cancel"}};
    std::vector<std::string> enabled;
    for (const auto& button : buttons)
        if (driver.FrameButtonEnabled(button.id)) enabled.push_back(button.name);
    printf("  enabled buttons: %s\n", enabled.empty() ? "none" : Joined(enabled, ", ").c_str());
}

// Answers a message box as a person going on would: Yes to a question, OK
// to a report.
void AnswerMessageBox(HWND box) {
    printf("message box: \"%s\"\n", OneLine(SetupDriver::MessageBoxText(box)).c_str());
    for (int button : {IDYES, IDOK, IDRETRY, IDCANCEL}) {
        if (SetupDriver::Answer(box, button)) {
            printf("  answered %s\n", button == IDYES ? "Yes" : button == IDOK ? "OK" : button == IDRETRY ? "Retry" : "Cancel");
            return;
        }
    }
    printf("  the box has no button to answer with\n");
}

// Waits for a page other than `previous`, answering the message boxes that
// come first; null when the setup ended or no page came within `limit` ms.
HWND NextPage(SetupDriver& driver, HWND previous, DWORD limit = PageWaitLimit) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < limit) {
        HWND box = driver.OpenMessageBox();
        if (box != nullptr) {
            AnswerMessageBox(box);
            driver.WaitForNewPage(previous, 500);  // the box goes away meanwhile
            continue;
        }
        HWND page = driver.WaitForNewPage(previous, 200);
        if (page != nullptr) return page;
        if (!driver.Running()) return nullptr;
    }
    return nullptr;
}

// Waits for the setup to end, answering its message boxes; the exit code
// or STILL_ACTIVE.
DWORD WaitForEnd(SetupDriver& driver) {
    DWORD start = GetTickCount();
    while (driver.Running() && GetTickCount() - start < EndWaitLimit) {
        HWND box = driver.WaitForMessageBox(LateBoxWait);
        if (box != nullptr) {
            AnswerMessageBox(box);
            Sleep(200);  // let the answer close the box before looking again
        }
    }
    return driver.WaitForExit(0);
}

int ReportEnd(DWORD code) {
    if (code == STILL_ACTIVE) {
        fprintf(stderr, "kelvo-driver: the setup did not end; stopping it\n");
        return ExitFailed;
    }
    printf("setup ended with exit code %ld\n", static_cast<long>(code));
    return static_cast<int>(code);
}

// Ends the tour on the current page: Cancel when a person could press it,
// else the window's close command.
int Cancel(SetupDriver& driver) {
    if (driver.ClickFrameButton(FrameCancelButton)) {
        printf("clicking Cancel\n");
    } else {
        printf("Cancel cannot be pressed; closing the setup window\n");
        driver.CloseMainWindow();
    }
    return ReportEnd(WaitForEnd(driver));
}

bool StartSetup(const SetupDriver& driver, const std::string& setup) {
    if (driver.Started()) return true;
    fprintf(stderr, "kelvo-driver: cannot start %s (error %lu)\n", setup.c_str(), driver.StartError());
    return false;
}

// A setup without its main window: how it ended, or a failure.
int NoWindow(SetupDriver& driver) {
    printf("the setup showed no window\n");
    if (HWND box = driver.OpenMessageBox()) AnswerMessageBox(box);
    return ReportEnd(driver.WaitForExit());
}

int Run(const std::string& setup, const std::string& options) {
    SetupDriver driver(setup, options);
    if (!StartSetup(driver, setup)) return ExitFailed;
    if (!driver.WaitForMainWindow()) return NoWindow(driver);
    ReportWindows(driver);
    if (driver.WaitForNewPage(nullptr, RunPageWait) != nullptr) ReportPage(driver, 1);
    printf("closing the setup window\n");
    driver.CloseMainWindow();
    return ReportEnd(WaitForEnd(driver));
}

int Tour(const TourSettings& settings) {
    if (!settings.shots.empty()) CreateDirectoryA(settings.shots.c_str(), nullptr);
    SetupDriver driver(settings.setup, settings.options);
    if (!StartSetup(driver, settings.setup)) return ExitFailed;
    if (!driver.WaitForMainWindow()) return NoWindow(driver);
    ReportWindows(driver);
    Shoot(settings, 0, "background");

    HWND page = nullptr;
    for (int number = 1; number <= settings.pages; number++) {
        page = NextPage(driver, page);
        if (page == nullptr && !driver.Running()) return ReportEnd(driver.WaitForExit());
        if (page == nullptr && number == 1) {
            printf("no wizard page appeared: the setup shows its frame only\n");
            Shoot(settings, 1, "frame");
            printf("closing the setup window\n");
            driver.CloseMainWindow();
            return ReportEnd(WaitForEnd(driver));
        }
        if (page == nullptr) {
            printf("no page came after page %d\n", number - 1);
            break;
        }
        ReportPage(driver, number);
        Shoot(settings, number, Slug(driver.PageTitle()));
        if (number == settings.pages) break;
        if (!driver.ClickFrameButton(FrameNextButton)) {
            // The progress page moves on by itself when the files are in.
            printf("Next cannot be pressed: waiting for the setup to move on\n");
            continue;
        }
        printf("clicking Next\n");
    }
    return Cancel(driver);
}

// Only the finish page has the run box.
bool IsFinishPage(const SetupDriver& driver) {
    return driver.PageHasControl(LaunchBox) || driver.PageTitle() == FinishTitle;
}

// Closes the finish page and reports the end with the time since `clock`
// started, which the setup started with.
int CloseFinishPage(SetupDriver& driver, const Stopwatch& clock) {
    printf("  report: \"%s\"\n", OneLine(driver.PageText(FirstPageText)).c_str());
    if (!driver.ClickFrameButton(FrameCancelButton)) {
        fprintf(stderr, "kelvo-driver: the finish page cannot be closed\n");
        return ExitFailed;
    }
    printf("closing the finish page\n");
    DWORD code = WaitForEnd(driver);
    if (code != STILL_ACTIVE) printf("wall time: %.3f s\n", clock.Seconds());
    return ReportEnd(code);
}

// Does what a page needs before Next: the set selection page gets its
// choice, the destination page the folder.
bool FillIn(SetupDriver& driver, const InstallSettings& settings) {
    if (driver.PageHasControl(FirstSetButton)) {
        printf("  choosing set %d\n", settings.set);
        return driver.ClickPageControl(FirstSetButton + settings.set);
    }
    if (!driver.PageHasControl(FolderEdit)) return true;
    printf("  typing the folder %s\n", settings.folder.c_str());
    return driver.SetPageText(FolderEdit, settings.folder);
}

int Install(const InstallSettings& settings) {
    Stopwatch clock;
    SetupDriver driver(settings.setup, settings.options);
    if (!StartSetup(driver, settings.setup)) return ExitFailed;
    if (!driver.WaitForMainWindow()) return NoWindow(driver);
    HWND page = nullptr;
    for (int number = 1;; number++) {
        DWORD elapsed = static_cast<DWORD>(clock.Seconds() * 1000);
        page = elapsed < settings.limit ? NextPage(driver, page, settings.limit - elapsed) : nullptr;
        if (page == nullptr && !driver.Running()) return ReportEnd(driver.WaitForExit());
        if (page == nullptr) {
            fprintf(stderr, "kelvo-driver: no page came after page %d in time\n", number - 1);
            return ExitFailed;
        }
        printf("page %d: \"%s\"\n", number, driver.PageTitle().c_str());
        if (IsFinishPage(driver)) return CloseFinishPage(driver, clock);
        if (!FillIn(driver, settings)) {
            fprintf(stderr, "kelvo-driver: cannot choose the set or type the folder\n");
            return ExitFailed;
        }
        // Without Next (the progress page) the page moves on by itself.
        if (driver.FrameButtonEnabled(FrameNextButton) && driver.ClickFrameButton(FrameNextButton))
            printf("  clicking Next\n");
    }
}

// Reads the install command line (after "install"); false when it is wrong.
bool ReadInstallSettings(int argc, char** argv, InstallSettings* settings) {
    if (argc < 1) return false;
    settings->setup = argv[0];
    for (int i = 1; i < argc; i++) {
        std::string option = argv[i];
        if (option == "--") {
            std::vector<std::string> rest(argv + i + 1, argv + argc);
            settings->options = Joined(rest, " ");
            break;
        }
        if (i + 1 >= argc) return false;
        if (option == "--to") {
            settings->folder = argv[++i];
        } else if (option == "--set") {
            settings->set = atoi(argv[++i]);
            if (settings->set < 0) return false;
        } else if (option == "--timeout") {
            int seconds = atoi(argv[++i]);
            if (seconds < 1) return false;
            settings->limit = static_cast<DWORD>(seconds) * 1000;
        } else {
            return false;
        }
    }
    return !settings->folder.empty();
}

// Reads the tour's command line (after "tour"); false when it is wrong.
bool ReadTourSettings(int argc, char** argv, TourSettings* settings) {
    if (argc < 1) return false;
    settings->setup = argv[0];
    for (int i = 1; i < argc; i++) {
        std::string option = argv[i];
        if (option == "--") {
            std::vector<std::string> rest(argv + i + 1, argv + argc);
            settings->options = Joined(rest, " ");
            return true;
        }
        if (i + 1 >= argc) return false;
        if (option == "--shots") {
            settings->shots = argv[++i];
        } else if (option == "--pages") {
            settings->pages = atoi(argv[++i]);
            if (settings->pages < 1) return false;
        } else {
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Shortcuts and uninstalling

int ShowShortcuts(int count, char** links) {
    OleInitialize(nullptr);
    int status = 0;
    for (int i = 0; i < count; i++) {
        IShellLinkA* link = nullptr;
        IPersistFile* file = nullptr;
        WCHAR wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, links[i], -1, wide, MAX_PATH);
        char target[MAX_PATH] = "", arguments[MAX_PATH] = "", folder[MAX_PATH] = "", icon[MAX_PATH] = "";
        int iconIndex = 0;
        bool read = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                               reinterpret_cast<void**>(&link))) &&
                    SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
                    SUCCEEDED(file->Load(wide, STGM_READ));
        if (read) {
            link->GetPath(target, MAX_PATH, nullptr, 0);
            link->GetArguments(arguments, MAX_PATH);
            link->GetWorkingDirectory(folder, MAX_PATH);
            link->GetIconLocation(icon, MAX_PATH, &iconIndex);
            printf("%s\n  target: %s\n  arguments: %s\n  working folder: %s\n  icon: %s,%d\n", links[i], target,
                   arguments, folder, icon, iconIndex);
        } else {
            fprintf(stderr, "kelvo-driver: %s is no shortcut that can be read\n", links[i]);
            status = ExitFailed;
        }
        if (file != nullptr) file->Release();
        if (link != nullptr) link->Release();
    }
    OleUninitialize();
    return status;
}

const char UninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const DWORD UninstallLimit = 60000;  // ms for the whole uninstallation
const char UninstallerCopyPrefix[] = "_uninst";
const DWORD ShotDelay = 300;  // ms
const DWORD BoxClosingLimit = 5000;  // ms for a message box to close once answered

std::string RegisteredUninstaller(const std::string& name) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (UninstallKey + name).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "";
    char command[MAX_PATH * 2] = "";
    DWORD size = sizeof command - 1;
    RegQueryValueExA(key, "UninstallString", nullptr, nullptr, reinterpret_cast<BYTE*>(command), &size);
    command[size] = '\0';  // stored without its terminator
    RegCloseKey(key);
    return command;
}

bool IsUninstallerCopyRunning() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32 process;
    process.dwSize = sizeof process;
    bool running = false;
    for (BOOL more = Process32First(snapshot, &process); more && !running; more = Process32Next(snapshot, &process))
        running = _strnicmp(process.szExeFile, UninstallerCopyPrefix, sizeof UninstallerCopyPrefix - 1) == 0;
    CloseHandle(snapshot);
    return running;
}

struct UninstallSettings {
    std::string name;
    bool keepShared = false;
    std::string shots;  // "" for no screenshots
};

// Reads the uninstall command line (after "uninstall"); false when it is wrong.
bool ReadUninstallSettings(int argc, char** argv, UninstallSettings* settings) {
    if (argc < 1) return false;
    settings->name = argv[0];
    for (int i = 1; i < argc; i++) {
        std::string option = argv[i];
        if (option == "--keep-shared") {
            settings->keepShared = true;
        } else if (option == "--shots" && i + 1 < argc) {
            settings->shots = argv[++i];
        } else {
            return false;
        }
    }
    return true;
}

int Uninstall(const UninstallSettings& settings) {
    const std::string& name = settings.name;
    std::string command = RegisteredUninstaller(name);
    if (command.empty()) {
        fprintf(stderr, "kelvo-driver: no uninstaller is registered for \"%s\"\n", name.c_str());
        return ExitFailed;
    }
    printf("starting %s\n", command.c_str());
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        fprintf(stderr, "kelvo-driver: the uninstaller cannot be started (error %lu)\n", GetLastError());
        return ExitFailed;
    }
    CloseHandle(process.hThread);
    bool asked = false, reported = false;
    int shot = 0;
    Stopwatch clock;
    while (!reported && clock.Seconds() * 1000 < UninstallLimit) {
        HWND box = FindVisibleDialog(AnyProcess);
        if (box == nullptr) {
            Sleep(50);
            continue;
        }
        std::string text = MessageBoxText(box);
        bool question = GetDlgItem(box, IDYES) != nullptr;
        int answer = !question ? IDOK : !asked || settings.keepShared ? IDYES : IDNO;
        printf("  \"%s\": %s\n", OneLine(text).c_str(), answer == IDOK ? "OK" : answer == IDYES ? "Yes" : "No");
        if (!settings.shots.empty()) {
            Sleep(ShotDelay);  // the box is drawn after it shows
            TourSettings shots;
            shots.shots = settings.shots;
            Shoot(shots, ++shot, Slug(text));
        }
        reported = !question;
        asked = asked || question;
        PressDialogButton(box, answer, BoxClosingLimit);
    }
    WaitForSingleObject(process.hProcess, UninstallLimit);
    CloseHandle(process.hProcess);
    while (IsUninstallerCopyRunning() && clock.Seconds() * 1000 < UninstallLimit) Sleep(50);
    if (!reported) fprintf(stderr, "kelvo-driver: the uninstaller gave no report in time\n");
    return reported ? 0 : ExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);  // keep the report in order with the setup's own output
    SetupDriver::textsAsUtf8 = true;      // the report shows every text as it is, in any code page
    std::string command = argc >= 2 ? argv[1] : "";
    if (command == "run" && argc >= 3) {
        std::vector<std::string> options(argv + 3, argv + argc);
        return Run(argv[2], Joined(options, " "));
    }
    TourSettings settings;
    if (command == "tour" && ReadTourSettings(argc - 2, argv + 2, &settings)) return Tour(settings);
    InstallSettings install;
    if (command == "install" && ReadInstallSettings(argc - 2, argv + 2, &install)) return Install(install);
    if (command == "shortcut" && argc >= 3) return ShowShortcuts(argc - 2, argv + 2);
    UninstallSettings uninstall;
    if (command == "uninstall" && ReadUninstallSettings(argc - 2, argv + 2, &uninstall)) return Uninstall(uninstall);
    fputs(Usage, stderr);
    return ExitUsage;
}
