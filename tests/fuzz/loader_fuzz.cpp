// Loads arbitrary bytes as an archive behind a stand-in setup program, then
// walks everything the loaded script offers, as the setup program would: any
// read outside a loaded record shows up under AddressSanitizer.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "archive/file_data.h"
#include "archive/loader.h"
#include "archive/texts.h"
#include "common/paths.h"
#include "tests/support/fuzz_files.h"

namespace {

const u32 StubSize = 16;

void WalkFileList(u32 set) {
    for (u32 i = 0;; i++) {
        FileEntry* entry = FileEntryAt(set, i);
        if (entry == nullptr) break;
        for (u32 n = 0; n < EntryStringCount; n++) (void)strlen(EntryString(entry, n));
    }
    (void)FindFileEntry("a.txt");
}

void WalkScript() {
    char message[MessageCapacity];
    for (u32 set = 0; set < setupScript.setCount; set++) {
        SelectInstallSet(set);
        for (u32 field : {DisplayNameField, CaptionField, DefaultDestinationField, RegistryKeyField,
                          RegistryValueField, IniFileField, IniSectionField, IniKeyField})
            (void)strlen(InstallSetText(set, field));
        for (u32 table = 0; table < 12; table++)
            for (u32 n = 0; n < 40; n++) (void)strlen(LookupText(table, n));
        for (u32 n = 0; n < 40; n++) FormatMessageText(message, n);
        WalkFileList(set);
    }
}

// Reads the first bytes of the file data, as an installation would.
void ReadSomeFileData() {
    if (OpenFileData(false) != FileDataReady) return;
    u8 buffer[64];
    u32 got;
    if (SeekFileData(0) == FileDataReady) ReadFileData(buffer, sizeof buffer, &got);
    CloseFileData();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string file = FuzzScratchFile("loader");
    static const u8 stub[StubSize] = {'M', 'Z'};
    if (!WriteFuzzInput(file, stub, StubSize, data, size)) return 0;

    if (!AllocatePathBuffers()) return 0;
    CopyPath(SourcePath, file.c_str(), PathCapacity);
    SetMessagePath("C:\\Fuzz");
    LoadFault fault = ReadSetupArchive(StubSize, nullptr);
    if (fault == LoadOk || fault == FileDataIncomplete) {
        WalkScript();
        if (fault == LoadOk) ReadSomeFileData();
    }
    ReleaseSetupScript();
    ReleasePathBuffers();
    return 0;
}
