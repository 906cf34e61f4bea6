#include "uninstall/uninstall_log.h"

#include <string.h>

#include "archive/records.h"
#include "archive/uninstall_log_format.h"
#include "archive/uninstall_settings.h"
#include "archive/uninstall_texts.h"
#include "common/file.h"
#include "common/helpers.h"
#include "common/paths.h"

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

// The log file beside the program, read whole; its records are taken over
// those of the program's own file. A file too large for a log is no log.
static void ReadLogBeside(const char* path, UninstallData* data, u16 userLanguage) {
    char logPath[PathCapacity];
    if (!PutUninstallLogPath(logPath, path, PathCapacity)) return;
    FileHandle file = OpenExistingFile(logPath, OpenRead);
    if (file == NoFile) return;
    u32 size = FileSize(file);
    bool read = size != SeekFailed && size <= LargestData && AllocateBlock(size, &data->logBytes) &&
                ReadExactly(file, data->logBytes, size);
    CloseFile(file);
    if (!read) return ReleaseBlock(&data->logBytes);
    data->logSize = size;
    FindUninstallRecordsIn(data, data->logBytes, size, userLanguage);
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

void FindUninstallRecords(UninstallData* data, u16 userLanguage) {
    FindUninstallRecordsIn(data, data->bytes, data->size, userLanguage);
}

void FindUninstallRecordsIn(UninstallData* data, const u8* bytes, u32 size, u16 userLanguage) {
    u32 at = 0;
    while (size - at >= sizeof(RecordHeader)) {
        u16 id = ReadU16(bytes + at);
        u32 length = ReadU32(bytes + at + 4);
        at += sizeof(RecordHeader);
        if (id == LogEndRecord || length > size - at) return;
        const u8* body = bytes + at;
        if (id == UninstallTextsRecord && data->languageMatch == 0) data->texts = body, data->textsLength = length;
        if (id == UninstallCodePageRecord && length >= 4 && data->languageMatch == 0)
            data->textsCodePage = ReadU32(body);
        if (id == UninstallLanguageTextsRecord) ConsiderLanguageTexts(data, body, length, userLanguage);
        if (id == LogFileListRecord) data->fileList = body, data->fileListLength = length;
        if (id == LogShortcutListRecord) data->shortcutList = body, data->shortcutListLength = length;
        if (id == LogUninstallKeyRecord) data->uninstallKey = body, data->uninstallKeyLength = length;
        if (id == UninstallSettingsRecord) data->settings = body, data->settingsLength = length;
        at += length;
    }
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
    FindUninstallRecords(data, userLanguage);
    ReadLogBeside(path, data, userLanguage);
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
