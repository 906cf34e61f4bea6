// Layouts of the setup archive, shared by the setup program that reads it and
// the build tool that writes it.
//
// The archive is appended to the setup program at ArchiveOffset:
//
//   +-----------------------------+  0
//   | setup program (stub)        |
//   +-----------------------------+  ArchiveOffset
//   | RecordHeader | body         |  texts, templates, pictures, install sets,
//   | RecordHeader | body         |  file lists and entries, in any order but
//   | ...                         |  with each set's records behind its set
//   +-----------------------------+
//   | RecordHeader 0x7F7F         |  FileData: u32 V, then V bytes of packed
//   | u32 V | packed contents     |  file contents (continued in .D01, .D02 ...)
//   +-----------------------------+
//
// A body with flag bit 0 set is compressed: u32 decoded size, then a stream
// in the decoder's format. All integers are little-endian and unaligned.
#pragma once
#include "common/types.h"

#pragma pack(push, 1)

struct RecordHeader {
    u16 id;
    u8 flags;     // bit 0: body compressed
    u8 reserved;  // written as 0
    u32 length;   // body bytes behind the header
};

enum RecordId : u16 {
    SetupFlagsRecord = 0x1234,
    WizardPictureRecord = 0x1235,
    BackgroundPictureRecord = 0x1236,
    BackgroundTitleRecord = 0x1237,
    DialogTemplatesRecord = 0x1239,
    FileListRecord = 0x123A,
    FixedPageRecord = 0x123B,
    BackgroundStyleRecord = 0x123D,
    InstallSetRecord = 0x123E,
    PrefixDataRecord = 0x123F,
    IniEntriesRecord = 0x1240,
    RegistryEntriesRecord = 0x1241,
    FilePatchesRecord = 0x1242,
    // Extensions: records earlier setup programs pass over by their length.
    RegistrationRecord = 0x1260,
    InstallPaceRecord = 0x1261,
    CodePageRecord = 0x1262,
    LanguageTextsRecord = 0x1263,
    UninstallLogPlaceRecord = 0x1264,
    RollbackRecord = 0x1265,
    SolidBlocksRecord = 0x1266,
    FileDataRecord = 0x7F7F,
};

const u8 CompressedBody = 0x01;

// The Rollback record's word: a cancelled or failed installation is taken back.
const u32 RollbackOn = 1;

// SetupFlags bits.
const u32 FullScreenBackground = 0x01;
const u32 RemoveEarlierInstallations = 0x10;

struct FixedPageBody {
    u16 page;  // 0xFFFF: the normal wizard
    u16 set;
};
const u16 NoFixedPage = 0xFFFF;

struct BackgroundStyleBody {
    u32 shadowColour;
    u32 textColour;
    u8 font[60];  // LOGFONTA
};

// The fixed part of a FileEntry. An entry continues with an optional version
// block, optional file times and six NUL-terminated strings.
struct FileEntry {
    u16 entrySize;
    u16 outcome;
    u16 iconIndex;
    u32 dataOffset;
    u32 storedSize;
    u32 size;
    u32 checkValue;
    u8 entryFlags;
    u8 destinationFolder;
    u8 afterSetupRole;
    u8 sharedCount;
    u8 entryKind;
    u8 registration;
    u8 unused[2];
    u16 baseSet;
    u32 baseIndex;
};

struct VersionBlock {
    u32 versionHigh;
    u32 versionLow;
    u8 unused[8];
    u32 language;
};

struct FileTimes {
    u32 creation[2];
    u32 lastAccess[2];
    u32 lastWrite[2];
};

#pragma pack(pop)

static_assert(sizeof(RecordHeader) == 8, "record header layout");
static_assert(sizeof(FileEntry) == 36, "file entry layout");
static_assert(sizeof(VersionBlock) == 20, "version block layout");
static_assert(sizeof(FileTimes) == 24, "file times layout");
static_assert(sizeof(BackgroundStyleBody) == 68, "background style layout");

// FileEntry.entryFlags.
const u8 UninstallerEntry = 0x01;
const u8 VersionRule = 0x02;
const u8 LanguageRule = 0x04;
const u8 HasVersionBlock = VersionRule | LanguageRule;
const u8 HasFileTimes = 0x08;
const u8 DeltaEntry = 0x10;
const u8 CopiedFromSetupFolder = 0x20;

// FileEntry.destinationFolder.
enum DestinationFolder : u8 { SetFolder = 0, WindowsFolder = 1, SystemFolder = 2, FontsFolder = 3 };

// FileEntry.entryKind.
enum EntryKind : u8 { KeptFile = 0, RemovedFile = 1, SetupFolderFile = 2, FolderEntry = 3 };

// FileEntry.afterSetupRole.
enum AfterSetupRole : u8 { NoRole = 0, OpenedDocument = 1, LaunchedProgram = 2 };

// FileEntry.registration.
enum Registration : u8 { NoRegistration = 0, ScreenSaver = 1, SelfRegistering = 2 };

const u32 EntryStringCount = 6;
enum EntryStringIndex { EntryFileName = 0, EntryMenuFolders, EntryShortcutName, EntryShortcutArguments,
                        EntryDesktopName, EntryDesktopArguments };

// InstallSet record: byte offsets of its fields. Every text and table field
// holds an offset from the record's start; 0 means absent.
const u32 SetFlagsField = 0;
const u32 DisplayNameField = 4;
const u32 CaptionField = 8;
const u32 DefaultDestinationField = 12;
const u32 RegistryRootField = 16;  // a number, not an offset
const u32 RegistryKeyField = 20;
const u32 RegistryValueField = 24;
const u32 IniFileField = 28;
const u32 IniSectionField = 32;
const u32 IniKeyField = 36;
const u32 StringTableFields = 40;  // table t at 40 + 4 t
const u32 StringTableCount = 11;
const u32 InstallSetFixedSize = StringTableFields + 4 * StringTableCount;  // 84

// Registration (a set's record, behind its InstallSet): what the system's
// list of programs shows of the set's installation beyond its name.
//
//   u32 estimated size in KB | u32 flags | five NUL-terminated texts:
//   DisplayVersion, Publisher, DisplayIcon (with folder macros),
//   URLInfoAbout, HelpLink (an empty text writes no value)
const u32 RegistrationFixedSize = 8;
const u32 RegistrationTextCount = 5;
const u32 RegistrationNoModify = 0x01;
const u32 RegistrationNoRepair = 0x02;

// InstallPace (setup-wide): u32 milliseconds. Each tick of the progress page
// installs entries until that much time is used, instead of one entry.
const u32 DefaultBatchMilliseconds = 25;

// CodePage (setup-wide): u32, the Windows ANSI code page every text and name
// of the archive is written in. Without it they are in the system's code page.
// Setup shows texts of another code page through the wide-character calls on
// NT, and gives the control font the code page's character set.
//
// LanguageTexts (a set's record, behind its InstallSet; any number): the
// set's eleven string tables in one more language.
//
//   u16 language (a Windows language id) | u16 code page of its texts |
//   eleven times: u32 L, then L bytes of a StringTable (L = 0: no table)
//
// Setup takes the record whose language is the user's interface language,
// else the first whose primary language (low ten bits) matches, else the
// set's own tables, which are the project's first language.
const u32 LanguageTextsFixedSize = 4;

// UninstallLogPlace (setup-wide): u32 flags. With UninstallLogBeside, setup
// leaves the installed uninstaller as it is and writes the uninstall log to
// a file of its own beside it (archive/uninstall_log_format.h), so a signed
// uninstaller keeps its signature. Without the record the log is appended to
// the uninstaller.
const u32 UninstallLogBeside = 0x01;
const u16 PrimaryLanguageMask = 0x03FF;

// SolidBlocks (setup-wide): the file data is packed with LZMA, many files
// to a block, instead of one DEFLATE stream per entry. A block is a run of
// chunks, each with a header
//
//   u8 kind (StoredChunk, LzmaChunk, LzmaResetChunk) | u32 unpacked size |
//   u32 packed size (LZMA chunks only)
//
// then its bytes: stored as they are, or raw LZMA (no header, no end mark)
// that goes on from the chunks before it with a new range coder, and with
// new probabilities after LzmaResetChunk. Stored bytes join the dictionary
// too. Bytes that do not pack are stored, so they cost no decoding. The blocks'
// unpacked bytes, back to back in table order, form the unpacked stream, and
// entries' dataOffset and storedSize count bytes of it: an entry's data
// there is stored as it is (a file's bytes, storedSize = size, or a delta's
// streams). Without the record both count bytes of the file-data stream.
//
//   u8 codec (SolidLzma) | u8 0 | u16 0 | u32 dictionary size |
//   u32 block count | block count SolidBlock
//
// A block is decoded into a window of its unpacked size or the dictionary
// size, whichever is smaller, so that bounds the memory a setup takes.
struct SolidBlock {
    u32 packedOffset;  // where its stream starts in the file-data stream
    u32 packedSize;
    u32 unpackedSize;
    u8 filter;      // NoBranchFilter or X86BranchFilter
    u8 properties;  // LZMA's lc + 9 (lp + 5 pb)
    u16 reserved;   // 0
};
static_assert(sizeof(SolidBlock) == 16, "solid block layout");
const u32 SolidBlocksFixedSize = 12;
const u8 SolidLzma = 1;
enum ChunkKind : u8 { StoredChunk = 0, LzmaChunk = 1, LzmaResetChunk = 2 };
const u32 MinLzmaDictionary = 4096;
const u8 MaxLzmaProperties = 9 * 5 * 5 - 1;  // lc 8, lp 4, pb 4
// SolidBlock.filter: the block's bytes went through the x86 branch converter
// (archive/branch_filter.h) before they were packed.
const u8 NoBranchFilter = 0;
const u8 X86BranchFilter = 1;

// InstallSet SetFlags.
const u16 DestinationChangeable = 0x02;
const u16 StoreDestinationInRegistry = 0x04;
const u16 StoreDestinationInIni = 0x08;

// Flags of an INI or registry entry: leave a value that is already there.
const u8 KeepExistingValue = 0x01;

const u32 MaxInstallSets = 6;
const u32 DialogTemplateCount = 10;
const u32 TemplateBlockSize = 16384;

static inline u16 ReadU16(const u8* p) { return static_cast<u16>(p[0] | (p[1] << 8)); }
static inline u32 ReadU32(const u8* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<u32>(p[3]) << 24);
}
