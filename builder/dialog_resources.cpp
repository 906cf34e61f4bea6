#include "builder/dialog_resources.h"

#include <stdlib.h>

#include <stdexcept>

#include "builder/host_system.h"
#include "builder/whole_file.h"

namespace {

const uint16_t DialogResourceType = 5;  // RT_DIALOG
const uint16_t OrdinalMarker = 0xFFFF;  // a type or name given as a number
// DataVersion, MemoryFlags, LanguageId, Version, Characteristics.
const size_t ResourceHeaderTail = 16;

size_t AlignTo4(size_t n) { return (n + 3) & ~size_t(3); }

struct ResReader {
    const Bytes& image;
    size_t end;

    uint16_t U16(size_t at) const {
        if (at + 2 > end) throw std::runtime_error("the .res file is damaged: a header runs past its end");
        return ReadU16(image.data() + at);
    }
    uint32_t U32(size_t at) const { return U16(at) | (static_cast<uint32_t>(U16(at + 2)) << 16); }

    // A type or name field: a number, or a NUL-terminated UTF-16 text.
    size_t NameOrId(size_t at, std::u16string& name, uint16_t& id) const {
        if (U16(at) == OrdinalMarker) {
            id = U16(at + 2);
            return at + 4;
        }
        for (uint16_t c; (c = U16(at)) != 0; at += 2) name.push_back(static_cast<char16_t>(c));
        return at + 2;
    }
};

}  // namespace

std::vector<ResourceEntry> ParseResourceFile(const Bytes& image) {
    ResReader reader{image, image.size()};
    std::vector<ResourceEntry> entries;
    for (size_t at = 0; at + 8 <= image.size();) {
        uint32_t dataSize = reader.U32(at);
        uint32_t headerSize = reader.U32(at + 4);
        if (headerSize < 8 || static_cast<uint64_t>(at) + headerSize + dataSize > image.size())
            throw std::runtime_error("the .res file is damaged: a resource runs past its end");
        ResReader header{image, at + headerSize};
        ResourceEntry entry;
        size_t next = header.NameOrId(at + 8, entry.typeName, entry.typeId);
        next = header.NameOrId(next, entry.name, entry.nameId);
        if (AlignTo4(next) + ResourceHeaderTail > at + headerSize)
            throw std::runtime_error("the .res file is damaged: a resource header is cut short");
        size_t data = at + headerSize;
        entry.data.assign(image.begin() + static_cast<long>(data), image.begin() + static_cast<long>(data + dataSize));
        if (!(entry.typeName.empty() && entry.typeId == 0 && dataSize == 0)) entries.push_back(std::move(entry));
        at = AlignTo4(data + dataSize);
    }
    return entries;
}

std::vector<Bytes> DialogTemplatesFromResources(const std::vector<ResourceEntry>& resources) {
    std::vector<Bytes> templates;
    for (uint16_t id = FirstTemplateDialogId; id < FirstTemplateDialogId + DialogTemplateCount; id++) {
        const ResourceEntry* found = nullptr;
        for (const ResourceEntry& r : resources) {
            bool isDialog = r.typeName.empty() && r.typeId == DialogResourceType;
            if (isDialog && r.name.empty() && r.nameId == id) {
                found = &r;
                break;  // the first language wins
            }
        }
        std::string which = "DIALOG " + std::to_string(id);
        if (found == nullptr)
            throw std::runtime_error("no " + which + " (the templates are DIALOG " +
                                     std::to_string(FirstTemplateDialogId) + " to " +
                                     std::to_string(FirstTemplateDialogId + DialogTemplateCount - 1) + ")");
        if (found->data.size() > TemplateBlockSize)
            throw std::runtime_error(which + " takes " + std::to_string(found->data.size()) +
                                     " bytes; a template may take " + std::to_string(TemplateBlockSize));
        templates.push_back(found->data);
    }
    return templates;
}

Bytes RunResourceCompiler(const std::string& scriptPath) {
    const char* custom = getenv("KELVO_WINDRES");
    std::string windres = custom != nullptr && *custom != '\0' ? custom : DefaultWindres;
    std::string folder = Utf8Path(HostPath(scriptPath).parent_path());
    TemporaryFile res("kelvo-res");
    int status = RunProgram({windres, "--input-format=rc", "--output-format=res", "--include-dir=" +
                             (folder.empty() ? std::string(".") : folder), "-i", scriptPath, "-o", res.path});
    if (status == -1 || status == 127) throw std::runtime_error("cannot run " + windres + " to compile " + scriptPath);
    if (status != 0)
        throw std::runtime_error(windres + " could not compile " + scriptPath + " (exit status " +
                                 std::to_string(status) + ")");
    return ReadWholeFile(res.path);
}

std::vector<Bytes> CompileDialogTemplates(const std::string& scriptPath) {
    return DialogTemplatesFromResources(ParseResourceFile(RunResourceCompiler(scriptPath)));
}
