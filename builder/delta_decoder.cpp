#include "builder/delta_decoder.h"

#include <algorithm>
#include <cstring>

#include "archive/inflater.h"
#include "archive/records.h"

namespace {

const uint8_t StreamCompressed = 0x01, StreamSize32 = 0x02, StreamStoredSize32 = 0x04;
const uint32_t SevenByteEscape = 0x100000;
const int64_t TwoByteOffset = 32, ThreeByteOffset = 16416;

// The compressed part of a stream, handed to the decoder from memory.
struct MemoryInput {
    const uint8_t* data;
    uint32_t size;
    uint32_t position;
};

i32 ReadMemory(void* context, u8* buffer, u32 want) {
    MemoryInput& input = *static_cast<MemoryInput*>(context);
    uint32_t count = std::min<uint32_t>(want, input.size - input.position);
    std::memcpy(buffer, input.data + input.position, count);
    input.position += count;
    return static_cast<i32>(count);
}

void UnreadMemory(void* context, u32 count) { static_cast<MemoryInput*>(context)->position -= count; }

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;

    bool Take(size_t count, const uint8_t** bytes) {
        if (size - at < count) return false;
        *bytes = data + at;
        at += count;
        return true;
    }
    bool Number(bool wide, uint32_t* value) {
        const uint8_t* p;
        if (!Take(wide ? 4 : 2, &p)) return false;
        *value = wide ? ReadU32(p) : ReadU16(p);
        return true;
    }
};

std::string ReadStream(Reader& reader, const char* name, Bytes* stream) {
    const uint8_t* p;
    uint32_t size = 0, stored = 0;
    std::string fault = std::string("the ") + name + " stream ";
    if (!reader.Take(1, &p)) return fault + "is missing";
    uint8_t flags = *p;
    if (!reader.Number(flags & StreamSize32, &size)) return fault + "ends inside its header";
    stream->clear();
    if (size == 0) return "";
    if (!(flags & StreamCompressed)) {
        if (!reader.Take(size, &p)) return fault + "ends before its " + std::to_string(size) + " bytes";
        stream->assign(p, p + size);
        return "";
    }
    if (!reader.Number(flags & StreamStoredSize32, &stored)) return fault + "ends inside its header";
    if (!reader.Take(stored, &p)) return fault + "ends before its " + std::to_string(stored) + " compressed bytes";
    MemoryInput input = {p, stored, 0};
    InflateSource source = {ReadMemory, UnreadMemory, &input, stored, true};
    stream->resize(size);
    u32 produced = 0;
    if (!InflateToMemory(stream->data(), size, source, &produced) || produced != size)
        return fault + "does not decode to its " + std::to_string(size) + " bytes";
    return "";
}

int64_t Signed(int64_t t, int64_t by) { return t >= 0 ? t + by : t - by; }

}  // namespace

uint32_t ReadDeltaOp(const uint8_t* commands, size_t available, DeltaOp* op) {
    size_t at = 0;
    auto next = [&](uint32_t* byte) {
        if (at >= available) return false;
        *byte = commands[at++];
        return true;
    };
    uint32_t b, o, b1, b2;
    *op = DeltaOp();
    if (!next(&b)) return 0;
    if (b >= 0x80) {
        uint32_t k = (b >> 5) & 3;
        op->literals = k == 0 ? (b & 0x1F) + 1 : k;
        op->copy = k == 0 ? 0 : (b & 0x1F) + 2;
    } else if (b != 0) {
        op->copy = b + 1;
    } else {
        if (!next(&b1) || !next(&b2)) return 0;
        op->copy = (b1 | (b2 << 8)) + 129;
    }
    if (op->copy > 0) {
        size_t start = at;
        if (!next(&o)) return 0;
        if (o < 0x80) {
            if (!next(&b1)) return 0;
            int64_t t = ((o & 0x7F) << 8) | b1;
            if (t & 0x4000) t -= 32768;
            op->distance = Signed(t, TwoByteOffset);
        } else if (o < 0xC0) {
            op->distance = static_cast<int64_t>(o & 0x3F) - ((o & 0x20) ? 64 : 0);
        } else {
            if (!next(&b1) || !next(&b2)) return 0;
            int64_t t = ((o & 0x3F) << 16) | (b1 << 8) | b2;
            if (t == SevenByteEscape) {
                uint32_t word = 0, byte;
                for (int i = 0; i < 4; i++) {
                    if (!next(&byte)) return 0;
                    word = (word << 8) | byte;
                }
                t = static_cast<int32_t>(word);
            } else if (t & 0x200000) {
                t -= 4194304;
            }
            op->distance = Signed(t, ThreeByteOffset);
        }
        op->distanceSize = static_cast<uint32_t>(at - start);
    }
    op->size = static_cast<uint32_t>(at);
    return op->size;
}

std::string ReadDeltaStreams(const uint8_t* data, size_t size, DeltaStreams* streams) {
    Reader reader{data, size};
    std::string fault = ReadStream(reader, "command", &streams->commands);
    if (fault.empty()) fault = ReadStream(reader, "literal", &streams->literals);
    if (fault.empty() && reader.at != size)
        fault = std::to_string(size - reader.at) + " bytes follow the delta's two streams";
    return fault;
}

std::string ApplyDeltaStreams(const uint8_t* base, size_t baseSize, const DeltaStreams& streams, Bytes* output) {
    const Bytes& commands = streams.commands;
    const Bytes& literals = streams.literals;
    size_t literalAt = 0;
    int64_t basePos = 0;
    for (size_t at = 0; at < commands.size();) {
        DeltaOp op;
        std::string where = "command at byte " + std::to_string(at);
        uint32_t size = ReadDeltaOp(commands.data() + at, commands.size() - at, &op);
        if (size == 0) return "the command stream ends inside the " + where;
        at += size;
        if (literals.size() - literalAt < op.literals) return where + " takes literals beyond the literal stream";
        output->insert(output->end(), literals.begin() + static_cast<long>(literalAt),
                       literals.begin() + static_cast<long>(literalAt + op.literals));
        literalAt += op.literals;
        if (op.copy == 0) continue;
        int64_t from = basePos + op.distance;
        if (from < 0 || from + op.copy > static_cast<int64_t>(baseSize))
            return where + " copies bytes " + std::to_string(from) + ".." + std::to_string(from + op.copy) +
                   ", outside the base's " + std::to_string(baseSize);
        output->insert(output->end(), base + from, base + from + op.copy);
        basePos = from + op.copy;
    }
    return "";
}

std::string ApplyDelta(const uint8_t* base, size_t baseSize, const uint8_t* data, size_t size, Bytes* output) {
    DeltaStreams streams;
    std::string fault = ReadDeltaStreams(data, size, &streams);
    return fault.empty() ? ApplyDeltaStreams(base, baseSize, streams, output) : fault;
}
