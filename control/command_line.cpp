#include "control/command_line.h"

#include "common/paths.h"

static char UpperCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

static const char* SkipBlanks(const char* p) {
    while (*p == ' ') p++;
    return p;
}

static bool IsSwitch(char c) { return c == '-' || c == '/'; }

// Copies the S option's argument into SourcePath and returns where it ends.
static const char* ReadSourceArgument(const char* p) {
    p = SkipBlanks(p);
    char end = ' ';
    if (*p == '"') {
        end = '"';
        p++;
    }
    u32 length = 0;
    for (; *p != '\0' && *p != end; p++)
        if (length + 1 < PathCapacity) SourcePath[length++] = *p;
    SourcePath[length] = '\0';
    if (end == '"' && *p == '"') p++;
    return p;
}

bool ReadCommandLine(const char* text) {
    bool deleteSelf = false;
    const char* p = SkipBlanks(text);
    while (IsSwitch(*p) && p[1] != '\0') {
        char letter = UpperCase(p[1]);
        p += 2;
        // Each test stops at a terminator, so nothing past the end is read.
        if (letter == 'D' && UpperCase(p[0]) == 'E' && UpperCase(p[1]) == 'L') deleteSelf = true;
        if (letter == 'S') p = ReadSourceArgument(p);
        while (*p != '\0' && *p != ' ' && !IsSwitch(*p)) p++;
        p = SkipBlanks(p);
    }
    return deleteSelf;
}
