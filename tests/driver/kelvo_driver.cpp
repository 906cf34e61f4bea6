// kelvo-driver: works a setup program under Wine the way a person would.
//
//   kelvo-driver run SETUP.exe [OPTIONS...]
//       starts the setup, waits for its window, reports what it shows, then
//       closes the window (which cancels the wizard) and reports how the
//       setup ended. Exits with the setup's exit code.
#include <windows.h>
#include <stdio.h>

#include <string>

namespace {

const DWORD WaitLimit = 30000;  // ms

std::string WindowText(HWND window) {
    char text[512] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// The setup's main window, once it is on screen.
HWND WaitForSetupWindow(HANDLE process) {
    for (DWORD waited = 0; waited < WaitLimit; waited += 50) {
        HWND window = FindWindowA("KelvoClass", nullptr);
        if (window != nullptr && IsWindowVisible(window)) return window;
        if (WaitForSingleObject(process, 50) == WAIT_OBJECT_0) return nullptr;
    }
    return nullptr;
}

BOOL CALLBACK ReportDialog(HWND window, LPARAM owner) {
    char name[16];
    GetClassNameA(window, name, sizeof name);
    if (lstrcmpA(name, "#32770") == 0 && (GetParent(window) == reinterpret_cast<HWND>(owner) ||
                                           GetWindow(window, GW_OWNER) == reinterpret_cast<HWND>(owner)))
        printf("  dialog: \"%s\"\n", WindowText(window).c_str());
    return TRUE;
}

int Run(const char* setup, const char* options) {
    std::string command = std::string("\"") + setup + "\"" + (options[0] ? " " : "") + options;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        fprintf(stderr, "kelvo-driver: cannot start %s (error %lu)\n", setup, GetLastError());
        return 1;
    }
    HWND window = WaitForSetupWindow(process.hProcess);
    if (window != nullptr) {
        printf("setup window: \"%s\"\n", WindowText(window).c_str());
        EnumChildWindows(window, ReportDialog, reinterpret_cast<LPARAM>(window));
        EnumWindows(ReportDialog, reinterpret_cast<LPARAM>(window));
        printf("closing the setup window\n");
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
        printf("the setup showed no window\n");
    }
    DWORD code = 1;
    if (WaitForSingleObject(process.hProcess, WaitLimit) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    } else {
        fprintf(stderr, "kelvo-driver: the setup did not end; stopping it\n");
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    printf("setup ended with exit code %ld\n", static_cast<long>(code));
    return static_cast<int>(code);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || lstrcmpA(argv[1], "run") != 0) {
        fprintf(stderr, "usage: kelvo-driver run SETUP.exe [OPTIONS...]\n");
        return 2;
    }
    std::string options;
    for (int i = 3; i < argc; i++) options += (i > 3 ? " " : "") + std::string(argv[i]);
    return Run(argv[2], options.c_str());
}
