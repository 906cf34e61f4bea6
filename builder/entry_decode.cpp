#include "builder/entry_decode.h"

#include <errno.h>
#include <string.h>

#include <algorithm>

#include "archive/check_value.h"
#include "archive/script.h"
#include "archive/solid_data.h"
#include "builder/delta_decoder.h"
#include "builder/entry_records.h"
#include "builder/progress.h"
#include "common/paths.h"

const uint32_t LengthFieldSize = 4;  // the u32 V that opens each part

CheckingSink::CheckingSink(uint32_t expectedSize, Progress* progress, FileHandle output, std::vector<uint8_t>* kept)
    : expectedSize(expectedSize), progress(progress), output(output), kept(kept) {}

bool CheckingSink::IsReady() { return writeError == 0 && count <= expectedSize; }

// The decoder hands over whole 32 KiB windows and one last shorter piece.
// Every piece but the last is a multiple of 4 bytes, so the check value's
// word grouping carries across pieces unchanged.
void CheckingSink::Write(const u8* data, u32 size) {
    count += size;
    check = RotateAddCheck(data, size, check);
    if (kept != nullptr) kept->insert(kept->end(), data, data + size);
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
    if (FileDataIsSolid()) {
        if (end <= SolidUnpackedSize()) return "";
        return "stored data at unpacked offset " + std::to_string(entry.dataOffset) + " (" +
               std::to_string(entry.storedSize) + " bytes) lies beyond the unpacked stream (" +
               std::to_string(SolidUnpackedSize()) + " bytes)";
    }
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
    // Where a solid block lies is known only to the seek: one that fails
    // (its block starts in an earlier volume) is tried again from the start.
    if (streamOpen && FileDataIsSolid() && SeekFileData(offset) == FileDataReady) return "";
    if (!streamOpen || FileDataIsSolid() || offset < fileData.base) {
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
    if (FileDataIsSolid()) {
        if (entry.storedSize != 0 && !CopySolidData(entry.storedSize, sink) && sink.WriteError() == 0) {
            CloseFileData();
            streamOpen = false;
            return "stored data cannot be unpacked (unpacked offset " + std::to_string(entry.dataOffset) + ", " +
                   std::to_string(entry.storedSize) + " bytes): its block is damaged or a volume is missing";
        }
        return CheckResult(entry, sink);
    }
    InflateSource source = FileDataInflateSource(entry.storedSize);
    InflateStatus status = InflateStream(source, sink);
    if (status != InflateOk) {
        fault = DescribeFailure(status, entry, sink);
        CloseFileData();  // the stream's position is unknown after a failure
        streamOpen = false;
        return fault;
    }
    return CheckResult(entry, sink);
}

std::string StoredDataReader::CheckResult(const FileEntry& entry, const CheckingSink& sink) const {
    if (sink.WriteError() != 0) return std::string("cannot write: ") + strerror(sink.WriteError());
    if (sink.Count() != entry.size)
        return "stored data decodes to " + std::to_string(sink.Count()) + " bytes, expected " +
               std::to_string(entry.size);
    if (sink.Check() != entry.checkValue)
        return "check value " + Hex32(sink.Check()) + " expected " + Hex32(entry.checkValue);
    return "";
}

// The raw stored bytes of an entry, as the setup program reads a delta's streams.
std::string StoredDataReader::ReadStored(const FileEntry& entry, std::vector<uint8_t>* data) {
    std::string fault = CheckPlacement(entry);
    if (fault.empty()) fault = Reposition(entry.dataOffset);
    if (!fault.empty()) return fault;
    data->resize(entry.storedSize);
    for (uint32_t done = 0; done < entry.storedSize;) {
        u32 got = 0;
        if (!ReadFileData(data->data() + done, entry.storedSize - done, &got) || got == 0) {
            CloseFileData();
            streamOpen = false;
            return std::string("volume ") + ArchivePath + " missing or unreadable";
        }
        done += got;
    }
    return "";
}

// The base is decoded and checked as the setup program does before it
// applies a delta; the result goes to the sink in whole windows, so its
// check value groups words as for any other entry.
std::string StoredDataReader::DecodeDelta(const FileEntry& entry, CheckingSink& sink) {
    const FileEntry* base = FileEntryAt(entry.baseSet, entry.baseIndex);
    std::string baseName = "the delta's base (set " + std::to_string(entry.baseSet) + " file " +
                           std::to_string(entry.baseIndex) + ")";
    if (base == nullptr) return baseName + " does not exist";
    if (!IsDecodable(*base)) return baseName + " has no stored contents of its own";
    std::vector<uint8_t> baseBytes;
    CheckingSink baseSink(base->size, nullptr, NoFile, &baseBytes);
    std::string fault = Decode(*base, baseSink);
    if (!fault.empty()) return baseName + ": " + fault;
    std::vector<uint8_t> data, output;
    fault = ReadStored(entry, &data);
    if (fault.empty()) fault = ApplyDelta(baseBytes.data(), baseBytes.size(), data.data(), data.size(), &output);
    if (!fault.empty()) return "delta: " + fault;
    for (size_t at = 0; at < output.size() && sink.IsReady(); at += WindowSize)
        sink.Write(output.data() + at, static_cast<u32>(std::min<size_t>(WindowSize, output.size() - at)));
    return CheckResult(entry, sink);
}
