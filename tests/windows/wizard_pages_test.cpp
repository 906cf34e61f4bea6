// The wizard's page sequence, worked from outside like a person would on
// real setups built from tests/fixtures/projects/pages-*: which page follows
// which with one or several install sets, with and without an information
// text; set switching; single-page mode; Cancel and closing the window.
#include <windows.h>

#include <doctest/doctest.h>

#include <string>

#include "archive/catalogue.h"
#include "engine/setup_state.h"
#include "tests/support/setup_driver.h"
#include "tests/support/win32_test_files.h"
#include "wizard/page_loop.h"

namespace {


// A setup being worked through its pages.
class Wizard {
public:
    explicit Wizard(const char* project) : driver(FixtureSetup(project)) {
        REQUIRE(driver.Started());
        REQUIRE(driver.WaitForMainWindow());
        Next(nullptr);
    }

    // Waits for the page after the current one and returns its title.
    std::string Next(HWND previous) {
        page = driver.WaitForNewPage(previous);
        REQUIRE(page != nullptr);
        return driver.PageTitle();
    }
    std::string Click(int button) {
        REQUIRE(driver.ClickFrameButton(button));
        return Next(page);
    }
    std::string Title() const { return driver.PageTitle(); }

    // Answers the message box the last action opened; returns its text.
    std::string Answer(int button) {
        HWND box = driver.WaitForMessageBox();
        REQUIRE(box != nullptr);
        std::string text = SetupDriver::MessageBoxText(box);
        REQUIRE(SetupDriver::Answer(box, button));
        return text;
    }

    bool SetButtonShown(int set) const {
        HWND button = GetDlgItem(driver.Page(), FirstSetButton + set);
        return button != nullptr && IsWindowVisible(button) && IsWindowEnabled(button);
    }

    SetupDriver driver;
    HWND page = nullptr;
};

}  // namespace

TEST_CASE("one set without an information text: welcome, then destination") {
    Wizard wizard("pages-one");
    CHECK(wizard.Title() == "Welcome One");
    CHECK(wizard.driver.MainTitle() == "One Setup - Welcome One");
    CHECK(wizard.driver.PageText(1000) == "Welcome text one.");
    CHECK_FALSE(wizard.driver.FrameButtonEnabled(FrameBackButton));
    CHECK(wizard.driver.FrameButtonEnabled(FrameNextButton));
    CHECK(wizard.driver.FrameButtonEnabled(FrameCancelButton));

    // Back on the first page (its button is disabled, the command still
    // reaches the frame) shows the first page again.
    PostMessageA(wizard.driver.Frame(), WM_COMMAND, FrameBackButton, 0);
    CHECK(wizard.Next(wizard.page) == "Welcome One");

    CHECK(wizard.Click(FrameNextButton) == "Folder One");
    CHECK(wizard.driver.PageText(FolderEdit) == "C:\\Kelvo Pages\\One");
    CHECK(wizard.driver.FrameButtonEnabled(FrameBackButton));
    CHECK(wizard.Click(FrameBackButton) == "Welcome One");

    // Cancel asks first; No keeps the page, Yes reports and ends the run.
    REQUIRE(wizard.driver.ClickFrameButton(FrameCancelButton));
    wizard.Answer(IDNO);
    CHECK(wizard.driver.Page() == wizard.page);
    REQUIRE(wizard.driver.ClickFrameButton(FrameCancelButton));
    wizard.Answer(IDYES);
    wizard.Answer(IDOK);
    CHECK(wizard.driver.WaitForExit() == 0);
}

TEST_CASE("one set with an information text: welcome, information, destination") {
    Wizard wizard("pages-one-info");
    CHECK(wizard.Title() == "Welcome Info");
    CHECK(wizard.Click(FrameNextButton) == "Read Me");
    CHECK(wizard.driver.PageText(1000) == "Notes about this program.");
    CHECK(wizard.driver.FrameButtonText(FrameNextButton) == "I &agree");
    CHECK(wizard.Click(FrameNextButton) == "Folder Info");
    CHECK(wizard.driver.FrameButtonText(FrameNextButton) != "I &agree");
    CHECK(wizard.Click(FrameBackButton) == "Read Me");
    CHECK(wizard.Click(FrameBackButton) == "Welcome Info");
    wizard.driver.CloseMainWindow();
    CHECK(wizard.driver.WaitForExit() == 0);
}

TEST_CASE("several sets: switching sets changes every text and keeps each set's folder") {
    Wizard wizard("pages-sets");
    CHECK(wizard.Title() == "Welcome Alpha");
    CHECK(wizard.Click(FrameNextButton) == "Choose Alpha");
    CHECK(wizard.driver.PageText(1000) == "Alpha choice text.");
    CHECK(wizard.driver.PageText(FirstSetButton) == "Alpha set");
    CHECK(wizard.driver.PageText(FirstSetButton + 1) == "Beta set");
    CHECK(wizard.driver.PageControlChecked(FirstSetButton));
    for (int set = 0; set < 6; set++) {
        CAPTURE(set);
        CHECK(wizard.SetButtonShown(set) == (set < 3));
    }
    std::string gammaLabel = wizard.driver.PageText(FirstSetButton + 2);
    CHECK(gammaLabel != "");  // no caption: the template's own text stays

    REQUIRE(wizard.driver.ClickPageControl(FirstSetButton + 1));
    for (int tries = 0; tries < 100 && wizard.Title() != "Choose Beta"; tries++) Sleep(20);
    CHECK(wizard.Title() == "Choose Beta");
    CHECK(wizard.driver.MainTitle() == "Beta Setup - Choose Beta");
    CHECK(wizard.driver.PageText(1000) == "Beta choice text.");
    CHECK(wizard.driver.FrameButtonText(FrameNextButton) == "Next B >");
    CHECK(wizard.driver.FrameButtonText(FrameBackButton) == "< Back B");

    CHECK(wizard.Click(FrameNextButton) == "Folder Beta");
    CHECK(wizard.driver.PageText(FolderEdit) == "C:\\Kelvo Pages\\Beta");
    REQUIRE(wizard.driver.SetPageText(FolderEdit, "C:\\Typed For Beta"));
    CHECK(wizard.Click(FrameBackButton) == "Choose Beta");
    CHECK(wizard.driver.PageControlChecked(FirstSetButton + 1));

    REQUIRE(wizard.driver.ClickPageControl(FirstSetButton));
    for (int tries = 0; tries < 100 && wizard.Title() != "Choose Alpha"; tries++) Sleep(20);
    CHECK(wizard.Click(FrameNextButton) == "Folder Alpha");
    CHECK(wizard.driver.PageText(FolderEdit) == "C:\\Kelvo Pages\\Alpha");
    CHECK(wizard.Click(FrameBackButton) == "Choose Alpha");
    REQUIRE(wizard.driver.ClickPageControl(FirstSetButton + 1));
    for (int tries = 0; tries < 100 && wizard.Title() != "Choose Beta"; tries++) Sleep(20);
    CHECK(wizard.Click(FrameNextButton) == "Folder Beta");
    CHECK(wizard.driver.PageText(FolderEdit) == "C:\\Typed For Beta");

    // Without an information text Back leads from the choice to the welcome
    // page, now in the chosen set's texts.
    CHECK(wizard.Click(FrameBackButton) == "Choose Beta");
    CHECK(wizard.Click(FrameBackButton) == "Welcome Beta");
    wizard.driver.CloseMainWindow();
    CHECK(wizard.driver.WaitForExit() == 0);
}

TEST_CASE("several sets with an information text: welcome, information, choice, destination") {
    Wizard wizard("pages-sets-info");
    CHECK(wizard.Click(FrameNextButton) == "Notes SI");
    CHECK(wizard.Click(FrameNextButton) == "Choose SI");
    CHECK(wizard.Click(FrameNextButton) == "Folder SI");
    CHECK(wizard.Click(FrameBackButton) == "Choose SI");
    CHECK(wizard.Click(FrameBackButton) == "Notes SI");
    CHECK(wizard.Click(FrameBackButton) == "Welcome SI");
    wizard.driver.CloseMainWindow();
    CHECK(wizard.driver.WaitForExit() == 0);
}

TEST_CASE("closing the main window cancels without a question") {
    Wizard wizard("pages-one");
    CHECK(wizard.Click(FrameNextButton) == "Folder One");
    wizard.driver.CloseMainWindow();
    CHECK(wizard.driver.WaitForExit() == 0);
    CHECK(wizard.driver.OpenMessageBox() == nullptr);
}

TEST_CASE("single-page mode shows its one page of its set, and Cancel asks nothing") {
    SUBCASE("Cancel") {
        Wizard wizard("pages-single");
        CHECK(wizard.Title() == "Folder Single");
        CHECK(wizard.driver.PageText(FolderEdit) == "C:\\Kelvo Pages\\Chosen");
        REQUIRE(wizard.driver.ClickFrameButton(FrameCancelButton));
        CHECK(wizard.driver.WaitForExit() == 0);
    }
    SUBCASE("Back ends the wizard too") {
        Wizard wizard("pages-single");
        REQUIRE(wizard.driver.ClickFrameButton(FrameBackButton));
        CHECK(wizard.driver.WaitForExit() == 0);
    }
}

TEST_CASE("the page loop counts Next, Back and Cancel") {
    struct Case {
        i32 page, result, expected;
    };
    const Case cases[] = {
        {WelcomePage, PageNext, InformationPage}, {FinishPage, PageNext, EndEntry},
        {EndEntry, PageNext, WizardEnded},        {WelcomePage, PageBack, WelcomePage},
        {DestinationPage, PageBack, 3},           {ConfirmationPage, PageCancelled, WizardEnded},
        {ProgressPage, 0, ProgressPage},
    };
    for (const Case& c : cases) {
        CAPTURE(c.page);
        CAPTURE(c.result);
        currentPage = c.page;
        CHECK(PageAfter(c.result) == c.expected);
    }
    // A jump counts as Next from the page before its target: going to page
    // 9 ends the wizard, going to page 0 reaches the welcome page.
    GoToPage(9);
    CHECK(pageResult == PageNext);
    CHECK(PageAfter(pageResult) == WizardEnded);
    GoToPage(WelcomePage);
    CHECK(PageAfter(pageResult) == WelcomePage);
}
