// A copy of some bytes whose last byte is the last readable one before a
// PAGE_NOACCESS page, so that a read even one byte past them faults at once
// instead of passing unnoticed. Empty bytes lie at the page's end too:
// present, but with no byte to read. Windows tests only.
#pragma once
#include <windows.h>

#include <doctest/doctest.h>
#include <string.h>

#include <vector>

#include "archive/script.h"

class GuardedBytes {
public:
    explicit GuardedBytes(const std::vector<u8>& bytes) : size(static_cast<u32>(bytes.size())) {
        SYSTEM_INFO system;
        GetSystemInfo(&system);
        const u32 page = system.dwPageSize;
        u32 readable = (size + page - 1) / page * page;
        if (readable == 0) readable = page;
        base = static_cast<u8*>(VirtualAlloc(nullptr, readable + page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        REQUIRE(base != nullptr);
        DWORD old;
        REQUIRE(VirtualProtect(base + readable, page, PAGE_NOACCESS, &old));
        data = base + readable - size;
        if (size != 0) memcpy(data, bytes.data(), size);
    }
    ~GuardedBytes() { VirtualFree(base, 0, MEM_RELEASE); }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;

    // The bytes as the body of a loaded record.
    LoadedBody Body() const { return {data, size}; }

    u8* data = nullptr;
    u32 size;

private:
    u8* base = nullptr;
};
