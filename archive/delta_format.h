// Layout of a delta entry's stored data: what turns the contents of a base
// entry into the entry's own file, so a file that differs little from
// another one in the setup costs little more than its differences. kelvo
// writes it (builder/delta_encoder.cpp); the setup program, and kelvo's
// verify and extract, read it (archive/delta_reader.h).
//
// The data is two streams, the commands and then the literal bytes, each
// framed as:
//
//   u8 flags          DeltaStreamCompressed, DeltaSizeWide, DeltaStoredSizeWide
//   size              u16, or u32 with DeltaSizeWide: the stream's bytes
//   stored size       u16, or u32 with DeltaStoredSizeWide; only when
//                     compressed and the size is not 0
//   bytes             compressed: the stored size's bytes of a stream in the
//                     decoder's format (archive/inflater.h), which must decode
//                     to exactly the size; raw: the size's bytes
//
// A size of 0 is an empty stream with nothing behind its size.
//
// Commands, one byte b with its operands behind it:
//
//   0x80-0x9F        write (b & 0x1F) + 1 literal bytes (1..32), copy nothing
//   0xA0-0xFF        write (b >> 5) & 3 literal bytes (1..3), then copy
//                    (b & 0x1F) + 2 bytes (2..33)
//   0x01-0x7F        copy b + 1 bytes (2..128)
//   0x00 lo hi       copy the u16 + 129 bytes (129..65,664)
//
// Literal bytes are taken in order from the literal stream. Every copy is
// followed by its distance d: where the copy starts in the base, counted
// from the end of the previous copy (from the base's start for the first):
//
//   0x80-0xBF        one byte o: d = o & 0x3F, less 64 when bit 5 is set (-32..31)
//   0x00-0x7F, 1     two bytes: a signed 15-bit t; d = t + 32 when t >= 0,
//                    t - 32 when t < 0 (32..16,415 and -16,416..-33)
//   0xC0-0xFF, 2     three bytes: a signed 22-bit t; d = t +/- 16,416 the same way
//   0xD0 0 0, 4      seven bytes: the 22-bit t 0x100000 announces a big-endian
//                    signed 32-bit t behind it; d = t +/- 16,416 again
//
// Positions in the base are reckoned modulo 2^32. Bases stay below
// MaxDeltaBaseSize, so no position outside a base wraps back into it.
#pragma once
#include "common/types.h"

// Flags of a stream's frame.
const u8 DeltaStreamCompressed = 0x01;
const u8 DeltaSizeWide = 0x02;
const u8 DeltaStoredSizeWide = 0x04;

// Commands.
const u8 LiteralCommandBit = 0x80;      // the command writes literals
const u8 LongCopyCommand = 0x00;        // the copy's length follows as a u16
const u32 CommandCountMask = 0x1F;      // the count in the command byte
const u32 CombinedLiteralsShift = 5;    // bits 5-6 of a literal command: literals
const u32 CombinedLiteralsMask = 0x03;  // that ride on a copy, or 0 for none
const u32 MaxLiteralRun = 32;
const u32 MaxCombinedLiterals = 3;
const u32 MinCopy = 2;
const u32 MaxCombinedCopy = 33;
const u32 MaxShortCopy = 128;
const u32 MaxCopy = 0xFFFF + MaxShortCopy + 1;  // 65,664

// Distances. The first byte tells the form.
const u8 OneByteDistanceMark = 0x80;    // 0x80-0xBF: one byte
const u8 ThreeByteDistanceMark = 0xC0;  // 0xC0-0xFF: three or seven bytes
const u32 FirstDistanceBits = 0x3F;     // of the one- and three-byte forms
const u32 OneByteDistanceSign = 0x20;
const u32 TwoByteDistanceOffset = 32;
const u32 TwoByteDistanceSign = 0x4000;  // t runs from -0x4000 to 0x3FFF
const u32 ThreeByteDistanceOffset = 16416;
const u32 ThreeByteDistanceSign = 0x200000;    // t runs from -0x200000 to 0x1FFFFF
const u32 SevenByteDistanceEscape = 0x100000;  // this t announces a 32-bit one

const u32 MaxDeltaBaseSize = 0x7FFF0000;
