#include "common/display_text.h"

u32 displayCodePage;
