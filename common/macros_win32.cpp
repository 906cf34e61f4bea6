// Folder macros in texts: "#Windows#\x.ini" and the like.
#include "common/macros.h"

#include <windows.h>

#include <string.h>

#include "common/helpers.h"
#include "common/paths.h"

void PutWindowsFolder(char* folder) { GetWindowsDirectoryA(folder, PathCapacity); }

void PutSystemFolder(char* folder) { GetSystemDirectoryA(folder, PathCapacity); }

enum Macro { WindowsMacro, SystemMacro, ProgramFilesMacro, InstallDirMacro, SourceDirMacro, DateMacro, NoMacro };

static const char* const macroNames[NoMacro] = {"#Windows#",    "#System#",    "#Program Files#",
                                                "#InstallDir#", "#SourceDir#", "#Date#"};

static const char currentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
static const char programFilesValue[] = "ProgramFilesDir";

// A macro value and the terminator a registry value may lack.
const u32 MacroValueCapacity = PathCapacity + 1;

static char UpperCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

static bool SameNameIgnoringCase(const char* text, u32 length, const char* name) {
    for (u32 i = 0; i < length; i++)
        if (name[i] == '\0' || UpperCase(text[i]) != UpperCase(name[i])) return false;
    return name[length] == '\0';
}

static Macro FindMacro(const char* name, u32 length) {
    u32 macro = 0;
    while (macro < NoMacro && !SameNameIgnoringCase(name, length, macroNames[macro])) macro++;
    return static_cast<Macro>(macro);
}

static bool ReadProgramFilesFolder(char* value) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, currentVersionKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    DWORD size = PathCapacity;
    LONG status = RegQueryValueExA(key, programFilesValue, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return false;
    value[size] = '\0';
    return true;
}

// SourcePath up to its last backslash: the folder that holds the setup file.
static void PutSourceFolder(char* value) {
    CopyPath(value, SourcePath, PathCapacity);
    char* slash = LastBackslash(value);
    if (slash != nullptr) *slash = '\0';
}

static void PutDate(char* value) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    unsigned long date = now.wYear * 10000ul + now.wMonth * 100ul + now.wDay;
    wsprintfA(value, "%lu", date);
}

// Puts the value of `macro` into `value` (MacroValueCapacity bytes, zero-filled);
// false when it has none to give, so the macro's own text stays.
static bool PutMacroValue(Macro macro, char* value) {
    switch (macro) {
        case WindowsMacro: PutWindowsFolder(value); break;
        case SystemMacro: PutSystemFolder(value); break;
        case ProgramFilesMacro: return ReadProgramFilesFolder(value);
        case InstallDirMacro: CopyPath(value, DestinationPath, PathCapacity); break;
        case SourceDirMacro: PutSourceFolder(value); break;
        case DateMacro: PutDate(value); break;
        case NoMacro: break;
    }
    return true;
}

// The expansion being built in its MacroExpansionLimit-byte, zero-filled
// buffer; appends stop one short of the end, which keeps the terminator.
struct Expansion {
    char* text;
    u32 length;
};

static void Append(Expansion* expansion, const char* text, u32 count) {
    u32 room = MacroExpansionLimit - 1 - expansion->length;
    if (count > room) count = room;
    memcpy(expansion->text + expansion->length, text, count);
    expansion->length += count;
}

// Appends the value of the macro `name` (`length` characters, both '#' included).
static void AppendMacro(Expansion* expansion, const char* name, u32 length) {
    char value[MacroValueCapacity] = {};
    if (!PutMacroValue(FindMacro(name, length), value)) {
        Append(expansion, name, length);
        return;
    }
    RemoveTrailingBackslash(value);
    Append(expansion, value, static_cast<u32>(strlen(value)));
}

u32 ExpandMacros(char* out, const char* text, u32 outSize) {
    bool fill = out != nullptr && outSize != 0;
    Expansion expansion = {nullptr, 0};
    if (!AllocateZeroedBlock(MacroExpansionLimit, &expansion.text)) {
        if (fill) CopyPath(out, text, outSize);
        return static_cast<u32>(strlen(text));
    }
    const char* scan = text;
    for (;;) {
        const char* open = strchr(scan, '#');
        const char* close = open != nullptr ? strchr(open + 1, '#') : nullptr;
        if (close == nullptr) break;  // an unmatched '#' stays with the rest
        Append(&expansion, scan, static_cast<u32>(open - scan));
        AppendMacro(&expansion, open, static_cast<u32>(close - open + 1));
        scan = close + 1;
    }
    Append(&expansion, scan, static_cast<u32>(strlen(scan)));
    u32 length = expansion.length;
    if (fill) CopyPath(out, expansion.text, outSize);
    ReleaseBlock(&expansion.text);
    return length;
}

