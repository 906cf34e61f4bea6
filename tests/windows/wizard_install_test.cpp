// Installations worked through the wizard like a person would: the progress
// page runs to the finish page, which offers to run the installed program;
// Cancel while installing asks first and stops; a failed installation is
// reported on the finish page.
#include <windows.h>

#include <doctest/doctest.h>

#include <string>

#include "archive/catalogue.h"
#include "tests/support/setup_driver.h"
#include "tests/support/win32_test_files.h"

namespace {


// Brings a setup to its progress page, installing into `folder`.
class Installation {
public:
    Installation(const std::string& setup, const std::string& folder) : driver(setup) {
        REQUIRE(driver.WaitForMainWindow());
        page = driver.WaitForNewPage(nullptr);
        REQUIRE(page != nullptr);
        Next();  // the destination page
        REQUIRE(driver.SetPageText(FolderEdit, folder));
        REQUIRE(driver.ClickFrameButton(FrameNextButton));
        if (HWND box = driver.WaitForMessageBox(3000)) SetupDriver::Answer(box, IDYES);  // create the folder
        page = driver.WaitForNewPage(page);
        REQUIRE(page != nullptr);  // the confirmation page
        Next();                    // the progress page
    }
    void Next() {
        REQUIRE(driver.ClickFrameButton(FrameNextButton));
        page = driver.WaitForNewPage(page);
        REQUIRE(page != nullptr);
    }
    // Waits for the finish page.
    std::string Finish() {
        for (HWND next; (next = driver.WaitForNewPage(page)) != nullptr;) {
            page = next;
            if (driver.PageHasControl(LaunchBox)) return driver.PageTitle();
        }
        return "";
    }
    SetupDriver driver;
    HWND page = nullptr;
};

u32 FilesIn(const std::string& folder) {
    u32 count = 0;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "\\*.bin").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do count++;
    while (FindNextFileA(search, &entry));
    FindClose(search);
    return count;
}

bool AppearsWithin(const std::string& path, DWORD ms) {
    for (DWORD waited = 0; waited < ms; waited += 50) {
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        Sleep(50);
    }
    return false;
}

}  // namespace

TEST_CASE("a finished installation runs the installed program when the box stays checked") {
    const char* folder = "C:\\Kelvo Install\\Run";
    for (bool keepChecked : {true, false}) {
        CAPTURE(keepChecked);
        RemoveTree("C:\\Kelvo Install");
        Installation install(FixtureSetup("install-run"), folder);
        CHECK(install.Finish() == "Setup Complete");
        CHECK(install.driver.PageText(FirstPageText) == "Setup has finished installing Install Run on your computer.");
        CHECK(install.driver.PageControlChecked(LaunchBox));
        CHECK(IsWindowVisible(GetDlgItem(install.page, LaunchBox)));
        CHECK_FALSE(IsWindowVisible(GetDlgItem(install.page, ViewButton)));
        CHECK_FALSE(install.driver.FrameButtonEnabled(FrameNextButton));
        CHECK(install.driver.FrameButtonEnabled(FrameCancelButton));
        if (!keepChecked) REQUIRE(install.driver.ClickPageControl(LaunchBox));
        REQUIRE(install.driver.ClickFrameButton(FrameCancelButton));
        CHECK(install.driver.WaitForExit() == 0);
        CHECK(ReadWholeFile(std::string(folder) + "\\run.bat") ==
              ReadWholeFile(std::string(KELVO_SOURCE_DIR) + "\\tests\\fixtures\\projects\\install-run\\run.bat"));
        CHECK(AppearsWithin(std::string(folder) + "\\ran.txt", keepChecked ? 10000 : 1500) == keepChecked);
    }
    RemoveTree("C:\\Kelvo Install");
}

TEST_CASE("Cancel while installing asks; No goes on, Yes stops before the next file") {
    const std::string folder = "C:\\Kelvo Install\\Many";
    RemoveTree("C:\\Kelvo Install");
    {
        Installation install(FixtureSetup("install-many"), folder);
        REQUIRE(install.driver.ClickFrameButton(FrameCancelButton));
        HWND question = install.driver.WaitForMessageBox();
        REQUIRE(question != nullptr);
        u32 before = FilesIn(folder);
        Sleep(300);
        CHECK(FilesIn(folder) == before);  // nothing is installed while the question is open
        REQUIRE(SetupDriver::Answer(question, IDNO));
        CHECK(install.Finish() == "Setup Complete");
        CHECK(FilesIn(folder) == 120);
        REQUIRE(install.driver.ClickFrameButton(FrameCancelButton));
        CHECK(install.driver.WaitForExit() == 0);
    }
    RemoveTree("C:\\Kelvo Install");
    {
        Installation install(FixtureSetup("install-many"), folder);
        REQUIRE(install.driver.ClickFrameButton(FrameCancelButton));
        HWND question = install.driver.WaitForMessageBox();
        REQUIRE(question != nullptr);
        REQUIRE(SetupDriver::Answer(question, IDYES));
        HWND report = install.driver.WaitForMessageBox();
        REQUIRE(report != nullptr);
        u32 stopped = FilesIn(folder);
        REQUIRE(SetupDriver::Answer(report, IDOK));
        CHECK(install.driver.WaitForExit() == 0);
        CHECK(FilesIn(folder) == stopped);
        CHECK(stopped < 120);
    }
    RemoveTree("C:\\Kelvo Install");
}

// With rollback (kelvo's default) Yes takes back what the installation did
// before the report: files added go, a file replaced has its old contents
// again, and folders it made (here by the destination page) go too; a file
// of the user's stays. Both texts say so.
TEST_CASE("Cancel while installing, with rollback: every change is taken back before the report") {
    const std::string root = "C:\\Kelvo Install";
    struct Case {
        const char* name;
        std::string folder;
        bool existing;  // the folder is there, with an older 005.bin and a file of the user's
    };
    for (const Case& c : {Case{"over files", root + "\\Rollback", true}, Case{"fresh", root + "\\Fresh\\Deep", false}}) {
        CAPTURE(c.name);
        RemoveTree(root);
        const std::string older = "an older 005.bin";
        if (c.existing) {
            REQUIRE(CreateDirectoryA(root.c_str(), nullptr));
            REQUIRE(CreateDirectoryA(c.folder.c_str(), nullptr));
            WriteWholeFile(c.folder + "\\005.bin", older);
            WriteWholeFile(c.folder + "\\mine.txt", "the user's");
        }
        Installation install(FixtureSetup("rollback-many"), c.folder);
        for (int waited = 0; FilesIn(c.folder) < 20 && waited < 10000; waited += 20) Sleep(20);
        REQUIRE(install.driver.ClickFrameButton(FrameCancelButton));
        HWND question = install.driver.WaitForMessageBox();
        REQUIRE(question != nullptr);
        CHECK(SetupDriver::MessageBoxText(question).find("takes back every change") != std::string::npos);
        REQUIRE(SetupDriver::Answer(question, IDYES));
        HWND report = install.driver.WaitForMessageBox();
        REQUIRE(report != nullptr);
        CHECK(SetupDriver::MessageBoxText(report).find("have been undone") != std::string::npos);
        // Taken back already while the report is open.
        CHECK(FilesIn(c.folder) == (c.existing ? 1u : 0u));
        REQUIRE(SetupDriver::Answer(report, IDOK));
        CHECK(install.driver.WaitForExit() == 0);
        if (c.existing) {
            CHECK(ReadWholeFile(c.folder + "\\005.bin") == older);
            CHECK(ReadWholeFile(c.folder + "\\mine.txt") == "the user's");
            WIN32_FIND_DATAA entry;
            HANDLE search = FindFirstFileA((c.folder + "\\*.$*").c_str(), &entry);
            CHECK(search == INVALID_HANDLE_VALUE);  // no temporary or put-aside file is left
            if (search != INVALID_HANDLE_VALUE) FindClose(search);
        } else {
            CHECK(GetFileAttributesA(root.c_str()) == INVALID_FILE_ATTRIBUTES);
        }
    }
    RemoveTree(root);
}

TEST_CASE("a failed installation is reported on the finish page, naming the file") {
    std::vector<u8> setup = ReadWholeFileBytes(FixtureSetup("install-three"));
    setup[PackedDataOffset(FixtureSetup("install-three"), 1)] ^= 0x40;
    ScratchFolder scratch("kelvo-failed-install");
    std::string damaged = scratch.Make("damaged.exe");
    WriteWholeFile(damaged, setup);
    RemoveTree("C:\\Kelvo Install");

    Installation install(damaged, "C:\\Kelvo Install\\Failed");
    CHECK(install.Finish() == "Setup Complete");
    std::string report = install.driver.PageText(FirstPageText);
    CHECK(report.find("Setup could not install Install Three.") == 0);
    CHECK(report.find("C:\\Kelvo Install\\Failed\\second.bin") != std::string::npos);
    CHECK_FALSE(IsWindowVisible(GetDlgItem(install.page, FirstPageText + 1)));
    CHECK_FALSE(IsWindowVisible(GetDlgItem(install.page, LaunchBox)));
    REQUIRE(install.driver.ClickFrameButton(FrameCancelButton));
    CHECK(install.driver.WaitForExit() == 0);
    RemoveTree("C:\\Kelvo Install");
}

TEST_CASE("a restart wanted by the set hides the program to run and asks at the end") {
    const char* folder = "C:\\Kelvo Install\\Restart";
    RemoveTree("C:\\Kelvo Install");
    Installation install(FixtureSetup("install-restart"), folder);
    CHECK(install.Finish() == "Setup Complete");
    CHECK_FALSE(IsWindowVisible(GetDlgItem(install.page, LaunchBox)));
    REQUIRE(install.driver.ClickFrameButton(FrameCancelButton));
    HWND restart = install.driver.WaitForMessageBox();
    REQUIRE(restart != nullptr);
    CHECK(SetupDriver::WindowText(GetDlgItem(restart, FirstPageText)).find("must be restarted") != std::string::npos);
    REQUIRE(SetupDriver::Answer(restart, IDCANCEL));  // restart later
    CHECK(install.driver.WaitForExit() == 0);
    CHECK_FALSE(AppearsWithin(std::string(folder) + "\\ran.txt", 1500));
    RemoveTree("C:\\Kelvo Install");
}

TEST_CASE("a failed copy from beside the setup is reported with the system's own words") {
    RemoveTree("C:\\Kelvo Install");
    Installation install(FixtureSetup("install-copy"), "C:\\Kelvo Install\\Copy");
    CHECK(install.Finish() == "Setup Complete");
    std::string report = install.driver.PageText(FirstPageText);
    std::string reason = "beside.txt: ";
    size_t at = report.find(reason);
    REQUIRE(at != std::string::npos);
    CHECK(report.size() > at + reason.size());  // the system's message follows
    REQUIRE(install.driver.ClickFrameButton(FrameCancelButton));
    CHECK(install.driver.WaitForExit() == 0);
    RemoveTree("C:\\Kelvo Install");
}
