#include "common/helpers.h"

#include <string.h>

const u8* NextListEntry(const u8* entry) {
    return entry + (entry[0] | (entry[1] << 8));
}

const char* NextChar(const char* text) {
    if (*text == '\0') return text;
    return IsLeadByte(*text) && text[1] != '\0' ? text + 2 : text + 1;
}

char* FirstBackslash(const char* path) {
    for (; *path != '\0'; path = NextChar(path))
        if (*path == '\\') return const_cast<char*>(path);
    return nullptr;
}

char* LastBackslash(const char* path) {
    const char* last = nullptr;
    for (; *path != '\0'; path = NextChar(path))
        if (*path == '\\') last = path;
    return const_cast<char*>(last);
}

bool EndsWithBackslash(const char* path) {
    const char* last = LastBackslash(path);
    return last != nullptr && last[1] == '\0';
}

u32 WholeCharacterLength(const char* text, u32 limit) {
    const char* end = text;
    for (const char* next; *end != '\0' && static_cast<u32>((next = NextChar(end)) - text) <= limit;) end = next;
    return static_cast<u32>(end - text);
}

static char UpperCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameTextIgnoringCase(const char* a, const char* b) {
    for (;;) {
        if (IsLeadByte(*a)) {
            // The same lead byte on both sides: the pair is one character.
            if (a[0] != b[0] || a[1] != b[1]) return false;
            if (a[1] == '\0') return true;
            a += 2, b += 2;
            continue;
        }
        if (UpperCase(*a) != UpperCase(*b)) return false;
        if (*a == '\0') return true;
        a++, b++;
    }
}

void AppendBackslash(char* path) {
    if (path[0] != '\0' && !EndsWithBackslash(path)) {
        size_t length = strlen(path);
        path[length] = '\\';
        path[length + 1] = '\0';
    }
}

void RemoveTrailingBackslash(char* path) {
    if (strlen(path) > 3 && EndsWithBackslash(path)) path[strlen(path) - 1] = '\0';
}
