#include "builder/setup_reader.h"

#include <errno.h>
#include <string.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "archive/archive_offset.h"
#include "archive/script.h"
#include "builder/archive_texts.h"
#include "builder/host_system.h"
#include "common/paths.h"

namespace {

const size_t ScanChunkSize = 65536;
const size_t OffsetFieldSize = 4;
// The largest file the loader's 32-bit sizes can describe (FileSize fails above it).
const uint64_t LargestReadableFile = 0xFFFFFFFEull;

std::string Hex(uint32_t value, int digits) {
    char text[16];
    snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

// Searches the file for the first marker with its offset field behind it.
// Returns false when there is none; the scan stops at the first one, which
// lies in the setup program's data near the file's start.
bool FindMarkerValue(InputFile& file, uint32_t* value) {
    const uint8_t* markerEnd = ArchiveOffsetMarker + sizeof ArchiveOffsetMarker;
    std::vector<uint8_t> window;
    std::vector<uint8_t> chunk(ScanChunkSize);
    for (;;) {
        long got = file.Read(chunk.data(), chunk.size());
        if (got <= 0) return false;
        window.insert(window.end(), chunk.begin(), chunk.begin() + got);
        auto hit = std::search(window.begin(), window.end(), ArchiveOffsetMarker, markerEnd);
        if (hit != window.end()) {
            size_t at = static_cast<size_t>(hit - window.begin());
            if (window.size() - at >= sizeof ArchiveOffsetMarker + OffsetFieldSize) {
                *value = ReadU32(window.data() + at + sizeof ArchiveOffsetMarker);
                return true;
            }
            window.erase(window.begin(), hit);  // keep the marker until its field is read
            continue;
        }
        // A marker may straddle two chunks: keep the bytes that could begin one.
        size_t keep = std::min(window.size(), sizeof ArchiveOffsetMarker - 1);
        window.erase(window.begin(), window.end() - static_cast<long>(keep));
    }
}

}  // namespace

ArchiveLocation LocateArchive(const std::string& path) {
    ArchiveLocation location;
    InputFile file(path, false);
    if (!file.IsOpen()) {
        location.problem = std::string("cannot open: ") + strerror(file.Error());
        return location;
    }
    uint64_t size = 0;
    uint32_t value = 0;
    if (!file.IsRegular(&size)) {
        location.problem = "not a regular file";
    } else if (size > LargestReadableFile) {
        location.problem = "larger than 4 GB, more than a setup can be";
    } else if (!FindMarkerValue(file, &value)) {
        location.problem = "not a Kelvo setup: the archive marker is not in it";
    } else if (value == 0) {
        location.problem = "no archive appended: this is a bare setup program";
    } else if (value > size) {
        location.problem = "not a Kelvo setup: its archive offset " + std::to_string(value) +
                           " lies beyond the end of the file (" + std::to_string(size) + " bytes)";
    } else {
        location.found = true;
    }
    location.offset = value;
    location.fileSize = static_cast<uint32_t>(std::min<uint64_t>(size, LargestReadableFile));
    return location;
}

const char* RecordName(uint16_t id) {
    switch (id) {
        case SetupFlagsRecord: return "setup flags";
        case WizardPictureRecord: return "wizard picture";
        case BackgroundPictureRecord: return "background picture";
        case BackgroundTitleRecord: return "background title";
        case DialogTemplatesRecord: return "dialog templates";
        case FileListRecord: return "file list";
        case FixedPageRecord: return "fixed page";
        case BackgroundStyleRecord: return "background style";
        case InstallSetRecord: return "install set";
        case PrefixDataRecord: return "prefix data";
        case IniEntriesRecord: return "INI entries";
        case RegistryEntriesRecord: return "registry entries";
        case FilePatchesRecord: return "file patches";
        case RegistrationRecord: return "registration";
        case InstallPaceRecord: return "install pace";
        case CodePageRecord: return "code page";
        case LanguageTextsRecord: return "language texts";
        case UninstallLogPlaceRecord: return "uninstall log place";
        case RollbackRecord: return "rollback";
        case SolidBlocksRecord: return "solid blocks";
        case FileDataRecord: return "file data";
        default: return "unknown record";
    }
}

static std::string RecordAt(const LoadReport& report) {
    return "record " + Hex(report.recordId, 4) + " (" + RecordName(report.recordId) + ") at offset " +
           std::to_string(report.recordOffset);
}

static std::string DescribeMissingFileData(const LoadReport& report, uint32_t fileSize) {
    if (setupScript.fileDataStart == 0) return "file contents missing: the " + RecordAt(report) + " is empty";
    uint64_t dataStart = static_cast<uint64_t>(setupScript.fileDataStart) + OffsetFieldSize;
    uint64_t held = fileSize > dataStart ? fileSize - dataStart : 0;
    return "file contents missing: the " + RecordAt(report) + " declares " +
           std::to_string(setupScript.fileDataLength) + " bytes but the file holds only " + std::to_string(held);
}

static std::string DescribeShortHeader(const LoadReport& report, uint32_t fileSize) {
    if (report.recordOffset >= fileSize)
        return "truncated: the archive ends at offset " + std::to_string(report.recordOffset) +
               " without a file data record";
    return "truncated: the file ends inside the record header at offset " + std::to_string(report.recordOffset);
}

std::string DescribeLoadFault(const LoadReport& report, uint32_t fileSize) {
    switch (report.fault) {
        case LoadOk: return "loaded";
        case NoArchiveAppended: return "no archive appended: this is a bare setup program";
        case SetupFileUnreadable: return std::string("cannot open: ") + strerror(errno);
        case RecordHeaderCutShort: return DescribeShortHeader(report, fileSize);
        case RecordBodyCutShort: return "truncated: the file ends inside " + RecordAt(report);
        case BodyDoesNotDecode: return "damaged: the compressed body of " + RecordAt(report) + " does not decode";
        case BodyTooLarge: return "the body of " + RecordAt(report) + " does not fit in memory";
        case DamagedRecord:
            return "damaged: " + RecordAt(report) + " holds an offset, count or string that leaves its body";
        case SetRecordBeforeSet: return "damaged: " + RecordAt(report) + " comes before the first install set";
        case TooManyInstallSets:
            return "damaged: " + RecordAt(report) + " is install set " + std::to_string(MaxInstallSets + 1) +
                   " (at most " + std::to_string(MaxInstallSets) + ")";
        case FileDataIncomplete: return DescribeMissingFileData(report, fileSize);
    }
    return "unknown load fault " + std::to_string(report.fault);
}

LoadedSetup::LoadedSetup(const std::string& path) : path(path) { Load(); }

void LoadedSetup::Load() {
    // The loader's paths are fixed buffers; a longer path would be cut and
    // name another file.
    if (path.size() >= PathCapacity) {
        fault = "path too long for the setup's loader (at most " + std::to_string(PathCapacity - 1) + " characters)";
        return;
    }
    location = LocateArchive(path);
    if (!location.found) {
        fault = location.problem;
        return;
    }
    if (!AllocatePathBuffers()) throw std::bad_alloc();
    buffersAllocated = true;
    CopyPath(SourcePath, path.c_str(), PathCapacity);
    LoadReport report;
    LoadFault loadFault = ReadSetupArchive(location.offset, &report);
    if (loadFault != LoadOk && loadFault != FileDataIncomplete) {
        fault = DescribeLoadFault(report, location.fileSize);
        return;
    }
    loaded = true;
    ReadArchiveTexts(path, location.offset);
    // A FixedPage archive loads without complaint even when the file data
    // is short, so the loader's own flag decides.
    fileDataComplete = setupScript.fileDataUsable;
    if (!fileDataComplete) {
        report.fault = FileDataIncomplete;
        fault = DescribeLoadFault(report, location.fileSize);
    }
}

LoadedSetup::~LoadedSetup() {
    ForgetArchiveTexts();
    ReleaseSetupScript();
    if (buffersAllocated) ReleasePathBuffers();
}
