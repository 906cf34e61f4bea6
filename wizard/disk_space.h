// Room on the destination drive, folder creation, and the check the
// destination page makes before the wizard goes on.
#pragma once
#include "archive/catalogue.h"
#include "common/types.h"

const u32 UnknownFreeSpace = 0xFFFFFFFFu;
const u32 DefaultClusterKilobytes = 32;

// Results of CheckDiskSpace: the numbers of the messages that report them.
enum DiskCheck : u32 {
    DiskCheckPassed = 0,
    FileNotAccessible = FileNotAccessibleMessage,
    NotEnoughSpace = NotEnoughSpaceQuestion,
};

// Free space on the drive of `path` in kilobytes (at most 0xFFFFFFFE), or
// UnknownFreeSpace.
u32 GetFreeKilobytes(const char* path);
// The drive's allocation unit in kilobytes, rounded up; 32 when unknown.
u32 GetClusterKilobytes(const char* path);
// Checks the current set's files against DestinationPath: room for them and
// write access to every file they replace (MessagePath names a file that
// cannot be written).
DiskCheck CheckDiskSpace();
