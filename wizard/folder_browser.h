// The folder browser: the system's save-file dialog in its older style with
// the setup's own template (number 7) and a hook that tracks the folder the
// user moves to, or takes a folder typed into the template's edit box.
#pragma once
#include <windows.h>

// Shows the browser starting at `path` (PathCapacity characters); on OK
// the chosen folder replaces `path` and the result is nonzero.
BOOL BrowseForFolder(HWND owner, char* path);
