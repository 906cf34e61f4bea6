// A write-protected file that the setup will replace, with Wine run as an
// ordinary user (as root Wine ignores the read-only attribute): the
// destination check lets it pass with its attribute as it was, and the
// confirmation page asks before the installation starts.
#include <windows.h>

#include <doctest/doctest.h>

#include <string>

#include "archive/catalogue.h"
#include "tests/support/setup_driver.h"
#include "tests/support/win32_test_files.h"

namespace {


HWND AnswerBox(SetupDriver& driver, int button) {
    HWND box = driver.WaitForMessageBox();
    REQUIRE(box != nullptr);
    REQUIRE(SetupDriver::Answer(box, button));
    return box;
}

}  // namespace

TEST_CASE("a write-protected file to be replaced is asked about on the confirmation page") {
    ScratchFolder folder("kelvo-read-only");
    std::string file = folder.Make("payload.txt", "an older payload");
    REQUIRE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));

    SetupDriver driver(FixtureSetup("pages-one"));
    REQUIRE(driver.WaitForMainWindow());
    HWND page = driver.WaitForNewPage(nullptr);
    REQUIRE(driver.ClickFrameButton(FrameNextButton));
    page = driver.WaitForNewPage(page);
    REQUIRE(driver.SetPageText(FolderEdit, folder.Root()));
    REQUIRE(driver.ClickFrameButton(FrameNextButton));
    HWND confirmation = driver.WaitForNewPage(page);
    REQUIRE(confirmation != nullptr);
    // The check left the attribute as it found it.
    CHECK((GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY) != 0);

    // No keeps the page and asks again next time; Yes goes on.
    REQUIRE(driver.ClickFrameButton(FrameNextButton));
    AnswerBox(driver, IDNO);
    CHECK(driver.Page() == confirmation);
    REQUIRE(driver.ClickFrameButton(FrameNextButton));
    AnswerBox(driver, IDYES);
    CHECK(driver.WaitForNewPage(confirmation) != nullptr);
    driver.CloseMainWindow();
    CHECK(driver.WaitForExit() == 0);
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
}
