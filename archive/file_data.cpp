#include "archive/file_data.h"

#include <string.h>

#include "archive/script.h"
#include "archive/solid_data.h"
#include "common/paths.h"

FileDataStream fileData = {0, NoFile, 0, 0, 0, false};
bool (*askForVolume)(u32 volume);

static u32 VolumeDataStart(u32 volume) { return volume == 0 ? setupScript.fileDataStart : 0; }

static FileDataState ReportUnreadableVolume() {
    CopyPath(MessagePath, ArchivePath, PathCapacity);
    return VolumeUnreadable;
}

FileDataState MissingVolumeState() { return fileData.interactive ? VolumeDeclined : ReportUnreadableVolume(); }

FileDataState OpenFileData(bool interactive) {
    CopyPath(ArchivePath, SourcePath, PathCapacity);
    fileData = FileDataStream{0, NoFile, setupScript.fileDataLength, setupScript.fileDataLength, 0, interactive};
    ResetSolidData(false);
    fileData.handle = OpenExistingFile(ArchivePath, OpenRead);
    if (fileData.handle == NoFile) {
        CopyPath(MessagePath, ArchivePath, PathCapacity);
        return SetupFileUnopened;
    }
    SeekFile(fileData.handle, static_cast<i32>(setupScript.fileDataStart + 4), SeekFromStart);
    return FileDataReady;
}

void CloseFileData() {
    CloseFile(fileData.handle);
    fileData.handle = NoFile;
}

static bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

bool SetVolumeExtension(char* path, u32 volume) {
    size_t length = strlen(path);
    size_t nameStart = length;
    while (nameStart > 0 && !IsPathSeparator(path[nameStart - 1])) nameStart--;
    const char* dot = strrchr(path + nameStart, '.');
    size_t stem = dot != nullptr ? static_cast<size_t>(dot - path) : length;
    char extension[16] = ".D";
    char digits[12];
    u32 count = 0;
    do {
        digits[count++] = static_cast<char>('0' + volume % 10);
        volume /= 10;
    } while (volume != 0 || count < 2);
    for (u32 i = 0; i < count; i++) extension[2 + i] = digits[count - 1 - i];
    extension[2 + count] = '\0';
    if (stem + 2 + count >= PathCapacity) return false;
    strcpy(path + stem, extension);
    return true;
}

// Opens ArchivePath and reads its length word; NoFile when either fails.
static FileHandle OpenVolumeFile(u32 volume) {
    FileHandle handle = OpenExistingFile(ArchivePath, OpenRead);
    u8 length[4];
    if (handle == NoFile) return NoFile;
    if (SeekFile(handle, static_cast<i32>(VolumeDataStart(volume)), SeekFromStart) != VolumeDataStart(volume) ||
        !ReadExactly(handle, length, 4)) {
        CloseFile(handle);
        return NoFile;
    }
    fileData.length = fileData.unread = ReadU32(length);
    return handle;
}

// Moves forward to where reading stopped; false when the volume is too short.
static bool SkipInVolume(FileHandle handle, u32 skip) {
    u32 target = VolumeDataStart(fileData.volume) + 4 + skip;
    // Seeking past a file's end succeeds, so a volume cut short is caught by its size.
    if (skip > fileData.length || FileSize(handle) < target ||
        SeekFile(handle, static_cast<i32>(skip), SeekFromCurrent) != target) {
        fileData.length = fileData.unread = 0;
        return false;
    }
    fileData.unread -= skip;
    return true;
}

FileHandle OpenNextVolume() {
    CloseFileData();
    u32 skip = 0;
    if (fileData.unread != 0) {
        skip = fileData.length - fileData.unread;  // resume where the read stopped
    } else {
        fileData.volume++;
        fileData.base += fileData.length;
        fileData.length = 0;
        if (!SetVolumeExtension(ArchivePath, fileData.volume)) return NoFile;
    }
    FileHandle handle;
    while ((handle = OpenVolumeFile(fileData.volume)) == NoFile) {
        if (!fileData.interactive || askForVolume == nullptr || !askForVolume(fileData.volume)) return NoFile;
    }
    if (skip != 0 && !SkipInVolume(handle, skip)) {
        CloseFile(handle);
        return NoFile;
    }
    return fileData.handle = handle;
}

FileDataState SeekPackedData(u32 offset) {
    if (offset < fileData.base) return ReportUnreadableVolume();
    while (offset - fileData.base >= fileData.length) {
        fileData.unread = 0;
        if (OpenNextVolume() == NoFile) return MissingVolumeState();
    }
    u32 inVolume = offset - fileData.base;
    u32 position = VolumeDataStart(fileData.volume) + 4 + inVolume;
    if (SeekFile(fileData.handle, static_cast<i32>(position), SeekFromStart) != position)
        return ReportUnreadableVolume();
    fileData.unread = fileData.length - inVolume;
    return FileDataReady;
}

// Reads no further than the current volume's length, so bytes a volume may
// carry behind its data (a signature appended to the setup file) are never
// taken for stream data.
bool ReadPackedData(u8* buffer, u32 count, u32* got) {
    *got = 0;
    bool switched = false;
    while (count > 0) {
        u32 want = count < fileData.unread ? count : fileData.unread;
        u32 n = 0;
        if (want > 0 && fileData.handle != NoFile && !ReadFromFile(fileData.handle, buffer, want, &n)) n = 0;
        fileData.unread -= n;
        *got += n;
        buffer += n;
        count -= n;
        if (count == 0 || switched) break;
        if (OpenNextVolume() == NoFile) return false;
        switched = true;
    }
    return true;
}

FileDataState SeekFileData(u32 offset) {
    return FileDataIsSolid() ? SeekSolidData(offset) : SeekPackedData(offset);
}

bool ReadFileData(u8* buffer, u32 count, u32* got) {
    return FileDataIsSolid() ? ReadSolidData(buffer, count, got) : ReadPackedData(buffer, count, got);
}

static i32 ReadFileDataForInflater(void*, u8* buffer, u32 want) {
    u32 got = 0;
    return ReadFileData(buffer, want, &got) ? static_cast<i32>(got) : -1;
}

InflateSource FileDataInflateSource(u32 storedSize) {
    return InflateSource{ReadFileDataForInflater, nullptr, nullptr, storedSize, true};
}
