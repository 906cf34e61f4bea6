#include "builder/project_reader.h"

#include <algorithm>
#include <cstring>

#include "builder/host_system.h"
#include "builder/source_files.h"
#include "builder/whole_file.h"

std::string IndexedKey(const std::string& path, const char* key, size_t index) {
    return (path.empty() ? std::string(key) : path + "." + key) + "[" + std::to_string(index) + "]";
}

std::string ProjectPath(const ProjectFile& context, const std::string& relative) {
    std::string path = relative;
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.empty() || IsAbsoluteProjectPath(path) || context.folder.empty()) return path;
    return context.folder + "/" + path;
}

Bytes ReadProjectFile(const TableReader& reader, const char* key, const std::string& relative) {
    std::string path = ProjectPath(reader.Where(), relative);
    try {
        return reader.Where().files->Read(path);
    } catch (const FileReadError& e) {
        reader.FailAt(key, "cannot read " + path + ": " + strerror(e.error));
    }
}

Bytes ReadBitmap(const TableReader& reader, const char* key) {
    std::string relative = reader.String(key);
    Bytes image = ReadProjectFile(reader, key, relative);
    if (image.size() < 2 || image[0] != 'B' || image[1] != 'M') reader.FailAt(key, relative + " is not a .bmp file");
    return image;
}

std::string EncodeOrFail(const std::string& place, const std::string& utf8, uint32_t codePage, const std::string& note) {
    EncodeFault fault;
    std::optional<std::string> encoded = EncodeText(utf8, codePage, &fault);
    if (!encoded) throw ProjectError(place + ": " + fault.Describe(codePage) + (note.empty() ? "" : " " + note));
    return *encoded;
}

std::string InstalledName(const TableReader& reader, const char* key, std::string name, const std::string& note) {
    return reader.Encode(key, CheckedName(reader, key, std::move(name)), note);
}

std::string CheckedName(const TableReader& reader, const char* key, std::string name) {
    std::replace(name.begin(), name.end(), '/', '\\');
    std::string problem;
    if (name.empty()) problem = "must not be empty";
    else if (name.find_first_of(":*?\"<>|") != std::string::npos) problem = "must not hold any of : * ? \" < > |";
    for (size_t start = 0; problem.empty() && start <= name.size();) {
        size_t end = std::min(name.find('\\', start), name.size());
        std::string part = name.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") problem = "must be a relative path without empty, . or .. parts";
        start = end + 1;
    }
    if (!problem.empty()) reader.FailAt(key, "\"" + name + "\" " + problem);
    return name;
}
