// The installation engine in this process, on a real setup built from
// tests/fixtures/projects/install-three: every file arrives byte for byte
// with the times asked for, outcomes are recorded, the bar moves per entry,
// and damaged data stops the run at that entry with nothing half-written.
#include <windows.h>

#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "archive/loader.h"
#include "archive/script.h"
#include "common/paths.h"
#include "engine/installation.h"
#include "engine/setup_state.h"
#include "tests/support/message_boxes.h"
#include "tests/support/win32_test_files.h"
#include "wizard/page_loop.h"
#include "wizard/progress.h"

namespace {

const char Destination[] = "C:\\Kelvo Install\\Three\\";
const std::string Source = std::string(KELVO_SOURCE_DIR) + "\\tests\\fixtures\\projects\\install-three\\";
const char* const Files[] = {"first.txt", "second.bin", "Docs\\third.txt"};
const char* const Sources[] = {"first.txt", "second.bin", "docs\\third.txt"};

// The setup at `path` loaded as the setup program loads it, with the
// destination set; released again at the end.
class LoadedSetup {
public:
    explicit LoadedSetup(const std::string& path) {
        REQUIRE(AllocatePathBuffers());
        CopyPath(SourcePath, path.c_str(), PathCapacity);
        REQUIRE(ReadSetupArchive(ArchiveOffsetOf(ReadWholeFileBytes(path)), nullptr) == LoadOk);
        CopyPath(DestinationPath, Destination, PathCapacity);
    }
    ~LoadedSetup() {
        // Making folders enters them: leave, so they can be removed.
        SetCurrentDirectoryA(TempFolder().c_str());
        ReleaseSetupScript();
        ReleasePathBuffers();
    }
};

// A stand-in progress page: a window with the percentage control.
class ProgressStandIn {
public:
    ProgressStandIn()
        : window(CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr)) {
        CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 10, 10, window, reinterpret_cast<HMENU>(ProgressPercent),
                        nullptr, nullptr);
        SetProgressPage(window);
    }
    ~ProgressStandIn() {
        SetProgressPage(nullptr);
        DestroyWindow(window);
    }
    std::string Percent() const {
        char text[16] = "";
        GetDlgItemTextA(window, ProgressPercent, text, sizeof text);
        return text;
    }
    HWND window;
};

FILETIME LastWrite(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

bool SameTime(FILETIME a, FILETIME b) { return CompareFileTime(&a, &b) == 0; }

// Temporary files the engine may have left beside the destinations.
std::vector<std::string> LeftoverTemporaryFiles(const std::string& folder = Destination) {
    std::vector<std::string> found;
    for (const char* pattern : {"*.$*", "Docs\\*.$*"}) {
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA((folder + pattern).c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE) continue;
        do found.push_back(entry.cFileName);
        while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    return found;
}

}  // namespace

TEST_CASE("an installation writes every file byte for byte and moves the bar per entry") {
    RemoveTree("C:\\Kelvo Install");
    CreateDirectoryA("C:\\Kelvo Install", nullptr);
    CreateDirectoryA(Destination, nullptr);
    WriteWholeFile(std::string(Destination) + "second.bin", std::string("an older second file"));
    LoadedSetup setup(FixtureSetup("install-three"));
    ProgressStandIn progress;

    REQUIRE(StartInstallation());
    std::vector<std::string> percents;
    while (InstallNextEntry()) percents.push_back(progress.Percent());
    CHECK(engineState == NoEngineError);
    CHECK(percents == std::vector<std::string>{"33%", "66%", "100%"});
    FinishInstallation();
    CHECK_FALSE(engineRunning);
    CHECK(currentPage + 1 == FinishPage);  // the wizard goes on to the finish page

    for (int i = 0; i < 3; i++) {
        CAPTURE(Files[i]);
        CHECK(ReadWholeFile(std::string(Destination) + Files[i]) == ReadWholeFile(Source + Sources[i]));
    }
    // Outcomes: replaced or new.
    FileEntry* entry = currentFirstEntry;
    const u16 outcomes[] = {FileNew, FileReplaced, FileNew};
    for (int i = 0; i < 3; i++, entry = NextFileEntry(entry)) CHECK(entry->outcome == outcomes[i]);
    CHECK(SameTime(LastWrite(std::string(Destination) + Files[0]), LastWrite(Source + Sources[0])));
    CHECK(LeftoverTemporaryFiles().empty());
    RemoveTree("C:\\Kelvo Install");
}

TEST_CASE("damaged data stops at its entry, leaving earlier files and the damaged destination as they were") {
    RemoveTree("C:\\Kelvo Install");
    CreateDirectoryA("C:\\Kelvo Install", nullptr);
    CreateDirectoryA(Destination, nullptr);
    std::string previous = "the second file as it was before";
    WriteWholeFile(std::string(Destination) + "second.bin", previous);

    // Flip one byte inside the second entry's packed data.
    std::vector<u8> setup = ReadWholeFileBytes(FixtureSetup("install-three"));
    setup[PackedDataOffset(FixtureSetup("install-three"), 1)] ^= 0x40;
    ScratchFolder scratch("kelvo-damaged");
    std::string damaged = scratch.Make("damaged.exe");
    WriteWholeFile(damaged, setup);

    LoadedSetup loaded(damaged);
    REQUIRE(StartInstallation());
    int installed = 0;
    while (InstallNextEntry()) installed++;
    CHECK(installed == 1);
    CHECK(engineState == CheckValueMismatch);
    CHECK(std::string(MessagePath) == std::string(Destination) + "second.bin");
    FinishInstallation();

    CHECK(ReadWholeFile(std::string(Destination) + "first.txt") == ReadWholeFile(Source + "first.txt"));
    CHECK(ReadWholeFile(std::string(Destination) + "second.bin") == previous);
    CHECK(GetFileAttributesA((std::string(Destination) + "Docs").c_str()) == INVALID_FILE_ATTRIBUTES);
    CHECK(LeftoverTemporaryFiles().empty());
    RemoveTree("C:\\Kelvo Install");
}

TEST_CASE("an empty file list finishes at once") {
    // The first fixture set's files are not needed: take a set without any.
    LoadedSetup setup(FixtureSetup("pages-sets"));
    SelectInstallSet(2);  // Gamma has no files
    REQUIRE(StartInstallation());
    CHECK_FALSE(InstallNextEntry());
    CHECK(engineState == NoEngineError);
    FinishInstallation();
}

TEST_CASE("a relocated run asks for the disk that holds the next volume") {
    // The setup alone, its continuation volume kept apart.
    ScratchFolder scratch("kelvo-volumes");
    std::string setupPath = scratch.Make("setup.exe");
    WriteWholeFile(setupPath, ReadWholeFileBytes(FixtureSetup("install-volumes")));
    std::string volume = ReadWholeFile(FixtureSetup("install-volumes").substr(0, FixtureSetup("install-volumes").size() - 4) + ".D01");
    REQUIRE(!volume.empty());
    deleteSelfAtRestart = true;  // a relocated copy: disks can be changed

    SUBCASE("OK once the disk is in goes on") {
        RemoveTree("C:\\Kelvo Install");
        LoadedSetup setup(setupPath);
        CopyPath(DestinationPath, "C:\\Kelvo Install\\Volumes\\", PathCapacity);
        // The disk goes in while the prompt is up.
        MessageBoxAnswerer answerer({IDOK}, [&](int) { WriteWholeFile(scratch.Path("setup.D01"), volume); });
        REQUIRE(StartInstallation());
        while (InstallNextEntry()) {
        }
        const std::vector<SeenMessageBox>& seen = answerer.Stop();
        REQUIRE(seen.size() == 1);
        CHECK(seen[0].text == "Please insert disk 2 and click OK.");
        CHECK(engineState == NoEngineError);
        FinishInstallation();
        for (const char* name : {"one.bin", "two.bin", "three.bin"})
            CHECK(ReadWholeFile(std::string("C:\\Kelvo Install\\Volumes\\") + name) ==
                  ReadWholeFile(std::string(KELVO_SOURCE_DIR) + "\\tests\\fixtures\\projects\\install-volumes\\" + name));
        DeleteFileA(scratch.Path("setup.D01").c_str());
    }
    SUBCASE("Cancel, confirmed, stops with the disk declined") {
        LoadedSetup setup(setupPath);
        CopyPath(DestinationPath, "C:\\Kelvo Install\\Volumes\\", PathCapacity);
        launchEntry = currentFirstEntry;
        MessageBoxAnswerer answerer({IDCANCEL, IDYES});
        REQUIRE(StartInstallation());
        while (InstallNextEntry()) {
        }
        CHECK(answerer.Stop().size() == 2);
        CHECK(engineState == InstallationDeclined);
        CHECK(pageResult == PageCancelled);
        CHECK(launchEntry == nullptr);
        FinishInstallation();
    }
    deleteSelfAtRestart = false;
    RemoveTree("C:\\Kelvo Install");
}

TEST_CASE("a delta entry is built from its base entry's contents") {
    RemoveTree("C:\\Kelvo Install");
    LoadedSetup setup(FixtureSetup("install-delta"));
    SelectInstallSet(1);
    CopyPath(DestinationPath, "C:\\Kelvo Install\\New\\", PathCapacity);
    REQUIRE((currentFirstEntry->entryFlags & DeltaEntry) != 0);
    REQUIRE(StartInstallation());
    while (InstallNextEntry()) {
    }
    CHECK(engineState == NoEngineError);
    FinishInstallation();
    CHECK(ReadWholeFile("C:\\Kelvo Install\\New\\notes.txt") ==
          ReadWholeFile(std::string(KELVO_SOURCE_DIR) + "\\tests\\fixtures\\projects\\install-delta\\new.txt"));
    CHECK(currentFirstEntry->outcome == FileNew);
    CHECK(LeftoverTemporaryFiles("C:\\Kelvo Install\\New\\").empty());
    RemoveTree("C:\\Kelvo Install");
}
