// The memory source of kelvo (builder/memory_source.h), and a sink that
// records what the decoder writes, for the tests and the benchmark.
#pragma once
#include <vector>

#include "builder/memory_source.h"

// A sink that keeps every byte and the size of every write.
class RecordingSink : public ByteSink {
public:
    bool IsReady() override { return true; }
    void Write(const u8* data, u32 count) override {
        bytes.insert(bytes.end(), data, data + count);
        writes.push_back(count);
    }
    std::vector<u8> bytes;
    std::vector<u32> writes;
};
