// The data kelvo writes behind its own uninstall program
// (kelvo-uninstall.exe): the program's texts as one record, the registry
// values and profile entries of its set as another, then the closing header
// that setup replaces with the uninstall log.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "builder/record_writer.h"

// The texts' names, in the order of UninstallText (archive/uninstall_texts.h).
const std::vector<std::string>& UninstallTextNames();
// The built-in English texts (resources/uninstall_texts.inc), by name.
std::map<std::string, std::string> DefaultUninstallTexts();
struct ProjectSet;

// The settings record's body for `set`: its destination records, registry
// values and INI entries (archive/uninstall_settings.h).
Bytes UninstallSettings(const ProjectSet& set);

// The texts record with `texts` (names not given are empty), the settings
// record with `settings` and the closing header.
Bytes UninstallerData(const std::map<std::string, std::string>& texts, const Bytes& settings);
