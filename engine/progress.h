// How the engine reports its progress and hears a cancel: through a listener
// that the progress page implements, so the engine knows nothing of pages.
#pragma once
#include "common/types.h"

// Every member is set; the engine never tests for null. The progress page
// installs its listener before the engine starts.
struct ProgressListener {
    void (*showPercent)(u32 percent);    // the whole installation, 0-100
    void (*showItem)(const char* text);  // the entry being installed, shortened
    // True once the user has stopped the installation.
    bool (*cancelled)();
    // The engine stops the installation itself (the user declined a disk).
    void (*cancel)();
    // The installation has ended, well or not.
    void (*finished)();
};

// Shows `path`, shortened, as the item being installed.
void ShowProgressItem(const char* path);
// Moves the progress to `percent`.
void ShowProgressPercent(u32 percent);
// True once the user (or the engine, at a disk prompt) stopped the installation.
bool InstallationCancelled();
