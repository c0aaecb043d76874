#include "RecordingDialogs.h"

#include "platform/Cp1251.h"

namespace vetlina::test {

void RecordingDialogs::showMessage(const std::string& title, const std::string& text,
                                   DialogIcon icon) {
    std::lock_guard lock(mutex_);
    seen_.push_back({toUtf8(title), toUtf8(text), icon, false});
}

DialogAnswer RecordingDialogs::ask(const std::string& title, const std::string& text,
                                   DialogIcon icon, DialogButtons) {
    std::lock_guard lock(mutex_);
    seen_.push_back({toUtf8(title), toUtf8(text), icon, true});
    if (answers_.empty())
        return DialogAnswer::No;
    DialogAnswer answer = answers_.front();
    answers_.pop_front();
    return answer;
}

void RecordingDialogs::answerNext(DialogAnswer answer) {
    std::lock_guard lock(mutex_);
    answers_.push_back(answer);
}

std::vector<RecordedDialog> RecordingDialogs::seen() const {
    std::lock_guard lock(mutex_);
    return seen_;
}

std::vector<std::string> RecordingDialogs::texts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& d : seen_)
        out.push_back(d.text);
    return out;
}

void RecordingDialogs::clear() {
    std::lock_guard lock(mutex_);
    seen_.clear();
    answers_.clear();
}

} // namespace vetlina::test
