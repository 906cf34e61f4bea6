// The installation engine's own speed, without the wizard: loads a setup in
// this process as the setup program does and installs its current set into
// FOLDER entry after entry, with none of the progress page's timer waits
// between them, so only reading, decoding and writing are timed.
//
//   engine_bench.exe SETUP.exe FOLDER
//
// Prints entries, bytes, ms, MB/s and ms per entry; exits with 1 when the
// setup does not load or the installation fails. bench/install_bench.sh
// runs it under Wine on each of its payloads. The engine is the Windows
// tests' build of it (-O1), not the setup program's (-Os).
#include <windows.h>
#include <stdio.h>

#include <string>

#include "archive/archive_offset.h"
#include "archive/loader.h"
#include "archive/script.h"
#include "common/file.h"
#include "common/paths.h"
#include "engine/installation.h"
#include "engine/setup_state.h"
#include "wizard/progress.h"

namespace {

// The marker sits in the program part, far inside its first bytes.
const u32 MarkerSearchBytes = 1 << 20;
const double BytesPerMB = 1e6;

// Where the archive starts: the value the build tool patched in behind the
// marker, found the way the tool finds it; 0 when there is none.
u32 ArchiveOffsetOfFile(const char* path) {
    FileHandle file = OpenExistingFile(path, OpenRead);
    if (file == NoFile) return 0;
    std::string head(MarkerSearchBytes, '\0');
    u32 got = 0;
    bool read = ReadFromFile(file, &head[0], MarkerSearchBytes, &got);
    CloseFile(file);
    if (!read) return 0;
    head.resize(got);
    size_t at = head.find(std::string(reinterpret_cast<const char*>(ArchiveOffsetMarker), sizeof ArchiveOffsetMarker));
    if (at == std::string::npos || at + sizeof ArchiveOffsetMarker + 4 > head.size()) return 0;
    const u8* value = reinterpret_cast<const u8*>(head.data()) + at + sizeof ArchiveOffsetMarker;
    return value[0] | (value[1] << 8) | (value[2] << 16) | (static_cast<u32>(value[3]) << 24);
}

// Creates `folder` and the folders above it, as the destination page does.
void CreateFolders(const std::string& folder) {
    for (size_t at = folder.find('\\', 3); at != std::string::npos; at = folder.find('\\', at + 1))
        CreateDirectoryA(folder.substr(0, at).c_str(), nullptr);
    CreateDirectoryA(folder.c_str(), nullptr);
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

u64 TotalBytes() {
    u64 total = 0;
    const FileEntry* entry = currentFirstEntry;
    for (u32 i = 0; i < currentFileCount; i++, entry = NextFileEntry(entry)) total += entry->size;
    return total;
}

// Installs every entry of the current set; false when one failed.
bool InstallAll(u32* entries) {
    SetProgressPage(nullptr);  // no page window: the engine alone is timed
    if (!StartInstallation()) return false;
    while (InstallNextEntry()) ++*entries;
    bool done = engineState == NoEngineError;
    FinishInstallation();
    return done;
}

int Run(const char* setup, std::string folder) {
    if (folder.back() != '\\') folder += '\\';
    if (!AllocatePathBuffers()) return 1;
    CopyPath(SourcePath, setup, PathCapacity);
    LoadFault fault = ReadSetupArchive(ArchiveOffsetOfFile(setup), nullptr);
    if (fault != LoadOk) {
        fprintf(stderr, "engine_bench: cannot load %s (fault %d)\n", setup, fault);
        return 1;
    }
    CopyPath(DestinationPath, folder.c_str(), PathCapacity);
    CreateFolders(folder.substr(0, folder.size() - 1));

    u32 entries = 0;
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    bool done = InstallAll(&entries);
    QueryPerformanceCounter(&end);
    if (!done) {
        fprintf(stderr, "engine_bench: the installation stopped at entry %d (state %d: %s)\n", entryIndex,
                engineState, MessagePath);
        return 1;
    }
    double seconds = Seconds(start, end);
    double bytes = static_cast<double>(TotalBytes());
    printf("entries %lu bytes %.0f ms %.1f MB/s %.1f ms/entry %.3f\n", static_cast<unsigned long>(entries), bytes,
           seconds * 1000, bytes / BytesPerMB / seconds, entries == 0 ? 0.0 : seconds * 1000 / entries);
    ReleaseSetupScript();
    ReleasePathBuffers();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fputs("usage: engine_bench.exe SETUP.exe FOLDER\n", stderr);
        return 2;
    }
    return Run(argv[1], argv[2]);
}
