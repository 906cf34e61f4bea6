// Loads arbitrary bytes as the uninstall program's own file (an image, then
// its texts, settings and log) and walks every record the way the program
// does; the same bytes serve as its command line. Any read outside the file
// or a record shows up under AddressSanitizer, and a log not found damaged
// whose lists do not read whole, each to its last byte, aborts.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "archive/cursor.h"
#include "archive/uninstall_settings.h"
#include "archive/uninstall_texts.h"
#include "common/paths.h"
#include "tests/support/fuzz_files.h"
#include "uninstall/uninstall_log.h"
#include "uninstall/uninstall_start.h"

namespace {

const u32 TextCapacity = SettingValueCapacity;  // the largest string the program reads

// `layout` names the fields of each record of a list: 'c' a counted text,
// 'b' a byte, 'n' a u32. True when a missing list, or every record of the
// list and nothing more.
bool WalkList(const u8* body, u32 length, const char* layout) {
    if (body == nullptr) return true;
    Cursor cursor = MakeCursor(body, length);
    u32 count;
    if (!TakeU32(cursor, &count)) return false;
    char text[TextCapacity];
    for (u32 i = 0; i < count; i++) {
        for (const char* field = layout; *field != '\0'; field++) {
            u8 byte;
            u32 number;
            bool read = *field == 'c'   ? TakeCountedText(cursor, text, TextCapacity)
                        : *field == 'b' ? TakeU8(cursor, &byte)
                                        : TakeU32(cursor, &number);
            if (!read) return false;
            if (*field == 'c') (void)strlen(text);
        }
    }
    return cursor.next == cursor.end;
}

void ReadCommandLine(const uint8_t* data, size_t size) {
    std::string line(reinterpret_cast<const char*>(data), size);
    char original[PathCapacity];
    (void)ReadStartMode(line.c_str(), original, PathCapacity);
    (void)strlen(original);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReadCommandLine(data, size);
    static const std::string file = FuzzScratchFile("uninstall-log");
    if (!WriteFuzzInput(file, nullptr, 0, data, size)) return 0;
    UninstallData loaded;
    if (!LoadUninstallData(file.c_str(), &loaded)) return 0;
    for (u32 n = 0; n <= UninstallTextCount; n++) (void)strlen(UninstallTextOf(loaded, n));
    bool whole = WalkList(loaded.fileList, loaded.fileListLength, "ccb") &&
                 WalkList(loaded.shortcutList, loaded.shortcutListLength, "cc") &&
                 WalkList(loaded.settings, loaded.settingsLength, "bbncccc");
    // The program removes nothing from a damaged log; any other it reads through.
    if (!loaded.damaged && !whole) abort();
    Cursor key = MakeCursor(loaded.uninstallKey, loaded.uninstallKeyLength);
    u32 root;
    char path[TextCapacity];
    if (TakeU32(key, &root)) (void)TakeCountedText(key, path, TextCapacity);
    ReleaseUninstallData(&loaded);
    return 0;
}
