// Answers the message boxes this process shows, from a thread of its own
// while the box is modal, and notes what each box said. Windows tests only.
#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/dialogs.h"

struct SeenMessageBox {
    std::string text;
    std::vector<int> buttons;  // the visible ones among IDOK ... IDNO
    int defaultButton = 0;  // the one drawn as the default
};

class MessageBoxAnswerer {
public:
    // Presses `answers` in order (the last one again for further boxes);
    // `beforeAnswer` runs on the answering thread just before each press.
    explicit MessageBoxAnswerer(std::vector<int> answers, std::function<void(int)> beforeAnswer = nullptr)
        : answers(std::move(answers)), beforeAnswer(std::move(beforeAnswer)) {
        thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    }
    ~MessageBoxAnswerer() { Stop(); }
    MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
    MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;

    // Ends the answering thread and returns the boxes it saw.
    const std::vector<SeenMessageBox>& Stop() {
        if (thread != nullptr) {
            stopping = true;
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
            thread = nullptr;
        }
        return seen;
    }

private:
    SeenMessageBox Read(HWND box) {
        SeenMessageBox result;
        result.text = MessageBoxText(box);
        for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO}) {
            HWND button = GetDlgItem(box, id);
            if (button != nullptr && IsWindowVisible(button)) result.buttons.push_back(id);
            if (button != nullptr && (GetWindowLongA(button, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON)
                result.defaultButton = id;
        }
        return result;
    }

    static DWORD WINAPI Run(void* self) {
        MessageBoxAnswerer& me = *static_cast<MessageBoxAnswerer*>(self);
        while (!me.stopping) {
            HWND box = FindOwnDialog();
            if (box == nullptr) {
                Sleep(20);
                continue;
            }
            Sleep(50);  // let the box finish setting itself up
            me.seen.push_back(me.Read(box));
            size_t n = me.seen.size() - 1;
            int answer = me.answers.empty() ? IDCANCEL : me.answers[n < me.answers.size() ? n : me.answers.size() - 1];
            if (me.beforeAnswer) me.beforeAnswer(answer);
            PressDialogButton(box, answer, BoxClosingLimit);
        }
        return 0;
    }

    static const DWORD BoxClosingLimit = 2000;  // ms

    std::vector<int> answers;
    std::function<void(int)> beforeAnswer;
    std::vector<SeenMessageBox> seen;
    std::atomic<bool> stopping{false};
    HANDLE thread = nullptr;
};
