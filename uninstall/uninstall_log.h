// What the uninstall program reads from its own file: the image it runs
// from, then its texts and the uninstall log that setup appended, in the
// record format of the setup archive (archive/uninstall_log_format.h).
// The whole log is checked before anything is removed: a log that does not
// read whole, every record and every list to its last byte, is refused.
#pragma once
#include "common/types.h"

// The records found behind the image; a body pointer is null when its
// record is missing. Bodies point into `bytes`.
struct UninstallData {
    u32 imageSize;  // where the data begins in the file
    u8* bytes;
    u32 size;
    bool logBeside;  // the log file beside the program is there (even when it cannot be read)
    u8* logBytes;    // that file's bytes
    u32 logSize;
    bool damaged;    // the records do not read whole and consistent: nothing may be removed
    const u8* texts;  // the texts in the user's language, or the first language's
    u32 textsLength;
    u32 textsCodePage;  // 0: the system's
    u8 languageMatch;   // how well the texts' language suits the user: 0 not, 1 primary, 2 exactly
    const u8* fileList;  // u32 count, then the file records
    u32 fileListLength;
    const u8* shortcutList;  // u32 count, then the shortcut records
    u32 shortcutListLength;
    const u8* uninstallKey;  // u32 root, counted key path
    u32 uninstallKeyLength;
    const u8* settings;  // kelvo's list of registry values and profile entries
    u32 settingsLength;
};

// Length of the executable image that starts `header` (the file's first
// `size` bytes): the end of its last section. 0 when it is no PE image.
u32 ImageEnd(const u8* header, u32 size);

// Finds the records in `data->bytes` (`data->size` bytes), up to the first
// closing header, then those of the log file beside the program
// (`data->logBytes`, when `data->logBeside`), which take over the program's;
// records of other ids are passed over. Texts in more languages are chosen
// by `userLanguage` (a Windows language id, 0 unknown).
//
// Sets `data->damaged` when anything does not read as setup and kelvo wrote
// it: a header or body cut short, no closing header (or one with a body), a
// record of a known id twice in one file or with header flags, a list whose
// count does not match the records that fill its body, a counted string that
// runs past its record or does not fit where the program reads it, bytes
// after the closing header of a file that holds a log, or a log file beside
// the program that holds no file list. Only the program's own data behind
// the image may be empty, and only without a log beside it: that is a
// program without a log, not a damaged one.
void FindUninstallRecords(UninstallData* data, u16 userLanguage = 0);

// Reads everything behind the image of `path` and the log file beside it
// (PutUninstallLogPath) when there is one, and finds and checks the records
// (FindUninstallRecords). False when the file cannot be read or is no image;
// a file without texts or log still loads, with null bodies.
bool LoadUninstallData(const char* path, UninstallData* data, u16 userLanguage = 0);
void ReleaseUninstallData(UninstallData* data);

// Text n of the texts record, or the empty text.
const char* UninstallTextOf(const UninstallData& data, u32 n);
