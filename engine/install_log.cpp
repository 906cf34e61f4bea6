#include "engine/install_log.h"

#include <windows.h>

#include <string.h>

#include "common/display_text.h"
#include "common/file.h"
#include "common/helpers.h"
#include "engine/setup_state.h"

// A line is gathered as wide characters, each part converted from its own
// code page, and written as UTF-8 (at most three bytes for each wide
// character of the basic plane).
const u32 WideLineCapacity = 2400;
const u32 Utf8LineCapacity = 3 * WideLineCapacity + 2;
// The system's text for an error code.
const u32 SystemTextCapacity = 512;

struct WideLine {
    WCHAR* text;
    u32 length;
};

bool OpenInstallLog(const char* path) {
    installLog = CreateNewFile(path);
    return installLog != NoFile;
}

// Appends `part`, in code page `codePage`, when it fits whole.
static void AppendPart(WideLine& line, const char* part, u32 codePage) {
    int count = MultiByteToWideChar(codePage, 0, part, -1, line.text + line.length,
                                    static_cast<int>(WideLineCapacity - line.length));
    if (count > 0) line.length += static_cast<u32>(count) - 1;
}

static void WriteUtf8Line(const WideLine& line) {
    char* utf8;
    if (!AllocateBlock(Utf8LineCapacity, &utf8)) return;
    int bytes = line.length > 0 ? WideCharToMultiByte(CP_UTF8, 0, line.text, static_cast<int>(line.length), utf8,
                                                      Utf8LineCapacity - 2, nullptr, nullptr)
                                : 0;
    utf8[bytes] = '\r';
    utf8[bytes + 1] = '\n';
    WriteToFile(installLog, utf8, static_cast<u32>(bytes) + 2);
    ReleaseBlock(&utf8);
}

// "event subject: detail", the detail in `detailCodePage`.
static void WriteLine(const char* event, const char* subject, const char* detail, u32 detailCodePage) {
    WideLine line = {nullptr, 0};
    if (installLog == NoFile || !AllocateBlock(WideLineCapacity * sizeof(WCHAR), &line.text)) return;
    AppendPart(line, event, CP_ACP);
    if (subject[0] != '\0') {
        AppendPart(line, " ", CP_ACP);
        AppendPart(line, subject, CP_ACP);
    }
    if (detail != nullptr && detail[0] != '\0') {
        AppendPart(line, subject[0] != '\0' ? ": " : " ", CP_ACP);
        AppendPart(line, detail, detailCodePage);
    }
    WriteUtf8Line(line);
    ReleaseBlock(&line.text);
}

void LogLine(const char* event, const char* subject, const char* detail) { WriteLine(event, subject, detail, CP_ACP); }

void LogShownText(const char* event, const char* subject, const char* text) {
    WriteLine(event, subject, text, displayCodePage != 0 ? displayCodePage : CP_ACP);
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
