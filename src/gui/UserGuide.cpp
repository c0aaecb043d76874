#include "gui/UserGuide.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace vetlina {

QString userGuidePath() {
    const QString bin = QCoreApplication::applicationDirPath();
    const QString candidates[] = {
        bin + QStringLiteral("/../share/doc/vetlina/guide/index.html"),
        QStringLiteral(VETLINA_SOURCE_DIR "/doc/guide/index.html"),
    };
    for (const QString& c : candidates)
        if (QFileInfo::exists(c))
            return QFileInfo(c).canonicalFilePath();
    return {};
}

} // namespace vetlina
