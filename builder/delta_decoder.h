// Decoder of delta entries (archive/delta_format.h) into memory, with the
// setup program's own reader and interpreter (archive/delta_reader.h):
// kelvo's verify and extract use it, and the tests hold the encoder to it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "builder/delta_encoder.h"

// Unframes the two streams of a delta entry's stored data. Returns what is
// wrong, or "".
std::string ReadDeltaStreams(const uint8_t* data, size_t size, DeltaStreams* streams);

// Carries out the commands on `base`, appending to `output`. Returns what is
// wrong (a command cut short, literals or a copy beyond their ends), or "".
std::string ApplyDeltaStreams(const uint8_t* base, size_t baseSize, const DeltaStreams& streams, Bytes* output);

// Both steps on a delta entry's stored data.
std::string ApplyDelta(const uint8_t* base, size_t baseSize, const uint8_t* data, size_t size, Bytes* output);
