#include "builder/delta_decoder.h"

#include <cstring>

#include "archive/delta_reader.h"
#include "archive/inflater.h"
#include "builder/memory_source.h"

namespace {

// Deflate writes at most 258 bytes for every 2 bits (a longest match with
// one-bit codes): a compressed stream cannot decode to more than this many
// times its stored size.
const uint64_t MaxDeflateRatio = 1032;

Cursor CursorOver(const Bytes& bytes) { return MakeCursor(bytes.data(), static_cast<u32>(bytes.size())); }

std::string ReadStream(Cursor& data, const char* name, Bytes* stream) {
    std::string fault = std::string("the ") + name + " stream ";
    auto read = [&data](u8* buffer, u32 count) {
        const u8* bytes = TakeBytes(data, count);
        if (bytes != nullptr) std::memcpy(buffer, bytes, count);
        return bytes != nullptr;
    };
    DeltaStreamHeader header;
    DeltaHeaderStatus status = ReadDeltaStreamHeader(read, &header);
    if (status == DeltaHeaderMissing) return fault + "is missing";
    if (status == DeltaHeaderCutShort) return fault + "ends inside its header";
    stream->clear();
    if (header.size == 0) return "";
    if (!(header.flags & DeltaStreamCompressed)) {
        const u8* bytes = TakeBytes(data, header.size);
        if (bytes == nullptr) return fault + "ends before its " + std::to_string(header.size) + " bytes";
        stream->assign(bytes, bytes + header.size);
        return "";
    }
    const u8* packed = TakeBytes(data, header.storedSize);
    if (packed == nullptr)
        return fault + "ends before its " + std::to_string(header.storedSize) + " compressed bytes";
    // Checked before the stream's memory is taken: a damaged size would have
    // it take up to 4 GB.
    if (header.size > header.storedSize * MaxDeflateRatio)
        return fault + "claims " + std::to_string(header.size) + " bytes, more than its " +
               std::to_string(header.storedSize) + " compressed bytes can hold";
    MemoryInput input;
    input.data = packed;
    input.size = header.storedSize;
    InflateSource source = MemoryInflateSource(input, header.storedSize);
    stream->resize(header.size);
    u32 produced = 0;
    if (!InflateToMemory(stream->data(), header.size, source, &produced) || produced != header.size)
        return fault + "does not decode to its " + std::to_string(header.size) + " bytes";
    return "";
}

// The commands' output in memory. A copy it refuses is kept for the message.
struct MemoryOutput {
    const uint8_t* base;
    size_t baseSize;
    Bytes* output;
    u32 refusedFrom = 0;
    u32 refusedCount = 0;

    bool WriteLiterals(const u8* bytes, u32 count) {
        output->insert(output->end(), bytes, bytes + count);
        return true;
    }
    // The setup program's rule, in the same 32-bit positions.
    bool CopyFromBase(u32 from, u32 count) {
        if (baseSize > MaxDeltaBaseSize || !DeltaCopyInBase(static_cast<u32>(baseSize), from, count)) {
            refusedFrom = from;
            refusedCount = count;
            return false;
        }
        output->insert(output->end(), base + from, base + from + count);
        return true;
    }
    void CommandDone() {}
};

std::string RefusedCopy(const MemoryOutput& output, const std::string& where) {
    if (output.baseSize > MaxDeltaBaseSize)
        return where + " copies from a base of " + std::to_string(output.baseSize) + " bytes, more than " +
               std::to_string(MaxDeltaBaseSize) + " (the setup program copies from no larger base)";
    // A start before the base shows as the negative position it stands for.
    int64_t from = static_cast<int32_t>(output.refusedFrom);
    return where + " copies bytes " + std::to_string(from) + ".." + std::to_string(from + output.refusedCount) +
           ", outside the base's " + std::to_string(output.baseSize);
}

}  // namespace

std::string ReadDeltaStreams(const uint8_t* data, size_t size, DeltaStreams* streams) {
    if (size > UINT32_MAX) return "the delta is 4 GB or larger";
    Cursor cursor = MakeCursor(data, static_cast<u32>(size));
    std::string fault = ReadStream(cursor, "command", &streams->commands);
    if (fault.empty()) fault = ReadStream(cursor, "literal", &streams->literals);
    size_t left = static_cast<size_t>(cursor.end - cursor.next);
    if (fault.empty() && left != 0) fault = std::to_string(left) + " bytes follow the delta's two streams";
    return fault;
}

std::string ApplyDeltaStreams(const uint8_t* base, size_t baseSize, const DeltaStreams& streams, Bytes* output) {
    MemoryOutput memory{base, baseSize, output};
    u32 failedAt = 0;
    DeltaRunStatus status =
        RunDeltaCommands(CursorOver(streams.commands), CursorOver(streams.literals), memory, &failedAt);
    std::string where = "command at byte " + std::to_string(failedAt);
    switch (status) {
        case DeltaRunDone: return "";
        case DeltaCommandCutShort: return "the command stream ends inside the " + where;
        case DeltaLiteralsCutShort: return where + " takes literals beyond the literal stream";
        case DeltaOutputStopped: break;
    }
    return RefusedCopy(memory, where);
}

std::string ApplyDelta(const uint8_t* base, size_t baseSize, const uint8_t* data, size_t size, Bytes* output) {
    DeltaStreams streams;
    std::string fault = ReadDeltaStreams(data, size, &streams);
    return fault.empty() ? ApplyDeltaStreams(base, baseSize, streams, output) : fault;
}
