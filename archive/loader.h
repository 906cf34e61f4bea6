// Reading the archive behind the setup program into the SetupScript.
#pragma once
#include "archive/script.h"
#include "common/file.h"

enum LoadFault {
    LoadOk = 0,
    NoArchiveAppended,      // the archive offset is 0
    SetupFileUnreadable,    // the setup file cannot be opened
    RecordHeaderCutShort,   // the file ends inside a record header (or before FileData)
    RecordBodyCutShort,     // the file ends inside a record body
    BodyDoesNotDecode,      // a compressed body is not a valid stream of its declared size
    BodyTooLarge,           // no memory for a body
    DamagedRecord,          // a body whose offsets, counts or strings leave it
    SetRecordBeforeSet,     // a per-set record before the first InstallSet
    TooManyInstallSets,     // a seventh InstallSet
    FileDataIncomplete,     // FileData is empty or the file ends inside it
};

struct LoadReport {
    LoadFault fault;
    u32 recordOffset;  // file offset of the record being read when it failed
    u16 recordId;
};

// Called for each install set as soon as its record is loaded, to work out
// the set's default destination into DestinationPath (the setup program asks
// the registry and profile files there); null leaves the destination empty.
extern void (*findEarlierInstallation)(u32 set);

// Status of ReadRecordBody.
enum BodyStatus { BodyRead = 0, BodyUnreadable = 1, BodyNoMemory = 5 };

// Reads the body behind `header` at the file's position into a new block.
// `size` (optional) receives the decoded size, even when the read fails.
BodyStatus ReadRecordBody(FileHandle file, const RecordHeader& header, u8** body, u32* size);

// Loads every record of the archive that starts at `archiveOffset` in the
// file named by SourcePath (copied to ArchivePath) and selects the set named
// by a FixedPage record, or the first. On FileDataIncomplete the script is
// loaded and a set selected, so the caller can show the set's message.
LoadFault ReadSetupArchive(u32 archiveOffset, LoadReport* report);
