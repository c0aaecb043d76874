// Printing a window (printWindow): the window's caption as a heading and its image
// below it, on one page of the printer given: the default printer, or a PDF file chosen
// in the print dialog.
#pragma once

#include <QRect>
#include <QSize>
#include <QSizeF>

class QPrinter;
class QWidget;

namespace vetlina {

// How the window's image is sized on paper.
enum class PrintScale {
    Proportional, // by printer / screen resolution, kept within 0.8 page width and the page height
    FitToPage,    // the page's height (or width, when that is narrower)
    None,         // the image's own size in printer pixels
};

// Where the image of imageSize screen pixels stands on the page (printer pixels):
// left at one tenth of the page width, top at 5 line heights. screenDpi and printerDpi
// are the resolutions in each direction; page is the printable size.
QRect printedImageRect(QSize imageSize, QSizeF screenDpi, QSizeF printerDpi, QSize page,
                       int lineHeight, PrintScale scale);

// Prints a visible window on one page: the caption at (page width / 10, 4 line
// heights), the window's image below it. A window that is not visible prints nothing.
// True when a page was printed.
bool printWindow(QWidget* window, QPrinter& printer, PrintScale scale = PrintScale::Proportional);

} // namespace vetlina
