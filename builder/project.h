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
//   wizard-picture = "side.bmp"        a .bmp shown beside the wizard's pages; without
//                                      it the built-in picture, with "" none
//   templates = "dialogs.rc"           DIALOG 100..109 become dialog templates 0..9;
//                                      without it the built-in templates
//   remove-earlier-installations = true
//   single-page = { page = 2, set = 0 }
//   [setup.texts]                      texts every set starts from (as [set.texts])
//   [setup.background]                 full-screen background window
//   picture, title, font, size (character height in pixels), bold, weight,
//   italic, shadow-colour, text-colour ("#RRGGBB")
//
//   [[set]]                            one to six install sets
//   name, caption (the set's label on the set selection page; default: its
//   name), destination (path macros such as #Program Files# are kept as
//   written), destination-changeable (default true),
//   destination-registry = { root = "HKLM", key, value },
//   destination-ini = { file, section, key }
//   [set.texts]  welcome | information | destination | confirmation | progress
//                | finish | messages | buttons | selection | 0..10 =
//                ["...", ...] (strings 0, 1, ...) or { 31 = "...", ... }
//   [[set.file]]     source (path or glob), name | folder, destination
//                    (set/windows/system/fonts), uninstall (remove/keep), shared,
//                    role (open/run), register (screensaver/self),
//                    shortcut = { folders, name, arguments, icon }: one
//                    shortcut per program-menu folder ("#Start Menu#" and
//                    "#Startup#" name those menus),
//                    desktop = { name, arguments }, version-rule,
//                    language-rule, keep-times
//   [[set.folder]]   name, destination
//   [[set.registry]] root, key, name, data, keep-existing
//   [[set.ini]]      file, section, key, value, only-if-missing
//   [[set.patch]]    file, offset | pattern (text or byte list), replacement
//
// Texts: every set starts from kelvo's built-in English texts
// (resources/texts.toml), in which "{title}" is the set's name. Each string
// that [setup.texts] gives replaces the built-in one with the same table and
// number, and each string that [set.texts] gives replaces that in turn; the
// strings not given keep what they had, and "" gives an empty text on
// purpose (an empty information text, for one, leaves out that page).
// A lone line feed in the information text is written as CR LF, the line
// break of the edit box that shows it.
//
// Files and folders enter a set's list in the order they are written.
#pragma once
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "builder/record_writer.h"

// A fault in the project: the message starts with "FILE:LINE: KEY: ".
class ProjectError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One entry of a set's file list. `fields` is complete except for the data
// fields (offset, sizes, check value), which the build fills in.
struct ProjectEntry {
    FileEntryFields fields;
    std::string sourcePath;  // the contents to pack; empty for a folder entry
};

struct ProjectSet {
    InstallSetFields fields;
    std::vector<ProjectEntry> entries;
    std::vector<IniEntryFields> iniEntries;
    std::vector<RegistryEntryFields> registryEntries;
    std::vector<FilePatchFields> filePatches;
};

struct Project {
    std::string path;
    uint32_t setupFlags = 0;
    Bytes wizardPicture;
    Bytes backgroundPicture;
    std::string backgroundTitle;
    Bytes backgroundStyle;               // the record body; empty without a background
    std::vector<Bytes> dialogTemplates;  // none, or DialogTemplateCount
    std::optional<FixedPageBody> fixedPage;
    std::vector<ProjectSet> sets;
};

// Reads and checks a project; throws ProjectError.
Project LoadProject(const std::string& path);

// The 60-byte LOGFONTA of the background title's font. `height` is the
// character height in pixels.
Bytes MakeLogFont(const std::string& faceName, int height, int weight, bool italic);
