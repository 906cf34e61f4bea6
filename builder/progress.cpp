#include "builder/progress.h"

#include <stdio.h>

#include "builder/host_system.h"

namespace {
const int BarWidth = 30;
const auto RedrawInterval = std::chrono::milliseconds(100);
}  // namespace

Progress::Progress(std::string label, uint64_t total)
    : label(std::move(label)), total(total), enabled(IsTerminal(stderr)) {}

Progress::~Progress() { Finish(); }

void Progress::Advance(uint64_t amount) {
    done += amount;
    if (!enabled) return;
    auto now = std::chrono::steady_clock::now();
    if (drawn && now - lastDraw < RedrawInterval && done < total) return;
    lastDraw = now;
    Draw();
}

void Progress::Draw() {
    int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
    if (percent > 100) percent = 100;
    int filled = percent * BarWidth / 100;
    fprintf(stderr, "\r%s [%.*s%*s] %3d%%", label.c_str(), filled, "##############################",
            BarWidth - filled, "", percent);
    fflush(stderr);
    drawn = true;
}

void Progress::Finish() {
    if (!drawn) return;
    fprintf(stderr, "\r%*s\r", static_cast<int>(label.size()) + BarWidth + 8, "");
    fflush(stderr);
    drawn = false;
}
