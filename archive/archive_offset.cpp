#include "archive/archive_offset.h"

// Marker and value sit together in initialised data. Volatile keeps the
// compiler from folding the unpatched 0 into the code that reads it.
static volatile const u8 archiveOffsetSlot[10] = {0x77, 0x77, 0x67, 0x54, 0x29, 0x48, 0, 0, 0, 0};

u32 ArchiveOffset() {
    const volatile u8* value = archiveOffsetSlot + sizeof(ArchiveOffsetMarker);
    return value[0] | (value[1] << 8) | (value[2] << 16) | (static_cast<u32>(value[3]) << 24);
}
