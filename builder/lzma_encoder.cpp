#include "builder/lzma_encoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

// The SDK's encoder and match finder, built into this file, single-threaded:
// kelvo runs one encoder per block on its own threads.
#define _7ZIP_ST
#include "LzFind.c"
#include "LzmaEnc.c"

#include "archive/branch_filter.h"
#include "archive/records.h"

namespace {

void* SdkAllocate(void*, size_t size) { return size == 0 ? nullptr : malloc(size); }
void SdkFree(void*, void* address) { free(address); }
ISzAlloc sdkAllocator = {SdkAllocate, SdkFree};

uint8_t Properties(int lc, int lp, int pb) { return static_cast<uint8_t>(lc + 9 * (lp + 5 * pb)); }

// A chunk ends once it packs to about this many bytes, or holds this many
// unpacked: small enough that bytes that do not pack are found and stored.
const UInt32 ChunkPackedLimit = 1 << 16;
const UInt32 ChunkUnpackedLimit = 1 << 21;

uint32_t Read32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

}  // namespace

LzmaSettings LzmaSettingsForLevel(int level) {
    static const uint8_t dictionaryShift[MaxLzmaLevel + 1] = {0, 20, 21, 22, 22, 23, 23, 24, 25, 26};
    if (level < MinLzmaLevel || level > MaxLzmaLevel)
        throw std::invalid_argument("an LZMA level is 1 to 9, not " + std::to_string(level));
    return LzmaSettings{1u << dictionaryShift[level], level};
}

uint8_t LzmaPropertiesFor(bool convertBranches) { return convertBranches ? Properties(1, 0, 0) : Properties(3, 0, 2); }

bool IsX86Program(const uint8_t* data, size_t size) {
    const uint16_t I386 = 0x014C, Amd64 = 0x8664;
    if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') return false;
    uint32_t pe = Read32(data + 0x3C);
    if (pe > size || size - pe < 6 || memcmp(data + pe, "PE\0\0", 4) != 0) return false;
    uint16_t machine = static_cast<uint16_t>(data[pe + 4] | (data[pe + 5] << 8));
    return machine == I386 || machine == Amd64;
}

std::vector<uint8_t> PackLzmaBlock(const uint8_t* data, size_t size, const LzmaSettings& settings,
                                   bool convertBranches, const std::function<void(uint64_t)>& progress) {
    std::vector<uint8_t> converted;
    if (convertBranches && size > 0) {
        converted.assign(data, data + size);
        BranchFilterState state = {0};
        ConvertX86Branches(converted.data(), static_cast<u32>(size), 0, &state, true);
        data = converted.data();
    }
    CLzmaEncProps props;
    LzmaEncProps_Init(&props);
    props.level = settings.level;
    // A dictionary beyond the block finds nothing more, and costs the match
    // finder's memory (about eleven times its size) and the time to set it up.
    props.dictSize = static_cast<uint32_t>(std::max<size_t>(MinLzmaDictionary, std::min<size_t>(settings.dictionary, size)));
    uint8_t properties = LzmaPropertiesFor(convertBranches);
    props.lc = properties % 9;
    props.lp = properties / 9 % 5;
    props.pb = properties / 45;
    props.writeEndMark = 0;
    props.numThreads = 1;
    CLzmaEncHandle encoder = LzmaEnc_Create(&sdkAllocator);
    if (encoder == nullptr) throw std::runtime_error("out of memory for the LZMA encoder");
    std::vector<uint8_t> packed, chunk(2 * ChunkPackedLimit);
    SRes result = LzmaEnc_SetProps(encoder, &props);
    if (result == SZ_OK && size > 0) result = LzmaEnc_MemPrepare(encoder, data, size, 0, &sdkAllocator, &sdkAllocator);
    // Chunks as the encoder ends them near ChunkPackedLimit packed bytes. A
    // chunk that packs no smaller is stored instead, and the next LZMA chunk
    // starts with new probabilities, as the encoder's own state has moved on.
    bool resetState = true;
    for (size_t at = 0; result == SZ_OK && at < size;) {
        size_t chunkSize = chunk.size();
        UInt32 unpacked = ChunkUnpackedLimit;
        result = LzmaEnc_CodeOneMemBlock(encoder, resetState && at > 0, chunk.data(), &chunkSize, ChunkPackedLimit,
                                         &unpacked);
        if (result != SZ_OK || unpacked == 0) break;
        bool stored = chunkSize >= unpacked;
        packed.push_back(stored ? StoredChunk : resetState ? LzmaResetChunk : LzmaChunk);
        for (int i = 0; i < 4; i++) packed.push_back(static_cast<uint8_t>(unpacked >> (8 * i)));
        if (stored) {
            packed.insert(packed.end(), data + at, data + at + unpacked);
        } else {
            for (int i = 0; i < 4; i++) packed.push_back(static_cast<uint8_t>(chunkSize >> (8 * i)));
            packed.insert(packed.end(), chunk.begin(), chunk.begin() + chunkSize);
        }
        resetState = stored;
        at += unpacked;
        if (progress) progress(unpacked);
    }
    LzmaEnc_Destroy(encoder, &sdkAllocator, &sdkAllocator);
    if (result != SZ_OK) throw std::runtime_error("the LZMA encoder failed (error " + std::to_string(result) + ")");
    return packed;
}
