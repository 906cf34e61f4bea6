// Conversion through iconv: glibc's converters, one per direction and
// thread.
#include <errno.h>
#include <iconv.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <utility>

#include "builder/code_pages_platform.h"

namespace {

// An iconv descriptor for one direction, opened once per thread.
class Converter {
public:
    Converter(const char* to, const char* from) : descriptor(iconv_open(to, from)) {
        if (descriptor == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(std::string("this system's iconv cannot convert from ") + from + " to " + to);
    }
    ~Converter() { iconv_close(descriptor); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Starts a new text: forgets any shift state of the last one.
    void Reset() { iconv(descriptor, nullptr, nullptr, nullptr, nullptr); }

    // Converts from *in on into `out`; returns 0 when all of it is
    // converted and flushed, else errno (EILSEQ, EINVAL) with *in at the
    // first byte not converted.
    int Convert(const char** in, size_t* left, std::string& out) {
        char buffer[256];
        for (;;) {
            char* to = buffer;
            size_t room = sizeof buffer;
            char* from = const_cast<char*>(*in);
            size_t result = *left != 0 ? iconv(descriptor, &from, left, &to, &room)
                                       : iconv(descriptor, nullptr, nullptr, &to, &room);
            int error = result == static_cast<size_t>(-1) ? errno : 0;
            *in = from;
            out.append(buffer, static_cast<size_t>(to - buffer));
            if (error == E2BIG) continue;
            if (error != 0) return error;
            if (*left == 0 && to == buffer) return 0;  // flushed, nothing pending
        }
    }

private:
    iconv_t descriptor;
};

Converter& ConverterFor(const char* to, const char* from) {
    thread_local std::map<std::pair<std::string, std::string>, std::unique_ptr<Converter>> converters;
    std::unique_ptr<Converter>& converter = converters[{to, from}];
    if (!converter) converter = std::make_unique<Converter>(to, from);
    converter->Reset();
    return *converter;
}

}  // namespace

bool EncodeInCodePage(const CodePage& page, const std::string& utf8, std::string* out, size_t* failedAt) {
    Converter& converter = ConverterFor(page.iconvName, "UTF-8");
    const char* in = utf8.data();
    size_t left = utf8.size();
    if (converter.Convert(&in, &left, *out) == 0) return true;
    *failedAt = static_cast<size_t>(in - utf8.data());
    return false;
}

std::string DecodeFromCodePage(const CodePage& page, const std::string& text) {
    Converter& converter = ConverterFor("UTF-8", page.iconvName);
    const char* in = text.data();
    size_t left = text.size();
    std::string out;
    while (converter.Convert(&in, &left, out) != 0) {
        out += "\xEF\xBF\xBD";  // U+FFFD for a byte the code page does not define
        // A lead byte that ends the text: glibc's converter for 949 takes it
        // in before it reports the character incomplete.
        if (left == 0) break;
        in++;
        left--;
        converter.Reset();
    }
    return out;
}
