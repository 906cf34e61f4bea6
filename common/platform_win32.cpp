#include "common/platform.h"

#include <windows.h>

#include "common/helpers.h"

bool isNt;

// GetVersion sets its top bit on Windows 95, 98 and Me (and Win32s).
bool IsNtPlatform() { return (GetVersion() & 0x80000000u) == 0; }

unsigned short UserInterfaceLanguage() {
    typedef LANGID(WINAPI * LanguageQuery)();
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    LanguageQuery query =
        reinterpret_cast<LanguageQuery>(reinterpret_cast<void*>(GetProcAddress(kernel, "GetUserDefaultUILanguage")));
    return query != nullptr ? query() : GetUserDefaultLangID();
}

// No code page has a lead byte below 0x81, so ASCII never asks the system.
bool IsLeadByte(char c) { return static_cast<u8>(c) >= 0x81 && IsDBCSLeadByte(static_cast<BYTE>(c)); }
