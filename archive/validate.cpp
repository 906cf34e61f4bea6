#include "archive/validate.h"

// A string table: u16 count, then that many NUL-terminated texts.
static bool IsValidStringTable(const u8* record, u32 size, u32 offset) {
    if (offset >= size) return false;
    Cursor c = MakeCursor(record + offset, size - offset);
    u16 count = 0;
    TakeU16(c, &count);
    for (u32 i = 0; i < count && c.ok; i++) SkipString(c);
    return c.ok;
}

// A string table of exactly `size` bytes.
static bool IsWholeStringTable(const u8* table, u32 size) {
    Cursor c = MakeCursor(table, size);
    u16 count = 0;
    TakeU16(c, &count);
    for (u32 i = 0; i < count && c.ok; i++) SkipString(c);
    return c.ok && c.next == c.end;
}

bool IsValidLanguageTexts(const u8* body, u32 size) {
    Cursor c = MakeCursor(body, size);
    SkipBytes(c, LanguageTextsFixedSize);
    for (u32 t = 0; t < StringTableCount && c.ok; t++) {
        u32 length = 0;
        TakeU32(c, &length);
        const u8* table = TakeBytes(c, length);
        if (length != 0 && (table == nullptr || !IsWholeStringTable(table, length))) return false;
    }
    return c.ok;
}

static bool IsValidTextAt(const u8* record, u32 size, u32 offset) {
    if (offset >= size) return false;
    Cursor c = MakeCursor(record + offset, size - offset);
    return SkipString(c);
}

bool IsValidInstallSet(const u8* record, u32 size) {
    static const u32 textFields[] = {DisplayNameField, CaptionField,   DefaultDestinationField, RegistryKeyField,
                                     RegistryValueField, IniFileField, IniSectionField,        IniKeyField};
    if (size < InstallSetFixedSize) return false;
    for (u32 field : textFields) {
        u32 offset = ReadU32(record + field);
        if (offset != 0 && !IsValidTextAt(record, size, offset)) return false;
    }
    for (u32 t = 0; t < StringTableCount; t++) {
        u32 offset = ReadU32(record + StringTableFields + 4 * t);
        if (offset != 0 && !IsValidStringTable(record, size, offset)) return false;
    }
    return true;
}

u32 FileEntryFixedSize(u8 entryFlags) {
    u32 size = sizeof(FileEntry);
    if (entryFlags & HasVersionBlock) size += sizeof(VersionBlock);
    if (entryFlags & HasFileTimes) size += sizeof(FileTimes);
    return size;
}

// An entry's size field must cover its fixed part, its blocks and its six
// strings, and stay inside the list; entries are walked by that size.
static bool IsValidFileEntry(Cursor& list) {
    Cursor c = list;
    u16 entrySize = 0;
    if (!TakeU16(c, &entrySize) || static_cast<u32>(list.end - list.next) < entrySize) return false;
    if (entrySize < sizeof(FileEntry)) return false;
    u8 flags = list.next[offsetof(FileEntry, entryFlags)];
    Cursor strings = MakeCursor(list.next, entrySize);
    SkipBytes(strings, FileEntryFixedSize(flags));
    for (u32 i = 0; i < EntryStringCount; i++) SkipString(strings);
    if (!strings.ok) return false;
    list.next += entrySize;
    return true;
}

bool IsValidFileList(const u8* body, u32 size) {
    Cursor c = MakeCursor(body, size);
    u32 count = 0;
    if (!TakeU32(c, &count)) return false;
    for (u32 i = 0; i < count; i++)
        if (!IsValidFileEntry(c)) return false;
    return true;
}

// u16 count, then entries: u8 flags and four strings (file, section, key, value).
bool IsValidIniEntries(const u8* body, u32 size) {
    Cursor c = MakeCursor(body, size);
    u16 count = 0;
    TakeU16(c, &count);
    for (u32 i = 0; i < count && c.ok; i++) {
        SkipBytes(c, 1);
        for (int s = 0; s < 4; s++) SkipString(c);
    }
    return c.ok;
}

// u16 count, then entries: u32 root, u8 flags and three strings (key, name, data).
bool IsValidRegistryEntries(const u8* body, u32 size) {
    Cursor c = MakeCursor(body, size);
    u16 count = 0;
    TakeU16(c, &count);
    for (u32 i = 0; i < count && c.ok; i++) {
        SkipBytes(c, 5);
        for (int s = 0; s < 3; s++) SkipString(c);
    }
    return c.ok;
}

// u16 count, then entries: u32 offset, u32 pattern length n, 5 unread bytes,
// file name, replacement text, n pattern bytes.
bool IsValidFilePatches(const u8* body, u32 size) {
    Cursor c = MakeCursor(body, size);
    u16 count = 0;
    TakeU16(c, &count);
    for (u32 i = 0; i < count && c.ok; i++) {
        u32 offset = 0, patternLength = 0;
        TakeU32(c, &offset);
        TakeU32(c, &patternLength);
        SkipBytes(c, 5);
        SkipString(c);
        SkipString(c);
        SkipBytes(c, patternLength);
    }
    return c.ok;
}

// A table of u32 offsets (as many as the first offset / 4), each pointing
// inside the record.
bool IsValidDialogTemplates(const u8* body, u32 size) {
    if (size < 4) return false;
    u32 first = ReadU32(body);
    if (first < 4 || first % 4 != 0 || first > size) return false;
    for (u32 i = 0; i < first / 4; i++)
        if (ReadU32(body + 4 * i) >= size) return false;
    return true;
}

bool IsValidText(const u8* body, u32 size) { return IsValidTextAt(body, size, 0); }

bool IsValidRegistration(const u8* body, u32 size) {
    if (size < RegistrationFixedSize) return false;
    Cursor c = MakeCursor(body + RegistrationFixedSize, size - RegistrationFixedSize);
    for (u32 i = 0; i < RegistrationTextCount; i++)
        if (!SkipString(c)) return false;
    return true;
}
