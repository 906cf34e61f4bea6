// What the current install set writes after its files: the destination
// record that a later run reads back to propose the same folder, then the
// set's INI values, registry values and in-place file patches. Every entry
// fails on its own and silently; nothing here changes engineState.
#include "engine/set_entries.h"

#include <windows.h>

#include <string.h>

#include "archive/script.h"
#include "archive/validate.h"
#include "common/file.h"
#include "common/helpers.h"
#include "common/paths.h"
#include "common/registry.h"
#include "engine/install_log.h"
#include "engine/path_macros.h"


// Entry flags bit 0: an existing value is kept.
// A patch at this offset goes where its marker is; also "marker not found".
const u32 PatchAtMarker = 0xFFFFFFFF;
// Bytes of a patch entry between its marker length and its target.
const u32 UnreadPatchBytes = 5;
// The keep tests look at no more than the start of an existing value.
const u32 KeepProbeSize = 20;
// The marker search reads the file in steps of this many bytes.
const u32 MarkerSearchStep = 16384;

// One entry of a list, its fields in the order the list stores them.
struct ListEntry {
    u32 numbers[2];  // a registry root index; a patch offset and marker length
    u8 flags;
    const char* texts[4];
    const u8* marker;
};

// Field kinds of a list entry's layout, one character each.
const char NumberField = 'n';  // u32, into the next of `numbers`
const char FlagsField = 'f';   // u8
const char UnreadField = 'u';  // UnreadPatchBytes bytes
const char TextField = 't';    // NUL-terminated, into the next of `texts`
const char MarkerField = 'm';  // as many bytes as the second number says
const char IniEntryLayout[] = {FlagsField, TextField, TextField, TextField, TextField, 0};
const char RegistryEntryLayout[] = {NumberField, FlagsField, TextField, TextField, TextField, 0};
const char FilePatchLayout[] = {NumberField, NumberField, UnreadField, TextField, TextField, MarkerField, 0};

// Takes one entry by its layout; false when it does not lie wholly inside the
// list's body. The loader checked the bodies, but the walk stays bounded on
// its own.
static bool TakeListEntry(Cursor& c, const char* layout, ListEntry* entry) {
    u32* number = entry->numbers;
    const char** text = entry->texts;
    for (; *layout != 0; layout++) {
        switch (*layout) {
            case NumberField: TakeU32(c, number++); break;
            case FlagsField: TakeU8(c, &entry->flags); break;
            case UnreadField: SkipBytes(c, UnreadPatchBytes); break;
            case TextField:
                *text++ = reinterpret_cast<const char*>(c.next);
                SkipString(c);
                break;
            default:
                entry->marker = c.next;
                SkipBytes(c, entry->numbers[1]);
                break;
        }
    }
    return c.ok;
}

// Hands each entry of a list to `write`, in order; a damaged list ends at its
// damage.
static void WriteList(const LoadedBody& list, const char* layout, void (*write)(const ListEntry&)) {
    Cursor c = MakeCursor(list.data, list.size);
    u16 count = 0;
    TakeU16(c, &count);
    ListEntry entry;
    for (u32 i = 0; i < count && TakeListEntry(c, layout, &entry); i++) write(entry);
}

// `text` with its macros expanded, in a block the caller releases; null when
// memory is short.
static char* ExpandedText(const char* text, u32* length) {
    *length = ExpandMacros(nullptr, text, 0);
    char* expanded;
    if (!AllocateBlock(*length + 1, &expanded)) return nullptr;
    ExpandMacros(expanded, text, *length + 1);
    return expanded;
}

static void WriteProfileValue(const char* section, const char* key, const char* value, const char* file) {
    LogLine("INI entry", file, key);
    WritePrivateProfileStringA(section, key, value, file);
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, file);  // the system writes its cached copy out now
}

// A string value with its terminator counted, as REG_SZ readers expect.
static void SetRegistryText(HKEY root, const char* key, const char* name, const char* text) {
    HKEY opened;
    LogLine("registry value", key, name);
    if (RegCreateKeyA(root, key, &opened) != ERROR_SUCCESS) return;
    RegSetValueExA(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(strlen(text) + 1));
    RegCloseKey(opened);
}

static void RecordDestination(u32 set) {
    u32 flags = InstallSetNumber(set, SetFlagsField);
    const char* key = InstallSetField(set, RegistryKeyField);
    if ((flags & StoreDestinationInRegistry) && key != nullptr)
        SetRegistryText(RegistryRoot(InstallSetNumber(set, RegistryRootField)), key,
                        InstallSetField(set, RegistryValueField), DestinationPath);
    const char* file = InstallSetField(set, IniFileField);
    const char* section = InstallSetField(set, IniSectionField);
    const char* entry = InstallSetField(set, IniKeyField);
    if ((flags & StoreDestinationInIni) && file != nullptr && section != nullptr && entry != nullptr)
        WriteProfileValue(section, entry, DestinationPath, file);
}

// ---------------------------------------------------------------------------
// INI entries: u8 flags, file, section, key, value.

static void WriteIniEntry(const ListEntry& entry) {
    const char *file = entry.texts[0], *section = entry.texts[1], *key = entry.texts[2], *value = entry.texts[3];
    ResolveFileReference(file);
    char probe[KeepProbeSize];
    if ((entry.flags & KeepExistingValue) &&
        GetPrivateProfileStringA(section, key, "", probe, KeepProbeSize, WorkPath) != 0)
        return;
    u32 length;
    char* expanded = ExpandedText(value, &length);
    if (expanded == nullptr) return;
    WriteProfileValue(section, key, expanded, WorkPath);
    ReleaseBlock(&expanded);
}

// ---------------------------------------------------------------------------
// Registry entries: u32 root index, u8 flags, key path, value name, data.

// True when the value exists and is not empty. A value longer than the probe
// is not empty either; the system leaves the probe undefined then, so the
// answer comes from the length alone.
static bool HasRegistryValue(HKEY root, const char* key, const char* name) {
    HKEY opened;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    BYTE probe[KeepProbeSize] = {};
    DWORD size = KeepProbeSize;
    LONG status = RegQueryValueExA(opened, name, nullptr, nullptr, probe, &size);
    RegCloseKey(opened);
    return status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && probe[0] != 0);
}

static void WriteRegistryEntry(const ListEntry& entry) {
    HKEY root = RegistryRoot(entry.numbers[0]);
    const char *key = entry.texts[0], *name = entry.texts[1], *data = entry.texts[2];
    if ((entry.flags & KeepExistingValue) && HasRegistryValue(root, key, name)) return;
    u32 length;
    char* expanded = ExpandedText(data, &length);
    if (expanded == nullptr) return;
    SetRegistryText(root, key, name, expanded);
    ReleaseBlock(&expanded);
}

// ---------------------------------------------------------------------------
// File patches: u32 offset, u32 marker length, 5 unread bytes, target, text,
// marker bytes.

// Where `marker` first occurs in the file, read from its current (first)
// position; PatchAtMarker when it does not occur. The window holds the
// marker's length plus a step, so however long the marker, every start is
// compared once with all its bytes at hand.
static u32 FindMarker(FileHandle file, const u8* marker, u32 length) {
    u8* window;
    if (length == 0 || !AllocateBlock(length + MarkerSearchStep, &window)) return PatchAtMarker;
    u32 base = 0, filled = 0, got = 0, found = PatchAtMarker;
    while (ReadFromFile(file, window + filled, length + MarkerSearchStep - filled, &got) && got != 0) {
        filled += got;
        u32 start = 0;
        while (start + length <= filled && memcmp(window + start, marker, length) != 0) start++;
        if (start + length <= filled) {
            found = base + start;
            break;
        }
        // Compared starts leave the window; the bytes behind them may begin a marker.
        memmove(window, window + start, filled - start);
        base += start;
        filled -= start;
    }
    ReleaseBlock(&window);
    return found;
}

// Writes `text` over the file at `offset`, or at its marker's first place;
// a place the file cannot be positioned at gets nothing.
static void ApplyFilePatch(const ListEntry& entry) {
    u32 offset = entry.numbers[0];
    ResolveFileReference(entry.texts[0]);
    u32 length;
    char* expanded = ExpandedText(entry.texts[1], &length);
    if (expanded == nullptr) return;
    FileHandle file = length != 0 ? OpenExistingFile(WorkPath, OpenReadWrite) : NoFile;
    if (file != NoFile) {
        u32 at = offset != PatchAtMarker ? offset : FindMarker(file, entry.marker, entry.numbers[1]);
        if (at != PatchAtMarker && SeekFile(file, static_cast<i32>(at), SeekFromStart) == at)
            WriteToFile(file, expanded, length);
        CloseFile(file);
    }
    ReleaseBlock(&expanded);
}

// ---------------------------------------------------------------------------

void WriteSetEntries() {
    if (currentSet < 0) return;
    RemoveTrailingBackslash(DestinationPath);
    const InstallSetSlot& slot = setupScript.sets[currentSet];
    RecordDestination(currentSet);
    WriteList(slot.iniEntries, IniEntryLayout, WriteIniEntry);
    WriteList(slot.registryEntries, RegistryEntryLayout, WriteRegistryEntry);
    WriteList(slot.filePatches, FilePatchLayout, ApplyFilePatch);
}
