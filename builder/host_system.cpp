#include "builder/host_system.h"

#include <cctype>

bool IsAbsoluteProjectPath(const std::string& path) {
    if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return true;
    return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
           (path[2] == '/' || path[2] == '\\');
}
