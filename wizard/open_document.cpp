#include "wizard/open_document.h"

#include <windows.h>
#include <shellapi.h>
#include <string.h>

#include "common/file.h"
#include "common/paths.h"
#include "engine/path_macros.h"
#include "engine/setup_state.h"

const char OpenCommandKey[] = "\\shell\\open\\command";
// A class name and its command key, then the command and a full path.
const u32 CommandCapacity = WorkPathCapacity + PathCapacity;

// The default value of `key` under the classes root into `value` (at most
// PathCapacity bytes; `key` and `value` may be the same buffer).
static LONG ReadClassDefault(const char* key, char* value) {
    HKEY opened;
    LONG status = RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_QUERY_VALUE, &opened);
    if (status != 0) return status;
    LONG size = PathCapacity;
    status = RegQueryValueA(opened, nullptr, value, &size);
    value[PathCapacity - 1] = '\0';
    RegCloseKey(opened);
    return status;
}

// Cuts `command` where the document's placeholder stands ("%1" in quotes,
// or bare); everything after it is dropped.
static void CutAtPlaceholder(char* command) {
    char* placeholder = strstr(command, "\"%1\"");
    if (placeholder == nullptr) placeholder = strstr(command, "%1");
    if (placeholder != nullptr) *placeholder = '\0';
}

u32 OpenWithAssociation(const char* path, const char* type) {
    u32 shell = static_cast<u32>(reinterpret_cast<UINT_PTR>(ShellExecuteA(nullptr, "open", path, nullptr, nullptr, SW_SHOW)));
    if (shell > 32) return shell;
    char command[CommandCapacity];
    LONG status = ReadClassDefault(type, command);
    if (status != 0) return static_cast<u32>(status);
    strcat(command, OpenCommandKey);
    status = ReadClassDefault(command, command);
    if (status != 0) return static_cast<u32>(status);
    CutAtPlaceholder(command);
    strcat(command, " ");
    strncat(command, path, CommandCapacity - strlen(command) - 1);
    return WinExec(command, SW_SHOW);
}

void OpenDocument() {
    if (documentEntry == nullptr) return;
    ResolveDestination(documentEntry);
    FileHandle file = OpenExistingFile(WorkPath, OpenRead);
    if (file == NoFile) return;
    CloseFile(file);
    const char* dot = strrchr(WorkPath, '.');
    OpenWithAssociation(WorkPath, dot != nullptr ? dot : ".");
}
