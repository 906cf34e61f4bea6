// The wizard's page sequence: a fixed table of pages, each a modeless child
// dialog of the frame run until it ends with Next, Back or Cancel.
#pragma once
#include <windows.h>

#include "archive/catalogue.h"
#include "common/types.h"

// How the current page ends: the control ids of the frame's buttons.
enum PageResult : i32 { PageRunning = 0, PageNext = IDOK, PageCancelled = IDCANCEL, PageBack = BackButton };

// Page numbers.
enum PageNumber : i32 {
    WelcomePage = 0,
    InformationPage = 1,
    SetSelectionPage = 2,
    DestinationPage = 4,
    ConfirmationPage = 5,
    ProgressPage = 6,
    FinishPage = 7,
    EndEntry = 8,
    WizardEnded = -1,
};

// Frame buttons as bits of a button mask.
const u32 BackBit = 1;
const u32 NextBit = 2;
const u32 CancelBit = 4;
// Bit of buttonMask: Cancel ends the page without asking.
const u32 CancelWithoutAsking = 0x100;

// Runs the wizard from the first page (or the fixed page) until it ends.
void RunPageLoop();
// The page that follows the current one when it ended with `result`:
// Next counts on (past the end entry the wizard ends), Back counts back
// (page 0 stays), Cancel ends the wizard.
i32 PageAfter(i32 result);
// Shows one page from template `templateIndex` and runs it to its end;
// returns its result.
i32 RunPage(u32 templateIndex, DLGPROC procedure, LPARAM parameter);

// The set-up every page does when it opens: position, font, titles, texts
// of controls 1000-1003 from the page's table, button captions and states.
void SetUpPage(HWND page, u32 mask);
void EnableFrameButtons(u32 mask);
// Sets the caption of the button named by `button` (a bit) to string
// `string` of the button texts.
void SetFrameButtonText(u32 button, u32 string);
// Ends the current page as if the button named by `button` was pressed.
void EndPage(u32 button);
// Ends the current page so that the loop continues at page `page`.
void GoToPage(i32 page);
