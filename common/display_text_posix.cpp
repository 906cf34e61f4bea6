// Native builds show nothing: a path is taken into texts as it stands.
#include "common/display_text.h"
#include "common/paths.h"

void PathForDisplay(const char* path, char* out, u32 capacity) { CopyPath(out, path, capacity); }
