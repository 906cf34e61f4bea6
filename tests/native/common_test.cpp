#include <doctest/doctest.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "common/file.h"
#include "common/helpers.h"
#include "common/paths.h"

TEST_CASE("backslash helpers") {
    struct Case {
        const char* path;
        const char* appended;
        const char* removed;
    };
    const Case cases[] = {
        {"", "", ""},
        {"C:", "C:\\", "C:"},
        {"C:\\", "C:\\", "C:\\"},
        {"C:\\Program Files", "C:\\Program Files\\", "C:\\Program Files"},
        {"C:\\Kelvo\\", "C:\\Kelvo\\", "C:\\Kelvo"},
        {"\\\\server\\share\\", "\\\\server\\share\\", "\\\\server\\share"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.path);
        char buffer[64];
        strcpy(buffer, c.path);
        AppendBackslash(buffer);
        CHECK(std::string(buffer) == c.appended);
        strcpy(buffer, c.path);
        RemoveTrailingBackslash(buffer);
        CHECK(std::string(buffer) == c.removed);
    }
}

TEST_CASE("NextListEntry steps by the entry's own 16-bit size") {
    const u8 list[] = {3, 0, 9, 0x04, 0x01};  // a 3-byte entry, then one of 0x104 bytes
    CHECK(NextListEntry(list) == list + 3);
    CHECK(NextListEntry(list + 3) == list + 3 + 0x104);
}

TEST_CASE("allocation helpers") {
    u8* block = nullptr;
    REQUIRE(AllocateZeroedBlock(1000, &block));
    for (int i = 0; i < 1000; i++) REQUIRE(block[i] == 0);
    ReleaseBlock(&block);
    CHECK(block == nullptr);
    ReleaseBlock(&block);  // a null block is left alone
    CHECK(block == nullptr);
}

TEST_CASE("path buffers are allocated zero-filled and released") {
    REQUIRE(AllocatePathBuffers());
    char* const buffers[] = {SourcePath, ArchivePath, DestinationPath, ScratchPath, MessagePath, UninstallerPath};
    for (char* buffer : buffers) {
        REQUIRE(buffer != nullptr);
        CHECK(buffer[0] == '\0');
        CHECK(buffer[PathCapacity - 1] == '\0');
    }
    CHECK(WorkPath[WorkPathCapacity - 1] == '\0');
    CopyPath(SourcePath, std::string(400, 'x').c_str(), PathCapacity);
    CHECK(strlen(SourcePath) == PathCapacity - 1);
    ReleasePathBuffers();
    CHECK(SourcePath == nullptr);
    CHECK(UninstallerPath == nullptr);
}

TEST_CASE("POSIX file helpers: create, write, size, seek, read") {
    std::string path = "/tmp/kelvo-file-" + std::to_string(getpid());
    FileHandle file = CreateNewFile(path.c_str());
    REQUIRE(file != NoFile);
    CHECK(WriteToFile(file, "0123456789", 10) == WriteDone);
    CHECK(FileSize(file) == 10);
    CloseFile(file);

    file = OpenExistingFile(path.c_str(), OpenRead);
    REQUIRE(file != NoFile);
    char buffer[16] = {};
    CHECK(SeekFile(file, 4, SeekFromStart) == 4);
    CHECK(SeekFile(file, 2, SeekFromCurrent) == 6);
    CHECK(SeekFile(file, -3, SeekFromEnd) == 7);
    u32 got = 0;
    CHECK(ReadFromFile(file, buffer, 16, &got));
    CHECK(got == 3);
    CHECK(std::string(buffer) == "789");
    CHECK(ReadFromFile(file, buffer, 16, &got));
    CHECK(got == 0);
    CHECK_FALSE(ReadExactly(file, buffer, 1));
    CHECK(WriteToFile(file, "x", 1) == WriteFailed);  // opened for reading only
    CloseFile(file);

    file = CreateNewFile(path.c_str());  // create always truncates
    CHECK(FileSize(file) == 0);
    CloseFile(file);
    unlink(path.c_str());
    CHECK(OpenExistingFile(path.c_str(), OpenRead) == NoFile);
}
