#include "engine/install_log.h"

#include <windows.h>

#include <string.h>

#include "common/file.h"
#include "common/helpers.h"
#include "engine/setup_state.h"

// A line in the system's code page, then as wide characters, then as UTF-8
// (at most three bytes for each wide character of the basic plane).
const u32 LogLineCapacity = 1200;
const u32 WideLineCapacity = LogLineCapacity;
const u32 Utf8LineCapacity = 3 * LogLineCapacity + 2;
// The system's text for an error code.
const u32 SystemTextCapacity = 512;

bool OpenInstallLog(const char* path) {
    installLog = CreateNewFile(path);
    return installLog != NoFile;
}

// Appends `text` to `line` (LogLineCapacity bytes), as much as fits.
static void Append(char* line, const char* text) {
    u32 used = static_cast<u32>(strlen(line));
    CopyPath(line + used, text, LogLineCapacity - used);
}

static void WriteUtf8Line(const char* line) {
    WCHAR* wide;
    char* utf8;
    if (!AllocateBlock(WideLineCapacity * sizeof(WCHAR), &wide)) return;
    if (AllocateBlock(Utf8LineCapacity, &utf8)) {
        int count = MultiByteToWideChar(CP_ACP, 0, line, -1, wide, WideLineCapacity);
        int bytes = count > 1 ? WideCharToMultiByte(CP_UTF8, 0, wide, count - 1, utf8, Utf8LineCapacity - 2,
                                                    nullptr, nullptr)
                              : 0;
        utf8[bytes] = '\r';
        utf8[bytes + 1] = '\n';
        WriteToFile(installLog, utf8, static_cast<u32>(bytes) + 2);
        ReleaseBlock(&utf8);
    }
    ReleaseBlock(&wide);
}

void LogLine(const char* event, const char* subject, const char* detail) {
    char* line;
    if (installLog == NoFile || !AllocateZeroedBlock(LogLineCapacity, &line)) return;
    Append(line, event);
    Append(line, " ");
    Append(line, subject);
    if (detail != nullptr && detail[0] != '\0') {
        Append(line, ": ");
        Append(line, detail);
    }
    WriteUtf8Line(line);
    ReleaseBlock(&line);
}

void LogSystemError(const char* event, const char* subject, u32 error) {
    char text[SystemTextCapacity];
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                       sizeof text, nullptr) == 0)
        wsprintfA(text, "system error %lu", static_cast<unsigned long>(error));
    // The system's message ends with a line break of its own.
    for (char* end = text + strlen(text); end > text && (end[-1] == '\n' || end[-1] == '\r' || end[-1] == ' ');)
        *--end = '\0';
    LogLine(event, subject, text);
}

void CloseInstallLog(int exitCode, const char* reason) {
    if (installLog == NoFile) return;
    char code[24];
    wsprintfA(code, "%d", exitCode);
    LogLine("exit code", code, reason);
    CloseFile(installLog);
    installLog = NoFile;
}
