#include "builder/default_resources.h"

#include "builder/dialog_resources.h"

namespace {

Bytes BytesOf(const EmbeddedFile& file) { return Bytes(file.data, file.data + file.size); }

}  // namespace

const std::vector<Bytes>& DefaultDialogTemplates() {
    static const std::vector<Bytes> templates =
        DialogTemplatesFromResources(ParseResourceFile(BytesOf(EmbeddedDialogResources)));
    return templates;
}

std::string DefaultTextsSource() {
    return std::string(reinterpret_cast<const char*>(EmbeddedTexts.data), EmbeddedTexts.size);
}

Bytes DefaultWizardPicture() { return BytesOf(EmbeddedWizardPicture); }
