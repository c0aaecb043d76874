// Message boxes and questions without an operator: each is written to a stream (the
// runner's stderr) as "[title] text" in UTF-8, and a question takes the configured
// answer. Any thread may show one; their lines do not interleave.
#pragma once

#include "platform/Dialogs.h"

#include <ostream>

namespace vetlina {

class HeadlessDialogs : public Dialogs {
public:
    HeadlessDialogs(std::ostream& out, bool answerYes) : out_(out), answerYes_(answerYes) {}

    void showMessage(const std::string& title, const std::string& text, DialogIcon icon) override;
    // Writes "[title] text -> yes" (or "-> no") and answers so.
    DialogAnswer ask(const std::string& title, const std::string& text, DialogIcon icon,
                     DialogButtons buttons) override;

private:
    void write(const std::string& title, const std::string& text, const char* suffix);

    std::ostream& out_;
    bool answerYes_;
};

// Code page 1251 text as UTF-8 lines for a terminal: CR LF and lone CR become LF, and
// every other control character (tab and escape included) and DEL become '?'.
std::string textForTerminal(const std::string& cp1251);

// Writes one line of code page 1251 text (textForTerminal) and a newline, and flushes.
// The runner's lines on one stream, from any thread, do not interleave.
void writeTerminalLine(std::ostream& out, const std::string& cp1251);

} // namespace vetlina
