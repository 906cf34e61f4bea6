// Places the packed contents in the file-data stream and the stream in
// volumes. Every run of the setup program installs one set, starting in the
// setup file (volume 0) and reading the set's entries in list order; it can
// seek anywhere in the volume it is in or a later one, never back to an
// earlier volume. So an entry may share a copy of its contents packed for an
// earlier entry only when that copy starts in the volume the reader is in at
// that point of the set, or a later one; otherwise the contents are packed
// again at the end of the stream.
#pragma once
#include <cstdint>
#include <vector>

// Stream bytes per volume: volume 0 (behind the records in the setup file)
// takes `first`, each continuation volume `later`. The defaults: one volume.
struct VolumeCapacity {
    uint64_t first = UINT64_MAX;
    uint64_t later = UINT64_MAX;

    uint32_t VolumeOf(uint64_t offset) const;
    uint64_t VolumeStart(uint32_t volume) const;
};

const uint32_t NoContent = UINT32_MAX;  // an entry without data (a folder)

struct StreamLayout {
    struct Copy {
        uint32_t content;
        uint64_t offset;
    };
    std::vector<Copy> copies;                         // in stream order, back to back
    std::vector<std::vector<uint64_t>> entryOffsets;  // [set][entry]: where the entry's data starts
    uint64_t length = 0;
    std::vector<uint64_t> volumeLengths;  // stream bytes in each volume; at least one volume
};

// The entry a delta entry's data applies to: set and position in its list.
struct BaseRef {
    uint32_t set = UINT32_MAX;  // UINT32_MAX: the entry is no delta
    uint32_t index = 0;
};
typedef std::vector<std::vector<BaseRef>> DeltaBases;  // [set][entry]

// `sets[s][e]` is the content entry e of set s installs (or NoContent);
// `storedSizes[c]` the packed size of content c. The setup program reads a
// delta entry's base from the base's own offset before the delta itself, so
// across volumes that base must lie earlier in the layout (an earlier set,
// or earlier in the same set) and in the volume the reader is in or a later
// one; otherwise std::runtime_error names the two entries.
// `entryNumbers[set][i]` (optional) is the file number that reads
// `sets[set][i]`, for the messages, where reads are not entries one to one.
StreamLayout LayOutStream(const std::vector<std::vector<uint32_t>>& sets, const std::vector<uint64_t>& storedSizes,
                          const VolumeCapacity& capacity, const DeltaBases& bases = {},
                          const std::vector<std::vector<uint32_t>>* entryNumbers = nullptr);
