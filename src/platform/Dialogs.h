// Message boxes and questions. The Qt front end shows them on the main thread; the
// headless runner prints them to stderr and answers questions with its configured
// answer. Titles and texts are code page 1251.
#pragma once

#include <string>

namespace vetlina {

enum class DialogIcon { None, Error, Warning, Information, Question };
enum class DialogButtons { Ok, YesNo, YesNoCancel };
enum class DialogAnswer { Ok, Yes, No, Cancel };

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // A message box with an OK button; returns when the operator has seen it.
    virtual void showMessage(const std::string& title, const std::string& text,
                             DialogIcon icon) = 0;

    // A question; the answer is one of the buttons offered.
    virtual DialogAnswer ask(const std::string& title, const std::string& text, DialogIcon icon,
                             DialogButtons buttons) = 0;
};

} // namespace vetlina
