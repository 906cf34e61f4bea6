#include "engine/engine_state.h"

i32 engineState;
u32 systemError;
i32 entryIndex = -1;
FileEntry* nextEntry;
bool engineRunning;
