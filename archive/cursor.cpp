#include "archive/cursor.h"

#include <string.h>

#include "archive/records.h"

const u8* TakeBytes(Cursor& c, u32 count) {
    const u8* at = c.next;
    if (!c.ok || static_cast<u32>(c.end - at) < count) {
        c.ok = false;
        return nullptr;
    }
    c.next = at + count;
    return at;
}

bool SkipBytes(Cursor& c, u32 count) { return TakeBytes(c, count) != nullptr; }

bool TakeU8(Cursor& c, u8* value) {
    const u8* p = TakeBytes(c, 1);
    if (p != nullptr) *value = *p;
    return p != nullptr;
}

bool TakeU16(Cursor& c, u16* value) {
    const u8* p = TakeBytes(c, 2);
    if (p != nullptr) *value = ReadU16(p);
    return p != nullptr;
}

bool TakeU32(Cursor& c, u32* value) {
    const u8* p = TakeBytes(c, 4);
    if (p != nullptr) *value = ReadU32(p);
    return p != nullptr;
}

bool SkipString(Cursor& c) {
    while (c.ok && c.next < c.end)
        if (*c.next++ == '\0') return true;
    c.ok = false;
    return false;
}

bool TakeCountedText(Cursor& c, char* text, u32 capacity) {
    const u8* counted = TakeBytes(c, 2);
    if (counted == nullptr) return false;
    u32 length = ReadU16(counted);
    const u8* bytes = length < capacity ? TakeBytes(c, length) : nullptr;
    if (bytes == nullptr || memchr(bytes, 0, length) != nullptr) return c.ok = false;
    memcpy(text, bytes, length);
    text[length] = '\0';
    return true;
}
