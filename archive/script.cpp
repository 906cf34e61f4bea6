#include "archive/script.h"

#include <string.h>

#include "archive/solid_data.h"
#include "archive/texts.h"
#include "common/display_text.h"
#include "common/helpers.h"
#include "common/paths.h"

SetupScript setupScript;
u16 userLanguage;
i32 currentSet = -1;
u32 currentFileCount;
FileEntry* currentFirstEntry;
bool singlePageMode;
u16 fixedPageNumber = NoFixedPage;

static const char emptyText[1] = "";

void SelectInstallSet(u32 set) {
    if (set >= setupScript.setCount) return;  // only a damaged archive names such a set
    if (currentSet >= 0 && DestinationPath != nullptr && setupScript.sets[currentSet].destination != nullptr)
        CopyPath(setupScript.sets[currentSet].destination, DestinationPath, PathCapacity);
    currentSet = static_cast<i32>(set);
    currentFileCount = 0;
    currentFirstEntry = nullptr;
    InstallSetSlot& slot = setupScript.sets[set];
    if (slot.fileList.data != nullptr) {
        currentFileCount = ReadU32(slot.fileList.data);
        currentFirstEntry = reinterpret_cast<FileEntry*>(slot.fileList.data + 4);
    }
    if (DestinationPath != nullptr && slot.destination != nullptr)
        CopyPath(DestinationPath, slot.destination, PathCapacity);
    displayCodePage = TextCodePage();
}

FileEntry* NextFileEntry(const FileEntry* entry) {
    return reinterpret_cast<FileEntry*>(const_cast<u8*>(NextListEntry(reinterpret_cast<const u8*>(entry))));
}

static u32 EntryStringsOffset(const FileEntry* entry) {
    u32 offset = sizeof(FileEntry);
    if (entry->entryFlags & HasVersionBlock) offset += sizeof(VersionBlock);
    if (entry->entryFlags & HasFileTimes) offset += sizeof(FileTimes);
    return offset;
}

const char* EntryString(const FileEntry* entry, u32 n) {
    const char* text = reinterpret_cast<const char*>(entry) + EntryStringsOffset(entry);
    for (u32 i = 0; i < n; i++) text += strlen(text) + 1;
    return text;
}

FileEntry* FindFileEntry(const char* name) {
    FileEntry* entry = currentFirstEntry;
    for (u32 i = 0; i < currentFileCount; i++, entry = NextFileEntry(entry))
        if (SameTextIgnoringCase(EntryString(entry, EntryFileName), name)) return entry;
    return nullptr;
}

FileEntry* FileEntryAt(u32 set, u32 index) {
    if (set >= setupScript.setCount) return nullptr;
    const LoadedBody& list = setupScript.sets[set].fileList;
    if (list.data == nullptr || index >= ReadU32(list.data)) return nullptr;
    FileEntry* entry = reinterpret_cast<FileEntry*>(list.data + 4);
    for (u32 i = 0; i < index; i++) entry = NextFileEntry(entry);
    return entry;
}

const char* InstallSetField(u32 set, u32 field) {
    if (set >= setupScript.setCount) return nullptr;
    const LoadedBody& record = setupScript.sets[set].record;
    u32 offset = ReadU32(record.data + field);
    return offset == 0 ? nullptr : reinterpret_cast<const char*>(record.data + offset);
}

const char* InstallSetText(u32 set, u32 field) {
    const char* text = InstallSetField(set, field);
    return text != nullptr ? text : emptyText;
}

u32 InstallSetNumber(u32 set, u32 field) {
    if (set >= setupScript.setCount) return 0;
    return ReadU32(setupScript.sets[set].record.data + field);
}

static void ReleaseBody(LoadedBody& body) {
    ReleaseBlock(&body.data);
    body.size = 0;
}

void ReleaseSetupScript() {
    LoadedBody* singletons[] = {&setupScript.wizardPicture,   &setupScript.backgroundPicture,
                                &setupScript.backgroundTitle, &setupScript.backgroundStyle,
                                &setupScript.dialogTemplates, &setupScript.prefixData,
                                &setupScript.solidBlocks};
    ResetSolidData(true);
    for (LoadedBody* body : singletons) ReleaseBody(*body);
    for (InstallSetSlot& slot : setupScript.sets) {
        LoadedBody* bodies[] = {&slot.record, &slot.fileList, &slot.iniEntries, &slot.registryEntries,
                                &slot.filePatches, &slot.registration, &slot.languageTexts};
        for (LoadedBody* body : bodies) ReleaseBody(*body);
        ReleaseBlock(&slot.destination);
    }
    memset(&setupScript, 0, sizeof setupScript);
    currentSet = -1;
    currentFileCount = 0;
    currentFirstEntry = nullptr;
    singlePageMode = false;
    fixedPageNumber = NoFixedPage;
}
