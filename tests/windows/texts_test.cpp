// Message boxes and dialog templates of the setup program under Wine: the
// caption follows the current set, and templates are copied whole but never
// beyond one template block.
#include <windows.h>

#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "archive/script.h"
#include "archive/texts.h"
#include "common/display_text.h"
#include "common/helpers.h"
#include "common/window_texts.h"
#include "engine/messages.h"
#include "tests/support/dialogs.h"
#include "wizard/templates.h"

namespace {

void PutU32(std::vector<u8>& bytes, u32 at, u32 value) {
    for (int i = 0; i < 4; i++) bytes[at + i] = static_cast<u8>(value >> (8 * i));
}

// An InstallSet record whose table 6 holds the given texts.
std::vector<u8> SetWithMessages(const std::vector<std::string>& messages) {
    std::vector<u8> body(InstallSetFixedSize, 0);
    PutU32(body, StringTableFields + 4 * MessageTexts, static_cast<u32>(body.size()));
    body.push_back(static_cast<u8>(messages.size()));
    body.push_back(0);
    for (const std::string& text : messages) body.insert(body.end(), text.c_str(), text.c_str() + text.size() + 1);
    return body;
}

LoadedBody Keep(const std::vector<u8>& bytes) {
    LoadedBody body = {nullptr, static_cast<u32>(bytes.size())};
    REQUIRE(AllocateBlock(body.size, &body.data));
    memcpy(body.data, bytes.data(), bytes.size());
    return body;
}

struct SeenBox {
    std::string caption;
    std::wstring wideCaption;
};

// Answers the message box with No after noting its caption; runs on its own
// thread while the box is modal.
DWORD WINAPI AnswerMessageBox(void* seen) {
    HWND box = WaitForOwnDialog(DialogWaitLimit);
    if (box == nullptr) return 1;
    char text[256] = "";
    GetWindowTextA(box, text, sizeof text);
    static_cast<SeenBox*>(seen)->caption = text;
    WCHAR wide[256] = L"";
    GetWindowTextW(box, wide, 256);
    static_cast<SeenBox*>(seen)->wideCaption = wide;
    PostMessageA(box, WM_COMMAND, IDNO, 0);
    return 0;
}

i32 ShowAndAnswer(const char* text, SeenBox* seen) {
    HANDLE answerer = CreateThread(nullptr, 0, AnswerMessageBox, seen, 0, nullptr);
    i32 answer = ShowMessage(text, QuestionStyle);
    WaitForSingleObject(answerer, INFINITE);
    CloseHandle(answerer);
    return answer;
}

}  // namespace

TEST_CASE("a message box is captioned with the current set's title") {
    setupScript.sets[0].record = Keep(SetWithMessages({"Alpha Setup"}));
    setupScript.sets[1].record = Keep(SetWithMessages({"Beta Setup"}));
    setupScript.setCount = 2;
    SelectInstallSet(0);
    SeenBox seen;
    CHECK(ShowAndAnswer("Continue?", &seen) == IDNO);
    CHECK(seen.caption == "Alpha Setup");
    SelectInstallSet(1);
    CHECK(ShowAndAnswer("Continue?", &seen) == IDNO);
    CHECK(seen.caption == "Beta Setup");
    ReleaseSetupScript();
}

namespace {

// "Установка" and "Готово" in code page 1251, and as wide characters.
const char RussianTitle[] = "\xD3\xF1\xF2\xE0\xED\xEE\xE2\xEA\xE0";
const WCHAR WideRussianTitle[] = L"\x0423\x0441\x0442\x0430\x043D\x043E\x0432\x043A\x0430";
const char RussianDone[] = "\xC3\xEE\xF2\xEE\xE2\xEE";
const WCHAR WideRussianDone[] = L"\x0413\x043E\x0442\x043E\x0432\x043E";

std::wstring WideTextOfWindow(HWND window) {
    WCHAR text[256] = L"";
    GetWindowTextW(window, text, 256);
    return text;
}

}  // namespace

TEST_CASE("texts of another code page than the system's are shown through the wide calls") {
    REQUIRE(GetACP() != 1251);  // the Wine session runs a Western code page
    setupScript.sets[0].record = Keep(SetWithMessages({RussianTitle}));
    setupScript.setCount = 1;
    setupScript.codePage = 1251;
    SelectInstallSet(0);
    CHECK(displayCodePage == 1251);
    CHECK(ShowsWideTexts());

    SeenBox seen;
    CHECK(ShowAndAnswer(RussianDone, &seen) == IDNO);
    CHECK(seen.wideCaption == WideRussianTitle);

    // A window made for such texts is a Unicode window, and keeps them whole.
    HWND window = CreateShownWindow(0, "STATIC", RussianTitle, WS_POPUP, 0, 0, 100, 20, nullptr, nullptr);
    REQUIRE(window != nullptr);
    CHECK(IsWindowUnicode(window));
    CHECK(WideTextOfWindow(window) == WideRussianTitle);
    ShowWindowText(window, RussianDone);
    CHECK(WideTextOfWindow(window) == WideRussianDone);
    DestroyWindow(window);

    // A path, in the system's code page, goes into such a text converted.
    char shown[MessageCapacity];
    FormatTextWithPath(shown, "%s", "C:\\Temp");
    CHECK(std::string(shown) == "C:\\Temp");
    ReleaseSetupScript();

    // Without the record the texts are the system's, through the ANSI calls.
    setupScript.sets[0].record = Keep(SetWithMessages({"Setup"}));
    setupScript.setCount = 1;
    SelectInstallSet(0);
    CHECK(displayCodePage == 0);
    CHECK_FALSE(ShowsWideTexts());
    window = CreateShownWindow(0, "STATIC", "Setup", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr);
    CHECK_FALSE(IsWindowUnicode(window));
    DestroyWindow(window);
    ReleaseSetupScript();
}

TEST_CASE("CopyTemplate copies a template and what follows, at most one block") {
    // Ten offsets, three short templates, then a long last one.
    const u32 tableSize = 4 * DialogTemplateCount;
    std::vector<u8> record(tableSize);
    std::vector<u32> offsets;
    for (u32 n = 0; n < DialogTemplateCount; n++) {
        offsets.push_back(static_cast<u32>(record.size()));
        PutU32(record, 4 * n, offsets.back());
        u32 length = n == DialogTemplateCount - 1 ? 20000 : 100;
        for (u32 i = 0; i < length; i++) record.push_back(static_cast<u8>(n * 31 + i));
    }
    setupScript.dialogTemplates = Keep(record);

    for (u32 n : {0u, 8u, 9u}) {
        CAPTURE(n);
        u8* block = static_cast<u8*>(CopyTemplate(n));
        REQUIRE(block != nullptr);
        u32 available = static_cast<u32>(record.size()) - offsets[n];
        u32 copied = available < TemplateBlockSize ? available : TemplateBlockSize;
        CHECK(memcmp(block, record.data() + offsets[n], copied) == 0);
        CHECK(GlobalSize(GlobalHandle(block)) >= TemplateBlockSize);
        if (copied < TemplateBlockSize) CHECK(block[copied] == 0);  // the rest is zero-filled
        FreeTemplate(block);
    }
    CHECK(CopyTemplate(DialogTemplateCount) == nullptr);  // no such template
    ReleaseSetupScript();

    // A record with two templates has no third; no templates at all gives none.
    std::vector<u8> two(8 + 8, 0);
    PutU32(two, 0, 8);
    PutU32(two, 4, 12);
    setupScript.dialogTemplates = Keep(two);
    CHECK(CopyTemplate(1) != nullptr);
    FreeTemplate(CopyTemplate(1));
    CHECK(CopyTemplate(2) == nullptr);
    ReleaseSetupScript();
    CHECK(CopyTemplate(0) == nullptr);
    FreeTemplate(nullptr);
}
