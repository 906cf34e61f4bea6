// File helpers with one behaviour on Windows and on POSIX systems, so the
// portable core (decoder, archive, check values) does its file work the same
// way in the setup program and in the native build tool and tests.
#pragma once
#include "common/types.h"

// A Win32 HANDLE or a POSIX descriptor; NoFile is the invalid value of both.
typedef intptr_t FileHandle;
const FileHandle NoFile = -1;

enum OpenMode {
    OpenRead = 0,       // read sharing granted
    OpenWrite = 1,      // no sharing
    OpenReadWrite = 2,  // read sharing granted (a reader must allow writing)
};

enum WriteResult {
    WriteDone = 0,
    WriteFailed = 2,  // the system refused the write
    WriteShort = 3,   // fewer bytes were written than asked
};

enum SeekOrigin { SeekFromStart = 0, SeekFromCurrent = 1, SeekFromEnd = 2 };

const u32 SeekFailed = 0xFFFFFFFFu;

// Opens an existing file; NoFile when it does not exist or cannot be opened.
FileHandle OpenExistingFile(const char* path, OpenMode mode);
// Creates (or truncates) a file for writing, not shared with anyone.
FileHandle CreateNewFile(const char* path);
void CloseFile(FileHandle file);

// Reads up to `count` bytes; returns false on a read error. *got receives the
// number of bytes read (0 at the end of the file).
bool ReadFromFile(FileHandle file, void* buffer, u32 count, u32* got);
// Reads exactly `count` bytes; false on an error or a short read.
bool ReadExactly(FileHandle file, void* buffer, u32 count);
WriteResult WriteToFile(FileHandle file, const void* data, u32 count);
// The system's code for the last failed file call (GetLastError, errno).
u32 LastFileError();

// Size of an open file in bytes; SeekFailed when it cannot be told.
u32 FileSize(FileHandle file);
// Moves the file position; returns the new position or SeekFailed.
u32 SeekFile(FileHandle file, i32 offset, SeekOrigin origin);
