// Decoding of the entries' stored data, shared by `kelvo verify` and `kelvo
// extract`. The stream is read through the setup program's own file-data
// reader (archive/file_data.h), continuation volumes included, so a setup
// that passes here is one the setup program can unpack.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "archive/file_data.h"
#include "archive/records.h"

class Progress;

// Takes an entry's decoded bytes, counts them and computes their check value
// as they pass, and writes them to `output` when there is one. It refuses
// more than the entry's size (plus the last piece), so a damaged stream that
// would decode without end stops early.
class CheckingSink : public ByteSink {
public:
    // With `kept`, the bytes are also appended there.
    CheckingSink(uint32_t expectedSize, Progress* progress, FileHandle output = NoFile,
                 std::vector<uint8_t>* kept = nullptr);
    bool IsReady() override;
    void Write(const u8* data, u32 count) override;

    uint64_t Count() const { return count; }
    uint32_t Check() const { return check; }
    // errno of the first failed write, 0 when none failed.
    int WriteError() const { return writeError; }

private:
    uint32_t expectedSize;
    Progress* progress;
    FileHandle output;
    std::vector<uint8_t>* kept;
    uint64_t count = 0;
    uint32_t check = 0;
    int writeError = 0;
};

// One part of the file-data stream: the setup file itself or a volume.
struct FileDataPart {
    std::string path;
    bool present = false;
    uint32_t length = 0;  // stream bytes the part declares
    uint32_t held = 0;    // of those, the bytes its file really holds
};

// Reads entries' stored data, in any order, from the loaded setup.
class StoredDataReader {
public:
    // Surveys the parts needed to hold `extent` stream bytes (FileDataExtent()).
    explicit StoredDataReader(uint64_t extent);
    ~StoredDataReader();
    StoredDataReader(const StoredDataReader&) = delete;
    StoredDataReader& operator=(const StoredDataReader&) = delete;

    // Decodes the entry's stored data into `sink` and compares its size and
    // check value. Returns what is wrong, or "" when nothing is.
    std::string Decode(const FileEntry& entry, CheckingSink& sink);

    // The same for a delta entry: its base entry's stored data is decoded
    // and checked, the delta applied to it, and the result passed to `sink`.
    std::string DecodeDelta(const FileEntry& entry, CheckingSink& sink);

    // The parts surveyed, in stream order; the survey stops at the first
    // part that is missing or short.
    const std::vector<FileDataPart>& Parts() const { return parts; }
    // Stream bytes readable from the start without a gap.
    uint64_t Available() const { return available; }

private:
    void Survey(uint64_t extent);
    std::string CheckPlacement(const FileEntry& entry) const;
    std::string Reposition(uint32_t offset);
    std::string DescribeFailure(int status, const FileEntry& entry, const CheckingSink& sink) const;
    std::string ReadStored(const FileEntry& entry, std::vector<uint8_t>* data);
    std::string CheckResult(const FileEntry& entry, const CheckingSink& sink) const;

    std::vector<FileDataPart> parts;
    uint64_t available = 0;
    bool streamOpen = false;
};
