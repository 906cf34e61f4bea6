// The destination page of real setups, worked from outside: the space
// figures, a relative folder, a drive root, a missing folder created or
// refused, a drive without room (S:, a small drive of the test session), a
// file that cannot be replaced, and the folder browser.
#include <windows.h>

#include <doctest/doctest.h>

#include <string>

#include "archive/catalogue.h"
#include "tests/support/setup_driver.h"
#include "tests/support/win32_test_files.h"

namespace {

const char PagesFolder[] = "C:\\Kelvo Pages";

// A setup brought to its destination page.
class DestinationPage {
public:
    explicit DestinationPage(const char* project) : driver(FixtureSetup(project)) {
        REQUIRE(driver.Started());
        REQUIRE(driver.WaitForMainWindow());
        page = driver.WaitForNewPage(nullptr);
        REQUIRE(page != nullptr);
        REQUIRE(driver.ClickFrameButton(FrameNextButton));
        page = driver.WaitForNewPage(page);
        REQUIRE(page != nullptr);
    }
    ~DestinationPage() {
        if (driver.Running()) driver.CloseMainWindow();
        driver.WaitForExit();
    }

    // Types `folder` and presses Next.
    void NextWith(const std::string& folder) {
        REQUIRE(driver.SetPageText(FolderEdit, folder));
        REQUIRE(driver.ClickFrameButton(FrameNextButton));
    }
    std::string Answer(int button) {
        HWND box = driver.WaitForMessageBox();
        REQUIRE(box != nullptr);
        std::string text = SetupDriver::MessageBoxText(box);
        CAPTURE(text);
        REQUIRE(SetupDriver::Answer(box, button));
        return text;
    }
    // The confirmation page's naming of the destination.
    std::string ConfirmedFolder() {
        HWND confirmation = driver.WaitForNewPage(page);
        REQUIRE(confirmation != nullptr);
        page = confirmation;
        return driver.PageText(1001);
    }

    SetupDriver driver;
    HWND page = nullptr;
};

// Megabytes free as the destination page shows them.
std::string FreeMegabytes(const char* root) {
    DWORD sectors, bytes, freeClusters, total;
    REQUIRE(GetDiskFreeSpaceA(root, &sectors, &bytes, &freeClusters, &total));
    unsigned long long kilobytes = 1ull * sectors * bytes * freeClusters / 1024;
    return std::to_string((kilobytes + 1023) / 1024) + " MB";
}

// S: is a drive of a few megabytes when the test session could make one.
bool HasSmallDrive() {
    ULARGE_INTEGER available, total, free;
    return GetDiskFreeSpaceExA("S:\\", &available, &total, &free) && total.QuadPart < 16u * 1024 * 1024;
}

void WaitForText(const SetupDriver& driver, int id, const std::string& text) {
    for (int tries = 0; tries < 100 && driver.PageText(id) != text; tries++) Sleep(20);
}

}  // namespace

TEST_CASE("the destination page shows the space needed and free") {
    DestinationPage destination("pages-space");
    CHECK(destination.driver.PageTitle() == "Folder Space");
    CHECK(destination.driver.PageText(RequiredLabel) == "Required:");
    CHECK(destination.driver.PageText(AvailableLabel) == "Available:");
    // Forty 1-byte files take a 32 KB block each, and 3 MB more: 4.25 MB.
    CHECK(destination.driver.PageText(RequiredFigure) == "5 MB");
    if (!HasSmallDrive()) {
        MESSAGE("no small drive S: in this session; the figure for another drive is not checked");
        return;
    }
    // Typing a folder on another drive shows that drive's free space at once.
    REQUIRE(destination.driver.SetPageText(FolderEdit, "S:\\Space"));
    WaitForText(destination.driver, AvailableFigure, FreeMegabytes("S:\\"));
    CHECK(destination.driver.PageText(AvailableFigure) == FreeMegabytes("S:\\"));
    CHECK(destination.driver.PageText(RequiredFigure) == "5 MB");
}

TEST_CASE("a drive without room asks, and Yes goes on") {
    if (!HasSmallDrive()) {
        MESSAGE("no small drive S: in this session");
        return;
    }
    RemoveTree("S:\\Space");
    DestinationPage destination("pages-space");
    destination.NextWith("S:\\Space");
    destination.Answer(IDYES);  // create the folder
    destination.Answer(IDNO);   // not enough space: stay
    CHECK(destination.driver.Page() == destination.page);
    CHECK(GetFileAttributesA("S:\\Space") != INVALID_FILE_ATTRIBUTES);
    REQUIRE(destination.driver.ClickFrameButton(FrameNextButton));
    destination.Answer(IDYES);  // go on all the same
    CHECK(destination.ConfirmedFolder() == "Into S:\\Space now.");
    RemoveTree("S:\\Space");
}

TEST_CASE("the typed folder is made absolute, created when asked, kept at a root") {
    RemoveTree(PagesFolder);
    SUBCASE("a missing folder is refused after No and created after Yes") {
        DestinationPage destination("pages-one");
        destination.NextWith("C:\\Kelvo Pages\\Asked");
        destination.Answer(IDNO);
        CHECK(destination.driver.Page() == destination.page);
        CHECK(GetFileAttributesA("C:\\Kelvo Pages\\Asked") == INVALID_FILE_ATTRIBUTES);
        REQUIRE(destination.driver.ClickFrameButton(FrameNextButton));
        destination.Answer(IDYES);
        CHECK(destination.ConfirmedFolder() == "Into C:\\Kelvo Pages\\Asked now.");
        CHECK((GetFileAttributesA("C:\\Kelvo Pages\\Asked") & FILE_ATTRIBUTE_DIRECTORY) != 0);
    }
    SUBCASE("a relative folder") {
        // The setup starts in this process's current folder.
        CreateDirectoryA(PagesFolder, nullptr);
        CreateDirectoryA("C:\\Kelvo Pages\\Base", nullptr);
        char previous[MAX_PATH];
        GetCurrentDirectoryA(sizeof previous, previous);
        REQUIRE(SetCurrentDirectoryA("C:\\Kelvo Pages\\Base"));
        DestinationPage destination("pages-one");
        SetCurrentDirectoryA(previous);
        destination.NextWith("Relative");
        destination.Answer(IDYES);
        CHECK(destination.ConfirmedFolder() == "Into C:\\Kelvo Pages\\Base\\Relative now.");
    }
    SUBCASE("a drive root keeps its backslash") {
        DestinationPage destination("pages-one");
        destination.NextWith("C:\\");
        CHECK(destination.ConfirmedFolder() == "Into C:\\ now.");
    }
    RemoveTree(PagesFolder);
}

TEST_CASE("a file that cannot be replaced is named, and the page stays") {
    RemoveTree(PagesFolder);
    CreateDirectoryA(PagesFolder, nullptr);
    CreateDirectoryA("C:\\Kelvo Pages\\Held", nullptr);
    std::string held = "C:\\Kelvo Pages\\Held\\payload.txt";
    WriteWholeFile(held, std::string("held open"));
    // Others may read the file but not write it.
    HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(holder != INVALID_HANDLE_VALUE);
    {
        DestinationPage destination("pages-one");
        destination.NextWith("C:\\Kelvo Pages\\Held");
        std::string report = destination.Answer(IDOK);
        CHECK(report.find(held) != std::string::npos);
        CHECK(destination.driver.Page() == destination.page);
        CHECK(destination.driver.PageText(1001) == "");  // the page's own texts are back
    }
    CloseHandle(holder);
    RemoveTree(PagesFolder);
}

TEST_CASE("the folder browser shows the folder and takes a typed one") {
    DestinationPage destination("pages-one");
    REQUIRE(destination.driver.SetPageText(FolderEdit, "C:\\windows"));
    REQUIRE(destination.driver.ClickPageControl(BrowseButton));
    HWND browser = destination.driver.WaitForMessageBox();
    REQUIRE(browser != nullptr);
    CHECK(SetupDriver::WindowText(GetDlgItem(browser, BrowseFolderEdit)) == "C:\\windows");
    SendMessageA(GetDlgItem(browser, BrowseFolderEdit), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>("C:\\Kelvo Pages\\Browsed\\"));
    REQUIRE(SetupDriver::Answer(browser, IDOK));
    WaitForText(destination.driver, FolderEdit, "C:\\Kelvo Pages\\Browsed");
    CHECK(destination.driver.PageText(FolderEdit) == "C:\\Kelvo Pages\\Browsed");
}
