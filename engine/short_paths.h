// Paths shortened for display, as the progress page shows the item being
// installed.
#pragma once
#include "common/types.h"

// Longest path the progress page shows before folders give way to "...".
const u32 ProgressItemLimit = 30;

// Shortens `text` in place to about `limit` characters by putting "..." for
// folders in the middle: the part up to the first backslash, as many
// leading folders as fit, and the whole file name stay.
void ShortenPath(char* text, u32 limit);
