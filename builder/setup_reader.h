// Opens a setup file for kelvo's inspection commands. The archive is read
// through the setup program's own loader (archive/loader.h), so kelvo sees
// exactly what the setup program would; this file only finds the archive,
// prepares the loader's buffers and turns its fault codes into messages.
#pragma once
#include <cstdint>
#include <string>

#include "archive/loader.h"

// Where the archive starts in a setup file: the u32 behind the first copy of
// the marker the setup program carries in its initialised data.
struct ArchiveLocation {
    bool found = false;
    uint32_t offset = 0;
    uint32_t fileSize = 0;
    std::string problem;  // why there is no archive, when !found
};

ArchiveLocation LocateArchive(const std::string& path);

// What is wrong and where, for a load that failed (FileDataIncomplete
// included): "truncated: the file ends inside record 0x123A (file list) at
// offset 15360". Reads the loader's FileData values for the last case.
std::string DescribeLoadFault(const LoadReport& report, uint32_t fileSize);

// Short name of a record id ("file list"), or "unknown record".
const char* RecordName(uint16_t id);

// The loaded archive of one setup file. The loader keeps its state in
// program-wide variables (setupScript, the path buffers), so one setup can be
// open at a time; the destructor releases all of it.
class LoadedSetup {
public:
    explicit LoadedSetup(const std::string& path);
    ~LoadedSetup();
    LoadedSetup(const LoadedSetup&) = delete;
    LoadedSetup& operator=(const LoadedSetup&) = delete;

    // The records are loaded and can be listed.
    bool IsLoaded() const { return loaded; }
    // The setup file holds all of the file data's first part; without it no
    // stored contents can be read.
    bool HasFileData() const { return fileDataComplete; }
    // "PATH: what is wrong" when not loaded or when the file data is missing.
    std::string Problem() const { return path + ": " + fault; }
    // The same without the path.
    const std::string& Fault() const { return fault; }
    const std::string& Path() const { return path; }
    uint32_t ArchiveOffset() const { return location.offset; }
    uint32_t FileSize() const { return location.fileSize; }

private:
    void Load();

    std::string path;
    ArchiveLocation location;
    bool buffersAllocated = false;
    bool loaded = false;
    bool fileDataComplete = false;
    std::string fault;
};
