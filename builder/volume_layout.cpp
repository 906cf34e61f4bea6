#include "builder/volume_layout.h"

#include <cstddef>
#include <stdexcept>
#include <string>

uint32_t VolumeCapacity::VolumeOf(uint64_t offset) const {
    if (offset < first) return 0;
    return static_cast<uint32_t>(1 + (offset - first) / later);
}

uint64_t VolumeCapacity::VolumeStart(uint32_t volume) const {
    return volume == 0 ? 0 : first + (volume - 1) * later;
}

namespace {

// Copies already packed, per content, in stream order.
class CopyIndex {
public:
    explicit CopyIndex(size_t contents) : offsets(contents) {}

    // The earliest copy of `content` that starts in `volume` or later.
    bool Find(uint32_t content, uint32_t volume, const VolumeCapacity& capacity, uint64_t* offset) const {
        for (uint64_t candidate : offsets[content]) {
            if (capacity.VolumeOf(candidate) >= volume) {
                *offset = candidate;
                return true;
            }
        }
        return false;
    }
    void Add(uint32_t content, uint64_t offset) { offsets[content].push_back(offset); }

private:
    std::vector<std::vector<uint64_t>> offsets;
};

std::vector<uint64_t> VolumeLengths(uint64_t length, const VolumeCapacity& capacity) {
    std::vector<uint64_t> lengths;
    uint32_t volume = 0;
    do {
        uint64_t start = capacity.VolumeStart(volume);
        uint64_t room = volume == 0 ? capacity.first : capacity.later;
        lengths.push_back(length - start < room ? length - start : room);
        volume++;
    } while (capacity.VolumeStart(volume) < length);
    return lengths;
}

std::string EntryName(uint32_t set, uint32_t index, const std::vector<std::vector<uint32_t>>* entryNumbers) {
    if (entryNumbers != nullptr) index = (*entryNumbers)[set][index];
    return "set " + std::to_string(set) + " file " + std::to_string(index);
}

// Moves the reader through a delta's base, which it decodes first.
void ReadBase(const StreamLayout& layout, const std::vector<std::vector<uint32_t>>& sets,
              const std::vector<uint64_t>& storedSizes, const VolumeCapacity& capacity, BaseRef base, uint32_t set,
              uint32_t index, uint32_t& readerVolume, const std::vector<std::vector<uint32_t>>* entryNumbers) {
    if (capacity.first == UINT64_MAX) return;  // one volume: every offset can be reached
    bool placed = base.set < set || (base.set == set && base.index < index);
    std::string delta = EntryName(set, index, entryNumbers) + " is a delta against " +
                        EntryName(base.set, base.index, entryNumbers);
    if (!placed)
        throw std::runtime_error(delta + ", which comes later; split over disks, a base must come first");
    uint64_t offset = layout.entryOffsets[base.set][base.index];
    if (capacity.VolumeOf(offset) < readerVolume)
        throw std::runtime_error(delta + ", whose data lies on a disk the setup has already left");
    uint64_t size = storedSizes[sets[base.set][base.index]];
    if (size > 0) readerVolume = capacity.VolumeOf(offset + size - 1);
}

}  // namespace

StreamLayout LayOutStream(const std::vector<std::vector<uint32_t>>& sets, const std::vector<uint64_t>& storedSizes,
                          const VolumeCapacity& capacity, const DeltaBases& bases,
                          const std::vector<std::vector<uint32_t>>* entryNumbers) {
    StreamLayout layout;
    CopyIndex copies(storedSizes.size());
    for (uint32_t s = 0; s < sets.size(); s++) {
        const std::vector<uint32_t>& set = sets[s];
        std::vector<uint64_t>& offsets = layout.entryOffsets.emplace_back();
        uint32_t readerVolume = 0;  // every run starts in the setup file
        for (uint32_t e = 0; e < set.size(); e++) {
            uint32_t content = set[e];
            if (content == NoContent) {
                offsets.push_back(0);
                continue;
            }
            if (s < bases.size() && bases[s][e].set != UINT32_MAX)
                ReadBase(layout, sets, storedSizes, capacity, bases[s][e], s, e, readerVolume, entryNumbers);
            uint64_t offset;
            if (!copies.Find(content, readerVolume, capacity, &offset)) {
                offset = layout.length;
                layout.copies.push_back({content, offset});
                copies.Add(content, offset);
                layout.length += storedSizes[content];
            }
            offsets.push_back(offset);
            uint64_t size = storedSizes[content];
            if (size > 0) readerVolume = capacity.VolumeOf(offset + size - 1);  // where the last byte was read
        }
    }
    layout.volumeLengths = VolumeLengths(layout.length, capacity);
    return layout;
}
