// Schedules restart operations from the command line, for
// tests/wine/restart_test.sh, and holds a file in use for
// tests/wine/rollback_test.sh. isNt comes from the platform Wine reports, as
// in the setup program, so the same tool takes the NT path in an NT prefix
// and the WININIT.INI path in a Windows 98 one.
//
//   kelvo-schedule-tool platform          prints the platform id (1 = 95/98, 2 = NT)
//   kelvo-schedule-tool short PATH        prints the short (8.3) form of PATH
//   kelvo-schedule-tool replace TARGET SOURCE
//   kelvo-schedule-tool delete SOURCE
//   kelvo-schedule-tool hold PATH MARKER SECONDS
//                                         opens PATH sharing nothing, creates
//                                         MARKER, and keeps PATH open that long
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "common/deferred_operations.h"
#include "engine/setup_state.h"

static DWORD PlatformId() {
    OSVERSIONINFOA version;
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) ? version.dwPlatformId : 0;
}

static int Usage() {
    fprintf(stderr, "usage: kelvo-schedule-tool platform | short PATH | replace TARGET SOURCE | delete SOURCE | "
                    "hold PATH MARKER SECONDS\n");
    return 2;
}

// The names the WININIT.INI lines should hold, found independently of the
// code under test.
static int PrintShortPath(const char* path) {
    char shortPath[MAX_PATH];
    DWORD length = GetShortPathNameA(path, shortPath, sizeof shortPath);
    if (length == 0 || length >= sizeof shortPath) return 1;
    printf("%s\n", shortPath);
    return 0;
}

static int HoldInUse(const char* path, const char* marker, const char* seconds) {
    HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    CloseHandle(CreateFileA(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    Sleep(static_cast<DWORD>(atoi(seconds)) * 1000);
    CloseHandle(file);
    return 0;
}

int main(int argc, char** argv) {
    DWORD platform = PlatformId();
    isNt = platform == VER_PLATFORM_WIN32_NT;
    if (argc == 2 && strcmp(argv[1], "platform") == 0) {
        printf("%lu\n", static_cast<unsigned long>(platform));
    } else if (argc == 3 && strcmp(argv[1], "short") == 0) {
        return PrintShortPath(argv[2]);
    } else if (argc == 4 && strcmp(argv[1], "replace") == 0) {
        ScheduleAtRestart(argv[2], argv[3]);
    } else if (argc == 3 && strcmp(argv[1], "delete") == 0) {
        ScheduleAtRestart(nullptr, argv[2]);
    } else if (argc == 5 && strcmp(argv[1], "hold") == 0) {
        return HoldInUse(argv[2], argv[3], argv[4]);
    } else {
        return Usage();
    }
    return 0;
}
