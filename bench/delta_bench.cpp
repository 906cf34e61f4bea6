// Delta entries against plain packing: for a few kinds of edited files, the
// size of kelvo's delta, of the target packed on its own, and of the deltas
// that xdelta3 and bsdiff (Debian packages, when installed) make of the same
// pair, with the time each takes. All figures come from this one run.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "builder/deflate_encoder.h"
#include "builder/delta_decoder.h"
#include "builder/delta_encoder.h"

namespace {

const int Level = 9;
const double MB = 1024.0 * 1024.0;

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

Bytes Random(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes data(size);
    for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
    return data;
}

Bytes Prose(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::string> vocabulary(3000);
    for (std::string& word : vocabulary)
        for (size_t n = 2 + rng() % 9; word.size() < n;) word += static_cast<char>('a' + rng() % 26);
    Bytes data;
    while (data.size() < size) {
        const std::string& w = vocabulary[rng() % vocabulary.size()];
        data.insert(data.end(), w.begin(), w.end());
        data.push_back(rng() % 12 == 0 ? '\n' : ' ');
    }
    data.resize(size);
    return data;
}

// A program-like image: blocks of code-ish bytes and tables that repeat with variations.
Bytes Program(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes data, pattern = Random(4096, seed + 1);
    while (data.size() < size) {
        size_t at = rng() % (pattern.size() - 256), length = 16 + rng() % 200;
        data.insert(data.end(), pattern.begin() + static_cast<long>(at), pattern.begin() + static_cast<long>(at + length));
        for (int i = 0; i < 4; i++) data.push_back(static_cast<uint8_t>(rng()));
    }
    data.resize(size);
    return data;
}

// A new version: a few hundred small changes, insertions and deletions.
Bytes Edited(Bytes data, uint32_t seed, int edits) {
    std::mt19937 rng(seed);
    for (int i = 0; i < edits; i++) {
        size_t at = rng() % (data.size() - 64);
        switch (i % 3) {
            case 0: data[at] ^= 0x21; break;
            case 1: data.insert(data.begin() + static_cast<long>(at), 1 + rng() % 40, static_cast<uint8_t>(rng())); break;
            default: data.erase(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + 1 + rng() % 40));
        }
    }
    return data;
}

// A version whose code moved: its parts shuffled, one part rewritten.
Bytes Reordered(const Bytes& data, uint32_t seed) {
    const size_t parts = 16;
    size_t part = data.size() / parts;
    std::vector<size_t> order(parts);
    for (size_t i = 0; i < parts; i++) order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(seed));
    Bytes out;
    for (size_t i : order) out.insert(out.end(), data.begin() + static_cast<long>(i * part), data.begin() + static_cast<long>((i + 1) * part));
    Bytes fresh = Random(part, seed + 1);
    std::copy(fresh.begin(), fresh.end(), out.begin() + static_cast<long>(part));
    return out;
}

void WriteFile(const std::string& path, const Bytes& data) {
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr) return;
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
}

bool HasProgram(const char* name) {
    std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

struct PeerResult {
    bool ran = false;
    uint64_t size = 0;
    double seconds = 0;
};

// Runs a peer's command line on the pair written to `folder`; its delta lands in `out`.
PeerResult RunPeer(const std::string& command, const std::string& out) {
    PeerResult result;
    auto start = std::chrono::steady_clock::now();
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) return result;
    result.seconds = Seconds(start);
    struct stat info;
    if (stat(out.c_str(), &info) != 0) return result;
    result.ran = true;
    result.size = static_cast<uint64_t>(info.st_size);
    return result;
}

std::string PeerText(const PeerResult& peer, uint64_t kelvoSize) {
    if (!peer.ran) return "              -";
    char text[96];
    snprintf(text, sizeof text, "%9llu %5.2fx %6.2fs", static_cast<unsigned long long>(peer.size),
             static_cast<double>(kelvoSize) / static_cast<double>(peer.size), peer.seconds);
    return text;
}

}  // namespace

int main() {
    struct Shape {
        const char* name;
        Bytes base, target;
    };
    Bytes text = Prose(4 << 20, 1), program = Program(4 << 20, 2), noise = Random(2 << 20, 3);
    std::vector<Shape> shapes;
    shapes.push_back({"text, 300 edits", text, Edited(text, 10, 300)});
    shapes.push_back({"program, 300 edits", program, Edited(program, 11, 300)});
    shapes.push_back({"program, reordered", program, Reordered(program, 12)});
    shapes.push_back({"random, 300 edits", noise, Edited(noise, 13, 300)});
    shapes.push_back({"unrelated random", noise, Random(2 << 20, 14)});

    char folder[] = "/tmp/kelvo-delta-bench-XXXXXX";
    bool haveFolder = mkdtemp(folder) != nullptr;
    bool xdelta = haveFolder && HasProgram("xdelta3"), bsdiff = haveFolder && HasProgram("bsdiff");
    std::string base = std::string(folder) + "/base", target = std::string(folder) + "/target";

    printf("delta entries (level %d): sizes in bytes; 'x' is kelvo's delta size over the peer's\n", Level);
    printf("%-20s %9s %9s %8s %9s %9s | %-24s | %-24s\n", "shape", "target", "deflate", "delta", "enc MB/s", "dec MB/s",
           xdelta ? "xdelta3 -9" : "xdelta3 (not installed)", bsdiff ? "bsdiff" : "bsdiff (not installed)");
    for (const Shape& shape : shapes) {
        Bytes plain = EncodeStream(shape.target.data(), shape.target.size(), Level);
        auto start = std::chrono::steady_clock::now();
        Bytes delta = EncodeDelta(shape.base.data(), shape.base.size(), shape.target.data(), shape.target.size(), Level);
        double encode = Seconds(start);
        Bytes output;
        start = std::chrono::steady_clock::now();
        std::string fault = ApplyDelta(shape.base.data(), shape.base.size(), delta.data(), delta.size(), &output);
        double decode = Seconds(start);
        if (!fault.empty() || output != shape.target) {
            fprintf(stderr, "%s: the delta does not decode to the target: %s\n", shape.name, fault.c_str());
            return 1;
        }
        PeerResult x, b;
        if (xdelta || bsdiff) {
            WriteFile(base, shape.base);
            WriteFile(target, shape.target);
        }
        if (xdelta) x = RunPeer("xdelta3 -9 -f -e -s " + base + " " + target + " " + target + ".xd", target + ".xd");
        if (bsdiff) b = RunPeer("bsdiff " + base + " " + target + " " + target + ".bs", target + ".bs");
        double mb = static_cast<double>(shape.target.size()) / MB;
        printf("%-20s %9zu %9zu %8zu %9.1f %9.1f | %-24s | %-24s\n", shape.name, shape.target.size(), plain.size(),
               delta.size(), mb / encode, mb / decode, PeerText(x, delta.size()).c_str(), PeerText(b, delta.size()).c_str());
    }
    if (haveFolder) {
        std::string remove = std::string("rm -rf ") + folder;
        if (std::system(remove.c_str()) != 0) fprintf(stderr, "cannot remove %s\n", folder);
    }
    return 0;
}
