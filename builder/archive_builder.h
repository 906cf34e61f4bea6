// Writes a setup: the setup program (the stub), the archive's records and the
// FileData record with the packed file data, continued in volumes beside the
// setup file when a disk size is given. The same project and sources give the
// same bytes on every run, whatever the number of threads.
#pragma once
#include <cstdint>
#include <string>

#include "builder/project.h"

struct BuildOptions {
    std::string output;
    std::string stub;
    uint64_t diskSize = 0;  // largest file written; 0: everything in the setup file
    unsigned threads = 1;
    int level = -1;  // the codec's level (--level); -1: the project's, else the codec's default
};

struct BuildSummary {
    uint64_t files = 0;     // file entries of every set
    uint64_t contents = 0;  // distinct contents packed
    uint64_t bytesIn = 0;   // bytes read from the distinct sources
    uint64_t bytesOut = 0;  // bytes of every file written
    uint32_t volumes = 1;   // the setup file and its continuation volumes
    uint64_t deltas = 0;       // entries stored as deltas against another entry
    uint64_t deltaSaving = 0;  // bytes those deltas take less than their plain contents
};

// Throws std::runtime_error when something cannot be read or written, or the
// setup does not fit the disk size or the archive's 4 GB offsets.
BuildSummary BuildSetup(const Project& project, const BuildOptions& options);

// Continuation volume `volume` of `output`: its extension replaced by ".D01",
// ".D02", ... ".D100", or added when the name has none.
std::string VolumePath(const std::string& output, uint32_t volume);

// The setup program with its archive offset set to its own length, which is
// where the records will start. Throws when the offset's marker is missing,
// occurs more than once, or is followed by an offset already set.
Bytes PrepareStub(Bytes stub);

// What precedes a volume's stream bytes in the setup file: the FileData
// record's header and length word, as FileDataRecordBytes writes them.
Bytes FileDataHead(uint32_t volumeLength);
