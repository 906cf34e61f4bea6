// Checks of loaded record bodies. The setup program uses its records in
// place, following offsets, counts and string terminators, so every one of
// them is checked once against the body's decoded size when it is loaded; a
// body that fails is a damaged archive.
#pragma once
#include "archive/cursor.h"
#include "archive/records.h"

bool IsValidInstallSet(const u8* record, u32 size);
bool IsValidFileList(const u8* body, u32 size);
bool IsValidIniEntries(const u8* body, u32 size);
bool IsValidRegistryEntries(const u8* body, u32 size);
bool IsValidFilePatches(const u8* body, u32 size);
bool IsValidDialogTemplates(const u8* body, u32 size);
bool IsValidRegistration(const u8* body, u32 size);
bool IsValidLanguageTexts(const u8* body, u32 size);
// A body that holds one NUL-terminated text.
bool IsValidText(const u8* body, u32 size);
// Size of one FileEntry's fixed part and optional blocks, by its flags.
u32 FileEntryFixedSize(u8 entryFlags);
