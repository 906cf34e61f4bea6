#include "common/paths.h"

#include "common/helpers.h"

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
    u32 i = 0;
    for (; i + 1 < capacity && text[i] != '\0'; i++) buffer[i] = text[i];
    buffer[i] = '\0';
}
