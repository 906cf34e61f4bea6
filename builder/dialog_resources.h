// Dialog templates from a resource script. The script is compiled with the
// cross toolchain's windres into a .res file; its DIALOG resources with the
// numeric ids FirstTemplateDialogId .. +9 become templates 0..9, in the
// binary form the Windows dialog functions take (DIALOG or DIALOGEX).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "builder/record_writer.h"

const uint16_t FirstTemplateDialogId = 100;
// The compiler used unless KELVO_WINDRES names another: mingw-w64's
// cross compiler's on Linux, its own windres.exe on Windows.
#ifdef _WIN32
const char* const DefaultWindres = "windres";
#else
const char* const DefaultWindres = "i686-w64-mingw32-windres";
#endif

struct ResourceEntry {
    std::u16string typeName;  // empty when the type is a number
    uint16_t typeId = 0;
    std::u16string name;  // empty when the name is a number
    uint16_t nameId = 0;
    Bytes data;
};

// The resources of a .res file image; throws std::runtime_error when the
// image is damaged.
std::vector<ResourceEntry> ParseResourceFile(const Bytes& image);

// Templates 0..9 from the resources; throws std::runtime_error naming a
// missing or oversized DIALOG.
std::vector<Bytes> DialogTemplatesFromResources(const std::vector<ResourceEntry>& resources);

// Compiles `scriptPath` with windres and returns the .res image; throws
// std::runtime_error.
Bytes RunResourceCompiler(const std::string& scriptPath);

// Compiles `scriptPath` and returns its templates; throws std::runtime_error.
std::vector<Bytes> CompileDialogTemplates(const std::string& scriptPath);
