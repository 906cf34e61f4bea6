// Room on the destination drive, folder creation, and the check the
// destination page makes before the wizard goes on.
#pragma once
#include "common/types.h"

const u32 UnknownFreeSpace = 0xFFFFFFFFu;
const u32 DefaultClusterKilobytes = 32;

// Results of CheckDiskSpace: the numbers of the messages that report them.
enum DiskCheck : u32 { DiskCheckPassed = 0, FileNotAccessible = 9, NotEnoughSpace = 11 };

// Set by CheckDiskSpace when a file to be replaced was write-protected (or
// otherwise refused access) and had to have its read-only attribute cleared
// to be tested; the confirmation page asks about it.
extern bool writeProtectionFound;

// Free space on the drive of `path` in kilobytes (at most 0xFFFFFFFE), or
// UnknownFreeSpace.
u32 GetFreeKilobytes(const char* path);
// The drive's allocation unit in kilobytes, rounded up; 32 when unknown.
u32 GetClusterKilobytes(const char* path);
// Creates every missing folder of the folder part of `path` (up to its last
// backslash). 0 on success, 1 when a level can neither be entered nor
// created, -1 without memory.
i32 CreateFolderPath(const char* path);
// Checks the current set's files against DestinationPath: room for them and
// write access to every file they replace (MessagePath names a file that
// cannot be written).
DiskCheck CheckDiskSpace();
