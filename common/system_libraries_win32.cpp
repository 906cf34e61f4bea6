#include "common/system_libraries.h"

#include <windows.h>
#include <string.h>

#include "common/helpers.h"
#include "common/paths.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

// True once the process searches the system folder only.
static bool searchRestricted;

// What the system's window and theme code loads later by name (themed
// controls, their blending), loaded at once from the system folder: a loaded
// library is found by its name before any folder is searched. This covers
// systems whose search cannot be narrowed, and loads that do not follow the
// narrowed search (Wine's loader takes the delayed imports of its own
// libraries through the program's folder).
static const char PreloadedLibraries[] = "uxtheme.dll\0msimg32.dll\0dwmapi.dll\0";

void RestrictLibrarySearch() {
    typedef BOOL(WINAPI * DefaultDirectories)(DWORD flags);
    typedef BOOL(WINAPI * LibraryDirectory)(LPCSTR folder);
    // Both are looked up: Windows 98 and NT 4 have neither, XP only the second.
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    DefaultDirectories restrict =
        reinterpret_cast<DefaultDirectories>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    searchRestricted = restrict != nullptr && restrict(LOAD_LIBRARY_SEARCH_SYSTEM32);
    LibraryDirectory setDirectory =
        reinterpret_cast<LibraryDirectory>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryA")));
    if (setDirectory != nullptr) setDirectory("");
    for (const char* name = PreloadedLibraries; *name != '\0'; name += strlen(name) + 1) LoadSystemLibrary(name);
}

void* LoadSystemLibrary(const char* name) {
    // By name where the search is the system folder's alone, so the
    // application manifest still picks the common controls' version 6.
    if (searchRestricted) return LoadLibraryA(name);
    char path[PathCapacity];
    UINT length = GetSystemDirectoryA(path, PathCapacity);
    if (length == 0 || length + strlen(name) + 2 > PathCapacity) return nullptr;
    AppendBackslash(path);
    strcat(path, name);
    // What the library needs in turn comes from its own folder first.
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void* SystemFunction(const char* library, const char* function) {
    HMODULE module = static_cast<HMODULE>(LoadSystemLibrary(library));
    return module != nullptr ? reinterpret_cast<void*>(GetProcAddress(module, function)) : nullptr;
}
