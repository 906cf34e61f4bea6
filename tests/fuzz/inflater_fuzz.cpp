// Fuzz target: the setup program's decoder against the reference decoder.
// Both must agree on whether the input is a valid stream of at most 1 MiB,
// and on every output byte when it is. The input reaches the decoder through
// a source that hands out at most 1,000 bytes a read, so refills happen at
// many different points of the stream.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "archive/inflater.h"
#include "tests/support/memory_source.h"
// Fuzz targets link only the portable core, so the reference decoder is
// compiled into this target directly.
#include "tests/support/reference_inflate.cpp"

namespace {

const u32 OutputCapacity = 1u << 20;
const u32 MostPerRead = 1000;  // bytes the source hands out a read

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    static std::vector<uint8_t> output(OutputCapacity);
    MemoryInput input;
    input.data = data;
    input.size = static_cast<u32>(size);
    input.mostPerRead = MostPerRead;
    InflateSource source = MemoryInflateSource(input);
    MemorySink sink(output.data(), OutputCapacity);
    InflateStatus status = InflateStream(source, sink);
    u32 produced = OutputCapacity - sink.Room();

    std::vector<uint8_t> expected;
    int result = ReferenceInflate(data, size, expected, OutputCapacity);

    if ((status == InflateOk) != (result == ReferenceOk)) {
        fprintf(stderr, "decoder status %d, reference result %d\n", status, result);
        abort();
    }
    if (status == InflateOk &&
        (produced != expected.size() || (produced != 0 && memcmp(output.data(), expected.data(), produced) != 0))) {
        fprintf(stderr, "decoders agree on success but not on the output (%u vs %zu bytes)\n", produced,
                expected.size());
        abort();
    }
    return 0;
}
