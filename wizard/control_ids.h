// Control ids of the setup's dialog templates, named once for the pages,
// the frame, the dialogs and the tests that work them. The built-in
// templates (resources/dialogs.rc) use the same numbers.
#pragma once

enum ControlId : int {
    // Every page: texts 1-4 of the page's table.
    FirstPageText = 1000,
    LastPageText = 1003,
    // Frame.
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
    // Set selection page: one radio button per install set.
    FirstSetButton = 1021,
    // Folder browser.
    BrowseFolderEdit = 101,
    BrowseFolderLabel = 1009,
    BrowseDrivesLabel = 1091,
};
