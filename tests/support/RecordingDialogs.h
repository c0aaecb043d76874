// Dialogs for tests: records every message and question, answers questions from a
// queue of prepared answers (No when the queue is empty).
#pragma once

#include "platform/Dialogs.h"

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace vetlina::test {

struct RecordedDialog {
    std::string title; // UTF-8
    std::string text;  // UTF-8
    DialogIcon icon;
    bool question;
};

class RecordingDialogs : public Dialogs {
public:
    void showMessage(const std::string& title, const std::string& text, DialogIcon icon) override;
    DialogAnswer ask(const std::string& title, const std::string& text, DialogIcon icon,
                     DialogButtons buttons) override;

    void answerNext(DialogAnswer answer);
    std::vector<RecordedDialog> seen() const;
    // The texts (UTF-8) of everything shown, in order.
    std::vector<std::string> texts() const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<RecordedDialog> seen_;
    std::deque<DialogAnswer> answers_;
};

} // namespace vetlina::test
