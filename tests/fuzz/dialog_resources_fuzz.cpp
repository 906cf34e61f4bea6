// Fuzz target: kelvo's reader of the .res image windres compiles a
// project's dialog templates to, and the choice of the templates from it.
// A damaged image is a std::runtime_error, which kelvo reports; anything
// else escapes and is a fault.
#include <stddef.h>
#include <stdint.h>

#include <stdexcept>

#include "builder/dialog_resources.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes image(data, data + size);
    try {
        std::vector<ResourceEntry> resources = ParseResourceFile(image);
        std::vector<Bytes> templates = DialogTemplatesFromResources(resources);
        for (const Bytes& t : templates) (void)(t.empty() ? 0 : t.front() ^ t.back());
    } catch (const std::runtime_error&) {
    }
    return 0;
}
