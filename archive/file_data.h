// The file-data stream: the packed contents of every file of every set, one
// byte sequence that starts in the setup file's FileData section and may
// continue in volumes beside it (SETUP.D01, SETUP.D02, ...). Each volume
// holds a u32 length V and then V bytes of the stream.
#pragma once
#include "archive/inflater.h"

struct FileDataStream {
    u32 volume;         // 0: the setup file itself
    FileHandle handle;  // the open volume, or NoFile
    u32 length;         // V of the current volume
    u32 unread;         // bytes of the current volume behind the read position
    u32 base;           // stream offset of the current volume's first byte
    bool interactive;   // a missing volume is asked for (disks can be swapped)
};

extern FileDataStream fileData;

// Asks the user for the disk that holds `volume`; true to look again, false
// when the user gave up (the caller has then ended the wizard).
extern bool (*askForVolume)(u32 volume);

// States, as the installation engine reports them.
enum FileDataState : u32 {
    FileDataReady = 0,
    FileDataNoMemory = 12,    // no memory to unpack solid blocks
    VolumeDeclined = 15,      // the user would not insert the disk
    SetupFileUnopened = 16,   // the setup file itself cannot be opened
    VolumeUnreadable = 18,    // a volume cannot be opened; MessagePath names it
};

// Opens the stream at its start in the setup file (SourcePath, copied to
// ArchivePath), with the FileData values the loader left in the script.
FileDataState OpenFileData(bool interactive);
void CloseFileData();

// Positions the stream at `offset`, opening later volumes as needed. Volumes
// are only ever opened in increasing order: an offset in an earlier volume
// cannot be reached and is reported as VolumeUnreadable.
FileDataState SeekPackedData(u32 offset);

// Reads up to `count` bytes into `buffer`, moving to the next volume (once
// per call) when the current one ends. Returns false when a needed volume
// cannot be opened; *got receives the number of bytes read either way.
bool ReadPackedData(u8* buffer, u32 count, u32* got);

// The stream entries' offsets count in: the file-data stream itself, or,
// with solid blocks, the unpacked stream (archive/solid_data.h). Both act as
// SeekPackedData and ReadPackedData do; unpacked data that is damaged reads
// short.
FileDataState SeekFileData(u32 offset);
bool ReadFileData(u8* buffer, u32 count, u32* got);

// The state for a volume that could not be had: declined by the user when
// they are asked, else unreadable (naming it in MessagePath).
FileDataState MissingVolumeState();

// Closes the current volume and opens the next one, or reopens the current
// one at the read position when it was left before its end.
FileHandle OpenNextVolume();

// Replaces the extension of the file name in `path` with ".D" and `volume`
// in at least two digits, or appends it when the name has no dot. False when
// the result would not fit in PathCapacity.
bool SetVolumeExtension(char* path, u32 volume);

// An Inflater source over the stream that takes at most `storedSize` bytes
// (none at all for 0).
InflateSource FileDataInflateSource(u32 storedSize);
