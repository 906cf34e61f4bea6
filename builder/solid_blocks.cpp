#include "builder/solid_blocks.h"

#include <map>
#include <mutex>
#include <stdexcept>
#include <string>

#include "archive/records.h"
#include "builder/ordered_workers.h"
#include "builder/progress.h"

namespace {

// Bytes of a content looked at to tell a program.
const size_t ProgramHeadSize = 4096;
const uint64_t MaxUnpackedStream = 0xFFFFFFFFu;

// Places the contents of one set's reads, in reading order.
class SetPlanner {
public:
    SetPlanner(SolidPlan& plan, const std::vector<uint32_t>& reads, const std::vector<PackedContent>& contents,
               uint64_t blockLimit, uint32_t set)
        : plan(plan), reads(reads), contents(contents), blockLimit(blockLimit),
          visits(plan.visits[set]) {}

    // The visit that reads content `c`, or NoContent for an empty one.
    uint32_t Read(uint32_t c) {
        if (contents[c].storedSize == 0) return NoContent;
        if (plan.contentBlock[c] == NoContent) Place(c);
        uint32_t block = plan.contentBlock[c];
        bool goesOn = !visits.empty() && visits.back() == block && !leftOpenBlock && plan.contentOffset[c] >= lastEnd;
        lastEnd = plan.contentOffset[c] + contents[c].storedSize;
        leftOpenBlock = false;
        if (!goesOn) visits.push_back(block);
        return static_cast<uint32_t>(visits.size() - 1);
    }

    // The run reads elsewhere (a delta's base): the open block is left.
    void Leave() { leftOpenBlock = true; }

private:
    void Place(uint32_t c) {
        bool alone = reads[c] > 1;
        bool continues = !alone && open != NoContent && !visits.empty() && visits.back() == open && !leftOpenBlock &&
                         plan.blocks[open].unpackedSize < blockLimit;
        if (!continues) {
            plan.blocks.emplace_back();
            uint32_t block = static_cast<uint32_t>(plan.blocks.size() - 1);
            open = alone ? NoContent : block;
            if (alone) leftOpenBlock = true;  // the next solid run starts a new block
            Append(c, block);
            return;
        }
        Append(c, open);
    }

    void Append(uint32_t c, uint32_t block) {
        SolidPlan::Block& b = plan.blocks[block];
        plan.contentBlock[c] = block;
        plan.contentOffset[c] = b.unpackedSize;
        b.contents.push_back(c);
        b.unpackedSize += contents[c].storedSize;
    }

    SolidPlan& plan;
    const std::vector<uint32_t>& reads;
    const std::vector<PackedContent>& contents;
    uint64_t blockLimit;
    std::vector<uint32_t>& visits;
    uint32_t open = NoContent;  // the set's solid block that takes more contents
    uint64_t lastEnd = 0;       // where the last read ended in its block
    bool leftOpenBlock = false;
};

std::vector<uint32_t> CountReads(const std::vector<std::vector<uint32_t>>& sets, const DeltaBases& bases,
                                 size_t contents) {
    std::vector<uint32_t> reads(contents, 0);
    for (size_t s = 0; s < sets.size(); s++) {
        for (size_t e = 0; e < sets[s].size(); e++) {
            if (sets[s][e] == NoContent) continue;
            reads[sets[s][e]]++;
            if (s < bases.size() && bases[s][e].set != UINT32_MAX) {
                uint32_t base = sets[bases[s][e].set][bases[s][e].index];
                if (base != NoContent) reads[base]++;
            }
        }
    }
    return reads;
}

// One block's raw bytes, packed; jobs run in block order on the workers and
// are collected in the same order.
struct BlockJob {
    std::vector<uint8_t> packed;
    uint8_t filter = NoBranchFilter;
    std::string error;
};

}  // namespace

SolidPlan PlanSolidBlocks(const std::vector<std::vector<uint32_t>>& sets, const DeltaBases& bases,
                          const std::vector<PackedContent>& contents, uint64_t blockLimit) {
    SolidPlan plan;
    plan.contentBlock.assign(contents.size(), NoContent);
    plan.contentOffset.assign(contents.size(), 0);
    plan.entryContent = sets;
    std::vector<uint32_t> reads = CountReads(sets, bases, contents.size());
    plan.visits.resize(sets.size());
    plan.entryVisit.resize(sets.size());
    plan.visitEntry.resize(sets.size());
    for (uint32_t s = 0; s < sets.size(); s++) {
        SetPlanner planner(plan, reads, contents, blockLimit, s);
        std::vector<uint32_t>& entryVisit = plan.entryVisit[s];
        entryVisit.assign(sets[s].size(), NoContent);
        for (uint32_t e = 0; e < sets[s].size(); e++) {
            if (sets[s][e] == NoContent) continue;
            // The setup reads a delta's base first, where the base entry has it.
            if (s < bases.size() && bases[s][e].set != UINT32_MAX) planner.Leave();
            entryVisit[e] = planner.Read(sets[s][e]);
            if (entryVisit[e] != NoContent && entryVisit[e] == plan.visitEntry[s].size()) plan.visitEntry[s].push_back(e);
        }
    }
    // A delta's base, as the visit that reads it (which may come later).
    for (uint32_t s = 0; s < sets.size(); s++) {
        std::vector<BaseRef>& visitBases = plan.visitBases.emplace_back(plan.visits[s].size());
        for (uint32_t e = 0; s < bases.size() && e < sets[s].size(); e++) {
            BaseRef base = bases[s][e];
            uint32_t visit = plan.entryVisit[s][e];
            if (base.set == UINT32_MAX || visit == NoContent) continue;
            uint32_t baseVisit = plan.entryVisit[base.set][base.index];
            if (baseVisit != NoContent) visitBases[visit] = {base.set, baseVisit};
        }
    }
    return plan;
}

PackedBlocks PackSolidBlocks(const SolidPlan& plan, const ContentPool& raw, const LzmaSettings& settings,
                             unsigned threads, ContentPool& packed, Progress* progress) {
    std::vector<BlockJob> jobs(plan.blocks.size());
    std::mutex progressMutex;
    auto packOne = [&](size_t b) {
        BlockJob& job = jobs[b];
        try {
            const SolidPlan::Block& block = plan.blocks[b];
            std::vector<uint8_t> bytes(block.unpackedSize);
            uint64_t at = 0, programBytes = 0;
            for (uint32_t c : block.contents) {
                uint32_t size = raw.Contents()[c].storedSize;
                raw.Read(c, 0, bytes.data() + at, size);
                if (IsX86Program(bytes.data() + at, std::min<size_t>(size, ProgramHeadSize))) programBytes += size;
                at += size;
            }
            // Converting branches pays where most of the block is programs.
            job.filter = programBytes * 2 >= block.unpackedSize ? X86BranchFilter : NoBranchFilter;
            bool convert = job.filter == X86BranchFilter;
            job.packed = PackLzmaBlock(bytes.data(), bytes.size(), settings, convert, [&](uint64_t n) {
                std::lock_guard<std::mutex> lock(progressMutex);
                if (progress != nullptr) progress->Advance(n);
            });
        } catch (const std::exception& e) {
            job.error = e.what();
        }
    };
    OrderedWorkers workers(jobs.size(), threads, packOne);
    PackedBlocks result;
    std::string error;
    for (size_t b = 0; b < jobs.size() && error.empty(); b++) {
        workers.Wait(b);
        BlockJob& job = jobs[b];
        error = job.error;
        result.filters.push_back(job.filter);
        if (error.empty() && job.packed.size() > MaxUnpackedStream) error = "a solid block packs to 4 GB or more";
        if (error.empty()) packed.AddContent(job.packed, static_cast<uint32_t>(plan.blocks[b].unpackedSize), 0);
        std::vector<uint8_t>().swap(job.packed);
        workers.Release(b);
    }
    if (!error.empty()) throw std::runtime_error(error);
    return result;
}

SolidTable MapSolidBlocks(const SolidPlan& plan, const PackedBlocks& packed, const ContentPool& blockPool,
                          const StreamLayout& layout, const LzmaSettings& settings) {
    SolidTable table;
    PutU8(table.body, SolidLzma);
    PutU8(table.body, 0);
    PutU16(table.body, 0);
    PutU32(table.body, settings.dictionary);
    PutU32(table.body, static_cast<uint32_t>(layout.copies.size()));
    std::map<uint64_t, uint64_t> unpackedStartAt;  // a copy's packed offset -> its unpacked start
    uint64_t unpacked = 0;
    for (const StreamLayout::Copy& copy : layout.copies) {
        const PackedContent& block = blockPool.Contents()[copy.content];
        PutU32(table.body, static_cast<uint32_t>(copy.offset));
        PutU32(table.body, block.storedSize);
        PutU32(table.body, block.size);
        uint8_t filter = packed.filters[copy.content];
        PutU8(table.body, filter);
        PutU8(table.body, LzmaPropertiesFor(filter == X86BranchFilter));
        PutU16(table.body, 0);
        unpackedStartAt[copy.offset] = unpacked;
        unpacked += block.size;
    }
    if (unpacked > MaxUnpackedStream)
        throw std::runtime_error("the unpacked file data would take " + std::to_string(unpacked) +
                                 " bytes; the archive's offsets reach 4 GB at most");
    for (size_t s = 0; s < plan.entryVisit.size(); s++) {
        std::vector<uint64_t>& offsets = table.entryOffsets.emplace_back(plan.entryVisit[s].size(), 0);
        for (size_t e = 0; e < offsets.size(); e++) {
            uint32_t visit = plan.entryVisit[s][e];
            if (visit == NoContent) continue;
            uint64_t blockStart = unpackedStartAt.at(layout.entryOffsets[s][visit]);
            offsets[e] = blockStart + plan.contentOffset[plan.entryContent[s][e]];
        }
    }
    return table;
}
