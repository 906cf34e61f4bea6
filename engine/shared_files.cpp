// What the system is told about installed files besides copying them: use
// counts of shared libraries, fonts, and libraries that register themselves.
#include "engine/shared_files.h"

#include <windows.h>
#include <string.h>

#include "archive/script.h"
#include "common/file.h"
#include "common/helpers.h"
#include "common/paths.h"
#include "engine/install_log.h"
#include "engine/path_macros.h"
#include "engine/rollback.h"


static const char sharedLibrariesKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
static const char fontsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";
static const char trueTypeSuffix[] = " (TrueType)";
static const char registrationEntryName[] = "DllRegisterServer";

void CountSharedLibrary(const char* path) {
    HKEY key;
    // The key is the system's: without it nothing is counted.
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, sharedLibrariesKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
        return;
    u32 count = 0;
    DWORD type;
    DWORD size = sizeof count;
    // A count kept in another type or size stays in it.
    if (RegQueryValueExA(key, path, nullptr, &type, reinterpret_cast<BYTE*>(&count), &size) != ERROR_SUCCESS) {
        count = 0;
        type = REG_DWORD;
        size = sizeof count;
    }
    count++;
    NoteRegistryValue(HKEY_LOCAL_MACHINE, sharedLibrariesKey, path);
    RegSetValueExA(key, path, 0, type, reinterpret_cast<const BYTE*>(&count), size);
    LogLine("shared library counted", path);
    RegCloseKey(key);
}

// ---------------------------------------------------------------------------
// Fonts: the TrueType offset table, its table records and the name table,
// all big-endian.

const u32 OffsetTableSize = 12;
const u32 TableCountOffset = 4;
const u32 TableRecordSize = 16;
const u32 TableOffsetField = 8;
const u32 MaxTableRecords = 40;
const u32 NameHeaderSize = 6;
const u32 NameRecordSize = 12;
const u16 MacintoshPlatform = 1;
const u16 FullNameId = 4;

static u32 BigEndian16(const u8* p) { return static_cast<u32>(p[0] << 8 | p[1]); }
static u32 BigEndian32(const u8* p) { return BigEndian16(p) << 16 | BigEndian16(p + 2); }

// True when `count` bytes from `offset` lie inside `size` bytes.
static bool Inside(u32 offset, u32 count, u32 size) { return offset <= size && count <= size - offset; }

// The last Macintosh full name of the name table at `table`. A mapped file is
// far below 4 GB, so a table offset plus two 16-bit offsets cannot wrap.
static void ReadNameTable(const u8* font, u32 size, u32 table, char* name) {
    if (!Inside(table, NameHeaderSize, size)) return;
    u32 count = BigEndian16(font + table + 2);
    u32 strings = table + BigEndian16(font + table + 4);
    u32 record = table + NameHeaderSize;
    for (u32 i = 0; i < count; i++, record += NameRecordSize) {
        if (!Inside(record, NameRecordSize, size)) return;
        const u8* fields = font + record;
        if (BigEndian16(fields) != MacintoshPlatform || BigEndian16(fields + 6) != FullNameId) continue;
        u32 length = BigEndian16(fields + 8);
        if (length > FontNameLimit) length = FontNameLimit;
        u32 start = strings + BigEndian16(fields + 10);
        if (!Inside(start, length, size)) continue;  // a name outside the file is no name
        memcpy(name, font + start, length);
        name[length] = '\0';
    }
}

void FindMacintoshFullName(const u8* font, u32 size, char* name) {
    name[0] = '\0';
    if (size < OffsetTableSize) return;
    u32 tables = BigEndian16(font + TableCountOffset);
    if (tables > MaxTableRecords) tables = MaxTableRecords;
    for (u32 i = 0; i < tables; i++) {
        u32 record = OffsetTableSize + i * TableRecordSize;
        if (!Inside(record, TableRecordSize, size)) return;
        if (memcmp(font + record, "name", 4) == 0) {
            ReadNameTable(font, size, BigEndian32(font + record + TableOffsetField), name);
            return;
        }
    }
}

// The font's Macintosh full name, read through a mapping of the file so that
// a large font costs no copy.
static void ReadFontName(const char* path, char* name) {
    name[0] = '\0';
    FileHandle file = OpenExistingFile(path, OpenRead);
    if (file == NoFile) return;
    u32 size = FileSize(file);
    // An empty file cannot be mapped: CreateFileMappingA refuses it.
    HANDLE mapping = CreateFileMappingA(reinterpret_cast<HANDLE>(file), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping != nullptr) {
        const u8* view = static_cast<const u8*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
        if (view != nullptr) {
            FindMacintoshFullName(view, size, name);
            UnmapViewOfFile(view);
        }
        CloseHandle(mapping);
    }
    CloseFile(file);
}

void RegisterFont(const char* path) {
    char valueName[FontNameLimit + sizeof trueTypeSuffix];
    ReadFontName(path, valueName);
    if (AddFontResourceA(path) != 0) {
        NoteFontAdded(path);
        SendMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);
    }
    LogLine("font", path);
    if (valueName[0] == '\0') return;  // added, but not listed under a name
    strcat(valueName, trueTypeSuffix);
    HKEY key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, fontsKey, &key) != ERROR_SUCCESS) return;
    const char* slash = LastBackslash(path);
    const char* fileName = slash != nullptr ? slash + 1 : path;
    NoteRegistryValue(HKEY_LOCAL_MACHINE, fontsKey, valueName);
    // The terminator is stored too, so every reader gets a terminated text.
    RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(fileName),
                   static_cast<DWORD>(strlen(fileName) + 1));
    RegCloseKey(key);
}

// ---------------------------------------------------------------------------
// Self-registration

typedef HRESULT(STDAPICALLTYPE* RegistrationEntry)();

void SelfRegisterLibraries() {
    const FileEntry* entry = currentFirstEntry;
    for (u32 i = 0; i < currentFileCount; i++, entry = NextFileEntry(entry)) {
        if (entry->registration != SelfRegistering) continue;
        ResolveDestination(entry);
        // The altered search finds the libraries it needs beside it.
        HMODULE library = LoadLibraryExA(WorkPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (library == nullptr) continue;
        FARPROC found = GetProcAddress(library, registrationEntryName);
        if (found != nullptr) {
            reinterpret_cast<RegistrationEntry>(reinterpret_cast<void*>(found))();
            LogLine("registered", WorkPath);
        }
        FreeLibrary(library);
    }
}
