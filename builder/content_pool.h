// Packs the source files of a build: each file's contents compressed as one
// stream on a small pool of threads, collected in install order, so the
// result never depends on thread timing. Identical contents are kept once.
// The compressed streams wait in an unlinked temporary file until the setup
// and its volumes are written, so memory holds only the few files in flight.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "builder/host_system.h"
#include "builder/source_files.h"

class Progress;

// The level that keeps contents as they are: solid blocks pack them later.
const int RawContents = -1;

struct PackedContent {
    uint64_t poolOffset;  // where its stream starts in the pool file
    uint32_t storedSize;  // stream length
    uint32_t size;        // original length
    uint32_t checkValue;  // RotateAddCheck of the original bytes
};

class ContentPool {
public:
    // The pool file is created in `folder` (beside the output, where there is room for it).
    explicit ContentPool(const std::string& folder);
    ~ContentPool();
    ContentPool(const ContentPool&) = delete;
    ContentPool& operator=(const ContentPool&) = delete;

    // Packs `sources` (distinct files of `files`, in install order) at `level`
    // (or keeps them raw at RawContents); sets `sourceContent`
    // to the content index of each. Throws std::runtime_error naming a
    // source that cannot be read or is 4 GB or larger.
    void Pack(const SourceFiles& files, const std::vector<std::string>& sources, int level, unsigned threads,
              Progress* progress);

    const std::vector<PackedContent>& Contents() const { return contents; }
    const std::vector<uint32_t>& SourceContent() const { return sourceContent; }
    uint64_t BytesRead() const { return bytesRead; }

    // Adds a stream packed elsewhere (a delta, contents given in memory);
    // `size` and `checkValue` are those of the file it installs.
    uint32_t AddContent(const std::vector<uint8_t>& stream, uint32_t size, uint32_t checkValue) {
        return AddStream(stream, size, checkValue);
    }

    // Reads `count` bytes of content `content`'s stream, from `from` on.
    void Read(uint32_t content, uint64_t from, uint8_t* buffer, size_t count) const {
        ReadAt(contents[content].poolOffset + from, buffer, count);
    }

    // Appends `count` bytes of content `content`'s stream, from `from` on, to `out`.
    void CopyTo(FILE* out, uint32_t content, uint64_t from, uint64_t count) const;

private:
    uint32_t AddStream(const std::vector<uint8_t>& stream, uint32_t size, uint32_t checkValue);
    bool StoredEquals(const PackedContent& content, const std::vector<uint8_t>& stream) const;
    void ReadAt(uint64_t offset, uint8_t* buffer, size_t count) const;

    ScratchFile pool;
    uint64_t end = 0;
    std::vector<PackedContent> contents;
    std::vector<uint32_t> sourceContent;
    uint64_t bytesRead = 0;
};
