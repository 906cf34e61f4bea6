// The registry values and profile entries a set writes, listed by kelvo in
// the data of its uninstall program so that the program can take them away
// again: setup's log names only files, shortcuts and the uninstall key.
// One record in the record format, between the texts and the closing header:
//
//   RecordHeader 0x1251, body: u32 count, then count items
//   item: u8 SettingKind, u8 SettingFlags, u32 registry root index
//         (0 HKEY_CLASSES_ROOT, 1 HKEY_CURRENT_USER, 2 HKEY_LOCAL_MACHINE,
//         3 HKEY_USERS; 0 for a profile entry), then four counted strings:
//         registry value:  key path, value name, "", data
//         profile entry:   file, section, key, value
//         (the data or value only with SettingOnlyIfUnchanged, else "")
//
// Data, values and profile file names are stored as in the set, with their
// "#...#" folder macros; the uninstall program expands them with its own
// folder as the installation folder. Key paths, value names, sections and
// keys are used as stored, as setup uses them.
#pragma once
#include "common/types.h"

// Distinct from the log's record ids and the texts record.
const u16 UninstallSettingsRecord = 0x1251;

enum SettingKind : u8 {
    RegistrySetting = 0,
    ProfileSetting = 1,
};

// Setup kept a value that was already there: it is ours, and is removed,
// only while it still reads as the data setup would have written.
const u8 SettingOnlyIfUnchanged = 0x01;

// Room for such a kept value's text, terminator included: kelvo lists no
// kept value that is longer, and other items carry no data at all.
const u32 SettingValueCapacity = 4096;
// Room for a key path, value name, file, section or key, terminator included.
const u32 SettingNameCapacity = 1024;
