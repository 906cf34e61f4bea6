// The lead bytes of native builds, which have no system code page: none,
// unless a test chooses a double-byte code page's ranges.
#include "common/helpers.h"

static const u8* leadByteRanges;

void SetLeadByteRanges(const u8* ranges) { leadByteRanges = ranges; }

bool IsLeadByte(char c) {
    u8 byte = static_cast<u8>(c);
    for (const u8* range = leadByteRanges; range != nullptr && range[0] != 0; range += 2)
        if (byte >= range[0] && byte <= range[1]) return true;
    return false;
}
