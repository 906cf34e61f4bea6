// The loaded setup script: every record body of the archive, held in memory
// from loading until shutdown, and the install set that is current.
#pragma once
#include "archive/records.h"

struct LoadedBody {
    u8* data;  // null when the record was absent
    u32 size;  // decoded size
};

struct InstallSetSlot {
    LoadedBody record;  // the InstallSet record; its offsets are checked to lie inside it
    LoadedBody fileList;
    LoadedBody iniEntries;
    LoadedBody registryEntries;
    LoadedBody filePatches;
    LoadedBody registration;  // an extension: absent in older archives
    LoadedBody languageTexts;  // the LanguageTexts record chosen for the user's language, if any
    u8 languageMatch;          // how well it matches: a LanguageMatch
    char* destination;  // PathCapacity bytes: the set's destination folder
};

struct SetupScript {
    u32 setupFlags;
    u32 batchMilliseconds;  // InstallPace: 0 installs one entry a tick
    u32 codePage;           // CodePage: 0 when the texts are in the system's code page
    u32 uninstallLogPlace;  // UninstallLogPlace flags: 0 appends the log to the uninstaller
    u32 rollback;           // Rollback: nonzero takes back a cancelled or failed installation
    LoadedBody wizardPicture;
    LoadedBody backgroundPicture;
    LoadedBody backgroundTitle;
    LoadedBody backgroundStyle;
    LoadedBody dialogTemplates;
    LoadedBody prefixData;
    LoadedBody solidBlocks;  // SolidBlocks: absent when each entry's data is a stream of its own
    InstallSetSlot sets[MaxInstallSets];
    u32 setCount;
    u32 fixedPageSet;
    // Where the file-data stream starts in the setup file (just behind the
    // FileData header, at its length word) and its length in that file.
    u32 fileDataStart;
    u32 fileDataLength;
    bool fileDataUsable;
};

extern SetupScript setupScript;

// The user's interface language (a Windows language id), which chooses among
// a set's LanguageTexts records; set before loading, 0 when unknown.
extern u16 userLanguage;

// How well a LanguageTexts record suits userLanguage; a better one replaces
// a worse one while loading.
enum LanguageMatch : u8 { NoLanguageMatch = 0, PrimaryLanguageMatch = 1, ExactLanguageMatch = 2 };

// The current install set: the source of every text, of the file list and of
// DestinationPath. -1 before the first selection.
extern i32 currentSet;
extern u32 currentFileCount;
extern FileEntry* currentFirstEntry;

// A FixedPage record asks for one page alone.
extern bool singlePageMode;
extern u16 fixedPageNumber;

// Makes `set` current: saves DestinationPath into the previous set's buffer,
// takes the new set's file list and texts, and restores its DestinationPath.
void SelectInstallSet(u32 set);

FileEntry* NextFileEntry(const FileEntry* entry);
// String n (EntryStringIndex) of an entry.
const char* EntryString(const FileEntry* entry, u32 n);
// The first entry of the current set whose file name equals `name`, without
// regard to case; null when there is none.
FileEntry* FindFileEntry(const char* name);
// Entry `index` of set `set`'s file list; null when there is none.
FileEntry* FileEntryAt(u32 set, u32 index);

// A text field of an install set's record (DisplayNameField ...), or the
// empty text when it is absent.
const char* InstallSetText(u32 set, u32 field);
// The same text, or null when the field is absent (an empty text is present).
const char* InstallSetField(u32 set, u32 field);
u32 InstallSetNumber(u32 set, u32 field);

// Releases every loaded body and buffer and forgets the script.
void ReleaseSetupScript();
