#include "gui/PrintWindow.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPixmap>
#include <QPrinter>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace vetlina {
namespace {
// The line height is the font's height on paper and this much again for the spacing.
constexpr double kLineSpacing = 1.4;
// A proportional image takes at most this share of the page width.
constexpr double kMaxWidthShare = 0.8;
// The image and the caption start at one tenth of the page width.
constexpr int kLeftDivisor = 10;

int scaled(double value) {
    return static_cast<int>(std::lround(value));
}
} // namespace

QRect printedImageRect(QSize imageSize, QSizeF screenDpi, QSizeF printerDpi, QSize page,
                       int lineHeight, PrintScale scale) {
    double w = imageSize.width();
    double h = imageSize.height();
    const double pageW = page.width();
    const double pageH = page.height();
    if (w > 0 && h > 0) {
        switch (scale) {
        case PrintScale::Proportional: {
            if (screenDpi.width() > 0 && screenDpi.height() > 0) {
                w *= printerDpi.width() / screenDpi.width();
                h *= printerDpi.height() / screenDpi.height();
            }
            if (w > kMaxWidthShare * pageW) {
                h *= kMaxWidthShare * pageW / w;
                w = kMaxWidthShare * pageW;
            }
            const double room = pageH - 5.0 * lineHeight;
            if (room > 0 && h > room) {
                w *= room / h;
                h = room;
            }
            break;
        }
        case PrintScale::FitToPage: {
            const double fitW = w * pageH / h;
            if (fitW <= pageW) {
                w = fitW;
                h = pageH;
            } else {
                h *= pageW / w;
                w = pageW;
            }
            break;
        }
        case PrintScale::None:
            break;
        }
    }
    return QRect(page.width() / kLeftDivisor, 5 * lineHeight, scaled(w), scaled(h));
}

bool printWindow(QWidget* window, QPrinter& printer, PrintScale scale) {
    if (!window || !window->isVisible())
        return false;
    const QString caption = window->windowTitle();
    printer.setDocName(caption);
    // The window's image is taken before the document begins (the painter of a printer
    // must not be open while a widget renders itself).
    const QPixmap image = window->grab();
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    QFont font = window->font();
    painter.setFont(font);
    const double pointSize = font.pointSizeF() > 0 ? font.pointSizeF() : 9.0;
    const int lineHeight =
        scaled(std::abs(pointSize * printer.logicalDpiY() / 72.0) * kLineSpacing);
    const QSize page = printer.pageLayout().paintRectPixels(printer.resolution()).size();
    painter.drawText(page.width() / kLeftDivisor, 4 * lineHeight, caption);
    const QSizeF screenDpi(window->logicalDpiX(), window->logicalDpiY());
    const QSizeF printerDpi(printer.logicalDpiX(), printer.logicalDpiY());
    const QRect target = printedImageRect(image.size() / image.devicePixelRatio(), screenDpi,
                                          printerDpi, page, lineHeight, scale);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(target, image);
    return painter.end();
}

} // namespace vetlina
