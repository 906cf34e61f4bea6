#include "builder/default_resources.h"

#include <algorithm>

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

std::optional<std::string> LanguageTextsSource(const std::string& code) {
    for (const EmbeddedLanguageFile* language = EmbeddedLanguageFiles; language->code != nullptr; language++)
        if (code == language->code)
            return std::string(reinterpret_cast<const char*>(language->file.data), language->file.size);
    return std::nullopt;
}

std::vector<std::string> LanguageFileCodes() {
    std::vector<std::string> codes;
    for (const EmbeddedLanguageFile* language = EmbeddedLanguageFiles; language->code != nullptr; language++)
        codes.push_back(language->code);
    std::sort(codes.begin(), codes.end());
    return codes;
}

Bytes DefaultWizardPicture() { return BytesOf(EmbeddedWizardPicture); }
