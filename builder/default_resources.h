// What kelvo gives a project that brings none of its own: the dialog
// templates of resources/dialogs.rc, the texts of resources/texts.toml and
// the side picture resources/wizard.bmp. They are embedded in kelvo when it
// is built (the templates already compiled), so a build needs no source tree.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "builder/record_writer.h"

// One embedded file; `data` holds `size` bytes and a NUL after them.
struct EmbeddedFile {
    const unsigned char* data;
    size_t size;
};

// Defined by the source the build generates from resources/.
extern const EmbeddedFile EmbeddedDialogResources;  // resources/dialogs.rc compiled to a .res image
extern const EmbeddedFile EmbeddedTexts;            // resources/texts.toml
extern const EmbeddedFile EmbeddedWizardPicture;    // resources/wizard.bmp

// Templates 0..9.
const std::vector<Bytes>& DefaultDialogTemplates();
// The TOML text of the built-in texts.
std::string DefaultTextsSource();
Bytes DefaultWizardPicture();
