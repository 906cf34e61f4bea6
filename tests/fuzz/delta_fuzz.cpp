// Fuzz target: the reader of delta entries (archive/delta_reader.h) as kelvo
// runs it to verify and extract a setup: the frames of the two streams, the
// decoder for compressed ones, and the commands against a base. The input
// is a 16-bit base length, that many base bytes (fewer when the input ends),
// then the delta's stored data. A fault is a message, never a crash; what
// it produces is read through to the end.
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "builder/delta_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    size_t baseSize = data[0] | static_cast<size_t>(data[1]) << 8;
    data += 2;
    size -= 2;
    if (baseSize > size) baseSize = size;
    Bytes base(data, data + baseSize);  // a block of its own, so reads past it are caught
    Bytes output;
    std::string fault = ApplyDelta(base.data(), base.size(), data + baseSize, size - baseSize, &output);
    unsigned sum = 0;
    for (uint8_t b : output) sum += b;
    (void)sum;
    (void)fault;
    return 0;
}
