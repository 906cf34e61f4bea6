// kelvo's built-in dialog templates, texts and side picture: what a project
// that brings none of its own gets, how its own texts, templates and picture
// replace them, and what `kelvo list` and `kelvo dump` show of them.
#include <doctest/doctest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "archive/archive_offset.h"
#include "archive/texts.h"
#include "builder/build_command.h"
#include "builder/command_line.h"
#include "builder/default_resources.h"
#include "builder/dialog_resources.h"
#include "builder/project.h"
#include "builder/setup_commands.h"
#include "tests/support/kelvo_commands.h"
#include "tests/support/native_files.h"

namespace fs = std::filesystem;

namespace {

const std::string Resources = std::string(KELVO_SOURCE_DIR) + "/resources";

// Styles and control classes of the templates.
const uint32_t WsPopup = 0x80000000, WsChild = 0x40000000, WsVisible = 0x10000000, WsDisabled = 0x08000000;
const uint32_t WsCaption = 0x00C00000, WsVscroll = 0x00200000, WsGroup = 0x00020000;
const uint32_t DsSetFont = 0x40, DsControl = 0x400;
const uint32_t EsMultiline = 0x4, EsReadOnly = 0x800;
const uint32_t ButtonTypeMask = 0xF, BsDefPushButton = 1, BsAutoCheckBox = 3, BsAutoRadioButton = 9;
const uint16_t ButtonClass = 0x80, EditClass = 0x81, StaticClass = 0x82, ListBoxClass = 0x83, ComboBoxClass = 0x85;
// A combo box's height in a template includes its drop-down list; closed it
// takes about this many dialog units.
const int ClosedComboHeight = 13;
// Pixels per dialog unit for 8-point MS Sans Serif at 96 dpi (6 x 13 base units).
const double PixelsPerUnitX = 1.5, PixelsPerUnitY = 1.625;

enum Template { WindowedFrame, FullScreenFrame, DestinationPage, InformationPage, ProgressPage, WelcomePage,
                FinishPage, FolderBrowser, RestartDialog, SetSelectionPage };

struct DialogItem {
    uint32_t style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    uint16_t id = 0;
    uint16_t classId = 0;  // 0 when the class is given by name
    bool Visible() const { return (style & WsVisible) != 0; }
    int ShownHeight() const { return classId == ComboBoxClass ? std::min(cy, ClosedComboHeight) : cy; }
};

struct Dialog {
    uint32_t style = 0;
    int cx = 0, cy = 0;
    uint16_t pointSize = 0;
    std::u16string face;
    std::vector<DialogItem> items;

    const DialogItem* Item(uint16_t id) const {
        for (const DialogItem& item : items)
            if (item.id == id) return &item;
        return nullptr;
    }
};

// Reads a DLGTEMPLATE and its items, failing the test on anything that runs
// past the end or is not the plain (not extended) form.
class TemplateReader {
public:
    explicit TemplateReader(const Bytes& bytes) : bytes(bytes) {}

    Dialog Read() {
        Dialog dialog;
        dialog.style = U32();
        U32();  // extended style
        uint16_t count = U16();
        U16();  // x
        U16();  // y
        dialog.cx = static_cast<int16_t>(U16());
        dialog.cy = static_cast<int16_t>(U16());
        NameOrOrdinal();  // menu
        NameOrOrdinal();  // class
        Text();           // caption
        if (dialog.style & DsSetFont) {
            dialog.pointSize = U16();
            dialog.face = Text();
        }
        for (uint16_t i = 0; i < count; i++) dialog.items.push_back(Item());
        return dialog;
    }

private:
    DialogItem Item() {
        at = (at + 3) & ~size_t(3);
        DialogItem item;
        item.style = U32();
        U32();  // extended style
        item.x = static_cast<int16_t>(U16());
        item.y = static_cast<int16_t>(U16());
        item.cx = static_cast<int16_t>(U16());
        item.cy = static_cast<int16_t>(U16());
        item.id = U16();
        item.classId = NameOrOrdinal();
        Text();                 // caption
        at += U16();            // creation data
        return item;
    }
    uint16_t U16() {
        REQUIRE(at + 2 <= bytes.size());
        uint16_t value = ReadU16(bytes.data() + at);
        at += 2;
        return value;
    }
    uint32_t U32() { return U16() | (static_cast<uint32_t>(U16()) << 16); }
    std::u16string Text() {
        std::u16string text;
        for (uint16_t c; (c = U16()) != 0;) text.push_back(static_cast<char16_t>(c));
        return text;
    }
    // The ordinal, or 0 for a name (or nothing).
    uint16_t NameOrOrdinal() {
        if (at + 2 <= bytes.size() && ReadU16(bytes.data() + at) == 0xFFFF) {
            at += 2;
            return U16();
        }
        Text();
        return 0;
    }

    const Bytes& bytes;
    size_t at = 0;
};

Dialog DefaultDialog(int number) { return TemplateReader(DefaultDialogTemplates().at(number)).Read(); }

bool Overlap(const DialogItem& a, const DialogItem& b) {
    return a.x < b.x + b.cx && b.x < a.x + a.cx && a.y < b.y + b.ShownHeight() && b.y < a.y + a.ShownHeight();
}

// A project of the given text with one file beside it, loaded.
Project LoadText(const Scratch& scratch, const std::string& text) {
    WriteText(scratch / "payload.txt", "payload");
    WriteText(scratch / "kelvo.toml", text);
    return LoadProject(scratch / "kelvo.toml");
}

const std::string PlainProject = "[setup]\ntitle = \"Tiny Tool\"\n[[set]]\n[[set.file]]\nsource = \"payload.txt\"\n";

const std::string& Text(const Project& project, uint32_t set, uint32_t table, uint32_t number) {
    static const std::string missing = "<missing>";
    const std::vector<std::string>& texts = project.sets.at(set).fields.tables.at(table);
    return number < texts.size() ? texts[number] : missing;
}

}  // namespace

TEST_CASE("the embedded resources are those of resources/, and the pictures come from their script") {
    CHECK(DefaultDialogTemplates() == CompileDialogTemplates(Resources + "/dialogs.rc"));
    Bytes texts = ReadBytes(Resources + "/texts.toml");
    CHECK(DefaultTextsSource() == std::string(texts.begin(), texts.end()));
    CHECK(DefaultWizardPicture() == ReadBytes(Resources + "/wizard.bmp"));

    Scratch scratch;
    std::string command = "python3 " KELVO_SOURCE_DIR "/scripts/make-default-art.py " + scratch.path.string();
    REQUIRE(std::system(command.c_str()) == 0);
    for (const char* name : {"setup.ico", "wizard.bmp"}) {
        INFO(name);
        CHECK(ReadBytes(scratch / name) == ReadBytes(Resources + "/" + name));
    }
}

TEST_CASE("every built-in template is a dialog with the controls the setup program uses") {
    struct Expected {
        Template number;
        std::vector<uint16_t> ids;
    };
    const std::vector<uint16_t> frameIds = {1006, 1011, 1012, 1007, 1, 2};
    const std::vector<Expected> cases = {
        {WindowedFrame, frameIds},
        {FullScreenFrame, frameIds},
        {DestinationPage, {1000, 1001, 1002, 1003, 1004, 1005, 1016, 1017, 1018, 1019}},
        {InformationPage, {1000}},
        {ProgressPage, {1000, 1001, 1002, 1003, 1008, 1009, 1010}},
        {WelcomePage, {1000, 1001, 1002, 1003}},
        {FinishPage, {1000, 1001, 1002, 1003, 1014, 1015}},
        {FolderBrowser, {101, 1009, 1091, 1, 2, 0x480, 0x460, 0x461, 0x470, 0x471, 0x440}},
        {RestartDialog, {1000, 1, 2}},
        {SetSelectionPage, {1000, 1001, 1021, 1022, 1023, 1024, 1025, 1026}},
    };
    REQUIRE(DefaultDialogTemplates().size() == DialogTemplateCount);
    const DialogItem pageArea = *DefaultDialog(WindowedFrame).Item(1006);
    for (const Expected& c : cases) {
        INFO("template " << c.number);
        Dialog dialog = DefaultDialog(c.number);
        CHECK(dialog.pointSize == 8);
        CHECK(dialog.face == u"MS Sans Serif");
        for (uint16_t id : c.ids) CHECK_MESSAGE(dialog.Item(id) != nullptr, "control " << id);
        std::set<uint16_t> ids;
        for (const DialogItem& item : dialog.items) CHECK_MESSAGE(ids.insert(item.id).second, "control " << item.id << " twice");

        bool popup = c.number == FolderBrowser || c.number == RestartDialog;
        bool frame = c.number == WindowedFrame || c.number == FullScreenFrame;
        CHECK((dialog.style & WsPopup) == (popup ? WsPopup : 0));
        CHECK((dialog.style & WsChild) == (popup ? 0 : WsChild));
        if (!popup) CHECK((dialog.style & WsVisible) != 0);  // created without being shown
        if (!popup && !frame) {
            // Pages: control parents that fill the frame's page area exactly.
            CHECK((dialog.style & DsControl) != 0);
            CHECK(dialog.cx == pageArea.cx);
            CHECK(dialog.cy == pageArea.cy);
        }

        // What shows lies inside the dialog and overlaps nothing else.
        for (size_t i = 0; i < dialog.items.size(); i++) {
            const DialogItem& a = dialog.items[i];
            if (!a.Visible()) continue;
            INFO("control " << a.id);
            CHECK(a.x >= 0);
            CHECK(a.y >= 0);
            CHECK(a.x + a.cx <= dialog.cx);
            CHECK(a.y + a.ShownHeight() <= dialog.cy);
            for (size_t j = i + 1; j < dialog.items.size(); j++)
                if (dialog.items[j].Visible()) CHECK_MESSAGE(!Overlap(a, dialog.items[j]), "and control " << dialog.items[j].id);
        }
    }
}

TEST_CASE("the built-in templates give each control the kind and state its page expects") {
    Dialog windowed = DefaultDialog(WindowedFrame), fullScreen = DefaultDialog(FullScreenFrame);
    CHECK((windowed.style & WsCaption) == 0);  // the main window has the caption
    CHECK((fullScreen.style & WsCaption) == WsCaption);
    for (const Dialog* frame : {&windowed, &fullScreen}) {
        for (uint16_t id : {1006, 1011, 1012}) {
            CHECK(frame->Item(id)->classId == StaticClass);
            CHECK_FALSE(frame->Item(id)->Visible());
        }
        CHECK((frame->Item(1)->style & ButtonTypeMask) == BsDefPushButton);
    }
    CHECK((DefaultDialog(RestartDialog).Item(1)->style & ButtonTypeMask) == BsDefPushButton);

    Dialog informationPage = DefaultDialog(InformationPage);
    const DialogItem& information = *informationPage.Item(1000);
    CHECK(information.classId == EditClass);
    CHECK((information.style & (EsMultiline | EsReadOnly | WsVscroll)) == (EsMultiline | EsReadOnly | WsVscroll));
    // String 2 of the information texts is a button caption, never a page text.
    CHECK(informationPage.Item(1001) == nullptr);

    CHECK(DefaultDialog(DestinationPage).Item(1004)->classId == EditClass);
    CHECK_FALSE(DefaultDialog(ProgressPage).Item(1009)->Visible());  // the page paints the bar over it

    Dialog finish = DefaultDialog(FinishPage);
    CHECK_FALSE(finish.Item(1014)->Visible());
    CHECK_FALSE(finish.Item(1015)->Visible());
    CHECK((finish.Item(1015)->style & ButtonTypeMask) == BsAutoCheckBox);

    Dialog selection = DefaultDialog(SetSelectionPage);
    for (uint16_t id = 1021; id <= 1026; id++) {
        INFO("radio button " << id);
        const DialogItem& radio = *selection.Item(id);
        CHECK((radio.style & ButtonTypeMask) == BsAutoRadioButton);
        CHECK((radio.style & (WsVisible | WsDisabled)) == WsDisabled);
        CHECK((radio.style & WsGroup) == (id == 1021 ? WsGroup : 0));
    }
    CHECK((selection.Item(1001)->style & WsGroup) != 0);  // ends the buttons' group

    Dialog browser = DefaultDialog(FolderBrowser);
    std::map<uint16_t, uint16_t> browserClasses = {{101, EditClass},        {0x480, EditClass},    {0x460, ListBoxClass},
                                                   {0x461, ListBoxClass},   {0x470, ComboBoxClass}, {0x471, ComboBoxClass},
                                                   {1091, StaticClass},     {1009, StaticClass}};
    for (const auto& [id, classId] : browserClasses) CHECK_MESSAGE(browser.Item(id)->classId == classId, "control " << id);
    for (uint16_t id : {101, 0x461, 0x471, 1091, 1009, 1, 2}) CHECK_MESSAGE(browser.Item(id)->Visible(), "control " << id);
    for (uint16_t id : {0x480, 0x460, 0x470}) CHECK_MESSAGE(!browser.Item(id)->Visible(), "control " << id);
}

TEST_CASE("the built-in side picture fills the frame's picture area and keeps off the system colours") {
    Bytes picture = DefaultWizardPicture();
    REQUIRE(picture.size() > 54);
    CHECK(picture[0] == 'B');
    CHECK(picture[1] == 'M');
    int32_t width = static_cast<int32_t>(ReadU32(&picture[18])), height = static_cast<int32_t>(ReadU32(&picture[22]));
    uint16_t bitsPerPixel = ReadU16(&picture[28]);
    const DialogItem area = *DefaultDialog(WindowedFrame).Item(1011);
    CHECK(width == static_cast<int>(area.cx * PixelsPerUnitX));
    CHECK(height == static_cast<int>(area.cy * PixelsPerUnitY));
    const DialogItem fullScreenArea = *DefaultDialog(FullScreenFrame).Item(1011);
    CHECK(fullScreenArea.cx == area.cx);
    CHECK(fullScreenArea.cy == area.cy);
    REQUIRE(bitsPerPixel == 8);
    CHECK(ReadU32(&picture[30]) == 0);  // uncompressed

    // A 256-colour display keeps entries 0-9 and 246-255 for its own colours.
    const size_t FirstFreeEntry = 10, LastFreeEntry = 245, ColourTable = 54, Entries = 256;
    size_t pixels = ColourTable + 4 * Entries;
    size_t stride = (static_cast<size_t>(width) + 3) & ~size_t(3);
    REQUIRE(picture.size() == pixels + stride * static_cast<size_t>(height));
    std::set<uint8_t> used;
    for (int32_t y = 0; y < height; y++)
        for (int32_t x = 0; x < width; x++) used.insert(picture[pixels + static_cast<size_t>(y) * stride + static_cast<size_t>(x)]);
    CHECK(*used.begin() >= FirstFreeEntry);
    CHECK(*used.rbegin() <= LastFreeEntry);
    CHECK(used.size() > 100);  // a gradient, not a flat colour
}

TEST_CASE("a project without templates, texts or picture gets the built-in ones") {
    Scratch scratch;
    Project project = LoadText(scratch, PlainProject);
    CHECK(project.dialogTemplates == DefaultDialogTemplates());
    CHECK(project.wizardPicture == DefaultWizardPicture());
    REQUIRE(project.sets.size() == 1);
    CHECK(project.sets[0].fields.caption == "Tiny Tool");  // the set's name

    // Each text the setup program looks up, by table and number. "%s" marks
    // the texts it formats with a path, "%d" those it formats with a number;
    // "" those that must stay empty, as their mere presence changes the wizard.
    struct Case {
        uint32_t table;
        std::vector<uint32_t> numbers;
        const char* holds;  // nullptr: any text but the empty one
    };
    const Case cases[] = {
        {WelcomeTexts, {0, 1, 2, 3}, nullptr},
        {InformationTexts, {0, 3}, nullptr},
        {InformationTexts, {1, 2}, ""},  // no information page; the usual Next caption
        {DestinationTexts, {0, 1, 2, 5, 6}, nullptr},
        {DestinationTexts, {7}, "%d"},
        {ConfirmationTexts, {0, 1, 3}, nullptr},
        {ConfirmationTexts, {2}, "%s"},
        {ProgressTexts, {0, 1, 2}, nullptr},
        {FinishTexts, {0, 1, 3, 5, 6, 7}, nullptr},
        {FinishTexts, {4}, "%s"},
        {FinishTexts, {2, 8}, ""},  // no text before a missing view button; no restart asked
        {MessageTexts, {0, 1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 13, 14, 15, 20, 23, 25, 27, 31}, nullptr},
        {MessageTexts, {9, 16, 17, 18, 19, 21, 22, 29, 30}, "%s"},
        {MessageTexts, {28}, "%d"},
        {MessageTexts, {10, 24, 26}, ""},
        {ButtonTexts, {0, 1, 2, 3, 4, 5, 6}, nullptr},
        {SetSelectionTexts, {0, 1, 2}, nullptr},
    };
    for (const Case& c : cases) {
        for (uint32_t number : c.numbers) {
            INFO("table " << c.table << " string " << number);
            const std::string& text = Text(project, 0, c.table, number);
            REQUIRE(text != "<missing>");
            if (c.holds == nullptr) CHECK_FALSE(text.empty());
            else if (*c.holds == '\0') CHECK(text.empty());
            else CHECK(text.find(c.holds) != std::string::npos);
        }
    }
    CHECK(Text(project, 0, MessageTexts, 0) == "Tiny Tool Setup");
    for (const std::vector<std::string>& table : project.sets[0].fields.tables)
        for (const std::string& text : table) CHECK_MESSAGE(text.find("{title}") == std::string::npos, text);
}

TEST_CASE("a project's texts replace the built-in ones string by string") {
    Scratch plainFolder, scratch;
    Project plain = LoadText(plainFolder, PlainProject);
    Project project = LoadText(scratch, R"(
[setup]
title = "Tiny Tool"
[setup.texts]
welcome = ["Hello"]
finish = { 5 = "&Read the notes", 8 = "restart" }
messages = { 31 = "Broken." }
buttons = ["", "Onward"]
[[set]]
name = "First"
[set.texts]
welcome = { 1 = "First's greeting" }
messages = ["First's title"]
information = ["About", "line one\nline two\r\nline three"]
[[set]]
name = "100% Tool"
caption = "&Everything"
)");
    struct Case {
        uint32_t set, table, number;
        std::string expected;
    };
    const Case cases[] = {
        {0, WelcomeTexts, 0, "Hello"},                      // [setup.texts] list
        {0, WelcomeTexts, 1, "First's greeting"},           // then the set's numbered text
        {1, WelcomeTexts, 1, "Welcome to the setup program of 100% Tool. It will install 100% Tool on your computer."},
        {1, WelcomeTexts, 2, Text(plain, 0, WelcomeTexts, 2)},  // built-in, past the list
        {0, FinishTexts, 5, "&Read the notes"},
        {0, FinishTexts, 8, "restart"},
        {1, FinishTexts, 6, "&Start 100% Tool now"},
        {1, FinishTexts, 4, "Setup could not install 100%% Tool.\n\n%s"},  // formatted: its "%" doubled
        {0, MessageTexts, 0, "First's title"},
        {1, MessageTexts, 0, "100% Tool Setup"},
        {0, MessageTexts, 31, "Broken."},
        {1, MessageTexts, 1, "Choose Folder"},
        {1, ButtonTexts, 0, ""},                            // "" is an empty text on purpose
        {1, ButtonTexts, 1, "Onward"},
        {1, ButtonTexts, 2, "Cancel"},
        {0, InformationTexts, 1, "line one\r\nline two\r\nline three"},
        {0, InformationTexts, 3, "Please read the following information before you continue."},
    };
    for (const Case& c : cases) {
        INFO("set " << c.set << " table " << c.table << " string " << c.number);
        CHECK(Text(project, c.set, c.table, c.number) == c.expected);
    }
    CHECK(project.sets[0].fields.caption == "First");
    CHECK(project.sets[1].fields.caption == "&Everything");

    Project unnamed = LoadText(scratch, "[[set]]\n");
    CHECK(Text(unnamed, 0, FinishTexts, 6) == "&Start the program now");
}

TEST_CASE("a project's own templates or picture replace the built-in ones, and an empty picture name leaves none") {
    Scratch scratch;
    WriteText(scratch / "side.bmp", "BM a picture");
    std::string dialogs;
    for (int id = 100; id <= 109; id++)
        dialogs += std::to_string(id) + " DIALOG 0, 0, 40, 20\nSTYLE 0x80C80080\nBEGIN\nEND\n";
    WriteText(scratch / "own.rc", dialogs);

    Project own = LoadText(scratch, "[setup]\nwizard-picture = \"side.bmp\"\ntemplates = \"own.rc\"\n[[set]]\n");
    CHECK(own.wizardPicture == ReadBytes(scratch / "side.bmp"));
    REQUIRE(own.dialogTemplates.size() == DialogTemplateCount);
    CHECK(own.dialogTemplates == CompileDialogTemplates(scratch / "own.rc"));
    CHECK(own.dialogTemplates != DefaultDialogTemplates());

    Project none = LoadText(scratch, "[setup]\nwizard-picture = \"\"\n[[set]]\n");
    CHECK(none.wizardPicture.empty());
    CHECK(none.dialogTemplates == DefaultDialogTemplates());
}

TEST_CASE("faults in texts, templates and pictures name their key") {
    Scratch scratch;
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"[setup]\ntemplates = \"\"\n[[set]]\n", ":2: setup.templates: names no file"},
        {"[setup]\nwizard-picture = \"none.bmp\"\n[[set]]\n", ":2: setup.wizard-picture: cannot read"},
        {"[[set]]\n[set.texts]\nwelcome = { first = \"a\" }\n", ":3: set[0].texts.welcome.first: a text's number must be 0 to 999"},
        {"[[set]]\n[set.texts]\nwelcome = { 1000 = \"a\" }\n", ":3: set[0].texts.welcome.1000: a text's number must be"},
        {"[setup.texts]\nmessages = { 3 = 4 }\n[[set]]\n", ":2: setup.texts.messages.3: must be a text"},
        {"[[set]]\n[set.texts]\nwelcome = [\"a\"]\n0 = [\"b\"]\n", ":3: set[0].texts.welcome: table 0 is given twice"},
    };
    for (const Case& c : cases) {
        INFO(c.text);
        std::string expected = scratch / ("kelvo.toml" + std::string(c.message));
        CHECK_THROWS_WITH_AS(LoadText(scratch, c.text), doctest::Contains(expected.c_str()), ProjectError);
    }
}

TEST_CASE("list and dump show the built-in templates, picture and texts of a setup") {
    Scratch scratch;
    WriteText(scratch / "payload.txt", "payload");
    WriteText(scratch / "kelvo.toml", PlainProject);
    std::string output = scratch / "setup.exe";
    REQUIRE(RunBuild({scratch / "kelvo.toml", "-o", output, "--stub", FakeStub(scratch.path)}) == 0);

    std::ostringstream listed, errors;
    REQUIRE(ListSetup(output, listed, errors) == CommandSucceeded);
    CHECK(listed.str().find("wizard picture:    " + std::to_string(DefaultWizardPicture().size()) +
                            " bytes, 126x260, 8 bits per pixel") != std::string::npos);
    CHECK(listed.str().find("dialog templates:  10 (") != std::string::npos);

    std::ostringstream dumped;
    REQUIRE(DumpSetup(output, dumped, errors) == CommandSucceeded);
    nlohmann::json json = nlohmann::json::parse(dumped.str());
    CHECK(json["wizardPicture"]["bitmap"]["width"] == 126);
    CHECK(json["wizardPicture"]["bitmap"]["height"] == 260);
    CHECK(json["dialogTemplates"]["count"] == DialogTemplateCount);
    const nlohmann::json& texts = json["sets"][0]["texts"];
    Project project = LoadText(scratch, PlainProject);
    for (uint32_t table = 0; table < StringTableCount; table++) {
        INFO("table " << table);
        const std::vector<std::string>& expected = project.sets[0].fields.tables[table];
        if (expected.empty()) CHECK(texts[table].is_null());
        else CHECK(texts[table].get<std::vector<std::string>>() == expected);
    }
}
