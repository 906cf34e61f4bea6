// Creating the folders of a destination path, as the destination page and
// the engine do before anything is written there.
#pragma once
#include "common/types.h"

// Creates every missing folder of the folder part of `path` (up to its last
// backslash). 0 on success, 1 when a level can neither be entered nor
// created, -1 without memory.
i32 CreateFolderPath(const char* path);
