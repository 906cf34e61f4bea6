#include "builder/archive_builder.h"


#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>

#include "archive/archive_offset.h"
#include "archive/check_value.h"
#include "builder/content_pool.h"
#include "builder/execution_level.h"
#include "builder/deflate_encoder.h"
#include "builder/delta_encoder.h"
#include "builder/host_system.h"
#include "builder/lzma_encoder.h"
#include "builder/progress.h"
#include "builder/solid_blocks.h"
#include "builder/volume_layout.h"
#include "builder/whole_file.h"

namespace {

const uint32_t FileDataHeadSize = sizeof(RecordHeader) + 4;
const uint32_t VolumeHeadSize = 4;  // a continuation volume's length word
const uint64_t MaxArchiveOffset = 0xFFFFFFFFu;
// A layout is redone with more room for the records at most this often.
const int MaxReserveRounds = 4;

std::runtime_error Failure(const std::string& what) { return std::runtime_error(what); }

// The distinct source files, by file identity, in install order.
struct SourceIndex {
    std::vector<std::string> paths;
    std::vector<std::vector<uint32_t>> entrySource;  // [set][entry]: index into paths, or NoContent
    uint64_t totalSize = 0;
    uint64_t files = 0;
};

SourceIndex IndexSources(const Project& project) {
    SourceIndex index;
    std::map<std::pair<uint64_t, uint64_t>, uint32_t> byIdentity;
    for (const ProjectSet& set : project.sets) {
        std::vector<uint32_t>& sources = index.entrySource.emplace_back();
        for (const ProjectEntry& entry : set.entries) {
            if (entry.sourcePath.empty()) {
                sources.push_back(NoContent);
                continue;
            }
            FileIdentity identity;
            int error = 0;
            if (!project.files->Identify(entry.sourcePath, &identity, &error))
                throw Failure("cannot read " + entry.sourcePath + ": " + strerror(error));
            auto [it, added] = byIdentity.emplace(std::make_pair(identity.device, identity.file),
                                                  static_cast<uint32_t>(index.paths.size()));
            if (added) {
                index.paths.push_back(entry.sourcePath);
                index.totalSize += identity.size;
            }
            sources.push_back(it->second);
            index.files++;
        }
    }
    return index;
}

// Records whose bytes do not depend on where the file data lies, and an upper
// bound for the FileList records, which do: RecordBytes compresses a body
// only when that makes it smaller, and a raw list's size does not depend on
// the offsets and sizes it holds.
struct RecordPlan {
    Bytes leading;                   // setup-wide records
    std::vector<Bytes> installSets;  // each set's InstallSet record
    std::vector<Bytes> trailing;     // each set's INI, registry and patch records
    uint64_t fixedSize = 0;
    uint64_t listBound = 0;
};

Bytes LeadingRecords(const Project& project, int level) {
    Bytes out;
    PutBytes(out, RecordBytes(SetupFlagsRecord, EncodeSetupFlags(project.setupFlags)));
    // Ahead of every text, so a reader knows their code page before it meets them.
    PutBytes(out, RecordBytes(CodePageRecord, EncodeSetupFlags(project.codePage)));
    if (project.batchMilliseconds != 0)
        PutBytes(out, RecordBytes(InstallPaceRecord, EncodeSetupFlags(project.batchMilliseconds)));
    if (!project.wizardPicture.empty()) PutBytes(out, RecordBytes(WizardPictureRecord, project.wizardPicture, level));
    if (!project.backgroundPicture.empty())
        PutBytes(out, RecordBytes(BackgroundPictureRecord, project.backgroundPicture, level));
    if (!project.backgroundTitle.empty()) {
        Bytes title;
        PutString(title, project.backgroundTitle);
        PutBytes(out, RecordBytes(BackgroundTitleRecord, title, level));
    }
    if (!project.backgroundStyle.empty()) PutBytes(out, RecordBytes(BackgroundStyleRecord, project.backgroundStyle, level));
    if (!project.dialogTemplates.empty())
        PutBytes(out, RecordBytes(DialogTemplatesRecord, EncodeDialogTemplates(project.dialogTemplates), level));
    if (project.fixedPage)
        PutBytes(out, RecordBytes(FixedPageRecord, EncodeFixedPage(project.fixedPage->page, project.fixedPage->set)));
    if (!project.prefixData.empty()) PutBytes(out, RecordBytes(PrefixDataRecord, project.prefixData, level));
    if (project.uninstallLogPlace != 0)
        PutBytes(out, RecordBytes(UninstallLogPlaceRecord, EncodeSetupFlags(project.uninstallLogPlace)));
    if (project.rollback) PutBytes(out, RecordBytes(RollbackRecord, EncodeSetupFlags(RollbackOn)));
    return out;
}

// Each set's entries, with the delta fields of those stored as deltas.
std::vector<FileEntryFields> EntryFields(const ProjectSet& set, const std::vector<BaseRef>* bases = nullptr) {
    std::vector<FileEntryFields> fields;
    for (const ProjectEntry& entry : set.entries) fields.push_back(entry.fields);
    for (size_t e = 0; bases != nullptr && e < bases->size(); e++) {
        const BaseRef& base = (*bases)[e];
        if (base.set == UINT32_MAX) continue;
        fields[e].entryFlags |= DeltaEntry;
        fields[e].baseSet = static_cast<uint16_t>(base.set);
        fields[e].baseIndex = base.index;
    }
    return fields;
}

// The set's installed size for the system's list of programs: the bytes of
// its entries in KB, rounded up. The contents are read later; their sizes
// are known now.
uint32_t InstalledKilobytes(const Project& project, const ProjectSet& set) {
    uint64_t bytes = 0;
    for (const ProjectEntry& entry : set.entries) {
        if (entry.fields.entryFlags & UninstallerEntry) bytes += project.prefixData.size();  // its program
        if (entry.inlineContents)
            bytes += entry.inlineContents->size();
        else if (!entry.sourcePath.empty()) {
            FileIdentity identity;
            int error = 0;
            if (project.files->Identify(entry.sourcePath, &identity, &error))
                bytes += identity.size;  // an unreadable source fails the build later, by name
        } else
            bytes += entry.fields.size;
    }
    return static_cast<uint32_t>(std::min<uint64_t>((bytes + 1023) / 1024, UINT32_MAX));
}

RecordPlan PlanRecords(const Project& project, int level) {
    RecordPlan plan;
    plan.leading = LeadingRecords(project, level);
    plan.fixedSize = plan.leading.size();
    for (const ProjectSet& set : project.sets) {
        Bytes& record = plan.installSets.emplace_back(RecordBytes(InstallSetRecord, EncodeInstallSet(set.fields), level));
        Bytes& trailing = plan.trailing.emplace_back();
        if (!set.iniEntries.empty()) PutBytes(trailing, RecordBytes(IniEntriesRecord, EncodeIniEntries(set.iniEntries), level));
        if (!set.registryEntries.empty())
            PutBytes(trailing, RecordBytes(RegistryEntriesRecord, EncodeRegistryEntries(set.registryEntries), level));
        if (!set.filePatches.empty())
            PutBytes(trailing, RecordBytes(FilePatchesRecord, EncodeFilePatches(set.filePatches), level));
        if (set.registration) {
            RegistrationFields registration = *set.registration;
            registration.estimatedKilobytes = InstalledKilobytes(project, set);
            PutBytes(trailing, RecordBytes(RegistrationRecord, EncodeRegistration(registration), level));
        }
        for (const LanguageTextsFields& language : set.languageTexts)
            PutBytes(trailing, RecordBytes(LanguageTextsRecord,
                                           EncodeLanguageTexts(language.language, language.codePage, language.tables), level));
        plan.fixedSize += record.size() + trailing.size();
        plan.listBound += sizeof(RecordHeader) + EncodeFileList(EntryFields(set)).size();
    }
    return plan;
}

struct Arrangement {
    StreamLayout layout;
    std::vector<Bytes> lists;  // each set's FileList record
    Bytes solidRecord;         // the SolidBlocks record, with solid packing
    uint64_t listSize = 0;     // of the lists and the SolidBlocks record, which depend on the layout
};

// The blocks of a solid build, packed before the layout.
struct SolidBuild {
    SolidPlan plan;
    PackedBlocks packed;
    const ContentPool* blocks = nullptr;
    LzmaSettings settings;
};

class Arranger {
public:
    Arranger(const Project& project, std::vector<std::vector<uint32_t>> setContents, DeltaBases bases,
             const std::vector<PackedContent>& contents, int level, const SolidBuild* solid)
        : project(project), setContents(std::move(setContents)), bases(std::move(bases)), contents(contents),
          level(level), solid(solid) {
        for (const PackedContent& c : contents) storedSizes.push_back(c.storedSize);
    }

    Arrangement Arrange(const VolumeCapacity& capacity) const {
        Arrangement result;
        std::vector<std::vector<uint64_t>> offsets;
        if (solid != nullptr) {
            // The stream holds blocks, and entries point into their unpacked bytes.
            std::vector<uint64_t> blockSizes;
            for (const PackedContent& block : solid->blocks->Contents()) blockSizes.push_back(block.storedSize);
            result.layout = LayOutStream(solid->plan.visits, blockSizes, capacity, solid->plan.visitBases,
                                         &solid->plan.visitEntry);
            SolidTable table = MapSolidBlocks(solid->plan, solid->packed, *solid->blocks, result.layout, solid->settings);
            result.solidRecord = RecordBytes(SolidBlocksRecord, table.body);
            result.listSize += result.solidRecord.size();
            offsets = std::move(table.entryOffsets);
        } else {
            result.layout = LayOutStream(setContents, storedSizes, capacity, bases);
            offsets = result.layout.entryOffsets;
        }
        for (size_t s = 0; s < project.sets.size(); s++) {
            std::vector<FileEntryFields> fields = EntryFields(project.sets[s], &bases[s]);
            for (size_t e = 0; e < fields.size(); e++) {
                uint32_t content = setContents[s][e];
                if (content == NoContent) continue;
                fields[e].dataOffset = static_cast<uint32_t>(offsets[s][e]);
                fields[e].storedSize = contents[content].storedSize;
                fields[e].size = contents[content].size;
                fields[e].checkValue = contents[content].checkValue;
            }
            result.lists.push_back(RecordBytes(FileListRecord, EncodeFileList(fields), level));
            result.listSize += result.lists.back().size();
        }
        return result;
    }

private:
    const Project& project;
    std::vector<std::vector<uint32_t>> setContents;
    DeltaBases bases;
    const std::vector<PackedContent>& contents;
    std::vector<uint64_t> storedSizes;
    int level;
    const SolidBuild* solid;
};

// Volume 0 holds the stub, the records and the FileData head before its
// stream bytes, and the FileList records' size depends on the layout. So the
// lists are given room for their size in a provisional layout, and the
// layout is redone with more room while they come out larger than that. The
// lists' raw size is room enough for any layout, the last resort.
Arrangement ArrangeForDisks(const Arranger& arranger, uint64_t diskSize, uint64_t headSize, uint64_t listBound) {
    auto attempt = [&](uint64_t listReserve) -> std::optional<Arrangement> {
        uint64_t used = headSize + listReserve + FileDataHeadSize;
        if (used > diskSize) return std::nullopt;
        return arranger.Arrange(VolumeCapacity{diskSize - used, diskSize - VolumeHeadSize});
    };
    uint64_t reserve = arranger.Arrange(VolumeCapacity{}).listSize;
    for (int round = 0; round < MaxReserveRounds; round++) {
        std::optional<Arrangement> arrangement = attempt(reserve);
        if (!arrangement) break;
        if (arrangement->listSize <= reserve) return std::move(*arrangement);
        reserve = arrangement->listSize;
    }
    std::optional<Arrangement> safe = attempt(std::max(reserve, listBound));
    if (safe) return std::move(*safe);
    throw Failure("the setup program and the records take " + std::to_string(headSize + reserve + FileDataHeadSize) +
                  " bytes, more than the disk size of " + std::to_string(diskSize));
}

// Files written under temporary names, renamed into place only when all of
// them are complete, so a failed build leaves no half-written setup.
class OutputFiles {
public:
    ~OutputFiles() {
        if (open != nullptr) fclose(open);
        for (auto& [temporary, final] : names) remove(temporary.c_str());
    }
    // Closes the file created last and creates `path`'s temporary file.
    FILE* Next(const std::string& path) {
        CloseCurrent();
        std::string temporary = path + ".partial";
        open = fopen(temporary.c_str(), "wb");
        if (open == nullptr) throw Failure("cannot create " + temporary + ": " + strerror(errno));
        names.emplace_back(temporary, path);
        return open;
    }
    void Commit() {
        CloseCurrent();
        for (auto& [temporary, final] : names)
            if (int error = 0; !MoveOver(temporary, final, &error))
                throw Failure("cannot rename " + temporary + " to " + final + ": " + strerror(error));
        names.clear();
    }

private:
    void CloseCurrent() {
        if (open == nullptr) return;
        FILE* file = open;
        open = nullptr;
        if (fclose(file) != 0) throw Failure("cannot write " + names.back().second + ": " + strerror(errno));
    }

    FILE* open = nullptr;
    std::vector<std::pair<std::string, std::string>> names;
};

void WriteBytes(FILE* file, const Bytes& bytes, const std::string& path) {
    if (fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) throw Failure("cannot write " + path);
}

// Copies the stream, copy by copy, into the volumes behind the setup file's
// FileData head; each continuation volume opens with its length word.
// Returns the bytes written to continuation volumes.
uint64_t WriteStream(const StreamLayout& layout, const ContentPool& pool, const std::string& output, FILE* first,
                     OutputFiles& files) {
    const std::vector<uint64_t>& lengths = layout.volumeLengths;
    Progress progress("writing", layout.length);
    FILE* file = first;
    uint32_t volume = 0;
    uint64_t room = lengths[0], written = 0;
    auto nextVolume = [&] {
        std::string path = VolumePath(output, ++volume);
        file = files.Next(path);
        Bytes head;
        PutU32(head, static_cast<uint32_t>(lengths[volume]));
        WriteBytes(file, head, path);
        room = lengths[volume];
        written += VolumeHeadSize + room;
    };
    for (const StreamLayout::Copy& copy : layout.copies) {
        uint64_t size = pool.Contents()[copy.content].storedSize;
        for (uint64_t from = 0; from < size;) {
            while (room == 0) nextVolume();
            uint64_t n = std::min(room, size - from);
            pool.CopyTo(file, copy.content, from, n);
            from += n;
            room -= n;
            progress.Advance(n);
        }
    }
    if (volume + 1 != lengths.size()) throw std::logic_error("the stream does not fill its volumes");
    return written;
}

// Volumes a previous build left behind beyond the ones written now.
void RemoveStaleVolumes(const std::string& output, uint32_t firstStale) {
    for (uint32_t volume = firstStale; std::filesystem::exists(HostPath(VolumePath(output, volume))); volume++)
        std::filesystem::remove(HostPath(VolumePath(output, volume)));
}

std::vector<std::vector<uint32_t>> SetContents(const SourceIndex& sources, const ContentPool& pool) {
    std::vector<std::vector<uint32_t>> sets;
    for (const std::vector<uint32_t>& entries : sources.entrySource) {
        std::vector<uint32_t>& contents = sets.emplace_back();
        for (uint32_t source : entries) contents.push_back(source == NoContent ? NoContent : pool.SourceContent()[source]);
    }
    return sets;
}

// Contents a project gives in memory (the uninstaller's), each packed once.
void AddInlineContents(const Project& project, ContentPool& pool, int level, std::vector<std::vector<uint32_t>>& sets) {
    std::map<Bytes, uint32_t> added;
    for (size_t s = 0; s < project.sets.size(); s++) {
        for (size_t e = 0; e < project.sets[s].entries.size(); e++) {
            const std::optional<Bytes>& inline_ = project.sets[s].entries[e].inlineContents;
            if (!inline_) continue;
            auto [it, isNew] = added.emplace(*inline_, 0);
            if (isNew) {
                uint32_t size = static_cast<uint32_t>(inline_->size());
                Bytes stream = level == RawContents ? *inline_ : EncodeStream(inline_->data(), size, level);
                it->second = pool.AddContent(stream, size,
                                             RotateAddCheck(inline_->data(), size, 0));
            }
            sets[s][e] = it->second;
        }
    }
}

struct DeltaResult {
    DeltaBases bases;
    uint64_t count = 0;  // entries stored as deltas
    uint64_t saved = 0;  // bytes their plain contents would have taken more
};

// Entries whose contents are packed plainly because some entry without a
// delta base installs them anyway.
std::vector<bool> PlainlyUsed(const Project& project, const std::vector<std::vector<uint32_t>>& sets, size_t contents) {
    std::vector<bool> used(contents, false);
    for (size_t s = 0; s < sets.size(); s++)
        for (size_t e = 0; e < sets[s].size(); e++)
            if (sets[s][e] != NoContent && !project.sets[s].entries[e].deltaBase) used[sets[s][e]] = true;
    return used;
}

// Encodes the delta of every entry that has a base and takes it where the
// project asks for it, or, for "auto", where it is smaller than the plain
// contents (which cost nothing more when another entry packs them anyway).
DeltaResult PackDeltas(const Project& project, ContentPool& pool, int level, std::vector<std::vector<uint32_t>>& sets) {
    DeltaResult result;
    std::vector<bool> plainlyUsed = PlainlyUsed(project, sets, pool.Contents().size());
    std::map<std::pair<uint32_t, uint32_t>, uint32_t> encoded;  // (base, target) content -> delta content
    for (size_t s = 0; s < project.sets.size(); s++) {
        std::vector<BaseRef>& bases = result.bases.emplace_back(project.sets[s].entries.size());
        for (size_t e = 0; e < project.sets[s].entries.size(); e++) {
            const ProjectEntry& entry = project.sets[s].entries[e];
            if (!entry.deltaBase) continue;
            const EntryPlace& place = *entry.deltaBase;
            uint32_t target = sets[s][e], base = sets[place.set][place.index];
            const PackedContent plain = pool.Contents()[target];
            if (entry.deltaWhenSmaller && (plainlyUsed[target] || base == target)) continue;
            auto found = encoded.find({base, target});
            if (found == encoded.end()) {
                Bytes baseBytes = project.files->Read(project.sets[place.set].entries[place.index].sourcePath);
                Bytes targetBytes = project.files->Read(entry.sourcePath);
                Bytes delta = EncodeDelta(baseBytes.data(), baseBytes.size(), targetBytes.data(), targetBytes.size(), level);
                if (entry.deltaWhenSmaller && delta.size() >= plain.storedSize) continue;
                found = encoded.emplace(std::make_pair(base, target), pool.AddContent(delta, plain.size, plain.checkValue)).first;
            }
            sets[s][e] = found->second;
            bases[e] = {place.set, place.index};
            result.count++;
            result.saved += plain.storedSize - std::min<uint64_t>(plain.storedSize, pool.Contents()[found->second].storedSize);
        }
    }
    return result;
}

// How this build packs: the project's choice, at the command line's level
// when one is given. Record bodies keep the archive's DEFLATE variant.
struct PackingChoice {
    Codec codec;
    bool solid;
    int level;        // the codec's
    int recordLevel;  // DEFLATE's, for record bodies
};

PackingChoice ChoosePacking(const Packing& packing, int optionLevel) {
    int level = optionLevel >= 0 ? optionLevel : packing.level;
    if (packing.codec == Codec::Deflate) {
        if (level < 0) level = DefaultDeflateLevel;
        return {Codec::Deflate, false, level, level};
    }
    if (level < 0) level = DefaultLzmaLevel;
    if (level < MinLzmaLevel || level > MaxLzmaLevel)
        throw Failure("an LZMA level is " + std::to_string(MinLzmaLevel) + " to " + std::to_string(MaxLzmaLevel) +
                      ", not " + std::to_string(level));
    return {Codec::Lzma, packing.solid, level, DefaultDeflateLevel};
}

// Solid runs close at this many unpacked bytes: twice the dictionary, and
// at least 16 MB, so a large build has blocks for every core while each
// block still gains from a full dictionary.
uint64_t SolidBlockLimit(const LzmaSettings& settings, bool solid) {
    if (!solid) return 1;  // every content a block of its own
    return std::max<uint64_t>(2ull * settings.dictionary, 16u << 20);
}

// The largest SolidBlocks record a layout can need: a block copy per read.
uint64_t SolidRecordBound(const SolidPlan& plan) {
    uint64_t visits = 0;
    for (const std::vector<uint32_t>& set : plan.visits) visits += set.size();
    return sizeof(RecordHeader) + SolidBlocksFixedSize + visits * sizeof(SolidBlock);
}

Bytes AssembleRecords(const RecordPlan& plan, const Arrangement& arrangement) {
    Bytes records = plan.leading;
    PutBytes(records, arrangement.solidRecord);
    for (size_t s = 0; s < plan.installSets.size(); s++) {
        PutBytes(records, plan.installSets[s]);
        PutBytes(records, arrangement.lists[s]);
        PutBytes(records, plan.trailing[s]);
    }
    return records;
}

}  // namespace

std::string VolumePath(const std::string& output, uint32_t volume) {
    size_t nameStart = output.find_last_of("/\\");
    nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
    size_t dot = output.rfind('.');
    size_t stem = dot == std::string::npos || dot < nameStart ? output.size() : dot;
    char extension[16];
    snprintf(extension, sizeof extension, ".D%02u", volume);
    return output.substr(0, stem) + extension;
}

Bytes PrepareStub(Bytes stub) {
    const uint8_t* marker = ArchiveOffsetMarker;
    const size_t markerSize = sizeof ArchiveOffsetMarker;
    std::vector<size_t> found;
    for (auto it = stub.begin(); (it = std::search(it, stub.end(), marker, marker + markerSize)) != stub.end(); ++it)
        found.push_back(static_cast<size_t>(it - stub.begin()));
    if (found.size() != 1)
        throw Failure(found.empty() ? "the setup program holds no archive offset marker"
                                    : "the setup program holds its archive offset marker " + std::to_string(found.size()) +
                                          " times, so the place to patch is unknown");
    size_t slot = found[0] + markerSize;
    if (slot + 4 > stub.size()) throw Failure("the setup program ends inside its archive offset");
    if (ReadU32(&stub[slot]) != 0)
        throw Failure("the setup program's archive offset is already set: is it a built setup?");
    if (stub.size() > MaxArchiveOffset) throw Failure("the setup program is 4 GB or larger");
    uint32_t offset = static_cast<uint32_t>(stub.size());
    for (int i = 0; i < 4; i++) stub[slot + i] = static_cast<uint8_t>(offset >> (8 * i));
    return stub;
}

Bytes FileDataHead(uint32_t volumeLength) {
    Bytes head;
    PutU16(head, FileDataRecord);
    PutU8(head, 0);
    PutU8(head, 0);
    PutU32(head, volumeLength == 0 ? 4 : volumeLength);  // a zero would mark the file data missing
    PutU32(head, volumeLength);
    return head;
}

BuildSummary BuildSetup(const Project& project, const BuildOptions& options) {
    if (options.diskSize != 0 && options.diskSize <= VolumeHeadSize + FileDataHeadSize)
        throw Failure("a disk size of " + std::to_string(options.diskSize) + " bytes leaves no room for data");
    Bytes stub = PrepareStub(ReadWholeFile(options.stub));
    if (project.userPrivileges && !AskForUserLevel(stub))
        throw Failure("the setup program " + options.stub + " has no manifest whose execution level kelvo can set");
    SourceIndex sources = IndexSources(project);
    std::string folder = Utf8Path(HostPath(options.output).parent_path());
    if (!std::filesystem::is_directory(HostPath(folder.empty() ? "." : folder)))
        throw Failure("cannot write " + options.output + ": there is no folder " + folder);
    PackingChoice packing = ChoosePacking(project.packing, options.level);
    bool lzma = packing.codec == Codec::Lzma;
    int contentLevel = lzma ? RawContents : packing.level;
    ContentPool pool(folder);
    {
        Progress progress(lzma ? "reading" : "packing", sources.totalSize);
        pool.Pack(*project.files, sources.paths, contentLevel, options.threads, &progress);
    }
    std::vector<std::vector<uint32_t>> setContents = SetContents(sources, pool);
    AddInlineContents(project, pool, contentLevel, setContents);
    DeltaResult deltas = PackDeltas(project, pool, contentLevel, setContents);
    RecordPlan plan = PlanRecords(project, packing.recordLevel);
    std::optional<ContentPool> blockPool;
    std::optional<SolidBuild> solid;
    if (lzma) {
        solid.emplace();
        solid->settings = LzmaSettingsForLevel(packing.level);
        solid->plan = PlanSolidBlocks(setContents, deltas.bases, pool.Contents(),
                                      SolidBlockLimit(solid->settings, packing.solid));
        blockPool.emplace(folder);
        uint64_t unpacked = 0;
        for (const SolidPlan::Block& block : solid->plan.blocks) unpacked += block.unpackedSize;
        Progress progress("packing", unpacked);
        solid->packed = PackSolidBlocks(solid->plan, pool, solid->settings, options.threads, *blockPool, &progress);
        solid->blocks = &*blockPool;
        plan.listBound += SolidRecordBound(solid->plan);
    }
    Arranger arranger(project, setContents, deltas.bases, pool.Contents(), packing.recordLevel,
                      solid ? &*solid : nullptr);
    Arrangement arrangement = options.diskSize == 0
                                  ? arranger.Arrange(VolumeCapacity{})
                                  : ArrangeForDisks(arranger, options.diskSize, stub.size() + plan.fixedSize, plan.listBound);
    const StreamLayout& layout = arrangement.layout;
    Bytes records = AssembleRecords(plan, arrangement);
    uint64_t firstSize = stub.size() + records.size() + FileDataHeadSize + layout.volumeLengths[0];
    if (layout.length > MaxArchiveOffset || firstSize > MaxArchiveOffset)
        throw Failure("the setup would take " + std::to_string(std::max(layout.length, firstSize)) +
                      " bytes; the archive's offsets reach 4 GB at most");

    OutputFiles files;
    FILE* first = files.Next(options.output);
    WriteBytes(first, stub, options.output);
    WriteBytes(first, records, options.output);
    WriteBytes(first, FileDataHead(static_cast<uint32_t>(layout.volumeLengths[0])), options.output);
    uint64_t later = WriteStream(layout, blockPool ? *blockPool : pool, options.output, first, files);
    files.Commit();
    RemoveStaleVolumes(options.output, static_cast<uint32_t>(layout.volumeLengths.size()));

    BuildSummary summary;
    summary.files = sources.files;
    std::set<uint32_t> placed;  // a file stored as a delta leaves its plain contents unused
    for (const std::vector<uint32_t>& set : setContents)
        for (uint32_t content : set)
            if (content != NoContent) placed.insert(content);
    summary.contents = placed.size();
    summary.bytesIn = pool.BytesRead();
    summary.bytesOut = firstSize + later;
    summary.volumes = static_cast<uint32_t>(layout.volumeLengths.size());
    summary.deltas = deltas.count;
    summary.deltaSaving = deltas.saved;
    return summary;
}
