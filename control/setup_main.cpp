// Entry point of the setup program. So far it learns which file it was
// started from and whether an archive is appended to it: the path buffers
// are set up, SourcePath receives the program's own file name, and the
// buffers are released again before it exits.
#include <windows.h>

#include "archive/archive_offset.h"
#include "common/paths.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (!AllocatePathBuffers()) return 1;
    DWORD length = GetModuleFileNameA(nullptr, SourcePath, PathCapacity);
    // A name that fills the whole buffer was cut short.
    bool found = length != 0 && length < PathCapacity;
    // Reading the offset keeps it, and the marker the build tool patches,
    // in the program; the archive itself is not loaded yet.
    (void)ArchiveOffset();
    ReleasePathBuffers();
    return found ? 0 : 1;
}
