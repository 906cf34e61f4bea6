// Checks of loaded record bodies. The setup program uses its records in
// place, following offsets, counts and string terminators, so every one of
// them is checked once against the body's decoded size when it is loaded; a
// body that fails is a damaged archive.
#pragma once
#include "archive/records.h"

// A bounded cursor over untrusted bytes: reads past the end fail and leave
// the cursor failed.
struct Cursor {
    const u8* next;
    const u8* end;
    bool ok;
};

Cursor MakeCursor(const u8* data, u32 size);
bool TakeU8(Cursor& c, u8* value);
bool TakeU16(Cursor& c, u16* value);
bool TakeU32(Cursor& c, u32* value);
bool SkipBytes(Cursor& c, u32 count);
// Steps over a NUL-terminated string that must end inside the cursor.
bool SkipString(Cursor& c);

bool IsValidInstallSet(const u8* record, u32 size);
bool IsValidFileList(const u8* body, u32 size);
bool IsValidIniEntries(const u8* body, u32 size);
bool IsValidRegistryEntries(const u8* body, u32 size);
bool IsValidFilePatches(const u8* body, u32 size);
bool IsValidDialogTemplates(const u8* body, u32 size);
bool IsValidRegistration(const u8* body, u32 size);
// A body that holds one NUL-terminated text.
bool IsValidText(const u8* body, u32 size);
// Size of one FileEntry's fixed part and optional blocks, by its flags.
u32 FileEntryFixedSize(u8 entryFlags);
