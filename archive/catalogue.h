// The numbers the setup program looks things up by, each named once: the
// string tables and their strings, the dialog templates, and the controls of
// those templates. kelvo writes the texts (resources/texts.toml) and the
// built-in templates (resources/dialogs.rc) under the same numbers.
#pragma once
#include "common/types.h"

// ---------------------------------------------------------------------------
// String tables of an install set.
enum TextTable : u32 {
    WelcomeTexts = 0,
    InformationTexts = 1,
    DestinationTexts = 2,
    ConfirmationTexts = 3,
    ProgressTexts = 4,
    FinishTexts = 5,
    MessageTexts = 6,
    ButtonTexts = 7,
    SetSelectionTexts = 9,
};

// Every page table: string 0 titles the page, strings 1-4 fill controls
// FirstPageText to LastPageText.
const u32 PageTitleText = 0;

// Information table.
const u32 InformationText = 1;
const u32 InformationNextCaption = 2;  // Next's caption on the page, when not empty

// Destination table.
const u32 RequiredLabelText = 5, AvailableLabelText = 6, MegabytesFormat = 7;

// Confirmation table.
const u32 DestinationFormat = 2;  // with "%s" for the folder

// Finish table.
const u32 ViewIntroduction = 2, LaunchIntroduction = 3, ErrorFormat = 4, ViewCaption = 5, LaunchCaption = 6;
const u32 RestartQuestionText = 7;  // the restart dialog's text
const u32 RestartRequest = 8;       // when not empty, every installation asks for a restart

// Button table.
enum ButtonText : u32 {
    BackCaption = 0,
    NextCaption = 1,
    CancelCaption = 2,
    InstallCaption = 3,  // Next on the confirmation page
    BrowseOkCaption = 4,
    StopCaption = 5,  // Cancel while installing, and in the folder browser
    RestartCaption = 6,
    BrowseButtonCaption = 7,  // an extension: when not empty, the destination page's Browse button
};

// Message table. The numbers from 12 to 22 are also the engine's error
// states (EngineError), and 23, 25 and 27 its entry outcomes.
enum MessageText : u32 {
    SetupTitleText = 0,  // the caption of every message box and the windows
    BrowseCaption = 1,
    FolderLabelText = 2,
    DrivesLabelText = 3,
    CheckingMessage = 4,
    InvalidFolderMessage = 5,
    CreateFolderQuestion = 6,
    WriteProtectedQuestion = 7,
    CheckFailedHeading = 8,
    FileNotAccessibleMessage = 9,
    NotEnoughSpaceQuestion = 11,
    OutOfMemoryMessage = 12,
    ReallyStopQuestion = 13,  // Cancel while installing, and at the disk prompt
    ReallyCancelQuestion = 14,
    NotCompletedMessage = 15,
    CannotOpenFileMessage = 16,
    CannotCreateFileMessage = 17,
    FileDataDamagedMessage = 18,
    CannotWriteFileMessage = 19,
    DiskFullMessage = 20,
    CheckValueMismatchMessage = 21,
    AccessDeniedMessage = 22,  // also the question about a locked file
    ReplacedText = 23,
    InstalledText = 25,
    NotReplacedText = 27,
    InsertDiskMessage = 28,
    NewerFileQuestion = 29,
    OtherLanguageQuestion = 30,
    FileDataMissingMessage = 31,  // records there, file contents missing (a cut download)
    UnknownSetMessage = 32,       // the command line names an install set the setup lacks
};

// ---------------------------------------------------------------------------
// Dialog templates, by their index in the templates record.
enum TemplateNumber : u32 {
    WindowedFrameTemplate = 0,
    FullScreenFrameTemplate = 1,
    DestinationTemplate = 2,
    InformationTemplate = 3,
    ProgressTemplate = 4,
    TextPageTemplate = 5,  // welcome and confirmation
    FinishTemplate = 6,
    BrowseTemplate = 7,
    RestartTemplate = 8,
    SetSelectionTemplate = 9,
    NoTemplate = 11,  // a page number that shows nothing
};

// ---------------------------------------------------------------------------
// Control ids. Numbers repeat only across templates that are never open
// together with the same meaning.
enum ControlId : int {
    // Every page: texts 1-4 of the page's table.
    FirstPageText = 1000,
    LastPageText = 1003,
    // Frame.
    BackButton = 1007,  // Next and Cancel are IDOK and IDCANCEL
    PageArea = 1006,
    PictureArea = 1011,
    SeparatorLine = 1012,
    // Destination page.
    FolderEdit = 1004,
    BrowseButton = 1005,
    RequiredFigure = 1016,
    RequiredLabel = 1017,
    AvailableLabel = 1018,
    AvailableFigure = 1019,
    // Progress page.
    ProgressItem = 1008,
    ProgressBarArea = 1009,
    ProgressPercent = 1010,
    // Finish page.
    ViewButton = 1014,
    LaunchBox = 1015,
    // Set selection page: one radio button per install set.
    FirstSetButton = 1021,
    // Folder browser.
    BrowseFolderEdit = 101,
    BrowseFolderLabel = 1009,
    BrowseDrivesLabel = 1091,
};
