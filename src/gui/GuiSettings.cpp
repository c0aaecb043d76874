#include "gui/GuiSettings.h"

namespace vetlina {
namespace {
QString key(const char* window, const char* name) {
    return QString::fromLatin1(window) + QLatin1Char('/') + QString::fromLatin1(name);
}
// Placement values beyond any screen are not taken (a damaged store).
constexpr int kLargestCoordinate = 100000;
} // namespace

bool GuiSettings::readBool(const char* window, const char* name, bool fallback) {
    return settings_.value(key(window, name), fallback).toBool();
}

void GuiSettings::writeBool(const char* window, const char* name, bool value) {
    settings_.setValue(key(window, name), value);
}

void GuiSettings::readPlacement(const char* window, QRect& placement) {
    auto read = [&](const char* name, int& value, int min) {
        bool ok = false;
        const int v = settings_.value(key(window, name)).toInt(&ok);
        if (ok && v >= min && v <= kLargestCoordinate)
            value = v;
    };
    int top = placement.top(), left = placement.left();
    int width = placement.width(), height = placement.height();
    read("Top", top, -kLargestCoordinate);
    read("Left", left, -kLargestCoordinate);
    read("Width", width, 200);
    read("Height", height, 150);
    placement = QRect(left, top, width, height);
}

void GuiSettings::writePlacement(const char* window, const QRect& placement) {
    settings_.setValue(key(window, "Top"), placement.top());
    settings_.setValue(key(window, "Left"), placement.left());
    settings_.setValue(key(window, "Width"), placement.width());
    settings_.setValue(key(window, "Height"), placement.height());
}

} // namespace vetlina
