// Encoder of delta entries (archive/delta_format.h): the stored data that
// turns the contents of a base entry into a new file, so a file that differs
// little from another one in the setup costs little more than its
// differences.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/delta_format.h"

using Bytes = std::vector<uint8_t>;

// The seven-byte distance is a signed 32-bit number, so files stay below 2 GB.
const size_t MaxDeltaFileSize = 0x7FFFFFFF;

// The delta's two streams before framing.
struct DeltaStreams {
    Bytes commands;
    Bytes literals;
};

// Bytes a distance takes: 1, 2, 3 or 7.
uint32_t DistanceSize(int64_t distance);
void PutDistance(Bytes& commands, int64_t distance);

// Commands that write `literalCount` literals and then copy `copyLength`
// bytes (0: none) from `distance`. Long runs and copies are split; the pieces
// of a split copy follow each other in the base (distance 0).
void PutDeltaOp(Bytes& commands, uint32_t literalCount, uint32_t copyLength, int64_t distance);

// Finds the parts of `target` that `base` holds: 4-byte blocks of the base
// are hashed, and every position of the target is looked up, together with
// the place right behind the previous copy, which catches changed bytes and
// insertions at once.
DeltaStreams DiffAgainstBase(const uint8_t* base, size_t baseSize, const uint8_t* target, size_t targetSize);

// One framed stream; compressed at `level` when that is smaller.
Bytes FrameDeltaStream(const Bytes& raw, int level);

// The stored data of a delta entry: both streams framed. Throws
// std::length_error when the base or the target is larger than MaxDeltaFileSize.
Bytes EncodeDelta(const uint8_t* base, size_t baseSize, const uint8_t* target, size_t targetSize, int level);
