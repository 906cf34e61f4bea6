// Decoder of delta entries (the format is described in delta_encoder.h), as
// the setup program applies them: kelvo's verify and extract use it, and the
// tests hold the encoder to it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "builder/delta_encoder.h"

// One command: `literals` bytes from the literal stream, then `copy` bytes
// (0: none) from `distance` behind the end of the previous copy.
struct DeltaOp {
    uint32_t literals = 0;
    uint32_t copy = 0;
    int64_t distance = 0;
    uint32_t distanceSize = 0;  // bytes of the distance: 0 (no copy), 1, 2, 3 or 7
    uint32_t size = 0;          // bytes of the whole command
};

// Reads the command at `commands`; returns its size, or 0 when it runs past
// `available`.
uint32_t ReadDeltaOp(const uint8_t* commands, size_t available, DeltaOp* op);

// Unframes the two streams of a delta entry's stored data. Returns what is
// wrong, or "".
std::string ReadDeltaStreams(const uint8_t* data, size_t size, DeltaStreams* streams);

// Carries out the commands on `base`, appending to `output`. Returns what is
// wrong (a command cut short, literals or a copy beyond their ends), or "".
std::string ApplyDeltaStreams(const uint8_t* base, size_t baseSize, const DeltaStreams& streams, Bytes* output);

// Both steps on a delta entry's stored data.
std::string ApplyDelta(const uint8_t* base, size_t baseSize, const uint8_t* data, size_t size, Bytes* output);
