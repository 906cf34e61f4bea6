// A file list built in memory and made the current set's, for as long as it
// lives: for tests of code that walks the current set's entries.
#pragma once
#include <string.h>

#include <initializer_list>
#include <vector>

#include "archive/script.h"

// The fields of one entry that tests vary; the other strings are empty.
struct TestEntry {
    const char* name;
    u8 kind = KeptFile;
    u8 folder = SetFolder;
    u32 size = 0;
};

class CurrentEntries {
public:
    CurrentEntries(std::initializer_list<TestEntry> testEntries)
        : savedFirst(currentFirstEntry), savedCount(currentFileCount) {
        for (const TestEntry& shape : testEntries) {
            std::vector<u8> entry(sizeof(FileEntry));
            entry.insert(entry.end(), shape.name, shape.name + strlen(shape.name) + 1);
            entry.resize(entry.size() + EntryStringCount - 1);  // the five other strings, empty
            FileEntry fixed = {};
            fixed.entrySize = static_cast<u16>(entry.size());
            fixed.entryKind = shape.kind;
            fixed.destinationFolder = shape.folder;
            fixed.size = shape.size;
            memcpy(entry.data(), &fixed, sizeof fixed);
            body.insert(body.end(), entry.begin(), entry.end());
        }
        currentFirstEntry = reinterpret_cast<FileEntry*>(body.data());
        currentFileCount = static_cast<u32>(testEntries.size());
    }
    ~CurrentEntries() {
        currentFirstEntry = savedFirst;
        currentFileCount = savedCount;
    }
    CurrentEntries(const CurrentEntries&) = delete;
    CurrentEntries& operator=(const CurrentEntries&) = delete;
    FileEntry* First() const { return currentFirstEntry; }

private:
    std::vector<u8> body;
    FileEntry* savedFirst;
    u32 savedCount;
};
