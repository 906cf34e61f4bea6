// Reading a delta entry's stored data (archive/delta_format.h): the frames
// of its two streams, its commands, and the one interpreter of the commands.
// The setup program carries them out into a file beside the destination,
// kelvo into memory, to verify and extract a setup. The interpreter is a
// template over its output, so that the setup program's copy compiles to
// straight code with its file writes, as small as a reader of its own.
#pragma once
#include "archive/cursor.h"
#include "archive/delta_format.h"
#include "archive/records.h"

// ---------------------------------------------------------------------------
// Streams

struct DeltaStreamHeader {
    u8 flags;
    u32 size;        // bytes of the stream
    u32 storedSize;  // bytes of its compressed form; 0 when it is raw or empty
};

enum DeltaHeaderStatus {
    DeltaHeaderRead = 0,
    DeltaHeaderMissing,   // not even the flags byte is there
    DeltaHeaderCutShort,  // the data ends inside the sizes
};

// Reads a stream's frame up to its bytes. `read(buffer, count)` reads the
// next `count` bytes of the delta's data, false when they cannot be had.
template <typename Read> static DeltaHeaderStatus ReadDeltaStreamHeader(Read read, DeltaStreamHeader* header) {
    u8 sizes[4] = {0, 0, 0, 0};
    header->storedSize = 0;
    if (!read(&header->flags, 1)) return DeltaHeaderMissing;
    if (!read(sizes, (header->flags & DeltaSizeWide) != 0 ? 4 : 2)) return DeltaHeaderCutShort;
    header->size = ReadU32(sizes);
    if ((header->flags & DeltaStreamCompressed) == 0 || header->size == 0) return DeltaHeaderRead;
    sizes[2] = sizes[3] = 0;
    if (!read(sizes, (header->flags & DeltaStoredSizeWide) != 0 ? 4 : 2)) return DeltaHeaderCutShort;
    header->storedSize = ReadU32(sizes);
    return DeltaHeaderRead;
}

// ---------------------------------------------------------------------------
// Commands

struct DeltaCommand {
    u32 literals;  // literal bytes written first
    u32 copy;      // then bytes copied from the base; 0: none
    u32 distance;  // the copy's distance, as a 32-bit two's complement number
};

// The counts that command byte `code` gives, with a long copy's count
// behind it; the distance stays behind. False when the stream ends inside
// the long copy's count.
static inline bool TakeDeltaCounts(Cursor& commands, u32 code, DeltaCommand* command) {
    u32 count = code & CommandCountMask;
    command->literals = 0;
    command->copy = 0;
    if ((code & LiteralCommandBit) != 0) {
        u32 combined = (code >> CombinedLiteralsShift) & CombinedLiteralsMask;
        command->literals = combined == 0 ? count + 1 : combined;
        if (combined != 0) command->copy = count + MinCopy;
        return true;
    }
    if (code != LongCopyCommand) {
        command->copy = code + 1u;
        return true;
    }
    const u8* p = TakeBytes(commands, 2);
    if (p == nullptr) return false;
    command->copy = ReadU16(p) + MaxShortCopy + 1;
    return true;
}

// A copy's distance; false when the stream ends inside it.
static inline bool TakeDeltaDistance(Cursor& commands, u32* distance) {
    const u8* p = TakeBytes(commands, 1);
    if (p == nullptr) return false;
    u32 first = p[0];
    u32 t;
    u32 offset;
    if (first >= OneByteDistanceMark && first < ThreeByteDistanceMark) {
        *distance = (first & FirstDistanceBits) - ((first & OneByteDistanceSign) != 0 ? 2 * OneByteDistanceSign : 0);
        return true;
    }
    if (first < OneByteDistanceMark) {
        if ((p = TakeBytes(commands, 1)) == nullptr) return false;
        t = first << 8 | p[0];
        if ((t & TwoByteDistanceSign) != 0) t -= 2 * TwoByteDistanceSign;
        offset = TwoByteDistanceOffset;
    } else {
        if ((p = TakeBytes(commands, 2)) == nullptr) return false;
        t = (first & FirstDistanceBits) << 16 | p[0] << 8 | p[1];
        if (t == SevenByteDistanceEscape) {
            if ((p = TakeBytes(commands, 4)) == nullptr) return false;
            t = static_cast<u32>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
        } else if ((t & ThreeByteDistanceSign) != 0) {
            t -= 2 * ThreeByteDistanceSign;
        }
        offset = ThreeByteDistanceOffset;
    }
    *distance = static_cast<i32>(t) >= 0 ? t + offset : t - offset;
    return true;
}

// Reads one whole command; false when the stream ends inside it.
static inline bool ReadDeltaCommand(Cursor& commands, DeltaCommand* command) {
    u8 code = 0;
    command->distance = 0;
    return TakeU8(commands, &code) && TakeDeltaCounts(commands, code, command) &&
           (command->copy == 0 || TakeDeltaDistance(commands, &command->distance));
}

// Whether a copy of `count` bytes from position `from` lies inside a base of
// `baseSize` bytes. A base larger than MaxDeltaBaseSize takes no copy, so no
// position outside a base wraps back into it. The one rule of the setup
// program's and kelvo's outputs.
static inline bool DeltaCopyInBase(u32 baseSize, u32 from, u32 count) {
    return baseSize <= MaxDeltaBaseSize && from <= baseSize && count <= baseSize - from;
}

enum DeltaRunStatus {
    DeltaRunDone = 0,
    DeltaCommandCutShort,   // the command stream ends inside a command
    DeltaLiteralsCutShort,  // a command takes literals beyond the literal stream
    DeltaOutputStopped,     // the output refused a write or a copy
};

// Carries out the commands in order: each writes its literals, then reads
// its distance and copies. The output has
//   bool WriteLiterals(const u8* bytes, u32 count)
//   bool CopyFromBase(u32 from, u32 count)  // false for a range outside the
//                                            // base (DeltaCopyInBase): damaged data
//   void CommandDone()                      // after each whole command
// and a false from either stops the run. `*failedAt` receives the offset in
// the command stream of the command the run stopped in.
template <typename Output>
static DeltaRunStatus RunDeltaCommands(Cursor commands, Cursor literals, Output& output, u32* failedAt) {
    const u8* start = commands.next;
    u32 basePosition = 0;
    while (commands.next < commands.end) {
        *failedAt = static_cast<u32>(commands.next - start);
        DeltaCommand command;
        u32 code = *commands.next++;  // there is one: the loop's condition
        if (!TakeDeltaCounts(commands, code, &command)) return DeltaCommandCutShort;
        if (command.literals != 0) {
            const u8* bytes = TakeBytes(literals, command.literals);
            if (bytes == nullptr) return DeltaLiteralsCutShort;
            if (!output.WriteLiterals(bytes, command.literals)) return DeltaOutputStopped;
        }
        if (command.copy != 0) {
            if (!TakeDeltaDistance(commands, &command.distance)) return DeltaCommandCutShort;
            u32 from = basePosition + command.distance;
            if (!output.CopyFromBase(from, command.copy)) return DeltaOutputStopped;
            basePosition = from + command.copy;
        }
        output.CommandDone();
    }
    return DeltaRunDone;
}
