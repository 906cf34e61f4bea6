// Shell shortcuts: the desktop shortcut of an entry (made by the installation
// as the entry is installed) and the program-menu shortcuts of all entries,
// made after the last file.
#include "engine/shortcuts.h"

#include <shlobj.h>
#include <string.h>

#include "archive/script.h"
#include "common/helpers.h"
#include "common/paths.h"
#include "common/system_paths.h"
#include "engine/folders.h"
#include "engine/install_log.h"
#include "engine/path_macros.h"


// Folder-list items that name a menu folder instead of a folder below Programs.
static const char startMenuKeyword[] = "#Start Menu#";
static const char startupKeyword[] = "#Startup#";
static const char linkExtension[] = ".lnk";
const char FolderSeparator = ';';

bool CreateShortcut(const char* target, const char* link, const char* arguments, u32 iconIndex) {
    IShellLinkA* shellLink;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&shellLink))))
        return false;
    shellLink->SetPath(target);
    char folder[WorkPathCapacity];
    CopyPath(folder, target, WorkPathCapacity);
    char* slash = LastBackslash(folder);
    if (slash != nullptr) {
        *slash = '\0';
        shellLink->SetWorkingDirectory(folder);
    }
    if (arguments != nullptr && arguments[0] != '\0') shellLink->SetArguments(arguments);
    if (iconIndex != 0) shellLink->SetIconLocation(target, static_cast<int>(iconIndex));
    IPersistFile* file;
    HRESULT result = shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(result)) {
        // A link path too long for the conversion is refused rather than
        // saved under an unterminated name.
        WCHAR widePath[MAX_PATH];
        result = MultiByteToWideChar(CP_ACP, 0, link, -1, widePath, MAX_PATH) != 0 ? file->Save(widePath, TRUE)
                                                                                  : E_FAIL;
        file->Release();
    }
    shellLink->Release();
    LogLine("shortcut", link, SUCCEEDED(result) ? nullptr : "it could not be written");
    return SUCCEEDED(result);
}

// The path of shell folder `csidl` into `folder` (at least PathCapacity bytes).
static bool PutShellFolder(int csidl, char* folder) { return GetShellFolderPath(csidl, folder); }

// Makes `folder` the current directory, creating it when it does not exist.
static bool EnterFolder(char* folder) {
    if (SetCurrentDirectoryA(folder)) return true;
    AppendBackslash(folder);
    CreateFolderPath(folder);
    RemoveTrailingBackslash(folder);
    return SetCurrentDirectoryA(folder) != FALSE;
}

// One program-menu shortcut to WorkPath in the folder `item` names.
static void CreateFolderShortcut(const char* item, const FileEntry* entry, ShortcutRecorder recorder) {
    int csidl = CSIDL_PROGRAMS;
    const char* subfolder = item;
    if (lstrcmpiA(item, startMenuKeyword) == 0) {
        csidl = CSIDL_STARTMENU;
        subfolder = "";
    } else if (lstrcmpiA(item, startupKeyword) == 0) {
        csidl = CSIDL_STARTUP;
        subfolder = "";
    }
    char link[WorkPathCapacity];
    if (!PutShellFolder(csidl, link)) return;
    const char* name = EntryString(entry, EntryShortcutName);
    // Two backslashes at most are added besides the names.
    if (strlen(link) + strlen(subfolder) + strlen(name) + 2 + sizeof linkExtension > WorkPathCapacity) return;
    if (subfolder[0] != '\0') {
        AppendBackslash(link);
        strcat(link, subfolder);
    }
    RemoveTrailingBackslash(link);
    if (!EnterFolder(link)) return;
    u32 folderLength = static_cast<u32>(strlen(link));
    wsprintfA(link + folderLength, "\\%s%s", name, linkExtension);
    CreateShortcut(WorkPath, link, EntryString(entry, EntryShortcutArguments), entry->iconIndex);
    // Recorded even when the save failed, so the uninstaller still looks.
    if (recorder != nullptr) {
        link[folderLength] = '\0';
        recorder(link, link + folderLength + 1);
    }
}

// The entry's shortcuts in each folder of its ';'-separated folder list. An
// empty item is the Programs folder itself; a ';' at the very end adds none.
static void CreateEntryShortcuts(const FileEntry* entry, ShortcutRecorder recorder) {
    const char* list = EntryString(entry, EntryMenuFolders);
    char item[WorkPathCapacity];
    for (;;) {
        const char* end = strchr(list, FolderSeparator);
        u32 length = end != nullptr ? static_cast<u32>(end - list) : static_cast<u32>(strlen(list));
        if (length < WorkPathCapacity) {  // a longer item cannot name a folder
            memcpy(item, list, length);
            item[length] = '\0';
            CreateFolderShortcut(item, entry, recorder);
        }
        if (end == nullptr || end[1] == '\0') return;
        list = end + 1;
    }
}

void CreateProgramShortcuts(ShortcutRecorder recorder) {
    const FileEntry* entry = currentFirstEntry;
    for (u32 i = 0; i < currentFileCount; i++, entry = NextFileEntry(entry)) {
        if (EntryString(entry, EntryShortcutName)[0] == '\0') continue;
        ResolveDestination(entry);
        CreateEntryShortcuts(entry, recorder);
    }
}
