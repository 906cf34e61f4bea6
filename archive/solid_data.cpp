#include "archive/solid_data.h"

#include <string.h>

#include "archive/branch_filter.h"
#include "archive/cursor.h"
#include "archive/lzma_decoder.h"
#include "archive/script.h"
#include "common/helpers.h"
#include "common/paths.h"

// Packed bytes read from the file-data stream at a time, and unpacked bytes
// staged for the branch converter and the reader.
const u32 PackedInputSize = 65536;
const u32 StageSize = 65536;
const u32 NoBlock = 0xFFFFFFFF;

// Everything the unpacked stream keeps between calls.
struct SolidReader {
    u32 block;         // the block being unpacked, or NoBlock
    u32 blockStart;    // its first byte's offset in the unpacked stream
    u32 unpacked;      // its bytes produced so far
    u32 packedLeft;    // its packed bytes not yet read from the stream
    bool damaged;      // it failed to unpack; reads end until the next seek
    LzmaState lzma;
    u8* window;
    u32 windowSize;
    u8* input;
    u32 inputNext, inputEnd;
    // The stage: [readNext, ready) final bytes for the reader, [ready, staged)
    // bytes the branch converter has yet to see; stage[0] sits at stageBase
    // in the block.
    u8* stage;
    u32 stageBase, readNext, ready, staged;
    BranchFilterState filter;
    u8* piece;  // WindowSize bytes: what CopySolidData passes on
    // The chunk being unpacked.
    u8 chunkKind;
    u32 chunkUnpacked;  // its bytes still to come
    u32 chunkPacked;    // of an LZMA chunk, its packed bytes not yet taken
};

static SolidReader reader = {NoBlock, 0, 0, 0, false, {}, nullptr, 0, nullptr, 0, 0, nullptr, 0, 0, 0, 0, {0}, nullptr, 0, 0, 0};

bool FileDataIsSolid() { return setupScript.solidBlocks.data != nullptr; }

u32 SolidBlockCount() { return ReadU32(setupScript.solidBlocks.data + 8); }

u32 SolidDictionarySize() { return ReadU32(setupScript.solidBlocks.data + 4); }

SolidBlock SolidBlockAt(u32 index) {
    const u8* p = setupScript.solidBlocks.data + SolidBlocksFixedSize + index * sizeof(SolidBlock);
    return SolidBlock{ReadU32(p), ReadU32(p + 4), ReadU32(p + 8), p[12], p[13], 0};
}

bool IsValidSolidBlocks(const u8* body, u32 size) {
    Cursor c = MakeCursor(body, size);
    u8 codec = 0;
    u32 dictionary = 0, count = 0;
    TakeU8(c, &codec);
    SkipBytes(c, 3);
    TakeU32(c, &dictionary);
    TakeU32(c, &count);
    // The decoder takes no dictionary under MinLzmaDictionary, so a window
    // that small would let distances reach outside it.
    if (!c.ok || codec != SolidLzma || dictionary < MinLzmaDictionary ||
        static_cast<u32>(c.end - c.next) / sizeof(SolidBlock) != count ||
        static_cast<u32>(c.end - c.next) % sizeof(SolidBlock) != 0)
        return false;
    u64 total = 0;
    for (u32 i = 0; i < count; i++) {
        u32 packedOffset = 0, packedSize = 0, unpackedSize = 0;
        u8 filter = 0, properties = 0;
        TakeU32(c, &packedOffset);
        TakeU32(c, &packedSize);
        TakeU32(c, &unpackedSize);
        TakeU8(c, &filter);
        TakeU8(c, &properties);
        SkipBytes(c, 2);
        if (filter > X86BranchFilter || properties > MaxLzmaProperties) return false;
        total += unpackedSize;
    }
    return c.ok && total < 0x100000000ull;
}

u32 SolidUnpackedSize() {
    u32 total = 0;
    for (u32 i = 0, count = SolidBlockCount(); i < count; i++) total += SolidBlockAt(i).unpackedSize;
    return total;
}

u32 SolidWindowSize() {
    if (!FileDataIsSolid()) return 0;
    u32 dictionary = SolidDictionarySize();
    u32 largest = 0;
    for (u32 i = 0, count = SolidBlockCount(); i < count; i++) {
        u32 size = SolidBlockAt(i).unpackedSize;
        if (size > largest) largest = size;
    }
    u32 window = largest < dictionary ? largest : dictionary;
    return window != 0 ? window : 1;
}

void ResetSolidData(bool release) {
    reader.block = NoBlock;
    reader.damaged = false;
    if (!release) return;
    ReleaseLzmaState(&reader.lzma);
    ReleaseBlock(&reader.window);
    ReleaseBlock(&reader.input);
    ReleaseBlock(&reader.stage);
    ReleaseBlock(&reader.piece);
    reader.windowSize = 0;
}

static bool AllocateReader() {
    if (reader.window != nullptr) return true;
    reader.windowSize = SolidWindowSize();
    if (AllocateBlock(reader.windowSize, &reader.window) && AllocateBlock(PackedInputSize, &reader.input) &&
        AllocateBlock(StageSize, &reader.stage))
        return true;
    ResetSolidData(true);
    return false;
}

// The block that holds unpacked offset `offset`, with its start in *start;
// NoBlock when the offset lies at or beyond the stream's end.
static u32 FindBlock(u32 offset, u32* start) {
    u32 begin = 0;
    for (u32 i = 0, count = SolidBlockCount(); i < count; i++) {
        u32 size = SolidBlockAt(i).unpackedSize;
        if (offset - begin < size) {
            *start = begin;
            return i;
        }
        begin += size;
    }
    *start = begin;
    return NoBlock;
}

static FileDataState StartBlock(u32 index, u32 start) {
    reader.block = NoBlock;
    SolidBlock block = SolidBlockAt(index);
    if (!AllocateReader() || !SetLzmaProperties(&reader.lzma, block.properties, SolidDictionarySize()))
        return FileDataNoMemory;
    FileDataState state = SeekPackedData(block.packedOffset);
    if (state != FileDataReady) return state;
    StartLzmaBlock(&reader.lzma, reader.window, reader.windowSize);
    reader.block = index;
    reader.blockStart = start;
    reader.unpacked = 0;
    reader.packedLeft = block.packedSize;
    reader.damaged = false;
    reader.inputNext = reader.inputEnd = 0;
    reader.stageBase = reader.readNext = reader.ready = reader.staged = 0;
    reader.filter.recentMask = 0;
    reader.chunkUnpacked = reader.chunkPacked = 0;
    return FileDataReady;
}

// Outcome of unpacking more of the block.
enum UnpackResult { Unpacked, BlockEnded, UnpackDamaged, UnpackVolumeFailed };

static bool RefillInput() {
    u32 want = reader.packedLeft < PackedInputSize ? reader.packedLeft : PackedInputSize;
    u32 got = 0;
    if (!ReadPackedData(reader.input, want, &got)) return false;
    reader.packedLeft -= got;
    reader.inputNext = 0;
    reader.inputEnd = got;
    return true;
}

// Moves the unconverted tail to the front of the stage, for more behind it.
static void CompactStage() {
    u32 tail = reader.staged - reader.ready;
    memmove(reader.stage, reader.stage + reader.ready, tail);
    reader.stageBase += reader.ready;
    reader.readNext = reader.ready = 0;
    reader.staged = tail;
}

// Makes input available: false when a volume could not be opened, or
// (with *ended) when the block's packed bytes are used up.
static bool HaveInput(bool* ended) {
    *ended = false;
    if (reader.inputNext < reader.inputEnd) return true;
    if (reader.packedLeft == 0 || !RefillInput()) {
        *ended = reader.packedLeft == 0;
        return false;
    }
    *ended = reader.inputEnd == 0;
    return !*ended;
}

// Reads the next chunk's header, passing over what the last LZMA chunk's
// range coder left unread.
static UnpackResult StartChunk() {
    bool ended = false;
    while (reader.chunkPacked > 0) {
        if (!HaveInput(&ended)) return ended ? UnpackDamaged : UnpackVolumeFailed;
        u32 n = reader.inputEnd - reader.inputNext;
        if (n > reader.chunkPacked) n = reader.chunkPacked;
        reader.inputNext += n;
        reader.chunkPacked -= n;
    }
    u8 header[9];
    u32 size = 5;
    for (u32 i = 0; i < size; i++) {
        if (!HaveInput(&ended)) return ended ? UnpackDamaged : UnpackVolumeFailed;
        header[i] = reader.input[reader.inputNext++];
        if (i == 0 && header[0] != StoredChunk) size = 9;
    }
    reader.chunkKind = header[0];
    reader.chunkUnpacked = ReadU32(header + 1);
    reader.chunkPacked = size == 9 ? ReadU32(header + 5) : 0;
    if (reader.chunkKind > LzmaResetChunk || reader.chunkUnpacked == 0) return UnpackDamaged;
    if (reader.chunkKind != StoredChunk) StartLzmaChunk(&reader.lzma, reader.chunkKind == LzmaResetChunk);
    return Unpacked;
}

// Unpacks up to `want` bytes of the current chunk to `out`: *produced.
static UnpackResult UnpackChunk(u8* out, u32 want, u32* produced) {
    bool ended = false;
    if (!HaveInput(&ended)) return ended ? UnpackDamaged : UnpackVolumeFailed;
    const u8* in = reader.input + reader.inputNext;
    u32 available = reader.inputEnd - reader.inputNext;
    if (want > reader.chunkUnpacked) want = reader.chunkUnpacked;
    u32 consumed = 0;
    if (reader.chunkKind == StoredChunk) {
        consumed = *produced = available < want ? available : want;
        memcpy(out, in, consumed);
        KeepStoredBytes(&reader.lzma, in, consumed);
    } else {
        if (available > reader.chunkPacked) available = reader.chunkPacked;
        if (available == 0 || !UnpackLzma(&reader.lzma, in, available, &consumed, out, want, produced))
            return UnpackDamaged;
        if (consumed == 0 && *produced == 0) return UnpackDamaged;  // the stream ended early
        reader.chunkPacked -= consumed;
    }
    reader.inputNext += consumed;
    reader.chunkUnpacked -= *produced;
    return Unpacked;
}

// Unpacks the block's next bytes into the stage and converts what can be.
static UnpackResult UnpackMore() {
    u32 blockSize = SolidBlockAt(reader.block).unpackedSize;
    if (reader.unpacked == blockSize) return BlockEnded;
    CompactStage();
    u32 want = StageSize - reader.staged;
    if (want > blockSize - reader.unpacked) want = blockSize - reader.unpacked;
    u32 produced = 0;
    while (produced < want) {
        UnpackResult result = reader.chunkUnpacked == 0 ? StartChunk() : Unpacked;
        u32 got = 0;
        if (result == Unpacked) result = UnpackChunk(reader.stage + reader.staged + produced, want - produced, &got);
        if (result != Unpacked) return result;
        produced += got;
    }
    reader.staged += produced;
    reader.unpacked += produced;
    bool convert = SolidBlockAt(reader.block).filter == X86BranchFilter;
    if (convert)
        reader.ready += ConvertX86Branches(reader.stage + reader.ready, reader.staged - reader.ready,
                                           reader.stageBase + reader.ready, &reader.filter, false);
    // The converter leaves a block's last few bytes as they are.
    if (!convert || reader.unpacked == blockSize) reader.ready = reader.staged;
    return Unpacked;
}

// Points *piece at up to `count` next bytes of the unpacked stream, moving
// on to the next block at a block's end. Returns the count (0 at the end or
// on damage, with *volumeFailed set when a volume could not be opened).
static u32 TakeSolid(const u8** piece, u32 count, bool* volumeFailed) {
    *volumeFailed = false;
    while (reader.readNext == reader.ready) {
        if (reader.block == NoBlock || reader.damaged) return 0;
        UnpackResult result = UnpackMore();
        if (result == Unpacked) continue;
        if (result == BlockEnded && reader.block + 1 < SolidBlockCount()) {
            u32 next = reader.block + 1;
            FileDataState state = StartBlock(next, reader.blockStart + SolidBlockAt(reader.block).unpackedSize);
            if (state == FileDataReady) continue;
            *volumeFailed = state != FileDataReady;
            return 0;
        }
        if (result == UnpackVolumeFailed) *volumeFailed = true;
        reader.damaged = result != BlockEnded;
        return 0;
    }
    u32 available = reader.ready - reader.readNext;
    if (count > available) count = available;
    *piece = reader.stage + reader.readNext;
    reader.readNext += count;
    return count;
}

static u32 Position() { return reader.blockStart + reader.stageBase + reader.readNext; }

FileDataState SeekSolidData(u32 offset) {
    bool inBlock = reader.block != NoBlock && !reader.damaged && offset >= Position() &&
                   offset - reader.blockStart < SolidBlockAt(reader.block).unpackedSize;
    if (!inBlock) {
        u32 start = 0;
        u32 index = FindBlock(offset, &start);
        if (index == NoBlock) {
            reader.block = NoBlock;
            return FileDataReady;
        }
        FileDataState state = StartBlock(index, start);
        if (state != FileDataReady) return state;
    }
    u32 skip = offset - Position();
    while (skip > 0) {
        const u8* piece = nullptr;
        bool volumeFailed = false;
        u32 n = TakeSolid(&piece, skip, &volumeFailed);
        if (volumeFailed) return MissingVolumeState();
        if (n == 0) break;  // damaged: the reads that follow come up short
        skip -= n;
    }
    return FileDataReady;
}

bool ReadSolidData(u8* buffer, u32 count, u32* got) {
    *got = 0;
    while (count > 0) {
        const u8* piece = nullptr;
        bool volumeFailed = false;
        u32 n = TakeSolid(&piece, count, &volumeFailed);
        if (volumeFailed) return false;
        if (n == 0) break;
        memcpy(buffer, piece, n);
        buffer += n;
        count -= n;
        *got += n;
    }
    return true;
}

bool CopySolidData(u32 count, ByteSink& sink) {
    if (reader.piece == nullptr && !AllocateBlock(WindowSize, &reader.piece)) return false;
    while (count > 0 && sink.IsReady()) {
        u32 want = count < WindowSize ? count : WindowSize;
        u32 got = 0;
        if (!ReadSolidData(reader.piece, want, &got) || got != want) return false;
        sink.Write(reader.piece, got);
        count -= got;
    }
    return count == 0 && sink.IsReady();
}
