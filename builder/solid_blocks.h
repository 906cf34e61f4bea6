// Solid packing: the contents of a build gathered into LZMA blocks, and the
// blocks placed in the file-data stream.
//
// Every run of the setup program installs one set, reading its entries in
// list order (a delta entry reads its base's data first). Reads that go
// forward in a block only skip ahead; a read behind the position starts its
// block again from the beginning. So contents read once go into the set's
// solid blocks in reading order, and contents read more than once (by
// entries of several sets, by equal files, as delta bases) each get a block
// of their own: going back to them costs only their own bytes. A set's
// blocks never hold another set's contents, so installing one set unpacks
// nothing of the others.
#pragma once
#include <cstdint>
#include <vector>

#include "builder/content_pool.h"
#include "builder/lzma_encoder.h"
#include "builder/record_writer.h"
#include "builder/volume_layout.h"

class Progress;

struct SolidPlan {
    struct Block {
        std::vector<uint32_t> contents;  // in unpacked order
        uint64_t unpackedSize = 0;
    };
    std::vector<Block> blocks;
    std::vector<uint32_t> contentBlock;     // [content]: its block, or NoContent (empty or unread)
    std::vector<uint64_t> contentOffset;    // [content]: where it starts in its block
    std::vector<std::vector<uint32_t>> visits;  // [set][visit]: the block each read of the set starts
    std::vector<std::vector<uint32_t>> entryVisit;  // [set][entry]: its visit, or NoContent
    std::vector<std::vector<uint32_t>> entryContent;  // [set][entry]: the content it reads, or NoContent
    std::vector<std::vector<uint32_t>> visitEntry;  // [set][visit]: the first entry it reads for
    DeltaBases visitBases;                  // [set][visit]: the visit of a delta's base
};

// `sets[s][e]` is the content entry e of set s reads (raw bytes, sizes in
// `contents`), `bases` its delta base. Solid runs close at `blockLimit`
// unpacked bytes; a limit of 1 gives every content a block of its own.
SolidPlan PlanSolidBlocks(const std::vector<std::vector<uint32_t>>& sets, const DeltaBases& bases,
                          const std::vector<PackedContent>& contents, uint64_t blockLimit);

struct PackedBlocks {
    std::vector<uint8_t> filters;  // SolidBlock.filter of each block
};

// Packs every block of `plan` on `threads` threads, reading the raw contents
// from `raw`, and adds the packed streams to `packed` in block order (block
// b becomes content b there). The result does not depend on the threads.
PackedBlocks PackSolidBlocks(const SolidPlan& plan, const ContentPool& raw, const LzmaSettings& settings,
                             unsigned threads, ContentPool& packed, Progress* progress);

// Where each entry's data lies once the blocks are laid out in `layout`
// (LayOutStream over plan.visits): the SolidBlocks body and, per set and
// entry, the offset in the unpacked stream.
struct SolidTable {
    Bytes body;
    std::vector<std::vector<uint64_t>> entryOffsets;
};
SolidTable MapSolidBlocks(const SolidPlan& plan, const PackedBlocks& packed, const ContentPool& blockPool,
                          const StreamLayout& layout, const LzmaSettings& settings);
