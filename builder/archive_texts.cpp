#include "builder/archive_texts.h"

#include <cstdio>

#include "archive/loader.h"
#include "archive/uninstall_texts.h"
#include "builder/code_pages.h"
#include "common/file.h"
#include "common/helpers.h"

ArchiveTexts archiveTexts;

namespace {

// NUL-terminated texts from `data`: `count` of them, or as many as there are
// when `count` is negative. False when one runs past the end.
bool TakeTexts(const uint8_t* data, size_t size, long count, std::vector<std::string>* texts, size_t* used) {
    size_t at = 0;
    for (long n = 0; count < 0 ? at < size : n < count; n++) {
        size_t end = at;
        while (end < size && data[end] != 0) end++;
        if (end == size) return false;
        texts->emplace_back(reinterpret_cast<const char*>(data + at), end - at);
        at = end + 1;
    }
    if (used != nullptr) *used = at;
    return true;
}

bool ParseLanguageTexts(const uint8_t* body, uint32_t size, LanguageTextsView* view) {
    if (size < LanguageTextsFixedSize) return false;
    view->language = ReadU16(body);
    view->codePage = ReadU16(body + 2);
    uint32_t at = LanguageTextsFixedSize;
    for (uint32_t t = 0; t < StringTableCount; t++) {
        if (size - at < 4) return false;
        uint32_t length = ReadU32(body + at);
        at += 4;
        if (length > size - at) return false;
        if (length != 0) {
            size_t used = 0;
            if (length < 2 || !TakeTexts(body + at + 2, length - 2, ReadU16(body + at), &view->tables[t], &used))
                return false;
            view->present[t] = true;
        }
        at += length;
    }
    return true;
}

}  // namespace

void ReadArchiveTexts(const std::string& path, uint32_t archiveOffset) {
    ForgetArchiveTexts();
    FileHandle file = OpenExistingFile(path.c_str(), OpenRead);
    if (file == NoFile) return;
    uint32_t sets = 0;
    if (SeekFile(file, static_cast<i32>(archiveOffset), SeekFromStart) == SeekFailed) {
        CloseFile(file);
        return;
    }
    for (;;) {
        RecordHeader header;
        if (!ReadExactly(file, &header, sizeof header) || header.id == FileDataRecord) break;
        uint32_t here = SeekFile(file, 0, SeekFromCurrent);
        if (header.id == InstallSetRecord) sets++;
        if (header.id == CodePageRecord || (header.id == LanguageTextsRecord && sets > 0 && sets <= MaxInstallSets)) {
            u8* body = nullptr;
            u32 size = 0;
            bool read = ReadRecordBody(file, header, &body, &size) == BodyRead;
            if (header.id == CodePageRecord && read && size >= 4) {
                archiveTexts.codePage = ReadU32(body);
            } else if (header.id == LanguageTextsRecord) {
                LanguageTextsView view;
                if (read && ParseLanguageTexts(body, size, &view))
                    archiveTexts.languages[sets - 1].push_back(std::move(view));
                else
                    archiveTexts.faults.push_back("the language texts record of set " + std::to_string(sets - 1) +
                                                  " is damaged");
            } else {
                archiveTexts.faults.push_back("the code page record is damaged");
            }
            if (body != nullptr) ReleaseBlock(&body);
        }
        if (here == SeekFailed || SeekFile(file, static_cast<i32>(here + header.length), SeekFromStart) == SeekFailed)
            break;
    }
    CloseFile(file);
}

void ForgetArchiveTexts() { archiveTexts = ArchiveTexts(); }

std::string Shown(const std::string& text) { return DecodeText(text, archiveTexts.codePage); }

std::string ShownIn(const std::string& text, uint32_t codePage) { return DecodeText(text, codePage); }

UninstallerTextsView UninstallerTextsOf(const std::vector<uint8_t>& data) {
    UninstallerTextsView view;
    size_t at = 0;
    while (data.size() - at >= sizeof(RecordHeader)) {
        uint16_t id = ReadU16(data.data() + at);
        uint32_t length = ReadU32(data.data() + at + 4);
        at += sizeof(RecordHeader);
        if (id == FileDataRecord || length > data.size() - at) break;
        const uint8_t* body = data.data() + at;
        if (id == UninstallCodePageRecord && length >= 4) view.codePage = ReadU32(body);
        if (id == UninstallTextsRecord) {
            view.texts.clear();
            view.found = TakeTexts(body, length, -1, &view.texts, nullptr);
        }
        if (id == UninstallLanguageTextsRecord && length >= 4) {
            UninstallerTextsView::Language language;
            language.language = ReadU16(body);
            language.codePage = ReadU16(body + 2);
            if (TakeTexts(body + 4, length - 4, -1, &language.texts, nullptr)) view.languages.push_back(language);
        }
        at += length;
    }
    return view;
}

std::string LanguageName(uint16_t language) {
    char hex[8];
    snprintf(hex, sizeof hex, "0x%04X", language);
    const Language* known = FindLanguage(language);
    return known != nullptr ? std::string(known->code) + " (" + hex + ")" : std::string(hex);
}
