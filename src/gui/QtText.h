// The one crossing between the system's text (code page 1251 bytes) and Qt's: every
// text the windows show or read passes here exactly once.
#pragma once

#include "platform/Cp1251.h"

#include <QString>
#include <string>

namespace vetlina {

inline QString fromCp(const std::string& cp1251) {
    return QString::fromStdString(toUtf8(cp1251));
}

// A window's own text, written in the sources (UTF-8).
inline QString uiText(const char* utf8) {
    return QString::fromUtf8(utf8);
}

inline std::string toCp(const QString& text) {
    return toCp1251(text.toStdString());
}

// A message as a message box shows it: the system's texts break lines with CR.
inline QString messageText(const std::string& cp1251) {
    QString text = fromCp(cp1251);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

} // namespace vetlina
