// A file list whose entries set every field the shortcut and registration
// code reads, made the current set's for as long as it lives.
#pragma once
#include <string.h>

#include <initializer_list>
#include <vector>

#include "archive/script.h"

struct EntryShape {
    const char* name;
    const char* menuFolders = "";
    const char* shortcutName = "";
    const char* shortcutArguments = "";
    const char* desktopName = "";
    const char* desktopArguments = "";
    u16 iconIndex = 0;
    u8 folder = SetFolder;
    u8 registration = NoRegistration;
};

class ShapedEntries {
public:
    ShapedEntries(std::initializer_list<EntryShape> shapes) : savedFirst(currentFirstEntry), savedCount(currentFileCount) {
        for (const EntryShape& shape : shapes) {
            std::vector<u8> entry(sizeof(FileEntry));
            for (const char* text : {shape.name, shape.menuFolders, shape.shortcutName, shape.shortcutArguments,
                                     shape.desktopName, shape.desktopArguments})
                entry.insert(entry.end(), text, text + strlen(text) + 1);
            FileEntry fixed = {};
            fixed.entrySize = static_cast<u16>(entry.size());
            fixed.iconIndex = shape.iconIndex;
            fixed.destinationFolder = shape.folder;
            fixed.registration = shape.registration;
            memcpy(entry.data(), &fixed, sizeof fixed);
            body.insert(body.end(), entry.begin(), entry.end());
        }
        currentFirstEntry = reinterpret_cast<FileEntry*>(body.data());
        currentFileCount = static_cast<u32>(shapes.size());
    }
    ~ShapedEntries() {
        currentFirstEntry = savedFirst;
        currentFileCount = savedCount;
    }
    ShapedEntries(const ShapedEntries&) = delete;
    ShapedEntries& operator=(const ShapedEntries&) = delete;

private:
    std::vector<u8> body;
    FileEntry* savedFirst;
    u32 savedCount;
};
