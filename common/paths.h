// The program-wide path buffers. They are allocated zero-filled at start-up
// in the order below and released at shutdown in the same order.
#pragma once
#include "common/types.h"

const u32 PathCapacity = 260;      // characters, terminator included
const u32 WorkPathCapacity = 520;  // a folder plus a relative name

extern char* SourcePath;       // the setup file that holds the archive
extern char* ArchivePath;      // what the archive and file data are read from
extern char* DestinationPath;  // destination folder of the current install set
extern char* WorkPath;         // resolved path of the entry being worked on
extern char* ScratchPath;      // temporary names, values, command lines
extern char* MessagePath;      // the path inserted for "%s" into messages
extern char* UninstallerPath;  // installed path of the uninstaller

// Allocates every buffer; false (with none left allocated) when one fails.
bool AllocatePathBuffers();
void ReleasePathBuffers();

// Copies `text` into a buffer of `capacity` characters, cutting it to fit.
void CopyPath(char* buffer, const char* text, u32 capacity);
