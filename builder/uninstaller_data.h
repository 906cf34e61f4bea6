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
struct UninstallLanguageTexts;

// The settings record's body for `set`: its destination records, registry
// values and INI entries (archive/uninstall_settings.h). Its names are in
// `codePage`.
Bytes UninstallSettings(const ProjectSet& set, uint32_t codePage);

// The code page record (`codePage`, that of the first language's texts),
// the texts record with the first language's texts, a language texts
// record for each further one (names not given are empty), the settings
// record with `settings` and the closing header.
Bytes UninstallerData(uint32_t codePage, const std::vector<UninstallLanguageTexts>& languages, const Bytes& settings);
