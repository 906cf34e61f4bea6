// Compression ratio and decoding speed on a corpus of this machine's own
// binaries and texts, against zlib and libdeflate measured in the same run.
//
// The corpus: regular files of 1 KB to 8 MB (symlinks skipped) under
// /usr/bin, /usr/lib/x86_64-linux-gnu and /usr/share/doc, each folder's files
// in sorted path order, taken one from each folder in turn until 50 MB are
// reached. Each file is compressed on its own, as a setup stores it.
//
// Part (a) prints the compressed totals; ours at level 12 must stay within
// 0.5% of libdeflate at level 12, whose output it rewrites. Part (b) decodes
// every file's stream several times with each decoder and keeps the best
// run; the last lines are the speed ratios of our decoder to libdeflate's
// and zlib's (their time over ours: above 1, ours is faster).
//
// Options, for the i686 build (bench/inflate_i686.sh), which runs under
// emulation where the kernel runs no 32-bit programs:
//   --decode-only   compress only the streams part (b) decodes; no size check
//   --corpus-mb N   a corpus of N MB instead of 50
//   --tag TAG       one closing line "inflate TAG ours/libdeflate: R  ours/zlib: R"
//   --probe         exit at once (tells whether this program runs here)
// When KELVO_INSN_COUNTS names a file, the program runs under qemu-user with
// bench/qemu_insn_count.c, which writes the count of guest instructions
// executed so far into that file whenever the program makes the marker
// system call; part (c) then counts one decoding pass of each decoder.
#include <libdeflate.h>
#include <zlib.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <functional>
#include <string>
#include <vector>

#include "archive/inflater.h"
#include "builder/deflate_encoder.h"
#include "tests/support/memory_source.h"

namespace fs = std::filesystem;
typedef std::vector<uint8_t> Bytes;

namespace {

size_t CorpusTarget = 50u * 1000 * 1000;
const uintmax_t MinFileSize = 1024;
const uintmax_t MaxFileSize = 8u * 1024 * 1024;
const int DecodeRuns = 5;
const char* const Roots[] = {"/usr/bin", "/usr/lib/x86_64-linux-gnu", "/usr/share/doc"};

// A system call number no kernel defines (it fails with ENOSYS); the
// counting plugin answers it by writing its count.
const long InstructionMarkSyscall = 0x4B45;

// Guest instructions executed so far, read back from the counting plugin's
// file right after the marker call; 0 when not counting.
unsigned long long InstructionsSoFar(const char* countFile) {
    syscall(InstructionMarkSyscall);
    unsigned long long count = 0;
    FILE* f = fopen(countFile, "r");
    if (f == nullptr || fscanf(f, "%llu", &count) != 1) {
        fprintf(stderr, "no instruction count in %s (is the program running under the plugin?)\n", countFile);
        exit(1);
    }
    fclose(f);
    return count;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::vector<std::string> CandidateFiles(const char* root) {
    std::vector<std::string> paths;
    std::error_code error;
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error), end;
    for (; !error && it != end; it.increment(error)) {
        if (it->is_symlink(error) || !it->is_regular_file(error)) continue;
        uintmax_t size = it->file_size(error);
        if (!error && size >= MinFileSize && size <= MaxFileSize) paths.push_back(it->path().string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

bool ReadWholeFile(const std::string& path, Bytes& data) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !data.empty();
}

std::vector<Bytes> BuildCorpus() {
    std::vector<std::vector<std::string>> lists;
    for (const char* root : Roots) lists.push_back(CandidateFiles(root));
    std::vector<Bytes> files;
    size_t total = 0, taken[3] = {0, 0, 0};
    for (size_t index = 0; total < CorpusTarget; ++index) {
        bool any = false;
        for (size_t r = 0; r < lists.size() && total < CorpusTarget; ++r) {
            if (index >= lists[r].size()) continue;
            any = true;
            Bytes data;
            if (!ReadWholeFile(lists[r][index], data)) continue;
            total += data.size();
            taken[r] += data.size();
            files.push_back(std::move(data));
        }
        if (!any) break;
    }
    printf("corpus: %zu files, %zu bytes (%s %zu, %s %zu, %s %zu)\n", files.size(), total, Roots[0], taken[0],
           Roots[1], taken[1], Roots[2], taken[2]);
    return files;
}

Bytes ZlibCompress(const Bytes& data, int level) {
    z_stream z = {};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, uLong(data.size())));
    z.next_in = const_cast<Bytes::value_type*>(data.data());
    z.avail_in = uInt(data.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    int result = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (result != Z_STREAM_END) throw std::runtime_error("zlib deflate failed");
    return out;
}

Bytes LibdeflateCompress(libdeflate_compressor* compressor, const Bytes& data) {
    Bytes out(libdeflate_deflate_compress_bound(compressor, data.size()));
    out.resize(libdeflate_deflate_compress(compressor, data.data(), data.size(), out.data(), out.size()));
    if (out.empty()) throw std::runtime_error("libdeflate compress failed");
    return out;
}

struct Codec {
    const char* name;
    std::function<Bytes(const Bytes&)> compress;
    std::vector<Bytes> streams;  // kept only where part (b) decodes them
    bool keep;
    size_t total = 0;
    double seconds = 0;
};

void CompressAll(Codec& codec, const std::vector<Bytes>& files, size_t inputBytes) {
    auto start = std::chrono::steady_clock::now();
    for (const Bytes& file : files) {
        Bytes stream = codec.compress(file);
        codec.total += stream.size();
        if (codec.keep) codec.streams.push_back(std::move(stream));
    }
    codec.seconds = Seconds(start);
    printf("  %-16s %12zu bytes  %6.2f%%  %7.1f MB/s\n", codec.name, codec.total, 100.0 * codec.total / inputBytes,
           inputBytes / codec.seconds / 1e6);
}

// Decoders: each decodes stream i into `out` and returns the size produced
// (or SIZE_MAX on failure).
typedef std::function<size_t(const Bytes& stream, uint8_t* out, size_t capacity)> Decoder;

size_t OursDecode(const Bytes& stream, uint8_t* out, size_t capacity) {
    MemoryInput input;
    input.data = stream.data();
    input.size = u32(stream.size());
    InflateSource source = MemoryInflateSource(input);
    MemorySink sink(out, u32(capacity));
    if (InflateStream(source, sink) != InflateOk) return SIZE_MAX;
    return capacity - sink.Room();
}

size_t ZlibDecode(z_stream& z, const Bytes& stream, uint8_t* out, size_t capacity) {
    inflateReset(&z);
    z.next_in = const_cast<Bytes::value_type*>(stream.data());
    z.avail_in = uInt(stream.size());
    z.next_out = out;
    z.avail_out = uInt(capacity);
    if (inflate(&z, Z_FINISH) != Z_STREAM_END) return SIZE_MAX;
    return capacity - z.avail_out;
}

size_t LibdeflateDecode(libdeflate_decompressor* d, const Bytes& stream, uint8_t* out, size_t capacity) {
    size_t produced = 0;
    if (libdeflate_deflate_decompress(d, stream.data(), stream.size(), out, capacity, &produced) != LIBDEFLATE_SUCCESS)
        return SIZE_MAX;
    return produced;
}

// One pass over the corpus; the first pass also checks every byte.
double DecodePass(const Decoder& decode, const std::vector<Bytes>& streams, const std::vector<Bytes>& files,
                  Bytes& buffer, bool verify, const char* name) {
    auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < streams.size(); ++i) {
        size_t produced = decode(streams[i], buffer.data(), files[i].size());
        if (verify && (produced != files[i].size() || memcmp(buffer.data(), files[i].data(), produced) != 0)) {
            fprintf(stderr, "%s decoded file %zu wrongly\n", name, i);
            exit(1);
        }
    }
    return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    bool decodeOnly = false;
    const char* tag = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--probe") return 0;
        if (arg == "--decode-only") {
            decodeOnly = true;
        } else if (arg == "--corpus-mb" && i + 1 < argc) {
            CorpusTarget = size_t(atoi(argv[++i])) * 1000 * 1000;
        } else if (arg == "--tag" && i + 1 < argc) {
            tag = argv[++i];
        } else {
            fprintf(stderr, "usage: %s [--decode-only] [--corpus-mb N] [--tag TAG] [--probe]\n", argv[0]);
            return 2;
        }
    }
    const char* countFile = getenv("KELVO_INSN_COUNTS");
    std::vector<Bytes> files = BuildCorpus();
    size_t inputBytes = 0, largest = 0;
    for (const Bytes& f : files) inputBytes += f.size(), largest = std::max(largest, f.size());

    libdeflate_compressor* ld6 = libdeflate_alloc_compressor(6);
    libdeflate_compressor* ld12 = libdeflate_alloc_compressor(12);
    auto ours = [](int level) { return [level](const Bytes& d) { return EncodeStream(d.data(), d.size(), level); }; };
    Codec codecs[] = {
        {"zlib 6", [](const Bytes& d) { return ZlibCompress(d, 6); }, {}, true},
        {"zlib 9", [](const Bytes& d) { return ZlibCompress(d, 9); }, {}, false},
        {"libdeflate 6", [&](const Bytes& d) { return LibdeflateCompress(ld6, d); }, {}, true},
        {"libdeflate 12", [&](const Bytes& d) { return LibdeflateCompress(ld12, d); }, {}, false},
        {"ours 6", ours(6), {}, true},
        {"ours 9", ours(9), {}, false},
        {"ours 12", ours(12), {}, false},
    };
    printf("(a) compressed sizes, each file on its own, of %zu bytes:\n", inputBytes);
    for (Codec& c : codecs)
        if (c.keep || !decodeOnly) CompressAll(c, files, inputBytes);
    bool sizeOk = true;
    if (!decodeOnly) {
        double sizeRatio = double(codecs[6].total) / double(codecs[3].total);
        sizeOk = sizeRatio <= 1.005 && sizeRatio >= 0.995;
        printf("size ours@12/libdeflate@12: %.4f (%s 0.5%%)\n", sizeRatio, sizeOk ? "within" : "NOT within");
    }
    libdeflate_free_compressor(ld6);
    libdeflate_free_compressor(ld12);

    z_stream z = {};
    inflateInit2(&z, -15);
    libdeflate_decompressor* ldd = libdeflate_alloc_decompressor();
    struct Contender {
        const char* name;
        Decoder decode;
        const std::vector<Bytes>* streams;
        double best;
        unsigned long long instructions;
    };
    Contender contenders[] = {
        {"ours (ours 6 streams)", OursDecode, &codecs[4].streams, 1e30, 0},
        {"zlib (zlib 6 streams)", [&](const Bytes& s, uint8_t* o, size_t c) { return ZlibDecode(z, s, o, c); },
         &codecs[0].streams, 1e30, 0},
        {"libdeflate (libdeflate 6 streams)",
         [&](const Bytes& s, uint8_t* o, size_t c) { return LibdeflateDecode(ldd, s, o, c); }, &codecs[2].streams,
         1e30, 0},
    };
    Bytes buffer(largest + 1);
    // Runs alternate between the decoders so that a slow moment of the
    // machine does not land on one decoder only.
    for (int run = 0; run < DecodeRuns; ++run)
        for (Contender& c : contenders)
            c.best = std::min(c.best, DecodePass(c.decode, *c.streams, files, buffer, run == 0, c.name));
    printf("(b) decoding the same %zu bytes, best of %d runs:\n", inputBytes, DecodeRuns);
    for (const Contender& c : contenders) printf("  %-34s %8.1f MB/s\n", c.name, inputBytes / c.best / 1e6);
    if (countFile != nullptr) {
        for (Contender& c : contenders) {
            unsigned long long before = InstructionsSoFar(countFile);
            DecodePass(c.decode, *c.streams, files, buffer, false, c.name);
            c.instructions = InstructionsSoFar(countFile) - before;
        }
        printf("(c) guest instructions to decode the same %zu bytes once:\n", inputBytes);
        for (const Contender& c : contenders)
            printf("  %-34s %14llu  (%.2f per byte)\n", c.name, c.instructions, double(c.instructions) / inputBytes);
    }
    inflateEnd(&z);
    libdeflate_free_decompressor(ldd);
    double vsLibdeflate = contenders[2].best / contenders[0].best, vsZlib = contenders[1].best / contenders[0].best;
    std::string prefix = tag != nullptr ? std::string("inflate ") + tag : std::string("inflate");
    if (tag == nullptr) {
        printf("inflate ours/libdeflate: %.2f\n", vsLibdeflate);
        printf("inflate ours/zlib: %.2f\n", vsZlib);
    } else {
        printf("%s ours/libdeflate: %.2f  ours/zlib: %.2f\n", prefix.c_str(), vsLibdeflate, vsZlib);
    }
    if (countFile != nullptr)
        printf("%s instructions ours/libdeflate: %.2f  ours/zlib: %.2f\n", prefix.c_str(),
               double(contenders[2].instructions) / contenders[0].instructions,
               double(contenders[1].instructions) / contenders[0].instructions);
    return sizeOk ? 0 : 1;
}
