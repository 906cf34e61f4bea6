// Libraries from the system folder only. A setup usually runs elevated from
// a downloads folder that any web page can drop files into, and Windows looks
// for a library in the program's own folder (and the current one) before the
// system folder, except for the KnownDLLs it always takes from its own
// folder. The programs therefore import only KnownDLLs (kernel32, user32,
// gdi32, advapi32, shell32, ole32, msvcrt) and load every other library
// through this service. RestrictLibrarySearch, called first thing, narrows
// the process's search to the system folder where the system can (Windows 8,
// and 7 and Vista with their loader update), which covers the libraries the
// system's own libraries load later too, and takes the current folder out of
// the search where it can (XP SP1 and later); Windows 98 and systems without
// the update get full paths instead.
#pragma once

// Called before anything loads a library. It also loads from the system
// folder the libraries the system's window and theme code loads later by
// name (uxtheme, msimg32, dwmapi).
void RestrictLibrarySearch();

// The system library `name` ("version.dll"), loaded from the system folder
// (an HMODULE), or null.
void* LoadSystemLibrary(const char* name);

// The function `function` of the system library `library`, or null.
void* SystemFunction(const char* library, const char* function);
