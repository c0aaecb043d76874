// Message boxes and questions as Qt message boxes, always on the main thread: a worker
// thread's message is handed to the main thread through the run's UI bridge (which the
// main thread serves even while it waits for the workers) and the worker waits for it.
#pragma once

#include "platform/Dialogs.h"

class QWidget;

namespace vetlina {

class UiBridge;

class QtDialogs : public Dialogs {
public:
    explicit QtDialogs(QWidget* parent = nullptr) : parent_(parent) {}

    // The bridge that carries a worker's message to the main thread (nullptr: none).
    void setBridge(UiBridge* bridge) { bridge_ = bridge; }
    void setParent(QWidget* parent) { parent_ = parent; }

    void showMessage(const std::string& title, const std::string& text, DialogIcon icon) override;
    DialogAnswer ask(const std::string& title, const std::string& text, DialogIcon icon,
                     DialogButtons buttons) override;

private:
    DialogAnswer onMainThread(const std::string& title, const std::string& text, DialogIcon icon,
                              DialogButtons buttons);

    QWidget* parent_;
    UiBridge* bridge_ = nullptr;
};

} // namespace vetlina
