// The archive's dialog templates, copied out for the system's dialog calls.
#pragma once
#include "common/types.h"

// Dialog template n copied into a locked global block, followed by whatever
// templates come after it in the record (at most TemplateBlockSize bytes in
// all); null when the block cannot be had or the archive has no templates.
void* CopyTemplate(u32 n);
// Unlocks and frees a block from CopyTemplate; null is left alone.
void FreeTemplate(void* block);
