#include "builder/uninstall_texts.h"

#include <toml++/toml.h>

#include "archive/records.h"
#include "uninstall/uninstall_texts.h"

namespace {

// Compiled in, so kelvo needs no source tree to run.
const char defaultTexts[] =
#include "resources/uninstall_texts.inc"
    ;

void PutHeader(Bytes& out, uint16_t id, uint32_t length) {
    PutU16(out, id);
    PutU8(out, 0);
    PutU8(out, 0);
    PutU32(out, length);
}

}  // namespace

const std::vector<std::string>& UninstallTextNames() {
    static const std::vector<std::string> names = {"caption", "confirm", "keep-shared", "removing",
                                                   "done",    "restart", "no-log"};
    static_assert(UninstallTextCount == 7, "a name for every text");
    return names;
}

std::map<std::string, std::string> DefaultUninstallTexts() {
    toml::table table = toml::parse(defaultTexts);
    std::map<std::string, std::string> texts;
    for (const std::string& name : UninstallTextNames()) texts[name] = table[name].value_or(std::string());
    return texts;
}

Bytes UninstallerData(const std::map<std::string, std::string>& texts) {
    Bytes body;
    for (const std::string& name : UninstallTextNames()) {
        auto text = texts.find(name);
        if (text != texts.end()) body.insert(body.end(), text->second.begin(), text->second.end());
        PutU8(body, 0);
    }
    Bytes data;
    PutHeader(data, UninstallTextsRecord, static_cast<uint32_t>(body.size()));
    data.insert(data.end(), body.begin(), body.end());
    PutHeader(data, FileDataRecord, 0);  // setup writes the log's first header here
    return data;
}
