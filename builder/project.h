// The project description `kelvo build` reads: a TOML file naming the
// setup's pictures, dialogs and install sets, and for each set its texts,
// files, folders, registry and INI entries and file patches. Loading it
// resolves everything the build needs except the packed file data: globs are
// expanded, pictures read, dialog templates compiled, version blocks and file
// times taken from the source files.
//
// A short reference (examples/demo/kelvo.toml uses every part):
//
//   [setup]
//   title = "..."                      default for each set's name and the background title
//   codepage = 1252                    the Windows ANSI code page every text and name is
//                                      written in (874, 1250-1258, 932, 936, 949, 950);
//                                      default: the first language's, else 1252
//   languages = ["en", "de"]           the languages of the setup's and the uninstall
//                                      program's texts (en, de, fr, es, it, nl, pl, ru, ja,
//                                      zh, as far as kelvo has texts for them); the first
//                                      fills each set's own tables in `codepage`, each
//                                      further one a LanguageTexts record in its own code
//                                      page (pl 1250, ru 1251, ja 932, zh 936, the others
//                                      1252); default ["en"]
//   wizard-picture = "side.bmp"        a .bmp shown beside the wizard's pages; without
//                                      it the built-in picture, with "" none
//   templates = "dialogs.rc"           DIALOG 100..109 become dialog templates 0..9;
//                                      without it the built-in templates
//   remove-earlier-installations = true
//   pace = "batch" | "classic"         batch (default, an extension record): each tick of the
//                                      progress page installs entries for about 25 ms;
//                                      classic: one entry a tick, as setups always did
//   rollback = true | false            true (default, an extension record): a cancelled or
//                                      failed installation is taken back (files it added
//                                      removed, files it replaced restored, folders it made
//                                      removed, counts, fonts, shortcuts and restart
//                                      replacements taken back) and the built-in messages
//                                      13 and 15 say so; false: stopped where it stopped
//   compression = "lzma" | "deflate" lzma (default, an extension record): file data packed with
//                                      LZMA in solid blocks; deflate: each file its own stream
//                                      of the archive's DEFLATE variant, as setups always did
//   solid = true | false               with lzma: many files to a block (default), or each
//                                      file alone
//   compression-level = N              lzma 1..9 (default 9; the dictionary grows with it),
//                                      deflate 0..12 (default 9); --level overrides it
//   privileges = "admin" | "user"      the execution level the setup and uninstall programs'
//                                      manifests ask for: requireAdministrator (default) or
//                                      asInvoker, for sets that install under the user's
//                                      profile and HKCU
//   single-page = { page = 2, set = 0 }
//   uninstaller-program = "uninst.bin"  the uninstall program, stored once as PrefixData
//                                      and written ahead of each set's uninstaller entry;
//                                      without it kelvo's own kelvo-uninstall.exe (kelvo
//                                      build --uninstaller PATH; default beside kelvo)
//   [setup.uninstall-texts]            texts of kelvo's uninstall program by name (caption,
//                                      confirm, keep-shared, removing, done, restart, no-log,
//                                      damaged-log), replacing the first language's built-in ones
//   [setup.uninstall-texts.CODE]       the same for language CODE of `languages`
//   delta = "auto"                     every file's default for its own delta key
//   [setup.texts]                      texts every set starts from (as [set.texts])
//   [setup.texts.CODE]                 the same for language CODE of `languages`
//   [setup.registration]               what the list of programs shows of every set with an
//                                      uninstaller (an extension record): version, publisher,
//                                      icon (path macros allowed), about-url, help-url,
//                                      no-modify and no-repair (both default true); kelvo
//                                      adds the set's size, setup the folder and the quiet
//                                      uninstall command. [set.registration] overrides it.
//   [setup.background]                 full-screen background window
//   picture, title, font, size (character height in pixels), bold, weight,
//   italic, shadow-colour, text-colour ("#RRGGBB")
//
//   [[set]]                            one to six install sets
//   name, caption (the set's label on the set selection page; default: its
//   name), destination (path macros such as #Program Files# are kept as
//   written), destination-changeable (default true),
//   destination-registry = { root = "HKLM", key, value },
//   destination-ini = { file, section, key },
//   [set.registration]                 as [setup.registration], for this set
//   uninstaller = "uninst.exe"         the set's uninstaller entry, last in its list,
//                                      installed under this name below the destination;
//                                      its own data is an 8-byte closing record header,
//                                      which the uninstall log's first header replaces;
//                                      with kelvo's own program its texts come first
//   [set.texts]  welcome | information | destination | confirmation | progress
//                | finish | messages | buttons | selection | 0..10 =
//                ["...", ...] (strings 0, 1, ...) or { 31 = "...", ... }
//   [set.texts.CODE]  the same for language CODE of `languages`
//   [[set.file]]     source (path or glob), name | folder, destination
//                    (set/windows/system/fonts), uninstall (remove/keep), shared,
//                    role (open/run), register (screensaver/self),
//                    shortcut = { folders, name, arguments, icon }: one
//                    shortcut per program-menu folder ("#Start Menu#" and
//                    "#Startup#" name those menus),
//                    desktop = { name, arguments }, version-rule,
//                    language-rule (both take the file's VERSIONINFO; a file
//                    without one is an error), keep-times (last write and
//                    creation from the file's mtime, last access from its atime),
//                    copy-from-setup-folder = true (nothing is packed: setup
//                    copies the file of that name from its own folder; source
//                    is optional and, when given, supplies the size and check
//                    value), stays-in-setup-folder = true (not installed: the
//                    file beside the setup serves its role and desktop shortcut),
//                    delta = "auto" (stored as a delta against the same-named
//                    file of an earlier set when that is smaller) or "none",
//                    delta-base = { set = N, file = "name" } (always stored as
//                    a delta against that file; with --disk-size the base must
//                    come earlier, in an earlier set or the same one)
//   [[set.folder]]   name, destination
//   [[set.registry]] root, key, name, data, keep-existing
//   [[set.ini]]      file, section, key, value, only-if-missing
//   [[set.patch]]    file, offset | pattern (text or byte list), replacement
//
//   [sign]           certificate (PKCS#12, or PEM with key), key, password-file |
//                    password-env, description, url, timestamp-url: signs the
//                    setup and its uninstallers (builder/code_signing.h)
//
// Texts: in each language, every set starts from kelvo's built-in English
// texts (resources/texts.toml) with the language's own built-in texts
// (resources/languages/CODE.toml) over them, in which "{title}" is the set's
// name. Each string that [setup.texts.CODE] gives replaces the built-in one
// with the same table and number, and each string that [set.texts.CODE]
// gives replaces that in turn; [setup.texts] and [set.texts] are the first
// language's, taken before its CODE tables. The strings not given keep what
// they had, and "" gives an empty text on purpose (an empty information
// text, for one, leaves out that page). A lone line feed in the information
// text is written as CR LF, the line break of the edit box that shows it.
//
// Code page: the project is UTF-8; kelvo writes every text and name the
// setup and uninstall programs read (set names, captions, destinations, file
// and folder names, also those a glob finds on disk, shortcuts, registry and
// INI entries, file patches, registration fields, the background title and
// font, all texts) in `codepage`, and a further language's texts in that
// language's code page. A character the code page lacks is an error
// "FILE:LINE: KEY: "é" (U+00E9) is not in code page 1250". Paths of files
// kelvo reads (sources, pictures, templates) stay as they are.
//
// Files and folders enter a set's list in the order they are written.
#pragma once
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "builder/code_signing.h"
#include "builder/record_writer.h"
#include "builder/source_files.h"

// A fault in the project: the message starts with "FILE:LINE: KEY: ".
class ProjectError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Where an entry lies: its set and its position in the set's file list.
struct EntryPlace {
    uint32_t set = 0;
    uint32_t index = 0;
};

// A file's wish to be stored as a delta, as the project writes it.
struct DeltaRequest {
    bool automatic = false;  // "auto": against a same-named file of an earlier set, when smaller
    uint32_t set = 0;        // delta-base's set and file name
    std::string file;
    std::string where;       // "FILE:LINE: KEY" for messages
};

// One entry of a set's file list. `fields` is complete except for the data
// fields (offset, sizes, check value) and the delta fields, which the build
// fills in.
struct ProjectEntry {
    FileEntryFields fields;
    std::string sourcePath;       // the contents to pack; empty when the entry stores none
    std::optional<Bytes> inlineContents;  // contents given in memory instead (the uninstaller's)
    std::optional<DeltaRequest> deltaRequest;
    // The entry the delta is taken against; with `deltaWhenSmaller` the build
    // stores the delta only when it is smaller than the plain contents.
    std::optional<EntryPlace> deltaBase;
    bool deltaWhenSmaller = false;
};

// A set's string tables in one more language than the project's first
// (a LanguageTexts record).
struct LanguageTextsFields {
    uint16_t language = 0;  // Windows language id
    uint16_t codePage = 0;  // the code page of its texts
    std::array<std::vector<std::string>, StringTableCount> tables;
};

struct ProjectSet {
    InstallSetFields fields;  // its texts and names in the project's code page
    std::vector<LanguageTextsFields> languageTexts;
    std::vector<ProjectEntry> entries;
    std::vector<IniEntryFields> iniEntries;
    std::vector<RegistryEntryFields> registryEntries;
    std::vector<FilePatchFields> filePatches;
    // Written for a set with an uninstaller; the build fills in the size.
    std::optional<RegistrationFields> registration;
};

enum class Codec { Deflate, Lzma };

// How the file data is packed.
struct Packing {
    Codec codec = Codec::Lzma;
    bool solid = true;       // with Lzma: many contents to a block
    int level = -1;          // -1: the codec's default
};

struct Project {
    std::string path;
    const SourceFiles* files = &Disk();  // where the entries' sourcePath are read
    uint32_t codePage = 1252;  // every text and name of the archive is written in it (a CodePage record)
    uint32_t setupFlags = 0;
    Bytes wizardPicture;
    Bytes backgroundPicture;
    std::string backgroundTitle;
    Bytes backgroundStyle;               // the record body; empty without a background
    Bytes prefixData;                    // the uninstaller program; empty: no PrefixData record
    bool needsUninstallProgram = false;  // uninstallers but no program: UseUninstallProgram supplies kelvo's
    std::vector<Bytes> dialogTemplates;  // none, or DialogTemplateCount
    std::optional<FixedPageBody> fixedPage;
    std::vector<ProjectSet> sets;
    SigningOptions signing;          // [sign]; no certificate: nothing is signed
    uint32_t uninstallLogPlace = 0;  // an UninstallLogPlace record's flags; 0: none
    bool rollback = true;            // a Rollback record: a stopped installation is taken back
    Packing packing;                 // [setup] compression, solid, compression-level
    bool userPrivileges = false;
    uint32_t batchMilliseconds = DefaultBatchMilliseconds;  // 0: [setup] pace = "classic"  // [setup] privileges = "user": the programs ask for no administrator
};

// Reads and checks the project at `path`, reading it and every file it names
// from `files`; throws ProjectError.
Project LoadProject(const std::string& path, const SourceFiles& files = Disk());

// File names compare without case, as Windows compares them: ASCII letters
// fold; the second byte of a double-byte character of `codePage` does not.
bool SameName(const std::string& a, const std::string& b, uint32_t codePage);

// Makes the program at `programPath` (kelvo-uninstall.exe) the PrefixData of
// a project whose uninstallers need it; throws ProjectError when it cannot
// be read.
void UseUninstallProgram(Project& project, const std::string& programPath);

// The 60-byte LOGFONTA of the background title's font. `height` is the
// character height in pixels; `charSet` the GDI character set of the code
// page its text is written in.
Bytes MakeLogFont(const std::string& faceName, int height, int weight, bool italic, uint8_t charSet);
