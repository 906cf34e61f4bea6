// The archive loader and the file-data stream in the setup program's own
// build, on Win32 files: an archive written behind a stand-in program.
#include <windows.h>

#include <doctest.h>

#include <string>
#include <vector>

#include "archive/file_data.h"
#include "archive/loader.h"
#include "archive/texts.h"
#include "common/paths.h"
#include "tests/support/win32_test_files.h"

namespace {

const u32 StubSize = 16;

std::vector<u8> ReadFixture(const char* name) {
    return ReadWholeFileBytes(std::string(KELVO_SOURCE_DIR) + "/tests/fuzz/corpus/loader/" + name);
}

// Writes the stand-in program and the archive behind it; returns its path.
std::string WriteSetup(const std::vector<u8>& archive) {
    std::vector<u8> setup(StubSize, 'S');
    setup.insert(setup.end(), archive.begin(), archive.end());
    std::string path = TempFolder() + "kelvo-loader-test.exe";
    WriteWholeFile(path, setup);
    return path;
}

}  // namespace

TEST_CASE("an archive loads and its file data reads on Windows") {
    std::string path = WriteSetup(ReadFixture("plain"));
    REQUIRE(AllocatePathBuffers());
    CopyPath(SourcePath, path.c_str(), PathCapacity);
    REQUIRE(ReadSetupArchive(StubSize, nullptr) == LoadOk);
    CHECK(setupScript.setCount == 1);
    CHECK(setupScript.setupFlags == 1);
    CHECK(std::string(LookupText(6, 0)) == "App Setup");
    CHECK(currentFileCount == 2);
    CHECK(std::string(EntryString(NextFileEntry(currentFirstEntry), 0)) == "sub\\b.dll");

    REQUIRE(OpenFileData(false) == FileDataReady);
    CHECK(SeekFileData(2) == FileDataReady);
    u8 buffer[4] = {};
    u32 got = 0;
    CHECK(ReadFileData(buffer, sizeof buffer, &got));  // the last four of six bytes
    CHECK(got == 4);
    CHECK(std::string(reinterpret_cast<char*>(buffer), 4) == "zzzz");
    CHECK_FALSE(ReadFileData(buffer, 1, &got));  // past the end: no further volume
    CloseFileData();
    ReleaseSetupScript();
    ReleasePathBuffers();
    DeleteFileA(path.c_str());
}
