#include "gui/ViewerWindows.h"

#include "gui/QtText.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBlock>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace vetlina {
namespace {

bool isPrintKey(int key) {
    return key == Qt::Key_F5 || key == Qt::Key_F6 || key == Qt::Key_F7 || key == Qt::Key_F8;
}

// The progress panel's rows, in the order of the measurement kinds.
struct KindRow {
    const char* label;   // control name of the row's label
    const char* bar;     // control name of its progress bar
    const char* caption; // what the row is called
};
constexpr KindRow kKindRows[kShowKindCount] = {
    {"LabSin", "PrSin", "Синусоидальный сигнал"},
    {"LabO132", "PrO132", "Сигнал O.132"},
    {"LabO131", "PrO131", "Сигнал O.131"},
    {"LabMTTS", "PrMTTS", "АЧХ и ГВЗ"},
    {"LabO42", "PrO42", "Интермодуляция O.42"},
    {"LabImp", "PrImp", "Импеданс"},
    {"LabBlk", "PrBlk", "Шум"},
    {"LabEcho", "PrEcho", "Эхо"},
    {"LabDisc", "PrDisc", "Пропускная способность"},
};

// The plot's margins for the axis labels.
constexpr int kPlotLeft = 46;
constexpr int kPlotRight = 34;
constexpr int kPlotTop = 22;
constexpr int kPlotBottom = 22;

} // namespace

// ---- ViewerWindow -------------------------------------------------------------------------

ViewerWindow::ViewerWindow(const char* key, QWidget* parent)
    : QWidget(parent, Qt::Window), key_(key) {
    setObjectName(QString::fromLatin1(key).replace(QStringLiteral("Form"), QString()).prepend('T') +
                  QStringLiteral("Form"));
}

void ViewerWindow::keyPressEvent(QKeyEvent* event) {
    if (isPrintKey(event->key()) && keyPreview && keyPreview(event->key())) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ViewerWindow::closeEvent(QCloseEvent* event) {
    // Closing hides the window; it lives until the run's teardown, which hides the
    // windows without closing them.
    event->accept();
    if (closedByOperator)
        closedByOperator();
}

// ---- Protocol -----------------------------------------------------------------------------

TProtForm::TProtForm(const WindowModels& models)
    : ViewerWindow("ProtForm"), models_(models), memo_(new QPlainTextEdit(this)) {
    setWindowTitle(uiText(" Протокол"));
    memo_->setObjectName(QStringLiteral("ProtMemo"));
    memo_->setReadOnly(true);
    memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(memo_);
}

void TProtForm::lineAdded(const std::string&) {
    refresh();
}

void TProtForm::refresh() {
    const auto& lines = models_.protocol.lines();
    // New lines are appended; when the memo has dropped its oldest block (or was
    // cleared) the view is built anew from it.
    const bool sameFront =
        shownLines_ == 0 ||
        (lines.size() >= shownLines_ &&
         memo_->document()->firstBlock().text() == fromCp(lines.front()) &&
         memo_->document()->lastBlock().text() == fromCp(lines[shownLines_ - 1]));
    if (!sameFront) {
        QStringList all;
        all.reserve(static_cast<int>(lines.size()));
        for (const std::string& line : lines)
            all << fromCp(line);
        memo_->setPlainText(all.join(QLatin1Char('\n')));
        shownLines_ = lines.size();
    } else {
        for (std::size_t i = shownLines_; i < lines.size(); ++i)
            memo_->appendPlainText(fromCp(lines[i]));
        shownLines_ = lines.size();
    }
    memo_->moveCursor(QTextCursor::End);
    memo_->ensureCursorVisible();
}

// ---- Results and statistics ---------------------------------------------------------------

ListForm::ListForm(const char* key, const char* boxName, const ListModel& model)
    : ViewerWindow(key), model_(model), box_(new QListWidget(this)) {
    box_->setObjectName(QString::fromLatin1(boxName));
    box_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    box_->setSelectionMode(QAbstractItemView::SingleSelection);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(box_);
    refresh();
}

void ListForm::refresh() {
    setWindowTitle(fromCp(model_.caption));
    const int count = static_cast<int>(model_.lines.size());
    // Lines that stayed are kept (no flicker while a running mean updates its lines).
    while (box_->count() > count)
        delete box_->takeItem(box_->count() - 1);
    for (int i = 0; i < count; ++i) {
        const QString text = fromCp(model_.lines[static_cast<std::size_t>(i)]);
        if (i < box_->count()) {
            if (box_->item(i)->text() != text)
                box_->item(i)->setText(text);
        } else {
            box_->addItem(text);
        }
    }
}

TReslForm::TReslForm(const WindowModels& models)
    : ListForm("ReslForm", "ReslBox", models.results) {}

TStatForm::TStatForm(const WindowModels& models)
    : ListForm("StatForm", "StatBox", models.statistics) {}

// ---- Spectrum -----------------------------------------------------------------------------

SpectrumAxes spectrumAxes(int32_t mode) {
    if (mode == -6)
        return {2559.375, -70.0, 4096};
    return {6400.0, -110.0, 2048};
}

SpectrumView::SpectrumView(const VisualisationState& show, QWidget* parent)
    : QWidget(parent), show_(show) {
    setObjectName(QStringLiteral("Graph"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(100, 80);
}

void SpectrumView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    draw(painter, rect());
    if (runOn_ && !show_.spectrum.empty())
        ++framesDrawn_;
}

void SpectrumView::draw(QPainter& painter, const QRect& rect) const {
    const SpectrumAxes axes = spectrumAxes(show_.spectrumMode);
    const bool echo = show_.spectrumMode == -6;
    painter.fillRect(rect, palette().window());
    const QRect plot = rect.adjusted(kPlotLeft, kPlotTop, -kPlotRight, -kPlotBottom);
    if (plot.width() < 10 || plot.height() < 10)
        return;
    painter.fillRect(plot, QColor(kPlotBackground));

    // Grid and scale: 10 dB steps down to the lowest level; 800 Hz steps (500 ms for
    // the echo envelope) across.
    painter.setFont(QFont(painter.font().family(), 7));
    const QPen grid(QColor(kPlotFrame), 0, Qt::DotLine);
    const QPen text(palette().windowText().color());
    const double yMin = axes.yMin;
    auto yOf = [&](double db) { return plot.top() + (0.0 - db) / (0.0 - yMin) * plot.height(); };
    auto xOf = [&](double x) { return plot.left() + x / axes.xMax * plot.width(); };
    for (int db = 0; db >= yMin; db -= 10) {
        const double y = yOf(db);
        painter.setPen(grid);
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        painter.setPen(text);
        painter.drawText(QRectF(rect.left(), y - 7, kPlotLeft - 4, 14),
                         Qt::AlignRight | Qt::AlignVCenter, QString::number(db));
    }
    const double xStep = echo ? 500.0 : 800.0;
    for (double x = 0; x <= axes.xMax + 0.5; x += xStep) {
        const double px = xOf(x);
        painter.setPen(grid);
        painter.drawLine(QPointF(px, plot.top()), QPointF(px, plot.bottom()));
        painter.setPen(text);
        painter.drawText(QRectF(px - 30, plot.bottom() + 3, 60, 14), Qt::AlignCenter,
                         QString::number(static_cast<int>(x)));
    }
    painter.setPen(text);
    // The units: dB over the level scale, Hz (ms for the echo envelope) after the
    // frequency scale.
    painter.drawText(QRectF(rect.left(), rect.top() + 2, kPlotLeft + 6, kPlotTop - 10),
                     Qt::AlignRight | Qt::AlignVCenter, uiText("дБ"));
    painter.drawText(QRectF(plot.right() + 4, plot.bottom() + 3, kPlotRight - 4, 14),
                     Qt::AlignRight | Qt::AlignVCenter, echo ? uiText("мс") : uiText("Гц"));
    painter.setPen(QPen(QColor(kPlotFrame), 1));
    painter.drawRect(plot.adjusted(0, 0, -1, -1));

    if (!runOn_ || show_.spectrum.empty())
        return;
    // The curve: each pixel column draws the lowest and the highest point that falls in
    // it, so that a narrow peak stays visible however many points share a column.
    const std::vector<float>& points = show_.spectrum;
    const int n = static_cast<int>(std::min<std::size_t>(points.size(), axes.points));
    const int columns = plot.width();
    QPolygonF curve;
    curve.reserve(2 * columns + 2);
    auto clampY = [&](float v) {
        const double db = std::isfinite(v) ? std::clamp<double>(v, yMin, 0.0) : yMin;
        return yOf(db);
    };
    int from = 0;
    for (int c = 0; c < columns && from < n; ++c) {
        int to = static_cast<int>(static_cast<int64_t>(c + 1) * axes.points / columns);
        to = std::clamp(to, from + 1, n);
        float lo = points[static_cast<std::size_t>(from)], hi = lo;
        for (int i = from + 1; i < to; ++i) {
            lo = std::min(lo, points[static_cast<std::size_t>(i)]);
            hi = std::max(hi, points[static_cast<std::size_t>(i)]);
        }
        const double x = plot.left() + c + 0.5;
        curve << QPointF(x, clampY(hi));
        if (lo != hi)
            curve << QPointF(x, clampY(lo));
        from = to;
    }
    painter.save();
    painter.setClipRect(plot);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(QColor(show_.overload ? kCurveOverload : kCurveNormal), 1));
    painter.drawPolyline(curve);
    painter.restore();
}

// ---- Visualisation ------------------------------------------------------------------------

TShowForm::TShowForm(const WindowModels& models)
    : ViewerWindow("ShowForm"), models_(models), panel_(new QWidget(this)),
      plot_(new SpectrumView(models.show, this)) {
    setMinimumSize(100, 100);
    panel_->setObjectName(QStringLiteral("Panel"));
    auto* grid = new QGridLayout(panel_);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(4);
    for (std::size_t k = 0; k < kShowKindCount; ++k) {
        Row& row = rows_[k];
        row.name = new QLabel(uiText(kKindRows[k].caption), panel_);
        row.duration = new QLabel(QStringLiteral("00:00:00"), panel_);
        row.duration->setObjectName(QString::fromLatin1(kKindRows[k].label));
        row.duration->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        row.bar = new QProgressBar(panel_);
        row.bar->setObjectName(QString::fromLatin1(kKindRows[k].bar));
        row.bar->setRange(0, 100);
        row.bar->setTextVisible(false);
        row.bar->setFixedHeight(12);
        row.bar->setMinimumWidth(90);
        const int r = static_cast<int>(k);
        grid->addWidget(row.name, r, 0);
        grid->addWidget(row.duration, r, 1);
        grid->addWidget(row.bar, r, 2);
    }
    grid->setRowStretch(static_cast<int>(kShowKindCount), 1);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(panel_);
    layout->addWidget(plot_, 1);
    refresh();
}

void TShowForm::refresh() {
    const VisualisationState& show = models_.show;
    setWindowTitle(fromCp(show.caption));
    panel_->setVisible(show.panelVisible);
    for (std::size_t k = 0; k < kShowKindCount; ++k) {
        const VisualisationState::Kind& kind = show.kinds[k];
        Row& row = rows_[k];
        row.name->setEnabled(kind.enabled);
        row.duration->setEnabled(kind.enabled);
        row.bar->setEnabled(kind.enabled);
        row.duration->setText(kind.duration.empty() ? QStringLiteral("00:00:00")
                                                    : fromCp(kind.duration));
        row.bar->setValue(std::clamp(kind.progress, 0, 100));
    }
    if (show.repaints != repaintsSeen_) {
        repaintsSeen_ = show.repaints;
        plot_->update();
    }
}

void TShowForm::resizeEvent(QResizeEvent* event) {
    ViewerWindow::resizeEvent(event);
    plot_->update();
}

void TShowForm::mousePressEvent(QMouseEvent* event) {
    plot_->update();
    ViewerWindow::mousePressEvent(event);
}

void TShowForm::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange)
        plot_->update();
    ViewerWindow::changeEvent(event);
}

// ---- About --------------------------------------------------------------------------------

namespace {
// The program's picture: a channel's spectrum on the instrument's grey screen.
QPixmap programPicture() {
    QPixmap picture(64, 64);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(kPlotFrame), 2));
    p.setBrush(QColor(kPlotBackground));
    p.drawRoundedRect(QRectF(3, 3, 58, 58), 6, 6);
    p.setPen(QPen(QColor(0x00, 0x90, 0x00), 2.2));
    QPainterPath curve;
    curve.moveTo(9, 50);
    for (int x = 9; x <= 55; ++x) {
        const double t = (x - 9) / 46.0;
        const double y = 50 - 34 * std::exp(-std::pow((t - 0.32) * 7.0, 2)) -
                         14 * std::exp(-std::pow((t - 0.7) * 9.0, 2)) - 3 * std::sin(t * 30);
        curve.lineTo(x, y);
    }
    p.drawPath(curve);
    return picture;
}
} // namespace

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TAboutBox"));
    setWindowTitle(uiText("О программе"));
    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto* picture = new QLabel(panel);
    picture->setObjectName(QStringLiteral("ProgramIcon"));
    picture->setPixmap(programPicture());
    auto* product = new QLabel(uiText("Программно-аппаратный измерительный комплекс"), panel);
    product->setObjectName(QStringLiteral("ProductName"));
    auto* name = new QLabel(uiText("Kerat ЛИРС"), panel);
    name->setObjectName(QStringLiteral("Copyright"));
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    name->setFont(big);
    name->setAlignment(Qt::AlignCenter);
    auto* version = new QLabel(uiText("Версия  2"), panel);
    version->setObjectName(QStringLiteral("Version"));
    auto* modification = new QLabel(uiText("Модификация 50"), panel);
    modification->setObjectName(QStringLiteral("Comments"));
    auto* inner = new QGridLayout(panel);
    inner->setContentsMargins(14, 14, 14, 14);
    inner->setHorizontalSpacing(14);
    inner->addWidget(picture, 0, 0, 2, 1, Qt::AlignTop);
    inner->addWidget(product, 0, 1);
    inner->addWidget(name, 1, 1, Qt::AlignCenter);
    inner->addWidget(version, 2, 1);
    inner->addWidget(modification, 3, 1);
    auto* exit = new QPushButton(uiText("Выход"), this);
    exit->setObjectName(QStringLiteral("OKButton"));
    exit->setDefault(true);
    connect(exit, &QPushButton::clicked, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(panel, 0, Qt::AlignHCenter);
    layout->addWidget(exit, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

} // namespace vetlina
