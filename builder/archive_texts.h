// The texts of a loaded setup as kelvo's inspection commands show them: in
// UTF-8, converted from the code page the archive names (its CodePage
// record), with each set's texts in further languages (LanguageTexts
// records) and the texts kelvo's uninstall program carries in its data.
//
// The setup program's loader passes over these records, so they are read
// here by a walk of their own over the archive's record headers. Like the
// loaded script, what they hold is program-wide: LoadedSetup reads it when
// it loads a setup and forgets it when it releases the setup.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/records.h"

// A set's string tables in one more language.
struct LanguageTextsView {
    uint16_t language = 0;
    uint16_t codePage = 0;
    std::array<bool, StringTableCount> present{};  // L != 0
    std::array<std::vector<std::string>, StringTableCount> tables;  // as the archive holds them
};

struct ArchiveTexts {
    uint32_t codePage = 0;  // 0: the archive names none; its texts are shown as their bytes are
    std::vector<LanguageTextsView> languages[MaxInstallSets];
    // Records that could not be read: "LanguageTexts record of set 1 is damaged".
    std::vector<std::string> faults;
};

extern ArchiveTexts archiveTexts;

// Reads the code page and language texts records of the archive at
// `archiveOffset` of the file at `path` into archiveTexts. The archive has
// been loaded, so its record headers are known to be whole.
void ReadArchiveTexts(const std::string& path, uint32_t archiveOffset);
void ForgetArchiveTexts();

// A text of the loaded archive in UTF-8.
std::string Shown(const std::string& text);
// A text of code page `codePage` in UTF-8.
std::string ShownIn(const std::string& text, uint32_t codePage);

// The texts of kelvo's uninstall program in an uninstaller's data.
struct UninstallerTextsView {
    bool found = false;     // the data holds a texts record
    uint32_t codePage = 0;  // its code page record; 0 when there is none
    std::vector<std::string> texts;  // in the order of UninstallText, as the data holds them
    struct Language {
        uint16_t language = 0;
        uint16_t codePage = 0;
        std::vector<std::string> texts;
    };
    std::vector<Language> languages;
};
// Reads the records at the start of an uninstaller's data; stops at the
// closing header or at the first record that leaves the data.
UninstallerTextsView UninstallerTextsOf(const std::vector<uint8_t>& data);

// "de" for 0x0407, else the id in hex.
std::string LanguageName(uint16_t language);
