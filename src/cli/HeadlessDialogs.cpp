#include "cli/HeadlessDialogs.h"

#include "platform/Cp1251.h"

#include <mutex>

namespace vetlina {
namespace {

// Control characters, which a terminal would take as commands (escape sequences, bells,
// backspaces): texts from the far complex and the modem must not steer it.
bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

} // namespace

std::string textForTerminal(const std::string& cp1251) {
    std::string text;
    text.reserve(cp1251.size());
    for (std::size_t i = 0; i < cp1251.size(); ++i) {
        char c = cp1251[i];
        if (c == '\r') {
            text += '\n';
            if (i + 1 < cp1251.size() && cp1251[i + 1] == '\n')
                ++i;
        } else if (c != '\n' && isControl(static_cast<unsigned char>(c))) {
            text += '?';
        } else {
            text += c;
        }
    }
    return toUtf8(text);
}

void writeTerminalLine(std::ostream& out, const std::string& cp1251) {
    static std::mutex mutex;
    std::string line = textForTerminal(cp1251) + '\n';
    std::lock_guard lock(mutex);
    out << line;
    out.flush();
}

void HeadlessDialogs::write(const std::string& title, const std::string& text, const char* suffix) {
    writeTerminalLine(out_, '[' + title + "] " + text + suffix);
}

void HeadlessDialogs::showMessage(const std::string& title, const std::string& text, DialogIcon) {
    write(title, text, "");
}

DialogAnswer HeadlessDialogs::ask(const std::string& title, const std::string& text, DialogIcon,
                                  DialogButtons) {
    write(title, text, answerYes_ ? " -> yes" : " -> no");
    return answerYes_ ? DialogAnswer::Yes : DialogAnswer::No;
}

} // namespace vetlina
