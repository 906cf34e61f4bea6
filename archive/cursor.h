// A bounded cursor over untrusted bytes: record bodies, the uninstall log,
// delta streams, font tables. Every read checks what is left first; a read
// past the end fails and leaves the cursor failed, so a run of reads can be
// checked once at its end.
#pragma once
#include "common/types.h"

struct Cursor {
    const u8* next;
    const u8* end;
    bool ok;
};

// A cursor over `size` bytes at `data`; over null it is failed from the start.
inline Cursor MakeCursor(const u8* data, u32 size) {
    return Cursor{data, data + size, data != nullptr};
}
bool TakeU8(Cursor& c, u8* value);
bool TakeU16(Cursor& c, u16* value);
bool TakeU32(Cursor& c, u32* value);
bool SkipBytes(Cursor& c, u32 count);
// The next `count` bytes; null, and the cursor failed, when fewer are left.
const u8* TakeBytes(Cursor& c, u32 count);
// Steps over a NUL-terminated string that must end inside the cursor.
bool SkipString(Cursor& c);
// A counted string (u16 byte length, then the bytes, no terminator) into
// `text`, `capacity` bytes with the terminator. Fails when it runs past the
// end, does not fit or holds a NUL.
bool TakeCountedText(Cursor& c, char* text, u32 capacity);
