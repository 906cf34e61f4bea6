#include "control/command_line.h"

#include <string.h>

static char UpperCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

static const char* SkipBlanks(const char* p) {
    while (*p == ' ') p++;
    return p;
}

static bool IsSwitch(char c) { return c == '-' || c == '/'; }

// Copies an argument, quoted or up to `bareEnd`, into `value` (PathCapacity
// bytes) and returns where it ends.
static const char* ReadArgument(const char* p, char* value, char bareEnd) {
    char end = bareEnd;
    if (*p == '"') {
        end = '"';
        p++;
    }
    u32 length = 0;
    for (; *p != '\0' && *p != end; p++)
        if (length + 1 < PathCapacity) value[length++] = *p;
    value[length] = '\0';
    if (end == '"' && *p == '"') p++;
    return p;
}

// The rest of an option's word up to its '='; true, with `*p` past the '=',
// when there is one.
static bool FindValue(const char** p) {
    const char* q = *p;
    while (*q != '\0' && *q != ' ' && *q != '=' && !IsSwitch(*q)) q++;
    if (*q != '=') return false;
    *p = q + 1;
    return true;
}

// An option that takes "=value": the value into `value`, or marks the line
// invalid when there is none.
static const char* ReadValueOption(const char* p, char* value, RunOptions* options) {
    if (!FindValue(&p)) {
        options->invalid = true;
        return p;
    }
    return ReadArgument(p, value, ' ');
}

static const char* ReadOption(char letter, const char* p, RunOptions* options) {
    switch (letter) {
        // Each test stops at a terminator, so nothing past the end is read.
        case 'D':
            if (UpperCase(p[0]) == 'E' && UpperCase(p[1]) == 'L') options->deleteSelf = true;
            return p;
        case 'S': return ReadArgument(SkipBlanks(p), SourcePath, ' ');
        case 'Q': options->mode = QuietRun; return p;
        case 'P': options->mode = PassiveRun; return p;
        case 'N': options->noRestart = true; return p;
        case 'T': return ReadValueOption(p, options->target, options);
        case 'I': return ReadValueOption(p, options->installSet, options);
        case 'L': return ReadValueOption(p, options->logFile, options);
        default: return p;
    }
}

void ReadCommandLine(const char* text, RunOptions* options) {
    memset(options, 0, sizeof *options);
    const char* p = SkipBlanks(text);
    while (IsSwitch(*p) && p[1] != '\0') {
        char letter = UpperCase(p[1]);
        p = ReadOption(letter, p + 2, options);
        while (*p != '\0' && *p != ' ' && !IsSwitch(*p)) p++;
        p = SkipBlanks(p);
    }
}
