// SetupDriver: starts a setup program and works it from outside the way a
// person would: it reads what the windows show and clicks, types and
// selects through window messages. Used by the Windows tests and by the
// kelvo-driver program, so it reports failures through return values and
// never through a test framework. Built from
// tests/windows/support/setup_driver.cpp.
//
// How a running setup looks from outside:
//   main window   class "KelvoClass", titled with the setup title, or with
//                 "setup title - page title" in windowed mode
//   frame         a dialog (#32770) inside the main window (a child, or a
//                 captioned child or owned window in full-screen mode) with
//                 Back, Next and Cancel
//   page          a child dialog of the frame, made anew for every page;
//                 its texts are in controls 1000-1003
//   message box   a top-level dialog owned by the frame or the main window
//
// Only windows of the driven process count, so several setups or test
// programs may run side by side in one Wine session. Clicks are posted,
// never sent, so the driver goes on when a click opens a modal message box.
#pragma once
#include <windows.h>

#include <string>

#include "archive/catalogue.h"

// The frame's buttons.
const int FrameBackButton = BackButton;
const int FrameNextButton = IDOK;
const int FrameCancelButton = IDCANCEL;

// How long the waits wait by default; only reached when something is wrong.
const DWORD DriverWaitLimit = 20000;  // ms

class SetupDriver {
public:
    // Starts `setup` with `options` after its name. Whether that worked is
    // told by Started() and StartError().
    explicit SetupDriver(const std::string& setup, const std::string& options = "");
    // Stops the setup when it is still running.
    ~SetupDriver();
    SetupDriver(const SetupDriver&) = delete;
    SetupDriver& operator=(const SetupDriver&) = delete;

    bool Started() const { return process != nullptr; }
    DWORD StartError() const { return startError; }
    DWORD ProcessId() const { return processId; }
    bool Running() const;

    // Waits until the main window is on screen; false when the setup ended
    // or the time ran out first.
    bool WaitForMainWindow(DWORD ms = DriverWaitLimit);

    // The windows as they are now; null when there is none.
    HWND MainWindow() const;
    HWND Frame() const;
    HWND Page() const;
    // Waits for a page on screen other than `previous` (null: any page).
    HWND WaitForNewPage(HWND previous, DWORD ms = DriverWaitLimit);

    std::string MainTitle() const;
    std::string FrameCaption() const;
    // The current page's title: the frame's caption when the frame has one
    // (full-screen mode), else what follows "setup title - " in the main
    // window's title; "" when neither shows one.
    std::string PageTitle() const;

    // The text of a control of the current page ("" when there is none).
    std::string PageText(int id) const;
    bool PageHasControl(int id) const;
    bool PageControlEnabled(int id) const;
    bool PageControlChecked(int id) const;

    bool FrameButtonEnabled(int id) const;
    std::string FrameButtonText(int id) const;

    // Clicks a button of the frame or a control of the page, as a person
    // would: only when it is there, visible and enabled (false otherwise).
    bool ClickFrameButton(int id);
    bool ClickPageControl(int id);
    // Puts `text` into an edit box of the page; the page hears of the
    // change as it would from typing.
    bool SetPageText(int id, const std::string& text);
    // Selects item `index` of a list box or combo box of the page, telling
    // the page as a mouse click would.
    bool SelectListItem(int id, int index);

    // A message box (or other dialog) the setup has opened on top of its
    // windows; null when none came in time.
    HWND WaitForMessageBox(DWORD ms = DriverWaitLimit);
    // The message box open now, without waiting; null when there is none.
    HWND OpenMessageBox() const;
    static std::string MessageBoxText(HWND box);
    static bool HasButton(HWND box, int buttonId);
    // Presses button `buttonId` (IDOK, IDYES, ...) and waits until the box
    // has closed; false when it has no such button or stays open.
    static bool Answer(HWND box, int buttonId);
    // The text of any window: WM_GETTEXT, so edit boxes of other processes
    // answer too; "" when it does not answer in time. In the system's code
    // page, or in UTF-8 once textsAsUtf8 is set.
    static std::string WindowText(HWND window);
    static bool textsAsUtf8;

    // Closes the main window from its system menu.
    void CloseMainWindow();
    // Saves the whole desktop as a 24-bit .bmp file.
    static bool Screenshot(const std::string& bmpPath);
    // The setup's exit code, or STILL_ACTIVE when it has not ended in time.
    DWORD WaitForExit(DWORD ms = DriverWaitLimit);

private:
    bool IsOwnWindow(HWND window) const;
    // Waits until `found` gives a window, polling; null when the setup
    // ended or the time ran out.
    template <class Find>
    HWND WaitFor(Find found, DWORD ms);

    HANDLE process = nullptr;
    DWORD processId = 0;
    DWORD startError = 0;
    // The frame once found: message boxes are owned by the main window too,
    // and come only later.
    mutable HWND frame = nullptr;
};
