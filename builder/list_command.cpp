// `kelvo list`: the setup as readable tables.
#include <stdarg.h>
#include <stdio.h>

#include <algorithm>
#include <cstring>
#include <ostream>

#include "archive/file_data.h"
#include "archive/solid_data.h"
#include "archive/texts.h"
#include "builder/archive_texts.h"
#include "builder/code_pages.h"
#include "builder/entry_records.h"
#include "builder/setup_commands.h"
#include "builder/setup_reader.h"
#include "common/paths.h"

void ReportError(std::ostream& err, const std::string& message) { err << "kelvo: error: " << message << '\n'; }

namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string Ratio(uint64_t stored, uint64_t size) {
    if (size == 0) return "-";
    return Format("%.1f%%", 100.0 * static_cast<double>(stored) / static_cast<double>(size));
}

struct Totals {
    uint64_t files = 0, folders = 0, size = 0;
    uint64_t stored = 0, storedFilesSize = 0;  // the ratio covers stored files only
    void Add(const Totals& other) {
        files += other.files;
        folders += other.folders;
        size += other.size;
        stored += other.stored;
        storedFilesSize += other.storedFilesSize;
    }
};

std::string FlagNames(uint32_t flags, const std::pair<uint32_t, const char*>* names, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; i++)
        if (flags & names[i].first) text += std::string(text.empty() ? "" : ", ") + names[i].second;
    return text.empty() ? "" : " (" + text + ")";
}

std::string CodePageText(uint32_t codePage) {
    if (codePage == 0) return "none given (texts shown as their bytes are)";
    const CodePage* page = FindCodePage(codePage);
    return std::to_string(codePage) + (page != nullptr ? std::string(" (") + page->script + ")" : " (unknown to kelvo)");
}

std::string SetupFlagsText() {
    static const std::pair<uint32_t, const char*> names[] = {
        {FullScreenBackground, "full-screen background"},
        {RemoveEarlierInstallations, "removes earlier installations"}};
    return Hex32(setupScript.setupFlags) + FlagNames(setupScript.setupFlags, names, 2);
}

std::string PictureText(const LoadedBody& picture) {
    if (picture.data == nullptr) return "none";
    BitmapShape shape = BitmapShapeOf(picture);
    std::string text = std::to_string(picture.size) + " bytes";
    if (shape.known) text += Format(", %dx%d, %u bits per pixel", shape.width, shape.height, shape.bitsPerPixel);
    return text;
}

std::string FileDataText(const LoadedSetup& setup) {
    if (!setup.HasFileData()) return setup.Fault();
    uint64_t extent = FileDataExtent();
    std::string text = std::to_string(setupScript.fileDataLength) + " bytes in the setup file";
    if (extent <= setupScript.fileDataLength) return text;
    char firstVolume[PathCapacity];
    CopyPath(firstVolume, SourcePath, PathCapacity);
    SetVolumeExtension(firstVolume, 1);
    return text + ", " + std::to_string(extent - setupScript.fileDataLength) + " more in volumes from " +
           firstVolume;
}

// The SolidBlocks record: LZMA blocks, or DEFLATE streams of their own.
std::string PackingText() {
    if (!FileDataIsSolid()) return "a DEFLATE stream per file";
    u32 count = SolidBlockCount(), converted = 0;
    uint64_t packed = 0, unpacked = 0;
    for (u32 i = 0; i < count; i++) {
        SolidBlock block = SolidBlockAt(i);
        packed += block.packedSize;
        unpacked += block.unpackedSize;
        if (block.filter == X86BranchFilter) converted++;
    }
    return Format("LZMA, %s (%u with x86 branches converted), %llu bytes packed to %llu (%s); "
                  "dictionary %u KB, setup's window %u KB",
                  Counted(count, "block", "blocks").c_str(), converted, static_cast<unsigned long long>(unpacked),
                  static_cast<unsigned long long>(packed), Ratio(packed, unpacked).c_str(),
                  SolidDictionarySize() / 1024, (SolidWindowSize() + 1023) / 1024);
}

void PrintOverview(const LoadedSetup& setup, std::ostream& out) {
    out << setup.Path() << '\n';
    out << "  archive:           at offset " << setup.ArchiveOffset() << ", "
        << Counted(setupScript.setCount, "install set", "install sets") << '\n';
    out << "  file data:         " << FileDataText(setup) << '\n';
    out << "  setup flags:       " << SetupFlagsText() << '\n';
    out << "  code page:         " << CodePageText(archiveTexts.codePage) << '\n';
    for (const std::string& fault : archiveTexts.faults) out << "  texts:             " << fault << '\n';
    out << "  install pace:      "
        << (setupScript.batchMilliseconds != 0 ? "entries for " + std::to_string(setupScript.batchMilliseconds) + " ms a tick"
                                               : std::string("one entry a tick"))
        << '\n';
    out << "  packing:           " << PackingText() << '\n';
    out << "  rollback:          "
        << (setupScript.rollback != 0 ? "a cancelled or failed installation is taken back" : "off") << '\n';
    out << "  wizard picture:    " << PictureText(setupScript.wizardPicture) << '\n';
    out << "  background:        " << PictureText(setupScript.backgroundPicture) << '\n';
    if (setupScript.backgroundTitle.data != nullptr)
        out << "  background title:  " << Shown(reinterpret_cast<const char*>(setupScript.backgroundTitle.data)) << '\n';
    if (setupScript.dialogTemplates.data != nullptr)
        out << "  dialog templates:  " << TemplateOffsetsOf(setupScript.dialogTemplates).size() << " ("
            << setupScript.dialogTemplates.size << " bytes)\n";
    if (singlePageMode) out << "  fixed page:        page " << fixedPageNumber << " of set " << setupScript.fixedPageSet << '\n';
    if (setupScript.prefixData.data != nullptr)
        out << "  prefix data:       " << setupScript.prefixData.size << " bytes (ahead of the uninstaller)\n";
}

std::string SetFlagsText(uint32_t set) {
    static const std::pair<uint32_t, const char*> names[] = {
        {DestinationChangeable, "destination changeable"},
        {StoreDestinationInRegistry, "destination kept in the registry"},
        {StoreDestinationInIni, "destination kept in an INI file"}};
    uint32_t flags = InstallSetNumber(set, SetFlagsField) & 0xFFFF;
    return Format("0x%04X", flags) + FlagNames(flags, names, 3);
}

// The Registration record: what the system's list of programs shows.
void PrintRegistration(const LoadedBody& body, std::ostream& out) {
    if (body.data == nullptr) return;
    static const char* const names[RegistrationTextCount] = {"version", "publisher", "icon", "about", "help"};
    out << "  registration: " << ReadU32(body.data) << " KB";
    uint32_t flags = ReadU32(body.data + 4);
    if (flags & RegistrationNoModify) out << ", no modify";
    if (flags & RegistrationNoRepair) out << ", no repair";
    const char* text = reinterpret_cast<const char*>(body.data + RegistrationFixedSize);
    for (const char* name : names) {
        if (*text != '\0') out << ", " << name << " \"" << Shown(text) << '"';
        text += strlen(text) + 1;
    }
    out << '\n';
}

void PrintSetHeader(uint32_t set, std::ostream& out) {
    out << "\nSet " << set << ": " << Shown(InstallSetText(set, DisplayNameField)) << '\n';
    out << "  caption:      " << Shown(InstallSetText(set, CaptionField)) << '\n';
    out << "  destination:  " << Shown(InstallSetText(set, DefaultDestinationField)) << '\n';
    out << "  set flags:    " << SetFlagsText(set) << '\n';
    if (*InstallSetText(set, RegistryKeyField) != '\0')
        out << "  remembered:   " << RegistryRootName(InstallSetNumber(set, RegistryRootField)) << '\\'
            << Shown(InstallSetText(set, RegistryKeyField)) << ", value \"" << Shown(InstallSetText(set, RegistryValueField)) << "\"\n";
    if (*InstallSetText(set, IniFileField) != '\0')
        out << "  remembered:   " << Shown(InstallSetText(set, IniFileField)) << " [" << Shown(InstallSetText(set, IniSectionField))
            << "] " << Shown(InstallSetText(set, IniKeyField)) << '\n';
    PrintRegistration(setupScript.sets[set].registration, out);
    for (const LanguageTextsView& language : archiveTexts.languages[set]) {
        size_t tables = static_cast<size_t>(std::count(language.present.begin(), language.present.end(), true));
        const std::vector<std::string>& messages = language.tables[MessageTexts];
        out << "  language:     " << LanguageName(language.language) << ", code page " << language.codePage << ", "
            << Counted(tables, "text table", "text tables");
        if (!messages.empty()) out << ", title \"" << ShownIn(messages[SetupTitleText], language.codePage) << '"';
        out << '\n';
    }
}

std::string EntryNotes(const FileEntry& entry) {
    std::vector<std::string> notes;
    if (const VersionBlock* version = VersionOf(entry)) notes.push_back("version " + VersionText(*version));
    if (entry.afterSetupRole == LaunchedProgram) notes.push_back("run after setup");
    if (entry.afterSetupRole == OpenedDocument) notes.push_back("opened after setup");
    if (entry.registration == SelfRegistering) notes.push_back("self-registers");
    if (entry.registration == ScreenSaver) notes.push_back("screen saver");
    if (entry.sharedCount != 0) notes.push_back("shared");
    if (IsDeltaEntry(entry)) notes.push_back(Format("delta of set %u file %u", entry.baseSet, entry.baseIndex));
    if (*EntryString(&entry, EntryShortcutName) != '\0')
        notes.push_back("menu \"" + Shown(EntryString(&entry, EntryMenuFolders)) + "\\" +
                        Shown(EntryString(&entry, EntryShortcutName)) + "\"");
    if (*EntryString(&entry, EntryDesktopName) != '\0')
        notes.push_back("desktop \"" + Shown(EntryString(&entry, EntryDesktopName)) + "\"");
    std::string text;
    for (const std::string& note : notes) text += (text.empty() ? "  " : ", ") + note;
    return text;
}

const char* const FileTableHeader = "        size     stored   ratio  kind    flags   destination";

void PrintFile(const FileEntry& entry, std::ostream& out, Totals& totals) {
    bool stored = WhyNotStored(entry) == nullptr;
    std::string storedText = stored ? std::to_string(entry.storedSize) : "-";
    out << Format("  %10u %10s %7s  %-6s  %s  ", entry.size, storedText.c_str(),
                  stored ? Ratio(entry.storedSize, entry.size).c_str() : "-", EntryKindName(entry.entryKind),
                  EntryFlagLetters(entry.entryFlags).c_str())
        << DestinationName(entry) << EntryNotes(entry) << '\n';
    totals.files++;
    totals.size += entry.size;
    if (!stored) return;
    totals.stored += entry.storedSize;
    totals.storedFilesSize += entry.size;
}

void PrintFiles(uint32_t set, std::ostream& out, Totals& totals) {
    std::vector<const FileEntry*> entries = FileEntriesOf(set);
    std::vector<const FileEntry*> folders;
    out << FileTableHeader << '\n';
    for (const FileEntry* entry : entries) {
        if (entry->entryKind == FolderEntry)
            folders.push_back(entry);
        else
            PrintFile(*entry, out, totals);
    }
    totals.folders += folders.size();
    if (folders.empty()) return;
    out << "  folders (" << folders.size() << "):\n";
    for (const FileEntry* folder : folders) out << "    " << DestinationName(*folder) << '\n';
}

void PrintOtherEntries(uint32_t set, std::ostream& out) {
    const InstallSetSlot& slot = setupScript.sets[set];
    std::vector<IniEntryFields> ini = IniEntriesOf(slot.iniEntries);
    if (!ini.empty()) out << "  INI entries (" << ini.size() << "):\n";
    for (const IniEntryFields& e : ini)
        out << "    " << Shown(e.file) << " [" << Shown(e.section) << "] " << Shown(e.key) << "=" << Shown(e.value)
            << ((e.flags & 1) ? "  (only when not set yet)" : "") << '\n';
    std::vector<RegistryEntryFields> registry = RegistryEntriesOf(slot.registryEntries);
    if (!registry.empty()) out << "  registry entries (" << registry.size() << "):\n";
    for (const RegistryEntryFields& e : registry)
        out << "    " << RegistryRootName(e.root) << '\\' << Shown(e.key) << "  \"" << Shown(e.name) << "\" = \"" << Shown(e.data) << '"'
            << ((e.flags & 1) ? "  (keeps an existing value)" : "") << '\n';
    std::vector<FilePatchFields> patches = FilePatchesOf(slot.filePatches);
    if (!patches.empty()) out << "  file patches (" << patches.size() << "):\n";
    for (const FilePatchFields& p : patches) {
        std::string place = p.offset == 0xFFFFFFFF ? "where the pattern is found" : "at offset " + Hex32(p.offset);
        out << "    " << Shown(p.file) << " " << place << ": " << p.pattern.size() << "-byte pattern -> \"" << Shown(p.replacement)
            << "\"\n";
    }
}

std::string TotalsText(const Totals& t) {
    return Counted(t.files, "file", "files") + ", " + Counted(t.folders, "folder", "folders") + ", " +
           std::to_string(t.size) + " bytes, " + std::to_string(t.stored) + " stored (" +
           Ratio(t.stored, t.storedFilesSize) + ")";
}

}  // namespace

int ListSetup(const std::string& setupPath, std::ostream& out, std::ostream& err) {
    LoadedSetup setup(setupPath);
    if (!setup.IsLoaded()) {
        ReportError(err, setup.Problem());
        return CommandFailed;
    }
    PrintOverview(setup, out);
    Totals all;
    for (uint32_t set = 0; set < setupScript.setCount; set++) {
        Totals totals;
        PrintSetHeader(set, out);
        PrintFiles(set, out, totals);
        PrintOtherEntries(set, out);
        out << "  " << TotalsText(totals) << '\n';
        all.Add(totals);
    }
    out << "\ntotal: " << Counted(setupScript.setCount, "set", "sets") << ", " << TotalsText(all) << '\n' << EntryFlagLegend << '\n';
    return CommandSucceeded;
}
