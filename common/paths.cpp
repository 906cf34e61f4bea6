#include "common/paths.h"

#include "common/helpers.h"

#include <string.h>

char* SourcePath;
char* ArchivePath;
char* DestinationPath;
char* WorkPath;
char* ScratchPath;
char* MessagePath;
char* UninstallerPath;

struct PathBuffer {
    char** buffer;
    u32 capacity;
};

// Allocation and release order.
static const PathBuffer pathBuffers[] = {
    {&SourcePath, PathCapacity},  {&ArchivePath, PathCapacity}, {&DestinationPath, PathCapacity},
    {&WorkPath, WorkPathCapacity}, {&ScratchPath, PathCapacity}, {&MessagePath, PathCapacity},
    {&UninstallerPath, PathCapacity},
};

bool AllocatePathBuffers() {
    for (const PathBuffer& path : pathBuffers) {
        if (!AllocateZeroedBlock(path.capacity, path.buffer)) {
            ReleasePathBuffers();
            return false;
        }
    }
    return true;
}

void ReleasePathBuffers() {
    for (const PathBuffer& path : pathBuffers) ReleaseBlock(path.buffer);
}

void CopyPath(char* buffer, const char* text, u32 capacity) {
    // A cut never splits a two-byte character.
    u32 length = capacity != 0 ? WholeCharacterLength(text, capacity - 1) : 0;
    memmove(buffer, text, length);
    if (capacity != 0) buffer[length] = '\0';
}
