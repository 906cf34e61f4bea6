// Entry point of the setup program. It starts without the compiler's
// start-up code (which would add several kilobytes to every setup we ship):
// it reads the command line and show command itself and ends the process
// with RunSetup's exit code.
#include <windows.h>

#include "common/system_libraries.h"
#include "control/setup_driver.h"

// The command line after the program's name, which may be quoted.
static const char* CommandLineOptions() {
    const char* p = GetCommandLineA();
    if (*p == '"') {
        for (p++; *p != '\0' && *p != '"'; p++) {
        }
        if (*p == '"') p++;
    } else {
        while (*p != '\0' && *p != ' ' && *p != '\t') p++;
    }
    while (*p == ' ' || *p == '\t') p++;
    return p;
}

static int ShowCommand() {
    STARTUPINFOA startup;
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    return (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
}

extern "C" void SetupEntry() {
    RestrictLibrarySearch();
    ExitProcess(static_cast<UINT>(RunSetup(GetModuleHandleA(nullptr), CommandLineOptions(), ShowCommand())));
}
