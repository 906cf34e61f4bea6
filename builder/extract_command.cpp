// `kelvo extract`: one set's files and folders, written under a folder.
#include <errno.h>
#include <string.h>

#include <ostream>

#include "builder/archive_texts.h"
#include "builder/entry_decode.h"
#include "builder/entry_records.h"
#include "builder/extract_paths.h"
#include "builder/progress.h"
#include "builder/setup_commands.h"
#include "builder/setup_reader.h"

namespace {

enum class Action { WriteFile, MakeFolder, Skip };

struct ExtractStep {
    uint32_t index;
    const FileEntry* entry;
    Action action;
    std::vector<std::string> place;  // components below the extraction folder
    std::string note;                // why the entry is skipped
};

struct ExtractPlan {
    std::vector<ExtractStep> steps;     // in archive order
    std::vector<std::string> refusals;  // entries with unsafe names
    uint64_t bytes = 0;
};

// The components of an entry's place: its folder kind, then its name. The
// name is taken in UTF-8 before it is split: in a double-byte code page
// the second byte of a character may be a backslash.
// Returns why the name is unsafe, or "".
std::string PlaceOf(const FileEntry& entry, std::vector<std::string>* place) {
    std::string name = Shown(EntryString(&entry, EntryFileName));
    bool folderWithSeparator = entry.entryKind == FolderEntry && name.size() > 1 &&
                               (name.back() == '\\' || name.back() == '/');
    if (folderWithSeparator) name.pop_back();  // "data\" names the folder "data"
    std::string reason = UnsafeNameReason(name);
    if (!reason.empty()) return reason;
    if (entry.destinationFolder > FontsFolder)
        return "an unknown destination folder " + std::to_string(entry.destinationFolder);
    place->clear();
    if (entry.destinationFolder != SetFolder) place->push_back(FolderLabel(entry.destinationFolder));
    for (const std::string& component : NameComponents(name)) place->push_back(component);
    return "";
}

ExtractStep PlanStep(uint32_t index, const FileEntry& entry) {
    ExtractStep step = {index, &entry, Action::Skip, {}, ""};
    const char* notStored = WhyNotStored(entry);
    if (entry.entryKind == FolderEntry)
        step.action = Action::MakeFolder;
    else if (notStored != nullptr)
        step.note = notStored;
    else
        step.action = Action::WriteFile;
    return step;
}

ExtractPlan PlanExtraction(uint32_t set) {
    ExtractPlan plan;
    std::vector<const FileEntry*> entries = FileEntriesOf(set);
    for (uint32_t i = 0; i < entries.size(); i++) {
        ExtractStep step = PlanStep(i, *entries[i]);
        if (step.action != Action::Skip) {
            std::string reason = PlaceOf(*entries[i], &step.place);
            if (!reason.empty())
                plan.refusals.push_back(EntryLabel(set, i, *entries[i]) + ": unsafe name \"" +
                                        Shown(EntryString(entries[i], EntryFileName)) + "\": " + reason);
        }
        if (step.action == Action::WriteFile) plan.bytes += entries[i]->size;
        plan.steps.push_back(step);
    }
    return plan;
}

void SetWriteTime(FileHandle file, const FileEntry& entry) {
    const FileTimes* times = TimesOf(entry);
    if (times != nullptr) SetLastWriteTime(file, (uint64_t(times->lastWrite[1]) << 32) | times->lastWrite[0]);
}

// The uninstaller is written as the prefix data followed by its own data;
// its size and check value cover its own data.
std::string WriteContents(FileHandle fd, const FileEntry& entry, StoredDataReader& reader, Progress& progress) {
    const LoadedBody& prefix = setupScript.prefixData;
    if ((entry.entryFlags & UninstallerEntry) && prefix.data != nullptr &&
        WriteToFile(fd, prefix.data, prefix.size) != WriteDone)
        return std::string("cannot write: ") + strerror(errno);
    CheckingSink sink(entry.size, &progress, fd);
    return IsDeltaEntry(entry) ? reader.DecodeDelta(entry, sink) : reader.Decode(entry, sink);
}

// Decodes into a temporary file beside the target and renames it into place
// only when its size and check value are right.
std::string WriteThroughTemporary(const PlacedFolder& folder, const std::string& leaf, const FileEntry& entry,
                                  StoredDataReader& reader, Progress& progress) {
    std::string temporary, fault;
    FileHandle file = folder.CreateTemporary(&temporary, &fault);
    if (file == NoFile) return fault;
    fault = WriteContents(file, entry, reader, progress);
    if (fault.empty()) SetWriteTime(file, entry);
    CloseFile(file);
    if (fault.empty()) fault = folder.MoveIntoPlace(temporary, leaf);
    if (!fault.empty()) folder.Remove(temporary);
    return fault;
}

std::string WriteFileStep(const ExtractionFolder& root, const ExtractStep& step, StoredDataReader& reader,
                          Progress& progress) {
    std::vector<std::string> parents(step.place.begin(), step.place.end() - 1);
    std::string fault;
    PlacedFolder folder;
    if (!root.OpenSubfolder(parents, &folder, &fault)) return fault;
    fault = folder.CheckTarget(step.place.back(), JoinComponents(step.place));
    if (fault.empty()) fault = WriteThroughTemporary(folder, step.place.back(), *step.entry, reader, progress);
    return fault;
}

struct ExtractCounts {
    uint64_t files = 0, folders = 0, bytes = 0, skipped = 0, failed = 0;
};

// What every step of one extraction works with.
struct ExtractRun {
    uint32_t set;
    const ExtractionFolder& root;
    StoredDataReader& reader;
    Progress& progress;
    std::ostream& out;
    std::ostream& err;
    ExtractCounts counts;
};

std::string CarryOut(const ExtractStep& step, ExtractRun& run) {
    std::string fault;
    if (step.action == Action::WriteFile) return WriteFileStep(run.root, step, run.reader, run.progress);
    PlacedFolder folder;
    run.root.OpenSubfolder(step.place, &folder, &fault);
    return fault;
}

void RunStep(const ExtractStep& step, ExtractRun& run) {
    std::string fault = step.action == Action::Skip ? "" : CarryOut(step, run);
    run.progress.Finish();  // clear the bar so the report's lines stay whole
    if (!fault.empty()) {
        ReportError(run.err, EntryLabel(run.set, step.index, *step.entry) + ": " + fault);
        run.counts.failed++;
    } else if (step.action == Action::Skip) {
        run.out << "skipped " << DestinationName(*step.entry) << ": " << step.note << '\n';
        run.counts.skipped++;
    } else if (step.action == Action::MakeFolder) {
        run.out << "made folder " << JoinComponents(step.place) << '\n';
        run.counts.folders++;
    } else {
        run.out << "wrote " << JoinComponents(step.place) << " (" << step.entry->size << " bytes)\n";
        run.counts.files++;
        run.counts.bytes += step.entry->size;
    }
}

bool CheckRequest(const LoadedSetup& setup, const ExtractOptions& options, std::ostream& err) {
    if (!setup.IsLoaded() || !setup.HasFileData()) {
        ReportError(err, setup.Problem());
        return false;
    }
    if (options.set >= setupScript.setCount) {
        ReportError(err, "set " + std::to_string(options.set) + " does not exist: " + setup.Path() + " has " +
                             Counted(setupScript.setCount, "install set", "install sets"));
        return false;
    }
    return true;
}

}  // namespace

int ExtractSetup(const ExtractOptions& options, std::ostream& out, std::ostream& err) {
    LoadedSetup setup(options.setupPath);
    if (!CheckRequest(setup, options, err)) return CommandFailed;
    ExtractPlan plan = PlanExtraction(options.set);
    if (!plan.refusals.empty()) {
        for (const std::string& refusal : plan.refusals) ReportError(err, refusal);
        ReportError(err, "refusing to extract " + SetLabel(options.set) + ": " +
                             Counted(plan.refusals.size(), "unsafe name", "unsafe names") + "; nothing was written");
        return CommandFailed;
    }
    ExtractionFolder root(options.directory);
    if (!root.IsOpen()) {
        ReportError(err, root.Problem());
        return CommandFailed;
    }
    StoredDataReader reader(FileDataExtent());
    Progress progress("extracting", plan.bytes);
    ExtractRun run = {options.set, root, reader, progress, out, err, {}};
    for (const ExtractStep& step : plan.steps) RunStep(step, run);
    progress.Finish();
    const ExtractCounts& counts = run.counts;
    out << "extracted " << Counted(counts.files, "file", "files") << " (" << counts.bytes << " bytes) and "
        << Counted(counts.folders, "folder", "folders") << " of " << SetLabel(options.set) << " into "
        << options.directory << "; skipped " << Counted(counts.skipped, "entry", "entries") << '\n';
    if (counts.failed == 0) return CommandSucceeded;
    ReportError(err, Counted(counts.failed, "entry", "entries") + " could not be extracted");
    return CommandFailed;
}
