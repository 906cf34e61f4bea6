// Runs kelvo's code page conversion (builder/code_pages.h) over every
// character of every code page it writes and prints a digest per group of
// cases, one line each; the Linux build (iconv) and the Windows build (the
// Windows code page functions, under Wine) must print the same lines
// (tests/code_pages/compare.sh). Groups:
//   PAGE encode HIGH   each code point HIGH*256 .. +255 alone, as UTF-8
//                      (HIGH 256: a few beyond the BMP), encoded
//   PAGE decode FIRST  the byte FIRST alone, then FIRST followed by every
//                      byte, decoded
// With "PAGE KIND NUMBER" as arguments it prints that group's cases, one a
// line, to find which differ.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "builder/code_pages.h"

namespace {

std::string Utf8(uint32_t c) {
    std::string s;
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (c >> 18));
        s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char two[3];
    for (unsigned char b : bytes) {
        snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

struct Group {
    const char* detailKind = nullptr;  // print each case when set
    uint64_t hash = 1469598103934665603ull;
    void Add(const std::string& input, const std::string& result) {
        std::string line = Hex(input) + " " + result;
        if (detailKind) printf("%s\n", line.c_str());
        for (unsigned char b : line + "\n") hash = (hash ^ b) * 1099511628211ull;
    }
};

void EncodeGroup(uint32_t page, uint32_t high, Group& group) {
    static const uint32_t beyond[] = {0x10000, 0x10FFFF, 0x1F600, 0x20000, 0x2A6D6, 0x2F800};
    auto one = [&](uint32_t c) {
        if (c >= 0xD800 && c <= 0xDFFF) return;
        std::string text = Utf8(c);
        EncodeFault fault;
        std::optional<std::string> bytes = EncodeText(text, page, &fault);
        group.Add(text, bytes ? Hex(*bytes) : "! " + fault.Describe(page));
    };
    if (high == 256) {
        for (uint32_t c : beyond) one(c);
    } else {
        for (uint32_t low = 0; low < 256; low++) one(high * 256 + low);
    }
}

void DecodeGroup(uint32_t page, uint32_t first, Group& group) {
    std::string alone(1, static_cast<char>(first));
    group.Add(alone, Hex(DecodeText(alone, page)));
    for (uint32_t second = 0; second < 256; second++) {
        std::string two = alone + static_cast<char>(second);
        group.Add(two, Hex(DecodeText(two, page)));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4) {
        Group group;
        group.detailKind = argv[2];
        uint32_t page = static_cast<uint32_t>(atoi(argv[1])), number = static_cast<uint32_t>(atoi(argv[3]));
        if (strcmp(argv[2], "encode") == 0) EncodeGroup(page, number, group);
        else DecodeGroup(page, number, group);
        return 0;
    }
    for (const CodePage& page : AllowedCodePages()) {
        for (uint32_t high = 0; high <= 256; high++) {
            Group group;
            EncodeGroup(page.number, high, group);
            printf("%u encode %u %016llx\n", page.number, high, static_cast<unsigned long long>(group.hash));
        }
        for (uint32_t first = 0; first < 256; first++) {
            Group group;
            DecodeGroup(page.number, first, group);
            printf("%u decode %u %016llx\n", page.number, first, static_cast<unsigned long long>(group.hash));
        }
    }
    return 0;
}
