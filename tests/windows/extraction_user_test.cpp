// Replacing read-only destinations. Wine run as root ignores the read-only
// attribute, so this file runs as an ordinary user (ctest runs *_user_test
// files through scripts/wine-user-run.sh); the rest of the replacement
// tests are in extraction_test.cpp.
#include <windows.h>

#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "common/paths.h"
#include "engine/extraction.h"
#include "engine/setup_state.h"
#include "tests/support/message_boxes.h"
#include "tests/support/test_archive.h"
#include "tests/support/win32_test_files.h"
#include "wizard/page_loop.h"
#include "wizard/progress.h"

namespace {

const char ScratchLabel[] = "kelvo-extraction-user-test";

// A read-only destination and a finished temporary file beside it.
class ReadOnlyReplacement {
public:
    ReadOnlyReplacement() : scratch(ScratchLabel), archive(scratch.Path("setup.exe")) {
        REQUIRE(AllocatePathBuffers());
        destination = scratch.Make("app.dll", "old contents");
        temporary = scratch.Make("app.$$A", "new contents");
        REQUIRE(SetFileAttributesA(destination.c_str(), FILE_ATTRIBUTE_READONLY));
        // Only an ordinary user is kept out of a read-only file.
        HANDLE probe = CreateFileA(destination.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
        REQUIRE_MESSAGE(probe == INVALID_HANDLE_VALUE, "Wine runs as root here: read-only files mean nothing");
        TestFileEntry entry;
        entry.name = "app.dll";
        entry.size = 12;
        entry.checkValue = CheckValueOf(TestBytes("new contents"));
        archive.AddEntry(entry);
        archive.Open();
        CopyPath(WorkPath, destination.c_str(), WorkPathCapacity);
        ResetSetupState();
        SetProgressPage(nullptr);
    }
    ~ReadOnlyReplacement() { ReleasePathBuffers(); }
    FileEntry* Entry() { return archive.Entry(0); }
    void Replace() { ReplaceDestination(Entry(), temporary.c_str()); }

    ScratchFolder scratch;
    TestArchive archive;
    std::string destination;
    std::string temporary;
};

}  // namespace

TEST_CASE("a read-only destination is replaced, and the new file is read-only again") {
    ReadOnlyReplacement r;
    MessageBoxAnswerer answerer({IDABORT});
    r.Replace();
    CHECK(answerer.Stop().empty());
    CHECK(r.Entry()->outcome == FileReplaced);
    CHECK(ReadWholeFile(r.destination) == "new contents");
    CHECK(IsReadOnly(r.destination));
    CHECK(GetFileAttributesA(r.temporary.c_str()) == INVALID_FILE_ATTRIBUTES);
}

TEST_CASE("a read-only destination in use is asked about") {
    SUBCASE("Ignore keeps the old file, which has lost its read-only attribute") {
        ReadOnlyReplacement r;
        HANDLE holder = CreateFileA(r.destination.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
        REQUIRE(holder != INVALID_HANDLE_VALUE);
        MessageBoxAnswerer answerer({IDIGNORE});
        r.Replace();
        CHECK(answerer.Stop().size() == 1);
        CloseHandle(holder);
        CHECK(r.Entry()->outcome == FileReplaced);
        CHECK(ReadWholeFile(r.destination) == "old contents");
        CHECK_FALSE(IsReadOnly(r.destination));
        CHECK(GetFileAttributesA(r.temporary.c_str()) == INVALID_FILE_ATTRIBUTES);
    }
    SUBCASE("Retry once it is free replaces it, and the new file is read-only") {
        ReadOnlyReplacement r;
        HANDLE holder = CreateFileA(r.destination.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
        REQUIRE(holder != INVALID_HANDLE_VALUE);
        // The first attempt has already cleared the attribute when Retry
        // comes; the file must still end up read-only.
        MessageBoxAnswerer answerer({IDRETRY}, [&](int) { CloseHandle(holder); });
        r.Replace();
        CHECK(answerer.Stop().size() == 1);
        CHECK(r.Entry()->outcome == FileReplaced);
        CHECK(ReadWholeFile(r.destination) == "new contents");
        CHECK(IsReadOnly(r.destination));
    }
}
