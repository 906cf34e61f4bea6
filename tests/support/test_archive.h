// A setup archive put together in a test: install sets with their message
// texts and file lists in memory, and the file-data stream in a setup file
// on disk, opened as the installation opens it. Windows tests only; the
// path buffers must be allocated while it is in use.
#pragma once
#include <doctest/doctest.h>
#include <string.h>

#include <string>
#include <vector>

#include "archive/check_value.h"
#include "archive/file_data.h"
#include "archive/script.h"
#include "common/helpers.h"
#include "common/paths.h"
#include "tests/support/stored_stream.h"
#include "tests/support/win32_test_files.h"

inline std::vector<u8> TestBytes(const std::string& text) { return std::vector<u8>(text.begin(), text.end()); }

inline u32 CheckValueOf(const std::vector<u8>& bytes) {
    return RotateAddCheck(bytes.data(), static_cast<u32>(bytes.size()), 0);
}

// The fields of one FileEntry.
struct TestFileEntry {
    std::string name;
    u8 flags = 0;
    u8 folder = SetFolder;
    u32 dataOffset = 0;
    u32 storedSize = 0;
    u32 size = 0;
    u32 checkValue = 0;
    u16 baseSet = 0;
    u32 baseIndex = 0;
    VersionBlock version = {};
    FileTimes times = {};
};

class TestArchive {
public:
    static const u32 MessageCount = 31;

    // The setup file goes to `setupPath`, which becomes SourcePath.
    explicit TestArchive(const std::string& setupPath) : setupPath(setupPath), messages(MessageCount) {
        messages[0] = "Extraction Test";
        messages[22] = "Cannot replace %s";
        messages[29] = "%s is newer. Replace it?";
        messages[30] = "%s is in another language. Replace it?";
    }
    ~TestArchive() {
        CloseFileData();
        askForVolume = nullptr;
        ReleaseSetupScript();
    }
    TestArchive(const TestArchive&) = delete;
    TestArchive& operator=(const TestArchive&) = delete;

    void SetMessage(u32 n, const std::string& text) { messages[n] = text; }
    void SetPrefix(const std::vector<u8>& bytes) { prefix = bytes; hasPrefix = true; }

    // Appends `packed` to the file-data stream; returns its stream offset.
    u32 AddData(const std::vector<u8>& packed) {
        u32 offset = static_cast<u32>(data.size());
        data.insert(data.end(), packed.begin(), packed.end());
        return offset;
    }
    // An entry whose data is `contents` in stored blocks.
    TestFileEntry PackedFile(const std::string& name, const std::vector<u8>& contents) {
        std::vector<u8> packed = StoredStream(contents);
        TestFileEntry entry;
        entry.name = name;
        entry.dataOffset = AddData(packed);
        entry.storedSize = static_cast<u32>(packed.size());
        entry.size = static_cast<u32>(contents.size());
        entry.checkValue = CheckValueOf(contents);
        return entry;
    }
    // Adds `entry` to the file list of `set`; returns its index there.
    u32 AddEntry(const TestFileEntry& entry, u32 set = 0) {
        if (set >= lists.size()) lists.resize(set + 1);
        lists[set].push_back(entry);
        return static_cast<u32>(lists[set].size() - 1);
    }
    // The volume length the setup file declares; by default all the data.
    void DeclareLength(u32 length) { declaredLength = length; }

    // Writes the setup file, loads the sets, selects set 0 and opens the
    // file-data stream.
    void Open(bool interactive = false) {
        std::vector<u8> file(4);
        u32 length = declaredLength != NoLength ? declaredLength : static_cast<u32>(data.size());
        memcpy(file.data(), &length, 4);
        file.insert(file.end(), data.begin(), data.end());
        WriteWholeFile(setupPath, file);
        CopyPath(SourcePath, setupPath.c_str(), PathCapacity);

        if (lists.empty()) lists.resize(1);
        for (u32 set = 0; set < lists.size(); set++) {
            setupScript.sets[set].record = Keep(SetRecord());
            setupScript.sets[set].fileList = Keep(FileList(lists[set]));
        }
        setupScript.setCount = static_cast<u32>(lists.size());
        if (hasPrefix) setupScript.prefixData = Keep(prefix);
        setupScript.fileDataStart = 0;
        setupScript.fileDataLength = length;
        SelectInstallSet(0);
        REQUIRE(OpenFileData(interactive) == FileDataReady);
    }

    FileEntry* Entry(u32 index, u32 set = 0) const {
        FileEntry* entry = FileEntryAt(set, index);
        REQUIRE(entry != nullptr);
        return entry;
    }

private:
    static const u32 NoLength = ~0u;

    static void PutU32(std::vector<u8>& bytes, u32 at, u32 value) { memcpy(bytes.data() + at, &value, 4); }
    template <typename T> static void Append(std::vector<u8>& bytes, const T& value) {
        const u8* p = reinterpret_cast<const u8*>(&value);
        bytes.insert(bytes.end(), p, p + sizeof value);
    }

    static LoadedBody Keep(const std::vector<u8>& bytes) {
        LoadedBody body = {nullptr, static_cast<u32>(bytes.size())};
        REQUIRE(AllocateBlock(body.size == 0 ? 1 : body.size, &body.data));
        if (!bytes.empty()) memcpy(body.data, bytes.data(), bytes.size());
        return body;
    }

    // An InstallSet record whose table 6 holds the messages.
    std::vector<u8> SetRecord() const {
        std::vector<u8> body(InstallSetFixedSize, 0);
        PutU32(body, StringTableFields + 4 * 6, static_cast<u32>(body.size()));
        body.push_back(static_cast<u8>(messages.size()));
        body.push_back(0);
        for (const std::string& text : messages) body.insert(body.end(), text.c_str(), text.c_str() + text.size() + 1);
        return body;
    }

    static std::vector<u8> FileList(const std::vector<TestFileEntry>& entries) {
        std::vector<u8> list(4);
        PutU32(list, 0, static_cast<u32>(entries.size()));
        for (const TestFileEntry& e : entries) {
            std::vector<u8> bytes;
            FileEntry fixed = {};
            fixed.dataOffset = e.dataOffset;
            fixed.storedSize = e.storedSize;
            fixed.size = e.size;
            fixed.checkValue = e.checkValue;
            fixed.entryFlags = e.flags;
            fixed.destinationFolder = e.folder;
            fixed.baseSet = e.baseSet;
            fixed.baseIndex = e.baseIndex;
            Append(bytes, fixed);
            if (e.flags & HasVersionBlock) Append(bytes, e.version);
            if (e.flags & HasFileTimes) Append(bytes, e.times);
            bytes.insert(bytes.end(), e.name.c_str(), e.name.c_str() + e.name.size() + 1);
            bytes.resize(bytes.size() + EntryStringCount - 1);  // the other strings, empty
            u16 size = static_cast<u16>(bytes.size());
            memcpy(bytes.data(), &size, 2);
            list.insert(list.end(), bytes.begin(), bytes.end());
        }
        return list;
    }

    std::string setupPath;
    std::vector<std::string> messages;
    std::vector<u8> data;
    std::vector<std::vector<TestFileEntry>> lists;
    std::vector<u8> prefix;
    bool hasPrefix = false;
    u32 declaredLength = NoLength;
};
