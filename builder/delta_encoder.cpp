#include "builder/delta_encoder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "builder/deflate_encoder.h"
#include "builder/record_writer.h"

namespace {

// Distance ranges of the one-, two- and three-byte forms: t of the
// two- and three-byte forms is the distance less its offset when positive,
// plus the offset when negative.
const int64_t OneByteLow = -static_cast<int64_t>(OneByteDistanceSign), OneByteHigh = OneByteDistanceSign - 1;
const int64_t TwoByteOffset = TwoByteDistanceOffset, TwoByteReach = TwoByteDistanceSign;
const int64_t ThreeByteOffset = ThreeByteDistanceOffset, ThreeByteReach = ThreeByteDistanceSign;

// The base is indexed by 4-byte blocks at every BlockStep-th position; each
// hash bucket keeps the latest BucketWays of them.
const size_t KeyBytes = 4;
const size_t BlockStep = 4;
const size_t BucketWays = 4;
const int MinHashBits = 10, MaxHashBits = 22;
const uint32_t NoPosition = UINT32_MAX;
// A match found through the hash must be this long: shorter ones are mostly
// chance, and taking one would lose the place behind the previous copy.
const size_t MinHashedMatch = 16;

// The distance's t for the two-byte form (value less 32 when positive,
// plus 32 when negative) and the three-byte form (the same with 16,416).
int64_t Offset(int64_t distance, int64_t by) { return distance >= 0 ? distance - by : distance + by; }

uint32_t Load32(const uint8_t* p) {
    uint32_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

class BaseIndex {
public:
    BaseIndex(const uint8_t* base, size_t size) {
        int bits = MinHashBits;
        while (bits < MaxHashBits && (size_t(1) << bits) < size / BlockStep) bits++;
        shift = 32 - bits;
        slots.assign((size_t(1) << bits) * BucketWays, NoPosition);
        for (size_t p = 0; p + KeyBytes <= size; p += BlockStep) {
            uint32_t* bucket = Bucket(Load32(base + p));
            std::memmove(bucket + 1, bucket, (BucketWays - 1) * sizeof *bucket);
            bucket[0] = static_cast<uint32_t>(p);
        }
    }
    const uint32_t* Bucket(uint32_t key) const { return &slots[Hash(key) * BucketWays]; }

private:
    uint32_t* Bucket(uint32_t key) { return &slots[Hash(key) * BucketWays]; }
    size_t Hash(uint32_t key) const { return (key * 2654435761u) >> shift; }

    int shift;
    std::vector<uint32_t> slots;
};

struct Match {
    size_t baseStart = 0;
    size_t length = 0;  // 0: none
    size_t back = 0;    // of the length, bytes before the target position
    int64_t score = 0;
};

// What a copy saves over literals: its length less what its command and
// distance cost, counted twice since literals compress and commands less so.
int64_t CopyScore(size_t length, int64_t distance) {
    return static_cast<int64_t>(length) - 2 * (1 + static_cast<int64_t>(DistanceSize(distance)));
}

class Differ {
public:
    Differ(const uint8_t* base, size_t baseSize, const uint8_t* target, size_t targetSize)
        : base(base), baseSize(baseSize), target(target), targetSize(targetSize), index(base, baseSize) {}

    DeltaStreams Run() {
        size_t i = 0;
        while (i + KeyBytes <= targetSize) {
            Match best = BestMatchAt(i);
            if (best.length == 0 || best.score < 0) {
                i++;
                continue;
            }
            EmitCopy(i - best.back, best);
            i += best.length - best.back;
        }
        EmitLiterals(targetSize);
        return std::move(streams);
    }

private:
    Match BestMatchAt(size_t i) const {
        Match best;
        size_t pending = i - literalStart;
        Consider(i, static_cast<size_t>(basePos) + pending, KeyBytes, best);  // bytes replaced since the last copy
        Consider(i, static_cast<size_t>(basePos), KeyBytes, best);            // bytes inserted since the last copy
        const uint32_t* bucket = index.Bucket(Load32(target + i));
        for (size_t w = 0; w < BucketWays && bucket[w] != NoPosition; w++) Consider(i, bucket[w], MinHashedMatch, best);
        return best;
    }

    void Consider(size_t i, size_t p, size_t minLength, Match& best) const {
        if (p + KeyBytes > baseSize || std::memcmp(base + p, target + i, KeyBytes) != 0) return;
        size_t length = KeyBytes;
        while (p + length < baseSize && i + length < targetSize && base[p + length] == target[i + length]) length++;
        size_t back = 0;
        while (back < i - literalStart && back < p && base[p - back - 1] == target[i - back - 1]) back++;
        if (length + back < minLength) return;
        size_t start = p - back;
        int64_t score = CopyScore(length + back, static_cast<int64_t>(start) - basePos);
        if (best.length == 0 || score > best.score) best = {start, length + back, back, score};
    }

    void EmitCopy(size_t targetStart, const Match& match) {
        uint32_t literals = static_cast<uint32_t>(targetStart - literalStart);
        streams.literals.insert(streams.literals.end(), target + literalStart, target + targetStart);
        int64_t distance = static_cast<int64_t>(match.baseStart) - basePos;
        PutDeltaOp(streams.commands, literals, static_cast<uint32_t>(match.length), distance);
        basePos = static_cast<int64_t>(match.baseStart + match.length);
        literalStart = targetStart + match.length;
    }

    void EmitLiterals(size_t end) {
        if (end == literalStart) return;
        streams.literals.insert(streams.literals.end(), target + literalStart, target + end);
        PutDeltaOp(streams.commands, static_cast<uint32_t>(end - literalStart), 0, 0);
        literalStart = end;
    }

    const uint8_t* base;
    size_t baseSize;
    const uint8_t* target;
    size_t targetSize;
    BaseIndex index;
    int64_t basePos = 0;      // end of the previous copy in the base
    size_t literalStart = 0;  // target bytes from here on are not written yet
    DeltaStreams streams;
};

void PutLiteralRuns(Bytes& commands, uint32_t count) {
    while (count > 0) {
        uint32_t run = std::min(count, MaxLiteralRun);
        commands.push_back(static_cast<uint8_t>(LiteralCommandBit | (run - 1)));
        count -= run;
    }
}

void PutCopyCommand(Bytes& commands, uint32_t length) {
    if (length <= MaxShortCopy) {
        commands.push_back(static_cast<uint8_t>(length - 1));
        return;
    }
    commands.push_back(LongCopyCommand);
    PutU16(commands, static_cast<uint16_t>(length - (MaxShortCopy + 1)));
}

// The length of the next piece of a copy: the longest a command takes, but
// never leaving a single byte, which no copy can take.
uint32_t CopyPiece(uint32_t remaining, uint32_t limit) {
    if (remaining <= limit) return remaining;
    return remaining - limit < MinCopy ? limit - MinCopy : limit;
}

}  // namespace

uint32_t DistanceSize(int64_t distance) {
    if (distance >= OneByteLow && distance <= OneByteHigh) return 1;
    int64_t t = Offset(distance, TwoByteOffset);
    if (t >= -TwoByteReach && t < TwoByteReach) return 2;
    t = Offset(distance, ThreeByteOffset);
    if (t >= -ThreeByteReach && t < ThreeByteReach && t != SevenByteDistanceEscape) return 3;
    return 7;
}

void PutDistance(Bytes& commands, int64_t distance) {
    switch (DistanceSize(distance)) {
        case 1:
            commands.push_back(static_cast<uint8_t>(OneByteDistanceMark | (distance & FirstDistanceBits)));
            return;
        case 2: {
            uint32_t t = static_cast<uint32_t>(Offset(distance, TwoByteOffset)) & (2 * TwoByteDistanceSign - 1);
            commands.push_back(static_cast<uint8_t>(t >> 8));
            commands.push_back(static_cast<uint8_t>(t));
            return;
        }
        case 3: {
            uint32_t t = static_cast<uint32_t>(Offset(distance, ThreeByteOffset)) & (2 * ThreeByteDistanceSign - 1);
            commands.push_back(static_cast<uint8_t>(ThreeByteDistanceMark | (t >> 16)));
            commands.push_back(static_cast<uint8_t>(t >> 8));
            commands.push_back(static_cast<uint8_t>(t));
            return;
        }
        default: {
            commands.push_back(static_cast<uint8_t>(ThreeByteDistanceMark | (SevenByteDistanceEscape >> 16)));
            commands.push_back(0);
            commands.push_back(0);
            uint32_t t = static_cast<uint32_t>(Offset(distance, ThreeByteOffset));
            for (int shift = 24; shift >= 0; shift -= 8) commands.push_back(static_cast<uint8_t>(t >> shift));
        }
    }
}

void PutDeltaOp(Bytes& commands, uint32_t literalCount, uint32_t copyLength, int64_t distance) {
    if (copyLength == 0) {
        PutLiteralRuns(commands, literalCount);
        return;
    }
    if (copyLength < MinCopy) throw std::invalid_argument("a delta copy takes at least 2 bytes");
    // Up to three literals ride on the first piece of the copy.
    uint32_t combined = 0;
    if (literalCount > 0) {
        uint32_t tail = (literalCount - 1) % MaxLiteralRun + 1;
        if (tail <= MaxCombinedLiterals) combined = tail;
        PutLiteralRuns(commands, literalCount - combined);
    }
    bool first = true;
    for (uint32_t remaining = copyLength; remaining > 0;) {
        uint32_t piece;
        if (first && combined > 0) {
            piece = CopyPiece(remaining, MaxCombinedCopy);
            uint32_t code = LiteralCommandBit | combined << CombinedLiteralsShift | (piece - MinCopy);
            commands.push_back(static_cast<uint8_t>(code));
        } else {
            piece = CopyPiece(remaining, MaxCopy);
            PutCopyCommand(commands, piece);
        }
        PutDistance(commands, first ? distance : 0);
        remaining -= piece;
        first = false;
    }
}

DeltaStreams DiffAgainstBase(const uint8_t* base, size_t baseSize, const uint8_t* target, size_t targetSize) {
    return Differ(base, baseSize, target, targetSize).Run();
}

Bytes FrameDeltaStream(const Bytes& raw, int level) {
    Bytes framed;
    if (raw.size() > 0xFFFFFFFFu) throw std::length_error("a delta stream is 4 GB or larger");
    bool size32 = raw.size() > 0xFFFF;
    // A negative level keeps the stream raw (solid blocks pack it later).
    Bytes packed = raw.empty() || level < 0 ? Bytes() : EncodeStream(raw.data(), raw.size(), level);
    bool stored32 = packed.size() > 0xFFFF;
    bool compress = !raw.empty() && level >= 0 && packed.size() + (stored32 ? 4 : 2) < raw.size();
    framed.push_back(static_cast<uint8_t>((compress ? DeltaStreamCompressed : 0) | (size32 ? DeltaSizeWide : 0) |
                                          (compress && stored32 ? DeltaStoredSizeWide : 0)));
    auto putSize = [&framed](size_t size, bool wide) {
        if (wide) PutU32(framed, static_cast<uint32_t>(size));
        else PutU16(framed, static_cast<uint16_t>(size));
    };
    putSize(raw.size(), size32);
    if (compress) {
        putSize(packed.size(), stored32);
        PutBytes(framed, packed);
    } else {
        PutBytes(framed, raw);
    }
    return framed;
}

Bytes EncodeDelta(const uint8_t* base, size_t baseSize, const uint8_t* target, size_t targetSize, int level) {
    if (baseSize > MaxDeltaFileSize || targetSize > MaxDeltaFileSize) throw std::length_error("a delta's files must be smaller than 2 GB");
    DeltaStreams streams = DiffAgainstBase(base, baseSize, target, targetSize);
    Bytes data = FrameDeltaStream(streams.commands, level);
    PutBytes(data, FrameDeltaStream(streams.literals, level));
    return data;
}
