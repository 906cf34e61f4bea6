// A set's files and folders ([[set.file]], [[set.folder]]) and its
// uninstaller entry.
#include <algorithm>

#include "archive/check_value.h"
#include "builder/host_system.h"
#include "builder/pe_version.h"
#include "builder/project_reader.h"
#include "builder/source_glob.h"
#include "builder/source_files.h"

namespace {

// The times of a file as FILETIMEs, all three its last write: its creation
// and last access on the build machine say nothing about the program, and
// a build reading its sources must not change the setup it writes next.
FileTimes SourceTimes(const TableReader& reader, const std::string& path) {
    uint64_t lastWrite = 0;
    if (!reader.Where().files->LastWriteTime(path, &lastWrite)) reader.FailAt("keep-times", "cannot read the times of " + path);
    FileTimes times;
    for (uint32_t* time : {times.creation, times.lastAccess, times.lastWrite}) {
        time[0] = static_cast<uint32_t>(lastWrite);
        time[1] = static_cast<uint32_t>(lastWrite >> 32);
    }
    return times;
}

void ReadShortcuts(const TableReader& file, FileEntryFields& fields, bool glob) {
    if (const toml::table* table = file.SubTable("shortcut")) {
        if (glob) file.FailAt("shortcut", "needs a single source, not a glob");
        TableReader reader(file.Where(), *table, file.KeyPath("shortcut"), {"folders", "name", "arguments", "icon"});
        std::string folders;
        if (const toml::node* node = reader.Find("folders")) {
            std::vector<std::string> parts = node->is_string() ? std::vector<std::string>{node->as_string()->get()}
                                                               : reader.Strings(*node, "folders");
            // One shortcut in each folder: the setup program reads them as a
            // ";" list ("#Start Menu#" and "#Startup#" name those menus).
            for (const std::string& part : parts) {
                if (part.find(';') != std::string::npos) reader.FailAt("folders", "a folder name cannot hold ';'");
                folders += (folders.empty() ? "" : ";") + part;
            }
        }
        fields.strings[EntryMenuFolders] = reader.Encode("folders", folders);
        fields.strings[EntryShortcutName] = reader.RequiredText("name");
        fields.strings[EntryShortcutArguments] = reader.Text("arguments");
        fields.iconIndex = static_cast<uint16_t>(reader.Integer("icon", 0, 0xFFFF, 0));
    }
    if (const toml::table* table = file.SubTable("desktop")) {
        if (glob) file.FailAt("desktop", "needs a single source, not a glob");
        TableReader reader(file.Where(), *table, file.KeyPath("desktop"), {"name", "arguments"});
        fields.strings[EntryDesktopName] = reader.RequiredText("name");
        fields.strings[EntryDesktopArguments] = reader.Text("arguments");
    }
}

// The fields every match of a [[set.file]] shares.
FileEntryFields CommonFileFields(const TableReader& file, bool glob) {
    FileEntryFields fields;
    fields.destinationFolder = file.Choice("destination", {"set", "windows", "system", "fonts"}, SetFolder);
    fields.entryKind = file.Choice("uninstall", {"keep", "remove"}, 1) == 0 ? KeptFile : RemovedFile;
    fields.sharedCount = file.Bool("shared") ? 1 : 0;
    fields.afterSetupRole = file.Choice("role", {"none", "open", "run"}, NoRole);
    fields.registration = file.Choice("register", {"none", "screensaver", "self"}, NoRegistration);
    if (file.Bool("version-rule")) fields.entryFlags |= VersionRule;
    if (file.Bool("language-rule")) fields.entryFlags |= LanguageRule;
    if (file.Bool("keep-times")) fields.entryFlags |= HasFileTimes;
    if (file.Bool("copy-from-setup-folder")) fields.entryFlags |= CopiedFromSetupFolder;
    if (file.Bool("stays-in-setup-folder")) fields.entryKind = SetupFolderFile;
    ReadShortcuts(file, fields, glob);
    return fields;
}

// A file the setup program takes from its own folder: copied from there, or
// used where it lies.
bool IsBesideSetup(const FileEntryFields& fields) {
    return (fields.entryFlags & CopiedFromSetupFolder) != 0 || fields.entryKind == SetupFolderFile;
}

// Version block, file times, and for a file that is not packed (it lies
// beside the setup) the size and check value the setup program compares.
void AddSourceDetails(const TableReader& file, ProjectEntry& entry) {
    FileEntryFields& fields = entry.fields;
    if (fields.entryFlags & HasVersionBlock) {
        fields.version = ReadPeVersion(*file.Where().files, entry.sourcePath);
        if (!fields.version)
            file.FailAt(file.Has("version-rule") ? "version-rule" : "language-rule",
                        entry.sourcePath + " has no version resource (VERSIONINFO) to compare with");
    }
    if (fields.entryFlags & HasFileTimes) fields.times = SourceTimes(file, entry.sourcePath);
    if (IsBesideSetup(fields)) {
        Bytes contents = file.Where().files->Read(entry.sourcePath);
        fields.size = static_cast<uint32_t>(contents.size());
        fields.checkValue = RotateAddCheck(contents.data(), fields.size, 0);
        entry.sourcePath.clear();  // nothing of it is packed
    }
}

// delta = "auto" | "none", or delta-base = { set = N, file = "name" }.
std::optional<DeltaRequest> ReadDeltaRequest(const TableReader& file, bool glob, bool automaticByDefault) {
    std::string where = file.Where().file + ":" + std::to_string(file.Table().source().begin.line) + ": ";
    if (const toml::table* table = file.SubTable("delta-base")) {
        if (glob) file.FailAt("delta-base", "needs a single source, not a glob");
        if (file.Has("delta")) file.FailAt("delta", "give either delta or delta-base");
        TableReader reader(file.Where(), *table, file.KeyPath("delta-base"), {"set", "file"});
        if (!reader.Has("set")) reader.FailAt("set", "is missing");
        DeltaRequest request;
        request.set = static_cast<uint32_t>(reader.Integer("set", 0, MaxInstallSets - 1, 0));
        request.file = reader.RequiredString("file");
        std::replace(request.file.begin(), request.file.end(), '/', '\\');
        request.file = reader.Encode("file", request.file);
        request.where = where + file.KeyPath("delta-base");
        return request;
    }
    bool automatic = file.Choice("delta", {"none", "auto"}, automaticByDefault ? 1 : 0) == 1;
    if (!automatic) return std::nullopt;
    DeltaRequest request;
    request.automatic = true;
    request.where = where + file.KeyPath("delta");
    return request;
}

// Keys that make no sense for a file beside the setup.
void CheckBesideSetupKeys(const TableReader& file) {
    bool copied = file.Bool("copy-from-setup-folder"), stays = file.Bool("stays-in-setup-folder");
    if (copied && stays) file.FailAt("stays-in-setup-folder", "give either copy-from-setup-folder or stays-in-setup-folder");
    if (!copied && !stays) return;
    const char* key = copied ? "copy-from-setup-folder" : "stays-in-setup-folder";
    for (const char* conflicting : {"keep-times", "delta", "delta-base"})
        if (file.Has(conflicting)) file.FailAt(conflicting, std::string("does not go with ") + key);
    if (stays)
        for (const char* conflicting : {"uninstall", "shared", "register", "destination", "version-rule", "language-rule", "shortcut"})
            if (file.Has(conflicting)) file.FailAt(conflicting, "does not go with stays-in-setup-folder: the file is not installed");
    if (!file.Has("source") && !file.Has("name")) file.FailAt(key, "needs a name (or a source to take it from)");
    if (!file.Has("source") && (file.Bool("version-rule") || file.Bool("language-rule")))
        file.FailAt("version-rule", "needs a source to read the version from");
}

// The entries one [[set.file]] table stands for: one file, or every match of a glob.
std::vector<ProjectEntry> ReadFileEntries(const TableReader& file, const SetDefaults& defaults) {
    CheckBesideSetupKeys(file);
    // UTF-8 until it is joined with each name; checked here so that a
    // character the code page lacks is blamed on the folder.
    std::string folder = file.Has("folder") ? CheckedName(file, "folder", file.String("folder")) + "\\" : "";
    file.Encode("folder", folder);
    if (!file.Has("source") && (file.Bool("copy-from-setup-folder") || file.Bool("stays-in-setup-folder"))) {
        // Nothing to measure at build time: the file is only there when setup runs.
        ProjectEntry entry;
        entry.fields = CommonFileFields(file, false);
        entry.fields.strings[EntryFileName] = InstalledName(file, "name", folder + file.String("name"));
        return {entry};
    }
    std::string source = file.RequiredString("source");
    std::replace(source.begin(), source.end(), '\\', '/');
    bool glob = HasWildcards(source);
    if (glob && file.Has("name")) file.FailAt("name", "a glob's files keep their own names; use folder to place them");
    FileEntryFields common = CommonFileFields(file, glob);
    std::optional<DeltaRequest> delta = ReadDeltaRequest(file, glob, defaults.automaticDelta && !IsBesideSetup(common));

    std::vector<GlobMatch> matches;
    if (glob) {
        matches = ExpandGlob(*file.Where().files, file.Where().folder, source);
        if (matches.empty()) file.FailAt("source", "no file matches \"" + source + "\"");
    } else {
        std::string path = ProjectPath(file.Where(), source);
        SourceKind kind = file.Where().files->KindOf(path);
        if (kind != SourceKind::File)
            file.FailAt("source", kind == SourceKind::Folder
                                      ? path + " is a folder; to take its files use a glob such as \"" + source + "/**\""
                                      : "no file " + path);
        matches.push_back({path, Utf8Path(HostPath(path).filename())});
    }
    std::vector<ProjectEntry> entries;
    for (const GlobMatch& match : matches) {
        ProjectEntry entry;
        entry.fields = common;
        entry.sourcePath = match.path;
        // A name from the file system (a glob's match, or the source's own
        // name) is blamed on source, and named in the message.
        bool ownName = !glob && file.Has("name");
        std::string name = ownName ? file.String("name") : match.relative;
        entry.fields.strings[EntryFileName] =
            InstalledName(file, ownName ? "name" : "source", folder + name, ownName ? "" : "(in the name \"" + name + "\")");
        entry.deltaRequest = delta;
        AddSourceDetails(file, entry);
        entries.push_back(std::move(entry));
    }
    return entries;
}

// The set's uninstall program, last in its list. Its own data is a closing
// record header: the setup program writes the uninstall log's first header
// over the file's last 8 bytes, and the program itself comes from
// [setup] uninstaller-program as PrefixData.
ProjectEntry MakeUninstallerEntry(const TableReader& set) {
    ProjectEntry entry;
    entry.fields.entryFlags = UninstallerEntry;
    entry.fields.entryKind = KeptFile;  // the uninstaller removes itself; the log never lists it
    entry.fields.strings[EntryFileName] = InstalledName(set, "uninstaller", set.String("uninstaller"));
    Bytes closing;
    PutU16(closing, FileDataRecord);
    closing.resize(sizeof(RecordHeader), 0);
    entry.inlineContents = closing;
    return entry;
}

ProjectEntry ReadFolderEntry(const TableReader& folder) {
    ProjectEntry entry;
    entry.fields.entryKind = FolderEntry;
    entry.fields.destinationFolder = folder.Choice("destination", {"set", "windows", "system", "fonts"}, SetFolder);
    // Setup makes the folders of a path up to its last backslash: the
    // backslash at the end makes it create the named folder itself. (A
    // checked name never ends in one; its last byte may still be 0x5C, the
    // second byte of a double-byte character.)
    entry.fields.strings[EntryFileName] = InstalledName(folder, "name", folder.RequiredString("name")) + "\\";
    return entry;
}

}  // namespace

void ReadEntries(const TableReader& set, ProjectSet& result, const SetDefaults& defaults) {
    struct Placed {
        toml::source_position at;
        std::vector<ProjectEntry> entries;
    };
    std::vector<Placed> placed;
    std::vector<const toml::table*> files = set.Tables("file");
    for (size_t i = 0; i < files.size(); i++) {
        TableReader file(set.Where(), *files[i], IndexedKey(set.Path(), "file", i),
                         {"source", "name", "folder", "destination", "uninstall", "shared", "role", "register",
                          "shortcut", "desktop", "version-rule", "language-rule", "keep-times",
                          "copy-from-setup-folder", "stays-in-setup-folder", "delta", "delta-base"});
        placed.push_back({files[i]->source().begin, ReadFileEntries(file, defaults)});
    }
    std::vector<const toml::table*> folders = set.Tables("folder");
    for (size_t i = 0; i < folders.size(); i++) {
        TableReader folder(set.Where(), *folders[i], IndexedKey(set.Path(), "folder", i), {"name", "destination"});
        placed.push_back({folders[i]->source().begin, {ReadFolderEntry(folder)}});
    }
    std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
        return a.at.line != b.at.line ? a.at.line < b.at.line : a.at.column < b.at.column;
    });
    for (Placed& p : placed)
        for (ProjectEntry& e : p.entries) result.entries.push_back(std::move(e));
    if (set.Has("uninstaller")) result.entries.push_back(MakeUninstallerEntry(set));
}
