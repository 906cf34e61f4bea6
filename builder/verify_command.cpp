// `kelvo verify`: decodes every stored entry of every set and checks it.
#include <algorithm>
#include <ostream>

#include "builder/entry_decode.h"
#include "builder/entry_records.h"
#include "builder/progress.h"
#include "builder/setup_commands.h"
#include "builder/setup_reader.h"

namespace {

struct EntryRef {
    uint32_t set;
    uint32_t index;
    const FileEntry* entry;
};

struct VerifyPlan {
    std::vector<EntryRef> decodable;  // in stream order, so volumes are read front to back
    std::vector<EntryRef> deltas;     // after them: each reads its base first
    uint64_t notStored = 0;
    uint64_t bytes = 0;
};

VerifyPlan PlanVerification() {
    VerifyPlan plan;
    for (uint32_t set = 0; set < setupScript.setCount; set++) {
        std::vector<const FileEntry*> entries = FileEntriesOf(set);
        for (uint32_t i = 0; i < entries.size(); i++) {
            EntryRef ref = {set, i, entries[i]};
            if (WhyNotStored(*ref.entry) != nullptr) {
                plan.notStored++;
            } else {
                (IsDeltaEntry(*ref.entry) ? plan.deltas : plan.decodable).push_back(ref);
                plan.bytes += ref.entry->size;
            }
        }
    }
    std::stable_sort(plan.decodable.begin(), plan.decodable.end(), [](const EntryRef& a, const EntryRef& b) {
        return a.entry->dataOffset < b.entry->dataOffset;
    });
    return plan;
}

void PrintParts(const StoredDataReader& reader, std::ostream& out) {
    out << "file data: " << reader.Available() << " bytes readable in ";
    const char* separator = "";
    for (const FileDataPart& part : reader.Parts()) {
        out << separator << part.path;
        separator = ", ";
        if (!part.present)
            out << " (missing)";
        else
            out << " (" << part.held << (part.held < part.length ? " of " + std::to_string(part.length) : "") << ")";
    }
    out << '\n';
}

struct Failure {
    EntryRef ref;
    std::string fault;
};

std::vector<Failure> DecodeAll(const VerifyPlan& plan, StoredDataReader& reader) {
    std::vector<Failure> failures;
    Progress progress("verifying", plan.bytes);
    for (const EntryRef& ref : plan.decodable) {
        CheckingSink sink(ref.entry->size, &progress);
        std::string fault = reader.Decode(*ref.entry, sink);
        if (!fault.empty()) failures.push_back({ref, fault});
    }
    for (const EntryRef& ref : plan.deltas) {
        CheckingSink sink(ref.entry->size, &progress);
        std::string fault = reader.DecodeDelta(*ref.entry, sink);
        if (!fault.empty()) failures.push_back({ref, fault});
    }
    std::sort(failures.begin(), failures.end(), [](const Failure& a, const Failure& b) {
        return a.ref.set != b.ref.set ? a.ref.set < b.ref.set : a.ref.index < b.ref.index;
    });
    return failures;
}

}  // namespace

int VerifySetup(const std::string& setupPath, std::ostream& out, std::ostream& err) {
    LoadedSetup setup(setupPath);
    if (!setup.IsLoaded() || !setup.HasFileData()) {
        ReportError(err, setup.Problem());
        return CommandFailed;
    }
    VerifyPlan plan = PlanVerification();
    StoredDataReader reader(FileDataExtent());
    PrintParts(reader, out);
    std::vector<Failure> failures = DecodeAll(plan, reader);
    for (const Failure& f : failures) ReportError(err, EntryLabel(f.ref.set, f.ref.index, *f.ref.entry) + ": " + f.fault);
    size_t checked = plan.decodable.size() + plan.deltas.size();
    out << "checked " << Counted(checked, "stored file", "stored files") << " (" << plan.bytes << " bytes, "
        << Counted(plan.deltas.size(), "delta entry", "delta entries") << ") in "
        << Counted(setupScript.setCount, "set", "sets") << "; skipped "
        << Counted(plan.notStored, "entry", "entries") << " without stored data\n";
    if (!failures.empty()) {
        ReportError(err, std::to_string(failures.size()) + " of " + Counted(checked, "stored file", "stored files") +
                             " failed verification");
        return CommandFailed;
    }
    out << "all stored files are intact\n";
    return CommandSucceeded;
}
