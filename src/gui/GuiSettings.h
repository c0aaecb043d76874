// The per-machine values of the windows: QSettings of organisation "Orvelkan" and
// application "Vetlina", one group per window key ("MainForm", "ProtForm", "StatForm",
// "ShowForm", "ReslForm", "MetrForm", "AlarmForm") with the value names the system
// uses ("Tools", "Visible", "Save", "Stop", "Dumb5G", "Top", "Left", "Width", "Height").
#pragma once

#include <QRect>
#include <QSettings>

namespace vetlina {

class GuiSettings {
public:
    GuiSettings() : settings_(QStringLiteral("Orvelkan"), QStringLiteral("Vetlina")) {}

    bool readBool(const char* window, const char* name, bool fallback);
    void writeBool(const char* window, const char* name, bool value);
    // Each of the four placement values replaces the default only when it is kept, and
    // the window stays on a screen of at least its minimum size.
    void readPlacement(const char* window, QRect& placement);
    void writePlacement(const char* window, const QRect& placement);

private:
    QSettings settings_;
};

} // namespace vetlina
