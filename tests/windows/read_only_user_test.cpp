// Read-only files as Windows treats them: they cannot be opened for writing
// or copied onto until the attribute is cleared. Wine run as root ignores the
// attribute, so this file runs as an ordinary user (its name ends in
// _user_test.cpp: ctest runs it through scripts/wine-user-run.sh), and the
// first case checks that it really does. Files live in a scratch folder under
// the user's temporary folder, which the user owns.
#include <windows.h>

#include <doctest/doctest.h>

#include <string>

#include "common/file.h"
#include "tests/support/win32_test_files.h"

namespace {

const char ScratchLabel[] = "kelvo-read-only-test";

void MakeReadOnly(const std::string& path) {
    REQUIRE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    REQUIRE(IsReadOnly(path));
}

void ClearReadOnly(const std::string& path) {
    REQUIRE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL));
    REQUIRE_FALSE(IsReadOnly(path));
}

}  // namespace

TEST_CASE("the program runs as an ordinary user, not as root") {
    char name[256] = "";
    DWORD size = sizeof name;
    REQUIRE(GetUserNameA(name, &size));
    CHECK(std::string(name) != "");
    CHECK(std::string(name) != "root");

    // The name comes from the environment; the operating system's answer is
    // what counts. Only root may create a folder in the Unix root (Z:\).
    std::string probe = "Z:\\kelvo-user-test-" + std::to_string(GetCurrentProcessId());
    BOOL created = CreateDirectoryA(probe.c_str(), nullptr);
    DWORD error = GetLastError();
    if (created) RemoveDirectoryA(probe.c_str());
    CHECK_FALSE(created);
    CHECK(error == ERROR_ACCESS_DENIED);
}

TEST_CASE("a read-only file opens for writing only once its attribute is cleared") {
    ScratchFolder scratch(ScratchLabel);
    std::string path = scratch.Make("locked.txt", "old contents");
    MakeReadOnly(path);

    for (OpenMode mode : {OpenWrite, OpenReadWrite}) {
        CAPTURE(mode);
        SetLastError(0);
        FileHandle file = OpenExistingFile(path.c_str(), mode);
        CHECK(GetLastError() == ERROR_ACCESS_DENIED);
        CHECK(file == NoFile);
        CloseFile(file);
    }
    // Creating the file anew truncates nothing either.
    SetLastError(0);
    FileHandle created = CreateNewFile(path.c_str());
    CHECK(GetLastError() == ERROR_ACCESS_DENIED);
    CHECK(created == NoFile);
    CloseFile(created);

    // Reading is still allowed, and the file is as it was.
    FileHandle reader = OpenExistingFile(path.c_str(), OpenRead);
    CHECK(reader != NoFile);
    CloseFile(reader);
    CHECK(ReadWholeFile(path) == "old contents");
    CHECK(IsReadOnly(path));

    ClearReadOnly(path);
    FileHandle writer = OpenExistingFile(path.c_str(), OpenWrite);
    REQUIRE(writer != NoFile);
    CHECK(WriteToFile(writer, "new", 3) == WriteDone);
    CloseFile(writer);
    CHECK(ReadWholeFile(path) == "new contents");
}

TEST_CASE("CopyFileA onto a read-only file is refused until its attribute is cleared") {
    ScratchFolder scratch(ScratchLabel);
    std::string source = scratch.Make("source.txt", "replacement");
    std::string target = scratch.Make("target.txt", "original");
    MakeReadOnly(target);

    SetLastError(0);
    CHECK_FALSE(CopyFileA(source.c_str(), target.c_str(), FALSE));
    CHECK(GetLastError() == ERROR_ACCESS_DENIED);
    CHECK(ReadWholeFile(target) == "original");
    CHECK(IsReadOnly(target));

    ClearReadOnly(target);
    REQUIRE(CopyFileA(source.c_str(), target.c_str(), FALSE));
    CHECK(ReadWholeFile(target) == "replacement");
    CHECK(ReadWholeFile(source) == "replacement");
}
