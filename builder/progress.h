// A one-line progress bar on stderr for long builds and extractions. It
// stays silent when stderr is not a terminal, and redraws at most ten times
// a second.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>

class Progress {
public:
    // `total` is in the caller's units (bytes, usually); `label` leads the line.
    Progress(std::string label, uint64_t total);
    ~Progress();
    void Advance(uint64_t amount);
    // Clears the line; called by the destructor too.
    void Finish();

private:
    void Draw();

    std::string label;
    uint64_t total;
    uint64_t done = 0;
    bool enabled;
    bool drawn = false;
    std::chrono::steady_clock::time_point lastDraw;
};
