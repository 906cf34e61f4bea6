#include "builder/entry_decode.h"

#include <errno.h>
#include <string.h>

#include <algorithm>

#include "archive/check_value.h"
#include "archive/script.h"
#include "builder/entry_records.h"
#include "builder/progress.h"
#include "common/paths.h"

const uint32_t LengthFieldSize = 4;  // the u32 V that opens each part

CheckingSink::CheckingSink(uint32_t expectedSize, Progress* progress, FileHandle output)
    : expectedSize(expectedSize), progress(progress), output(output) {}

bool CheckingSink::IsReady() { return writeError == 0 && count <= expectedSize; }

// The decoder hands over whole 32 KiB windows and one last shorter piece.
// Every piece but the last is a multiple of 4 bytes, so the check value's
// word grouping carries across pieces unchanged.
void CheckingSink::Write(const u8* data, u32 size) {
    count += size;
    check = RotateAddCheck(data, size, check);
    if (output != NoFile && writeError == 0 && WriteToFile(output, data, size) != WriteDone)
        writeError = errno != 0 ? errno : EIO;
    if (progress != nullptr) progress->Advance(size);
}

// Reads a volume's V and how much of it its file holds.
static FileDataPart ReadVolumePart(const char* path) {
    FileDataPart part;
    part.path = path;
    FileHandle file = OpenExistingFile(path, OpenRead);
    if (file == NoFile) return part;
    u8 length[LengthFieldSize];
    u32 size = FileSize(file);
    if (size != SeekFailed && ReadExactly(file, length, LengthFieldSize)) {
        part.present = true;
        part.length = ReadU32(length);
        part.held = std::min<uint64_t>(part.length, size - LengthFieldSize);
    }
    CloseFile(file);
    return part;
}

static FileDataPart SetupFilePart() {
    FileDataPart part;
    part.path = SourcePath;
    part.length = setupScript.fileDataLength;
    FileHandle file = OpenExistingFile(SourcePath, OpenRead);
    if (file == NoFile) return part;
    uint64_t dataStart = uint64_t(setupScript.fileDataStart) + LengthFieldSize;
    u32 size = FileSize(file);
    CloseFile(file);
    part.present = size != SeekFailed;
    part.held = part.present && size > dataStart ? std::min<uint64_t>(part.length, size - dataStart) : 0;
    return part;
}

StoredDataReader::StoredDataReader(uint64_t extent) { Survey(extent); }

StoredDataReader::~StoredDataReader() {
    if (streamOpen) CloseFileData();
}

void StoredDataReader::Survey(uint64_t extent) {
    parts.push_back(SetupFilePart());
    char volumePath[PathCapacity];
    for (uint32_t volume = 1;; volume++) {
        const FileDataPart& last = parts.back();
        available += last.held;
        if (!last.present || last.held < last.length || available >= extent) return;
        CopyPath(volumePath, SourcePath, PathCapacity);
        if (!SetVolumeExtension(volumePath, volume)) return;
        parts.push_back(ReadVolumePart(volumePath));
    }
}

std::string StoredDataReader::CheckPlacement(const FileEntry& entry) const {
    uint64_t end = uint64_t(entry.dataOffset) + entry.storedSize;
    if (entry.storedSize == 0) return "stored size is 0: the entry has no stream";
    if (end <= available) return "";
    const FileDataPart& last = parts.back();
    std::string part = (parts.size() == 1 ? "" : "volume ") + last.path;
    std::string where = "stored data at stream offset " + std::to_string(entry.dataOffset) + " (" +
                        std::to_string(entry.storedSize) + " bytes)";
    if (!last.present) return where + " needs " + part + ", which is missing";
    if (last.held < last.length)
        return where + " needs " + part + ", which is truncated: it holds " + std::to_string(last.held) +
               " of " + std::to_string(last.length) + " bytes";
    return where + " lies beyond the end of the file data (" + std::to_string(available) + " bytes)";
}

// The reader only moves forward through the volumes, so an offset behind
// the current volume needs the stream opened afresh.
std::string StoredDataReader::Reposition(uint32_t offset) {
    if (!streamOpen || offset < fileData.base) {
        if (streamOpen) CloseFileData();
        streamOpen = OpenFileData(false) == FileDataReady;
        if (!streamOpen) return std::string("cannot open ") + MessagePath;
    }
    if (SeekFileData(offset) != FileDataReady) {
        CloseFileData();
        streamOpen = false;
        return std::string("volume ") + MessagePath + " missing or unreadable";
    }
    return "";
}

std::string StoredDataReader::DescribeFailure(int status, const FileEntry& entry, const CheckingSink& sink) const {
    std::string where =
        " (stream offset " + std::to_string(entry.dataOffset) + ", " + std::to_string(entry.storedSize) + " bytes)";
    switch (status) {
        case InflateNoMemory: return "out of memory while decoding";
        case InflateInputEnded:
            if (fileData.handle == NoFile) return std::string("volume ") + ArchivePath + " missing or unreadable";
            return "stored data ends before its stream does" + where;
        case InflateSinkRefused:
            if (sink.WriteError() != 0) return std::string("cannot write: ") + strerror(sink.WriteError());
            return "stored data decodes to more than " + std::to_string(entry.size) + " bytes";
        default: return "stored data does not decode" + where;
    }
}

std::string StoredDataReader::Decode(const FileEntry& entry, CheckingSink& sink) {
    std::string fault = CheckPlacement(entry);
    if (fault.empty()) fault = Reposition(entry.dataOffset);
    if (!fault.empty()) return fault;
    InflateSource source = FileDataInflateSource(entry.storedSize);
    InflateStatus status = InflateStream(source, sink);
    if (status != InflateOk) {
        fault = DescribeFailure(status, entry, sink);
        CloseFileData();  // the stream's position is unknown after a failure
        streamOpen = false;
        return fault;
    }
    if (sink.Count() != entry.size)
        return "stored data decodes to " + std::to_string(sink.Count()) + " bytes, expected " +
               std::to_string(entry.size);
    if (sink.Check() != entry.checkValue)
        return "check value " + Hex32(sink.Check()) + " expected " + Hex32(entry.checkValue);
    return "";
}
