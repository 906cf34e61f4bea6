// What ties a project's entries and sets together once every set is read:
// the bases of delta entries, and the uninstall program behind the sets'
// uninstallers.
#include <algorithm>
#include <cctype>
#include <optional>
#include <set>

#include "builder/code_pages.h"
#include "builder/project_reader.h"
#include "builder/uninstaller_data.h"
#include "builder/whole_file.h"

namespace {

// A base must decode on its own: a packed file of its own, not a delta.
bool CanBeDeltaBase(const ProjectEntry& entry) {
    bool explicitDelta = entry.deltaRequest && !entry.deltaRequest->automatic;
    return !entry.sourcePath.empty() && !entry.deltaBase && !explicitDelta &&
           (entry.fields.entryKind == KeptFile || entry.fields.entryKind == RemovedFile) &&
           !(entry.fields.entryFlags & (UninstallerEntry | CopiedFromSetupFolder));
}

EntryPlace ExplicitBase(const Project& project, const DeltaRequest& request, EntryPlace self) {
    if (request.set >= project.sets.size())
        throw ProjectError(request.where + ": set " + std::to_string(request.set) + " does not exist");
    const std::vector<ProjectEntry>& entries = project.sets[request.set].entries;
    for (uint32_t i = 0; i < entries.size(); i++) {
        std::string name = entries[i].fields.strings[EntryFileName];
        if (entries[i].fields.entryKind == FolderEntry) name.pop_back();  // its closing backslash
        if (!SameName(name, request.file, project.codePage)) continue;
        if (request.set == self.set && i == self.index) throw ProjectError(request.where + ": a file cannot be its own base");
        if (!CanBeDeltaBase(entries[i]))
            throw ProjectError(request.where + ": \"" + request.file + "\" of set " + std::to_string(request.set) +
                               " is no packed file of its own (a folder, a file beside the setup, the uninstaller or a delta)");
        return {request.set, i};
    }
    throw ProjectError(request.where + ": set " + std::to_string(request.set) + " has no file \"" + request.file + "\"");
}

// The first file of an earlier set with the same name and folder that can be a base.
std::optional<EntryPlace> AutomaticBase(const Project& project, const ProjectEntry& entry, uint32_t set) {
    for (uint32_t s = 0; s < set; s++) {
        const std::vector<ProjectEntry>& entries = project.sets[s].entries;
        for (uint32_t i = 0; i < entries.size(); i++) {
            const FileEntryFields& other = entries[i].fields;
            if (SameName(other.strings[EntryFileName], entry.fields.strings[EntryFileName], project.codePage) &&
                other.destinationFolder == entry.fields.destinationFolder && CanBeDeltaBase(entries[i]))
                return EntryPlace{s, i};
        }
    }
    return std::nullopt;
}

}  // namespace

void ResolveDeltaBases(Project& project) {
    std::set<std::pair<uint32_t, uint32_t>> bases;
    for (uint32_t s = 0; s < project.sets.size(); s++) {
        for (uint32_t i = 0; i < project.sets[s].entries.size(); i++) {
            ProjectEntry& entry = project.sets[s].entries[i];
            if (!entry.deltaRequest || entry.deltaRequest->automatic) continue;
            EntryPlace base = ExplicitBase(project, *entry.deltaRequest, {s, i});
            entry.deltaBase = base;
            bases.insert({base.set, base.index});
        }
    }
    for (uint32_t s = 0; s < project.sets.size(); s++) {
        for (uint32_t i = 0; i < project.sets[s].entries.size(); i++) {
            ProjectEntry& entry = project.sets[s].entries[i];
            if (!entry.deltaRequest || !entry.deltaRequest->automatic || bases.count({s, i}) != 0) continue;
            entry.deltaBase = AutomaticBase(project, entry, s);
            entry.deltaWhenSmaller = true;
        }
    }
}

void UseBuiltInUninstaller(Project& project, const SetDefaults& defaults) {
    if (!project.prefixData.empty()) return;
    std::optional<std::vector<UninstallLanguageTexts>> texts;  // converted when the first uninstaller needs them
    for (ProjectSet& set : project.sets) {
        for (ProjectEntry& entry : set.entries) {
            if (!(entry.fields.entryFlags & UninstallerEntry)) continue;
            if (!texts) texts = EncodeUninstallTexts(defaults.uninstallTexts);
            entry.inlineContents = UninstallerData(project.codePage, *texts,
                                                   UninstallSettings(set, project.codePage));
            project.needsUninstallProgram = true;
        }
    }
}

void CheckUninstallerProgram(const TableReader& root, const Project& project) {
    if (project.prefixData.empty()) return;
    for (const ProjectSet& set : project.sets)
        for (const ProjectEntry& entry : set.entries)
            if (entry.fields.entryFlags & UninstallerEntry) return;
    const toml::table* table = root.SubTable("setup");
    SetupReader(root, *table).FailAt("uninstaller-program", "no set has an uninstaller (give [[set]] uninstaller = \"NAME.exe\")");
}

bool SameName(const std::string& a, const std::string& b, uint32_t codePage) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (IsLeadByte(codePage, x)) {
            // A double-byte character: both bytes as they are.
            if (x != y || i + 1 == a.size() || a[i + 1] != b[i + 1]) return false;
            i++;
            continue;
        }
        if (std::tolower(x) != std::tolower(y)) return false;
    }
    return true;
}

void UseUninstallProgram(Project& project, const std::string& programPath) {
    Bytes program;
    try {
        program = ReadWholeFile(programPath);
    } catch (const FileReadError&) {
        // reported below, as an empty program is
    }
    if (program.empty())
        throw ProjectError(project.path + ": the uninstallers need kelvo's uninstall program, and " + programPath +
                           " cannot be read (build kelvo-uninstall.exe, give --uninstaller PATH or [setup] uninstaller-program)");
    project.prefixData = std::move(program);
}
