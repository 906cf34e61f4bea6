// What kelvo gives a project that brings none of its own: the dialog
// templates of resources/dialogs.rc, the texts of resources/texts.toml and
// of resources/languages/*.toml, and the side picture resources/wizard.bmp. They are embedded in kelvo when it
// is built (the templates already compiled), so a build needs no source tree.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "builder/record_writer.h"

// One embedded file; `data` holds `size` bytes and a NUL after them.
struct EmbeddedFile {
    const unsigned char* data;
    size_t size;
};

// One language's texts: resources/languages/CODE.toml.
struct EmbeddedLanguageFile {
    const char* code;  // null in the entry that ends the list
    EmbeddedFile file;
};

// Defined by the source the build generates from resources/.
extern const EmbeddedFile EmbeddedDialogResources;  // resources/dialogs.rc compiled to a .res image
extern const EmbeddedFile EmbeddedTexts;            // resources/texts.toml
extern const EmbeddedFile EmbeddedWizardPicture;    // resources/wizard.bmp
extern const EmbeddedLanguageFile EmbeddedLanguageFiles[];

// Templates 0..9.
const std::vector<Bytes>& DefaultDialogTemplates();
// The TOML text of the built-in (English) texts.
std::string DefaultTextsSource();
// The TOML text of the built-in texts in language `code` (resources/languages),
// or nothing when kelvo has none.
std::optional<std::string> LanguageTextsSource(const std::string& code);
// The codes of the languages that have a file there, sorted.
std::vector<std::string> LanguageFileCodes();
Bytes DefaultWizardPicture();
