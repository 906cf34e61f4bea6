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
// Fuzz targets link only the portable core, so the reference decoder is
// compiled into this target directly.
#include "tests/support/reference_inflate.cpp"

namespace {

const u32 OutputCapacity = 1u << 20;

struct ChoppedInput {
    const uint8_t* data;
    u32 size;
    u32 position;
};

i32 ReadChopped(void* context, u8* buffer, u32 want) {
    ChoppedInput& in = *static_cast<ChoppedInput*>(context);
    u32 count = in.size - in.position;
    if (count > want) count = want;
    if (count > 1000) count = 1000;
    memcpy(buffer, in.data + in.position, count);
    in.position += count;
    return static_cast<i32>(count);
}

void UnreadChopped(void* context, u32 count) {
    ChoppedInput& in = *static_cast<ChoppedInput*>(context);
    if (count > in.position) {
        fprintf(stderr, "decoder handed back %u bytes but only %u were read\n", count, in.position);
        abort();
    }
    in.position -= count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    static std::vector<uint8_t> output(OutputCapacity);
    ChoppedInput input = {data, static_cast<u32>(size), 0};
    InflateSource source = {ReadChopped, UnreadChopped, &input, 0, false};
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
