#include "archive/loader.h"

#include "archive/inflater.h"
#include "archive/solid_data.h"
#include "archive/validate.h"
#include "common/helpers.h"
#include "common/paths.h"

void (*findEarlierInstallation)(u32 set);

// A stream cannot expand more than this: a longest match (258 bytes) per two
// bits, plus the last window. A larger declared size is a damaged body.
const u32 MaxExpansion = 1032;

BodyStatus ReadRecordBody(FileHandle file, const RecordHeader& header, u8** body, u32* size) {
    *body = nullptr;
    bool compressed = (header.flags & CompressedBody) != 0;
    u32 decoded = header.length;
    if (compressed && (header.length < 4 || !ReadExactly(file, &decoded, 4))) {
        if (size != nullptr) *size = 0;
        return BodyUnreadable;
    }
    decoded = ReadU32(reinterpret_cast<const u8*>(&decoded));
    if (size != nullptr) *size = decoded;
    u32 here = SeekFile(file, 0, SeekFromCurrent);
    u32 left = FileSize(file) - here;
    u32 stored = compressed ? header.length - 4 : header.length;
    if (here == SeekFailed || stored > left) return BodyUnreadable;
    if (compressed && static_cast<u64>(decoded) > static_cast<u64>(stored) * MaxExpansion + WindowSize)
        return BodyUnreadable;
    if (!AllocateBlock(decoded, body)) return BodyNoMemory;
    bool ok;
    if (compressed) {
        u32 produced = 0;
        InflateSource source = FileInflateSource(&file, 0);
        ok = InflateToMemory(*body, decoded, source, &produced) && produced == decoded;
    } else {
        ok = ReadExactly(file, *body, decoded);
    }
    if (!ok) ReleaseBlock(body);
    return ok ? BodyRead : BodyUnreadable;
}

// Where each record kind goes.
static LoadedBody* SingletonSlot(u16 id) {
    switch (id) {
        case WizardPictureRecord: return &setupScript.wizardPicture;
        case BackgroundPictureRecord: return &setupScript.backgroundPicture;
        case BackgroundTitleRecord: return &setupScript.backgroundTitle;
        case BackgroundStyleRecord: return &setupScript.backgroundStyle;
        case DialogTemplatesRecord: return &setupScript.dialogTemplates;
        case PrefixDataRecord: return &setupScript.prefixData;
        case SolidBlocksRecord: return &setupScript.solidBlocks;
        default: return nullptr;
    }
}

static LoadedBody* PerSetSlot(u16 id, InstallSetSlot& set) {
    switch (id) {
        case FileListRecord: return &set.fileList;
        case IniEntriesRecord: return &set.iniEntries;
        case RegistryEntriesRecord: return &set.registryEntries;
        case FilePatchesRecord: return &set.filePatches;
        case RegistrationRecord: return &set.registration;
        default: return nullptr;
    }
}

static bool IsValidBody(u16 id, const LoadedBody& body) {
    switch (id) {
        case BackgroundTitleRecord: return IsValidText(body.data, body.size);
        case BackgroundStyleRecord: return body.size >= sizeof(BackgroundStyleBody);
        case DialogTemplatesRecord: return IsValidDialogTemplates(body.data, body.size);
        case InstallSetRecord: return IsValidInstallSet(body.data, body.size);
        case FileListRecord: return IsValidFileList(body.data, body.size);
        case IniEntriesRecord: return IsValidIniEntries(body.data, body.size);
        case RegistryEntriesRecord: return IsValidRegistryEntries(body.data, body.size);
        case FilePatchesRecord: return IsValidFilePatches(body.data, body.size);
        case RegistrationRecord: return IsValidRegistration(body.data, body.size);
        case SolidBlocksRecord: return IsValidSolidBlocks(body.data, body.size);
        default: return true;
    }
}

// Reads a body into `slot`, replacing an earlier one, and checks it.
static LoadFault LoadBody(FileHandle file, const RecordHeader& header, LoadedBody& slot) {
    LoadedBody body = {nullptr, 0};
    BodyStatus status = ReadRecordBody(file, header, &body.data, &body.size);
    if (status == BodyNoMemory) return BodyTooLarge;
    if (status != BodyRead) return (header.flags & CompressedBody) ? BodyDoesNotDecode : RecordBodyCutShort;
    if (!IsValidBody(header.id, body)) {
        ReleaseBlock(&body.data);
        return DamagedRecord;
    }
    ReleaseBlock(&slot.data);
    slot = body;
    return LoadOk;
}

static LanguageMatch MatchOfLanguage(u16 language) {
    if (userLanguage == 0) return NoLanguageMatch;
    if (language == userLanguage) return ExactLanguageMatch;
    bool samePrimary = ((language ^ userLanguage) & PrimaryLanguageMask) == 0;
    return samePrimary ? PrimaryLanguageMatch : NoLanguageMatch;
}

// A set's texts in one more language, read and checked whole: kept when its
// language suits the user better than the one kept so far.
static LoadFault LoadLanguageTexts(FileHandle file, const RecordHeader& header, InstallSetSlot& set) {
    LoadedBody body = {nullptr, 0};
    BodyStatus status = ReadRecordBody(file, header, &body.data, &body.size);
    if (status == BodyNoMemory) return BodyTooLarge;
    if (status != BodyRead) return (header.flags & CompressedBody) ? BodyDoesNotDecode : RecordBodyCutShort;
    if (!IsValidLanguageTexts(body.data, body.size)) {
        ReleaseBlock(&body.data);
        return DamagedRecord;
    }
    LanguageMatch match = MatchOfLanguage(ReadU16(body.data));
    if (match <= set.languageMatch) {
        ReleaseBlock(&body.data);
        return LoadOk;
    }
    ReleaseBlock(&set.languageTexts.data);
    set.languageTexts = body;
    set.languageMatch = match;
    return LoadOk;
}

static LoadFault LoadInstallSet(FileHandle file, const RecordHeader& header) {
    if (setupScript.setCount == MaxInstallSets) return TooManyInstallSets;
    u32 set = setupScript.setCount;
    InstallSetSlot& slot = setupScript.sets[set];
    LoadFault fault = LoadBody(file, header, slot.record);
    if (fault != LoadOk) return fault;
    if (!AllocateZeroedBlock(PathCapacity, &slot.destination)) return BodyTooLarge;
    setupScript.setCount++;
    if (findEarlierInstallation != nullptr) {
        findEarlierInstallation(set);
        CopyPath(slot.destination, DestinationPath, PathCapacity);
    }
    return LoadOk;
}

// Small raw bodies read into fixed places (SetupFlags, FixedPage).
static LoadFault LoadRawWord(FileHandle file, const RecordHeader& header, u8* word) {
    if (header.length < 4) return DamagedRecord;
    return ReadExactly(file, word, 4) ? LoadOk : RecordBodyCutShort;
}

static LoadFault LoadFileData(FileHandle file) {
    u8 length[4];
    setupScript.fileDataStart = SeekFile(file, 0, SeekFromCurrent);
    if (!ReadExactly(file, length, 4)) return RecordBodyCutShort;
    setupScript.fileDataLength = ReadU32(length);
    u64 end = static_cast<u64>(setupScript.fileDataStart) + 4 + setupScript.fileDataLength;
    if (FileSize(file) >= end) setupScript.fileDataUsable = true;
    return LoadOk;
}

// Setup-wide records whose body is one word, and the field each fills.
static u32* WordSlot(u16 id) {
    switch (id) {
        case SetupFlagsRecord: return &setupScript.setupFlags;
        case InstallPaceRecord: return &setupScript.batchMilliseconds;
        case CodePageRecord: return &setupScript.codePage;
        case UninstallLogPlaceRecord: return &setupScript.uninstallLogPlace;
        case RollbackRecord: return &setupScript.rollback;
        default: return nullptr;
    }
}

static LoadFault LoadRecord(FileHandle file, const RecordHeader& header, bool* fixedPage) {
    u8 word[4];
    LoadFault fault;
    if (u32* slot = WordSlot(header.id)) {
        fault = LoadRawWord(file, header, word);
        if (fault == LoadOk) *slot = ReadU32(word);
        return fault;
    }
    switch (header.id) {
        case LanguageTextsRecord:
            if (setupScript.setCount == 0) return SetRecordBeforeSet;
            return LoadLanguageTexts(file, header, setupScript.sets[setupScript.setCount - 1]);
        case FixedPageRecord:
            fault = LoadRawWord(file, header, word);
            if (fault != LoadOk) return fault;
            fixedPageNumber = ReadU16(word);
            setupScript.fixedPageSet = ReadU16(word + 2);
            *fixedPage = true;
            return LoadOk;
        case InstallSetRecord: return LoadInstallSet(file, header);
        default: break;
    }
    if (LoadedBody* slot = SingletonSlot(header.id)) return LoadBody(file, header, *slot);
    if (setupScript.setCount == 0) return PerSetSlot(header.id, setupScript.sets[0]) ? SetRecordBeforeSet : LoadOk;
    if (LoadedBody* slot = PerSetSlot(header.id, setupScript.sets[setupScript.setCount - 1]))
        return LoadBody(file, header, *slot);
    return LoadOk;  // unknown ids are passed over by their length
}

static LoadFault ReadRecords(FileHandle file, LoadReport* report, bool* fixedPage) {
    for (;;) {
        RecordHeader header;
        report->recordOffset = SeekFile(file, 0, SeekFromCurrent);
        report->recordId = 0;
        if (!ReadExactly(file, &header, sizeof header)) return RecordHeaderCutShort;
        report->recordId = header.id;
        if (header.id == FileDataRecord) return header.length == 0 ? LoadOk : LoadFileData(file);
        if (header.length == 0) continue;
        u64 next = static_cast<u64>(report->recordOffset) + sizeof header + header.length;
        if (next > FileSize(file)) return RecordBodyCutShort;
        LoadFault fault = LoadRecord(file, header, fixedPage);
        if (fault != LoadOk) return fault;
        if (SeekFile(file, static_cast<i32>(next), SeekFromStart) != next) return RecordBodyCutShort;
    }
}

LoadFault ReadSetupArchive(u32 archiveOffset, LoadReport* report) {
    LoadReport unused;
    if (report == nullptr) report = &unused;
    *report = LoadReport{LoadOk, archiveOffset, 0};
    if (archiveOffset == 0) return report->fault = NoArchiveAppended;
    CopyPath(ArchivePath, SourcePath, PathCapacity);
    FileHandle file = OpenExistingFile(ArchivePath, OpenRead);
    if (file == NoFile) return report->fault = SetupFileUnreadable;
    bool fixedPage = false;
    LoadFault fault = SeekFile(file, static_cast<i32>(archiveOffset), SeekFromStart) == archiveOffset
                          ? ReadRecords(file, report, &fixedPage)
                          : RecordHeaderCutShort;
    CloseFile(file);
    if (fault != LoadOk) return report->fault = fault;
    singlePageMode = fixedPage;
    // A FixedPage record naming a set that is not there falls back to the
    // first set, so a loaded script always has a current set.
    u32 first = fixedPage && setupScript.fixedPageSet < setupScript.setCount ? setupScript.fixedPageSet : 0;
    SelectInstallSet(first);
    if (!setupScript.fileDataUsable && !fixedPage) return report->fault = FileDataIncomplete;
    return LoadOk;
}
