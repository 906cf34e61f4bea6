// The file helpers on Win32: what each open mode lets a second opener do,
// creation and truncation, writes, sizes, seeking and reads. Files are set up
// and checked with plain Win32 calls, so the helpers are never tested against
// themselves. Everything happens in a scratch folder under the temporary
// folder, one per process, so test programs running side by side never meet.
#include <windows.h>

#include <doctest/doctest.h>
#include <string.h>

#include <string>

#include "common/file.h"
#include "tests/support/win32_test_files.h"

namespace {

const char ScratchLabel[] = "kelvo-file-test";
const char* const Digits = "0123456789";

// Who opens the file second in the sharing table.
enum SecondOpener { SecondRead, SecondWrite, SecondReadWrite, ReaderSharingAll };

FileHandle OpenSecond(const std::string& path, SecondOpener opener) {
    switch (opener) {
        case SecondRead: return OpenExistingFile(path.c_str(), OpenRead);
        case SecondWrite: return OpenExistingFile(path.c_str(), OpenWrite);
        case SecondReadWrite: return OpenExistingFile(path.c_str(), OpenReadWrite);
        case ReaderSharingAll: break;
    }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return reinterpret_cast<FileHandle>(file);
}

}  // namespace

TEST_CASE("opening a missing file fails in every mode") {
    ScratchFolder scratch(ScratchLabel);
    for (OpenMode mode : {OpenRead, OpenWrite, OpenReadWrite}) {
        CAPTURE(mode);
        CHECK(OpenExistingFile(scratch.Path("missing.bin").c_str(), mode) == NoFile);
        CHECK(OpenExistingFile(scratch.Path("no-folder\\missing.bin").c_str(), mode) == NoFile);
    }
    // Opening never creates the file.
    CHECK(GetFileAttributesA(scratch.Path("missing.bin").c_str()) == INVALID_FILE_ATTRIBUTES);
    CHECK(CreateNewFile(scratch.Path("no-folder\\new.bin").c_str()) == NoFile);
    CloseFile(NoFile);
}

TEST_CASE("CreateNewFile makes an empty file, truncating an existing one") {
    ScratchFolder scratch(ScratchLabel);
    std::string fresh = scratch.Path("fresh.bin");
    std::string existing = scratch.Make("existing.bin", "old contents that must go");

    for (const std::string& path : {fresh, existing}) {
        CAPTURE(path);
        FileHandle file = CreateNewFile(path.c_str());
        REQUIRE(file != NoFile);
        CHECK(FileSize(file) == 0);
        CHECK(WriteToFile(file, "new", 3) == WriteDone);
        CHECK(WriteToFile(file, "er", 2) == WriteDone);
        CHECK(FileSize(file) == 5);
        CloseFile(file);
        CHECK(ReadWholeFile(path) == "newer");
    }
}

TEST_CASE("a second open succeeds only where both opens' sharing allows it") {
    ScratchFolder scratch(ScratchLabel);
    std::string path = scratch.Make("shared.bin", Digits);

    // The first open's sharing must allow the second's access, and the second's
    // sharing the first's: readers share reading only, so even a plain reader
    // is refused while the file is open for reading and writing.
    enum FirstOpener { FirstRead, FirstWrite, FirstReadWrite, FirstCreate };
    struct Case {
        FirstOpener first;
        SecondOpener second;
        bool opens;
    };
    const Case cases[] = {
        {FirstRead, SecondRead, true},        {FirstRead, SecondWrite, false},
        {FirstRead, SecondReadWrite, false},  {FirstRead, ReaderSharingAll, true},
        {FirstWrite, SecondRead, false},      {FirstWrite, SecondWrite, false},
        {FirstWrite, SecondReadWrite, false}, {FirstWrite, ReaderSharingAll, false},
        {FirstReadWrite, SecondRead, false},  {FirstReadWrite, SecondWrite, false},
        {FirstReadWrite, SecondReadWrite, false}, {FirstReadWrite, ReaderSharingAll, true},
        {FirstCreate, SecondRead, false},     {FirstCreate, SecondWrite, false},
        {FirstCreate, SecondReadWrite, false}, {FirstCreate, ReaderSharingAll, false},
    };
    for (const Case& c : cases) {
        CAPTURE(c.first);
        CAPTURE(c.second);
        FileHandle first = c.first == FirstCreate ? CreateNewFile(path.c_str())
                                                  : OpenExistingFile(path.c_str(), static_cast<OpenMode>(c.first));
        REQUIRE(first != NoFile);
        FileHandle second = OpenSecond(path, c.second);
        CHECK((second != NoFile) == c.opens);
        CloseFile(second);
        CloseFile(first);

        // Closing the first handle lifts its sharing restrictions.
        FileHandle after = OpenSecond(path, c.second);
        CHECK(after != NoFile);
        CloseFile(after);
    }
}

TEST_CASE("reads deliver what is there and report the end of the file") {
    ScratchFolder scratch(ScratchLabel);
    std::string path = scratch.Make("digits.bin", Digits);
    FileHandle file = OpenExistingFile(path.c_str(), OpenRead);
    REQUIRE(file != NoFile);

    char buffer[32] = {};
    u32 got = 99;
    CHECK(ReadFromFile(file, buffer, 4, &got));
    CHECK(got == 4);
    CHECK(std::string(buffer, 4) == "0123");
    // Asking past the end gives the rest; at the end, 0 bytes and success.
    CHECK(ReadFromFile(file, buffer, sizeof buffer, &got));
    CHECK(got == 6);
    CHECK(std::string(buffer, 6) == "456789");
    CHECK(ReadFromFile(file, buffer, sizeof buffer, &got));
    CHECK(got == 0);

    REQUIRE(SeekFile(file, 0, SeekFromStart) == 0);
    CHECK(ReadExactly(file, buffer, 10));
    REQUIRE(SeekFile(file, 0, SeekFromStart) == 0);
    CHECK_FALSE(ReadExactly(file, buffer, 11));
    CloseFile(file);

    // A handle opened for writing cannot be read from.
    FileHandle writer = OpenExistingFile(path.c_str(), OpenWrite);
    REQUIRE(writer != NoFile);
    CHECK_FALSE(ReadFromFile(writer, buffer, 4, &got));
    CHECK(got == 0);
    CloseFile(writer);
}

TEST_CASE("writes land at the file position of an existing file, which is not truncated") {
    ScratchFolder scratch(ScratchLabel);
    struct Case {
        OpenMode mode;
        i32 at;
        const char* after;
    };
    const Case cases[] = {
        {OpenWrite, 0, "xy23456789"},
        {OpenReadWrite, 2, "01xy456789"},
        {OpenReadWrite, 9, "012345678xy"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.mode);
        CAPTURE(c.at);
        std::string path = scratch.Make("written.bin", Digits);
        FileHandle file = OpenExistingFile(path.c_str(), c.mode);
        REQUIRE(file != NoFile);
        REQUIRE(SeekFile(file, c.at, SeekFromStart) == static_cast<u32>(c.at));
        CHECK(WriteToFile(file, "xy", 2) == WriteDone);
        CHECK(SeekFile(file, 0, SeekFromCurrent) == static_cast<u32>(c.at + 2));
        CHECK(FileSize(file) == strlen(c.after));
        CloseFile(file);
        CHECK(ReadWholeFile(path) == c.after);
    }

    // A reader's handle refuses writes and the file stays as it was.
    std::string path = scratch.Make("read-only-handle.bin", Digits);
    FileHandle reader = OpenExistingFile(path.c_str(), OpenRead);
    REQUIRE(reader != NoFile);
    CHECK(WriteToFile(reader, "xy", 2) == WriteFailed);
    CloseFile(reader);
    CHECK(ReadWholeFile(path) == Digits);
}

TEST_CASE("seeking from the start, the current position and the end") {
    ScratchFolder scratch(ScratchLabel);
    std::string path = scratch.Make("digits.bin", Digits);
    FileHandle file = OpenExistingFile(path.c_str(), OpenRead);
    REQUIRE(file != NoFile);

    // Every case starts at position 3.
    struct Case {
        i32 offset;
        SeekOrigin origin;
        u32 expected;
    };
    const Case cases[] = {
        {0, SeekFromStart, 0},     {7, SeekFromStart, 7},     {15, SeekFromStart, 15},
        {2, SeekFromCurrent, 5},   {-3, SeekFromCurrent, 0},  {0, SeekFromCurrent, 3},
        {0, SeekFromEnd, 10},      {-4, SeekFromEnd, 6},      {-10, SeekFromEnd, 0},
        {-4, SeekFromCurrent, SeekFailed}, {-11, SeekFromEnd, SeekFailed}, {-1, SeekFromStart, SeekFailed},
    };
    for (const Case& c : cases) {
        CAPTURE(c.offset);
        CAPTURE(c.origin);
        REQUIRE(SeekFile(file, 3, SeekFromStart) == 3);
        u32 position = SeekFile(file, c.offset, c.origin);
        CHECK(position == c.expected);
        u32 now = c.expected == SeekFailed ? 3 : c.expected;  // a failed seek leaves the position alone
        CHECK(SeekFile(file, 0, SeekFromCurrent) == now);
        // Telling the size does not move the position either.
        CHECK(FileSize(file) == 10);
        char next = 0;
        u32 got = 0;
        CHECK(ReadFromFile(file, &next, 1, &got));
        if (now < 10) {
            CHECK(got == 1);
            CHECK(next == Digits[now]);
        } else {
            CHECK(got == 0);
        }
    }
    CloseFile(file);
}
