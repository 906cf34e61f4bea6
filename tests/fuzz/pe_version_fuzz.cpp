// Fuzz target: kelvo's reader of a PE image's version resource, which a
// version or language rule takes from a source file. Any read outside the
// image shows up under AddressSanitizer; a damaged image must give "no
// version", never an exception.
#include <stddef.h>
#include <stdint.h>

#include "builder/pe_version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes image(data, data + size);
    std::optional<VersionBlock> version = ReadPeVersion(image);
    if (version) (void)(version->versionHigh ^ version->versionLow ^ version->language);
    return 0;
}
