#include "uninstall/uninstall_log.h"

#include <string.h>

#include "archive/cursor.h"
#include "archive/records.h"
#include "archive/uninstall_log_format.h"
#include "archive/uninstall_settings.h"
#include "archive/uninstall_texts.h"
#include "common/file.h"
#include "common/helpers.h"
#include "common/paths.h"
#include "uninstall/places.h"

// Enough for the DOS stub, the PE headers and the section table.
static const u32 HeaderBytes = 4096;
// A log bigger than this is no log setup wrote.
static const u32 LargestData = 64u << 20;
static const u32 PeOffsetField = 0x3C;
static const u32 SectionHeaderSize = 40;
static const u32 SectionRawSizeField = 16;
static const u32 SectionRawOffsetField = 20;

u32 ImageEnd(const u8* header, u32 size) {
    if (size < PeOffsetField + 4 || header[0] != 'M' || header[1] != 'Z') return 0;
    u32 pe = ReadU32(header + PeOffsetField);
    if (pe > size - 24 || memcmp(header + pe, "PE\0\0", 4) != 0) return 0;
    u32 sections = ReadU16(header + pe + 6);
    u32 table = pe + 24 + ReadU16(header + pe + 20);
    if (table > size || sections > (size - table) / SectionHeaderSize) return 0;
    u32 end = 0;
    for (u32 i = 0; i < sections; i++) {
        const u8* section = header + table + i * SectionHeaderSize;
        u32 rawEnd = ReadU32(section + SectionRawOffsetField) + ReadU32(section + SectionRawSizeField);
        if (rawEnd > end) end = rawEnd;
    }
    return end;
}

static bool ReadTail(FileHandle file, UninstallData* data) {
    u8 header[HeaderBytes];
    u32 got = 0;
    if (!ReadFromFile(file, header, HeaderBytes, &got)) return false;
    u32 start = ImageEnd(header, got);
    u32 size = FileSize(file);
    if (start == 0 || size == SeekFailed || size < start || size - start > LargestData) return false;
    data->imageSize = start;
    data->size = size - start;
    if (data->size == 0) return true;
    if (SeekFile(file, static_cast<i32>(start), SeekFromStart) != start) return false;
    return AllocateBlock(data->size, &data->bytes) && ReadExactly(file, data->bytes, data->size);
}

// The log file beside the program, read whole. One that is there but
// cannot be read, or is too large for a log, is no log setup wrote: it
// stays marked as there, without bytes, and is found damaged.
static void ReadLogBeside(const char* path, UninstallData* data) {
    char logPath[PathCapacity];
    if (!PutUninstallLogPath(logPath, path, PathCapacity)) return;
    FileHandle file = OpenExistingFile(logPath, OpenRead);
    if (file == NoFile) return;
    data->logBeside = true;
    u32 size = FileSize(file);
    bool read = size != SeekFailed && size != 0 && size <= LargestData && AllocateBlock(size, &data->logBytes) &&
                ReadExactly(file, data->logBytes, size);
    CloseFile(file);
    if (!read) return ReleaseBlock(&data->logBytes);
    data->logSize = size;
}

// The texts of one more language, taken when it suits the user better than
// the texts found so far: u16 language, u16 code page, the texts.
static void ConsiderLanguageTexts(UninstallData* data, const u8* body, u32 length, u16 userLanguage) {
    const u32 FixedSize = 4;
    if (length < FixedSize || userLanguage == 0) return;
    u16 language = ReadU16(body);
    u8 match = language == userLanguage                                ? 2
               : ((language ^ userLanguage) & PrimaryLanguageMask) == 0 ? 1
                                                                         : 0;
    if (match <= data->languageMatch) return;
    data->languageMatch = match;
    data->textsCodePage = ReadU16(body + 2);
    data->texts = body + FixedSize;
    data->textsLength = length - FixedSize;
}

// A counted string the program reads into a buffer of `capacity` bytes
// (archive/cursor.h, TakeCountedText), stepped over.
static void SkipCountedText(Cursor& cursor, u32 capacity) {
    u16 length;
    const u8* bytes = TakeU16(cursor, &length) && length < capacity ? TakeBytes(cursor, length) : nullptr;
    if (bytes == nullptr || memchr(bytes, 0, length) != nullptr) cursor.ok = false;
}

// True when a body, if there is one, reads whole by `layout` and nothing is
// left over. A leading '#' is a u32 count of the items the rest describes;
// then 'n' a u32, 'b' a byte, and counted strings the removal reads into
// buffers of its own: 'p' a path or key (uninstall/places.h), 's' a
// setting's name, 'v' a setting's value (archive/uninstall_settings.h).
static bool ReadsWhole(const u8* body, u32 length, const char* layout) {
    if (body == nullptr) return true;
    Cursor cursor = MakeCursor(body, length);
    u32 count = 1;
    if (*layout == '#') {
        layout++;
        if (!TakeU32(cursor, &count)) return false;
    }
    // Every item takes at least a byte, so a count larger than the body
    // fails the cursor within as many items as the body has bytes.
    for (u32 i = 0; i < count && cursor.ok; i++) {
        for (const char* field = layout; *field != '\0'; field++) {
            u32 number;
            if (*field == 'n') TakeU32(cursor, &number);
            if (*field == 'b') SkipBytes(cursor, 1);
            if (*field == 'p') SkipCountedText(cursor, ResolvedCapacity);
            if (*field == 's') SkipCountedText(cursor, SettingNameCapacity);
            if (*field == 'v') SkipCountedText(cursor, SettingValueCapacity);
        }
    }
    return cursor.ok && cursor.next == cursor.end;
}

// The records whose bodies the program reads, which each file holds once.
static const u16 singleRecords[] = {UninstallTextsRecord, UninstallCodePageRecord, UninstallSettingsRecord,
                                    LogFileListRecord, LogShortcutListRecord, LogUninstallKeyRecord};

// Finds the records of one file up to its closing header; false when they
// are damaged (see FindUninstallRecords).
static bool FindRecordsIn(UninstallData* data, const u8* bytes, u32 size, u16 userLanguage) {
    Cursor cursor = MakeCursor(bytes, size);
    u32 found = 0;  // a bit for each of singleRecords
    bool holdsLog = false;
    u16 id, flags;  // flags and the reserved byte: 0 in every record here
    u32 length;
    while (TakeU16(cursor, &id) && TakeU16(cursor, &flags) && TakeU32(cursor, &length)) {
        if (flags != 0) return false;
        // The closing header has no body. A log ends its file there; the
        // program's data may be followed by what a signature adds.
        if (id == LogEndRecord) return length == 0 && (!holdsLog || cursor.next == cursor.end);
        const u8* body = TakeBytes(cursor, length);
        if (body == nullptr) return false;
        for (u32 i = 0; i < sizeof singleRecords / sizeof singleRecords[0]; i++) {
            if (id != singleRecords[i]) continue;
            if (found & (1u << i)) return false;
            found |= 1u << i;
        }
        if (id == UninstallTextsRecord && data->languageMatch == 0) data->texts = body, data->textsLength = length;
        if (id == UninstallCodePageRecord && length >= 4 && data->languageMatch == 0)
            data->textsCodePage = ReadU32(body);
        if (id == UninstallLanguageTextsRecord) ConsiderLanguageTexts(data, body, length, userLanguage);
        if (id == LogFileListRecord) data->fileList = body, data->fileListLength = length, holdsLog = true;
        if (id == LogShortcutListRecord) data->shortcutList = body, data->shortcutListLength = length;
        if (id == LogUninstallKeyRecord) data->uninstallKey = body, data->uninstallKeyLength = length;
        if (id == UninstallSettingsRecord) data->settings = body, data->settingsLength = length;
    }
    return false;  // no closing header: the file was cut short
}

void FindUninstallRecords(UninstallData* data, u16 userLanguage) {
    // Nothing behind the image is a program without a log; with a log
    // beside it, its data must be there too.
    bool sound = (data->size == 0 && !data->logBeside) || FindRecordsIn(data, data->bytes, data->size, userLanguage);
    if (data->logBeside) {
        // The log beside the program is the log, whatever the program's
        // own file holds, and setup writes its file list first of all.
        data->fileList = data->shortcutList = data->uninstallKey = nullptr;
        sound = FindRecordsIn(data, data->logBytes, data->logSize, userLanguage) && data->fileList != nullptr && sound;
    }
    data->damaged = !sound || !ReadsWhole(data->fileList, data->fileListLength, "#ppb") ||
                    !ReadsWhole(data->shortcutList, data->shortcutListLength, "#pp") ||
                    !ReadsWhole(data->uninstallKey, data->uninstallKeyLength, "np") ||
                    !ReadsWhole(data->settings, data->settingsLength, "#bbnsssv");
}

bool LoadUninstallData(const char* path, UninstallData* data, u16 userLanguage) {
    memset(data, 0, sizeof *data);
    FileHandle file = OpenExistingFile(path, OpenRead);
    if (file == NoFile) return false;
    bool read = ReadTail(file, data);
    CloseFile(file);
    if (!read) {
        ReleaseUninstallData(data);
        return false;
    }
    ReadLogBeside(path, data);
    FindUninstallRecords(data, userLanguage);
    return true;
}

void ReleaseUninstallData(UninstallData* data) {
    ReleaseBlock(&data->bytes);
    ReleaseBlock(&data->logBytes);
    memset(data, 0, sizeof *data);
}

const char* UninstallTextOf(const UninstallData& data, u32 n) {
    u32 at = 0;
    for (u32 i = 0; at < data.textsLength; i++) {
        const u8* text = data.texts + at;
        const u8* nul = static_cast<const u8*>(memchr(text, 0, data.textsLength - at));
        if (nul == nullptr) break;  // an unterminated last text is no text
        if (i == n) return reinterpret_cast<const char*>(text);
        at += static_cast<u32>(nul - text) + 1;
    }
    return "";
}
