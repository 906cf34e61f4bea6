// Encoder of delta entries: the stored data that turns the contents of a
// base entry into a new file, so a file that differs little from another
// one in the setup costs little more than its differences.
//
// The data is two streams, the commands and then the literal bytes, each
// framed as: u8 flags (bit 0 compressed, bit 1 the size is a u32, bit 2 the
// stored size is a u32), the size (u16 or u32), and when compressed the
// stored size and that many bytes of a compressed stream (deflate_encoder.h),
// otherwise the size's raw bytes. A size of 0 is an empty stream.
//
// Commands, one byte with its operands behind it:
//   0x80-0x9F        write (b & 0x1F) + 1 literal bytes (1..32), copy nothing
//   0xA0-0xFF        write (b >> 5) & 3 literal bytes (1..3), then copy (b & 0x1F) + 2 (2..33)
//   0x01-0x7F        copy b + 1 bytes (2..128)
//   0x00 lo hi       copy the u16 + 129 bytes (129..65,664)
// Every copy is followed by its distance d: where the copy starts in the
// base, counted from the end of the previous copy (from the base's start for
// the first one):
//   0x80-0xBF        one byte, d = o & 0x3F, minus 64 when bit 5 is set (-32..31)
//   0x00-0x7F, 1     two bytes, a 15-bit t; d = t + 32 or t - 32 (32..16,415, -16,416..-33)
//   0xC0-0xFF, 2     three bytes, a 22-bit t; d = t + 16,416 or t - 16,416
//   0xD0 0 0, 4      seven bytes: t = 0x100000 escapes to a big-endian signed
//                    32-bit t behind it, again d = t +/- 16,416
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

using Bytes = std::vector<uint8_t>;

const uint32_t MaxLiteralRun = 32;
const uint32_t MaxCombinedLiterals = 3;
const uint32_t MinCopy = 2;
const uint32_t MaxCombinedCopy = 33;
const uint32_t MaxShortCopy = 128;
const uint32_t MaxCopy = 65664;  // also the engine's copy buffer
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
