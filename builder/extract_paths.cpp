#include "builder/extract_paths.h"

#include <ctype.h>
#include <string.h>

#include <algorithm>

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::vector<std::string> SplitName(const std::string& name) {
    std::vector<std::string> components(1);
    for (char c : name) {
        if (IsSeparator(c))
            components.emplace_back();
        else
            components.back() += c;
    }
    return components;
}

// Windows opens a device, not a file, for these names, with any extension.
bool IsDeviceName(const std::string& component) {
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    std::transform(base.begin(), base.end(), base.begin(), [](unsigned char c) { return char(toupper(c)); });
    for (const char* device : devices)
        if (base == device) return true;
    bool numberedPort = base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0);
    return numberedPort && isdigit(static_cast<unsigned char>(base[3]));
}

bool HasForbiddenCharacter(const std::string& component) {
    for (unsigned char c : component)
        if (c < 0x20 || strchr("<>\"|?*", c) != nullptr) return true;
    return false;
}

std::string UnsafeComponentReason(const std::string& component) {
    if (component.empty()) return "an empty component";
    if (component == "." || component == "..") return "a '" + component + "' component";
    if (component.back() == '.' || component.back() == ' ') return "a component ending in a dot or space";
    if (HasForbiddenCharacter(component)) return "a character Windows does not allow in names";
    if (IsDeviceName(component)) return "the device name '" + component + "'";
    return "";
}

}  // namespace

std::string UnsafeNameReason(const std::string& name) {
    if (name.empty()) return "the name is empty";
    if (IsSeparator(name[0])) return "an absolute or network name";
    if (name.find(':') != std::string::npos) return "a drive letter or stream name (':')";
    for (const std::string& component : SplitName(name)) {
        std::string reason = UnsafeComponentReason(component);
        if (!reason.empty()) return reason;
    }
    return "";
}

std::vector<std::string> NameComponents(const std::string& name) { return SplitName(name); }

std::string JoinComponents(const std::vector<std::string>& components) {
    std::string path;
    for (const std::string& component : components) path += (path.empty() ? "" : "/") + component;
    return path;
}
