#include "engine/progress_texts.h"

#include <windows.h>

#include "common/helpers.h"
#include "common/paths.h"
#include "wizard/progress.h"

const int ProgressItem = 1008;

void ShowProgressItem(const char* path) {
    char* text;
    if (!AllocateBlock(PathCapacity, &text)) return;
    CopyPath(text, path, PathCapacity);
    ShortenPath(text, ProgressItemLimit);
    SetDlgItemTextA(progressWindow, ProgressItem, text);
    ReleaseBlock(&text);
}
