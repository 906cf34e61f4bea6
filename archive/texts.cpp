#include "archive/texts.h"

#include <string.h>

#include "archive/script.h"
#include "common/display_text.h"
#include "common/paths.h"

static const char emptyText[1] = "";

static bool HasCurrentSet() { return currentSet >= 0 && static_cast<u32>(currentSet) < setupScript.setCount; }

// Table t of a LanguageTexts body (checked by the loader), or null.
static const u8* LanguageTable(const LoadedBody& body, u32 table) {
    const u8* at = body.data + LanguageTextsFixedSize;
    for (u32 t = 0; t < table; t++) at += 4 + ReadU32(at);
    return ReadU32(at) != 0 ? at + 4 : nullptr;
}

static const u8* StringTableOf(const InstallSetSlot& set, u32 table) {
    if (set.languageTexts.data != nullptr) return LanguageTable(set.languageTexts, table);
    u32 offset = ReadU32(set.record.data + StringTableFields + 4 * table);
    return offset != 0 ? set.record.data + offset : nullptr;
}

u32 TextCodePage() {
    if (HasCurrentSet()) {
        const LoadedBody& language = setupScript.sets[currentSet].languageTexts;
        if (language.data != nullptr) return ReadU16(language.data + 2);
    }
    return setupScript.codePage;
}

const char* LookupText(u32 table, u32 n) {
    if (table >= StringTableCount || !HasCurrentSet()) return emptyText;
    const u8* tableStart = StringTableOf(setupScript.sets[currentSet], table);
    if (tableStart == nullptr) return emptyText;
    if (static_cast<u16>(n) >= ReadU16(tableStart)) return emptyText;
    const char* text = reinterpret_cast<const char*>(tableStart + 2);
    for (u32 i = 0; i < static_cast<u16>(n); i++) text += strlen(text) + 1;
    return text;
}

static bool HasPathConversion(const char* text) {
    for (; *text != '\0'; text++)
        if (text[0] == '%' && text[1] == 's') return true;
    return false;
}

// Appends `text` at *length, keeping room for the terminator.
static void AppendText(char* buffer, u32* length, const char* text, u32 count) {
    for (u32 i = 0; i < count && *length + 1 < MessageCapacity; i++) buffer[(*length)++] = text[i];
}

void FormatTextWithPath(char* buffer, const char* format, const char* path) {
    char shown[WorkPathCapacity];
    if (path != nullptr) PathForDisplay(path, shown, WorkPathCapacity);
    FormatTextWithText(buffer, format, path != nullptr ? shown : nullptr);
}

void FormatTextWithText(char* buffer, const char* format, const char* path) {
    u32 length = 0;
    if (!HasPathConversion(format)) {
        AppendText(buffer, &length, format, static_cast<u32>(strlen(format)));
        buffer[length] = '\0';
        return;
    }
    bool pathUsed = false;
    for (const char* p = format; *p != '\0'; p++) {
        if (p[0] == '%' && p[1] == '%') {
            AppendText(buffer, &length, "%", 1);
            p++;
        } else if (p[0] == '%' && p[1] == 's') {
            const char* inserted = pathUsed || path == nullptr ? "" : path;
            AppendText(buffer, &length, inserted, static_cast<u32>(strlen(inserted)));
            pathUsed = true;
            p++;
        } else {
            AppendText(buffer, &length, p, 1);
        }
    }
    buffer[length] = '\0';
}

void FormatMessageText(char* buffer, u32 n) { FormatTextWithPath(buffer, LookupText(MessageTexts, n), MessagePath); }

void FormatTextWithNumber(char* buffer, const char* format, u32 number) {
    u32 length = 0;
    bool numberUsed = false;
    for (const char* p = format; *p != '\0'; p++) {
        const char* conversion = p[0] == '%' && p[1] == 'l' ? p + 2 : p + 1;
        if (p[0] == '%' && p[1] == '%') {
            AppendText(buffer, &length, "%", 1);
            p++;
        } else if (p[0] == '%' && !numberUsed && (*conversion == 'd' || *conversion == 'u' || *conversion == 'i')) {
            char digits[11];
            u32 count = 0;
            do digits[10 - count++] = static_cast<char>('0' + number % 10);
            while ((number /= 10) != 0);
            AppendText(buffer, &length, digits + 11 - count, count);
            numberUsed = true;
            p = conversion;
        } else {
            AppendText(buffer, &length, p, 1);
        }
    }
    buffer[length] = '\0';
}

void SetMessagePath(const char* text) { CopyPath(MessagePath, text, PathCapacity); }
