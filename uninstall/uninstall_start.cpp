#include "uninstall/uninstall_start.h"

#include <string.h>

static bool IsBlank(char c) { return c == ' ' || c == '\t'; }
static char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
static bool IsSwitch(char c) { return c == '/' || c == '-'; }

// The letter of a last word " /L" (or " -L"), or 0.
static char FinalSwitch(const char* line) {
    u32 end = static_cast<u32>(strlen(line));
    while (end > 0 && IsBlank(line[end - 1])) end--;
    return end >= 3 && IsBlank(line[end - 3]) && IsSwitch(line[end - 2]) ? Upper(line[end - 1]) : 0;
}

// A blank, a switch character, the letter and a double quote.
static const char* FindOriginalSwitch(const char* line) {
    for (const char* p = line; p[0] != '\0'; p++) {
        if (IsBlank(p[0]) && IsSwitch(p[1]) && Upper(p[2]) == OriginalSwitch && p[3] == '"') return p + 4;
    }
    return nullptr;
}

StartMode ReadStartMode(const char* commandLine, char* original, u32 capacity) {
    original[0] = '\0';
    char last = FinalSwitch(commandLine);
    if (last == SilentSwitch) return SilentStart;
    if (last == QuietSwitch) return QuietStart;
    const char* path = FindOriginalSwitch(commandLine);
    if (path == nullptr) return NormalStart;
    const char* close = strchr(path, '"');
    u32 length = close != nullptr ? static_cast<u32>(close - path) : static_cast<u32>(strlen(path));
    if (length == 0 || length >= capacity) return NormalStart;
    memcpy(original, path, length);
    original[length] = '\0';
    return RelocatedStart;
}

void FormatCopyCommand(char* command, const char* copy, const char* original) {
    strcpy(command, "\"");
    strcat(command, copy);
    strcat(command, "\" /U\"");
    strcat(command, original);
    strcat(command, "\"");
}
