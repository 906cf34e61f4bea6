#include "engine/progress.h"

#include "common/helpers.h"
#include "common/paths.h"
#include "engine/setup_state.h"
#include "engine/short_paths.h"

void ShowProgressItem(const char* path) {
    char* text;
    if (!AllocateBlock(PathCapacity, &text)) return;
    CopyPath(text, path, PathCapacity);
    ShortenPath(text, ProgressItemLimit);
    progressListener->showItem(text);
    ReleaseBlock(&text);
}

void ShowProgressPercent(u32 percent) { progressListener->showPercent(percent); }

bool InstallationCancelled() { return progressListener->cancelled(); }
