#include "gui/TMetrForm.h"

#include "gui/GuiSettings.h"
#include "gui/QtDialogs.h"
#include "gui/QtText.h"
#include "gui/TAlarmForm.h"
#include "gui/ViewerWindows.h"
#include "gui/WindowPlacement.h"

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPrintDialog>
#include <QPrinter>
#include <QWindowStateChangeEvent>

namespace vetlina {
namespace {

// The counters, right to left from the window's right edge, with their hints.
struct CounterSpec {
    RunCounter which;
    const char* name;
    const char* hint;
};
constexpr CounterSpec kCounters[kRunCounterCount] = {
    {RunCounter::ZmkRecvBadBlk, "nZmkRecvBadBlk", "Счетчик сбойных блоков анализатора"},
    {RunCounter::ZmkSendNotReady, "nZmkSendNotReady", "Счетчик потерь подтверждений анализатора"},
    {RunCounter::MdmRecvErr, "nMdmRecvErr", "Счетчик ошибок приема модема"},
    {RunCounter::MdmSendErr, "nMdmSendErr", "Счетчик повторений передачи модема"},
};
constexpr int kCounterGap = 4;
constexpr int kCounterWidth = 44;
constexpr int kCounterHeight = 19;

// The window item and the print item of each viewer, in the order of Viewer.
struct ViewerItems {
    const char* window;
    const char* print;
    int key;
};
constexpr ViewerItems kViewerItems[] = {
    {"N1", "N2", Qt::Key_F5}, // results
    {"N3", "N4", Qt::Key_F6}, // statistics
    {"N5", "N6", Qt::Key_F7}, // protocol
    {"N7", "N8", Qt::Key_F8}, // visualisation
};

bool& windowFlag(RunWindowModel& run, Viewer which) {
    switch (which) {
    case Viewer::Results:
        return run.resultsWindow;
    case Viewer::Statistics:
        return run.statisticsWindow;
    case Viewer::Protocol:
        return run.protocolWindow;
    case Viewer::Visualisation:
        break;
    }
    return run.visualisationWindow;
}

constexpr Viewer kViewers[] = {Viewer::Results, Viewer::Statistics, Viewer::Protocol,
                               Viewer::Visualisation};

} // namespace

TMetrForm::TMetrForm(Dialogs& dialogs, WorkerFactory& workers, Scenario& scenario,
                     std::string ident, DocumentPaths documents, const QString& caption,
                     const QRect& mainFrame, const QMargins& decoration)
    : decoration_(decoration), bridge_(dialogs, models_),
      run_(bridge_, workers, scenario, std::move(ident)), documents_(std::move(documents)),
      labState_(new QLabel(this)), popup_(new QMenu(this)) {
    setObjectName(QStringLiteral("TMetrForm"));
    setWindowTitle(caption);
    models_.run.caption = toCp(caption);
    labState_->setObjectName(QStringLiteral("LabState"));
    QFont bold = labState_->font();
    bold.setBold(true);
    labState_->setFont(bold);
    labState_->setTextFormat(Qt::PlainText);
    for (const CounterSpec& c : kCounters) {
        auto* label = new QLabel(QStringLiteral("0"), this);
        label->setObjectName(QString::fromLatin1(c.name));
        label->setToolTip(uiText(c.hint));
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setAlignment(Qt::AlignCenter);
        counters_[static_cast<std::size_t>(c.which)] = label;
    }
    setMinimumWidth(kMinWidth);
    setFixedHeight(kClientHeight);
    buildMenu();

    // The windows of the run, in the order they are created.
    prot_ = std::make_unique<TProtForm>(models_);
    stat_ = std::make_unique<TStatForm>(models_);
    show_ = std::make_unique<TShowForm>(models_);
    resl_ = std::make_unique<TReslForm>(models_);
    alarm_ = std::make_unique<TAlarmForm>(models_);
    for (Viewer which : kViewers) {
        ViewerWindow* w = viewer(which);
        w->keyPreview = [this](int key) { return printKey(key); };
        w->closedByOperator = [this, which] { setWindowItem(which, false); };
    }
    placeWindows(mainFrame);

    if (auto* qt = dynamic_cast<QtDialogs*>(&dialogs))
        qt->setBridge(&bridge_);
    models_.changed = [this](ModelPart part) { redraw(part); };
    // Any thread: a hand-off or a message is queued; the loop serves it on the main thread.
    bridge_.setWakeHandler([this] {
        QMetaObject::invokeMethod(
            this, [this] { serve(); }, Qt::QueuedConnection);
    });
    run_.ended = [this](RunEnd how) { runEnded(how); };
    choosePrinter = [](QPrinter& printer, QWidget* window) {
        QPrintDialog dialog(&printer, window);
        dialog.setWindowTitle(uiText("Печать"));
        return dialog.exec() == QDialog::Accepted;
    };
}

TMetrForm::~TMetrForm() {
    // A run still on is torn down by the run itself; nothing of it reaches a window.
    bridge_.setWakeHandler(nullptr);
    models_.changed = nullptr;
    models_.protocol.lineAdded = nullptr;
    released_ = true;
    alarm_.reset();
    resl_.reset();
    show_.reset();
    stat_.reset();
    prot_.reset();
}

void TMetrForm::buildMenu() {
    popup_->setObjectName(QStringLiteral("MetrPopup"));
    auto add = [this](const char* name, const char* caption, std::function<void()> action,
                      bool checkable = false) {
        QAction* a = popup_->addAction(uiText(caption));
        a->setObjectName(QString::fromLatin1(name));
        a->setCheckable(checkable);
        connect(a, &QAction::triggered, this, [action = std::move(action)] { action(); });
        items_[name] = a;
        return a;
    };
    auto open = [this](const std::string DocumentPaths::*path) {
        return [this, path] {
            if (openDocument)
                openDocument(documents_.*path);
        };
    };
    add("N11", "Открыть файл протокола", open(&DocumentPaths::protocol));
    add("N18", "Открыть файл результатов", open(&DocumentPaths::results));
    add("N19", "Открыть файл статистики", open(&DocumentPaths::statistics));
    add("N20", "Открыть файл паспортов", open(&DocumentPaths::passports));
    add("N13", "Открыть сводную таблицу", open(&DocumentPaths::summary));
    popup_->addSeparator();
    add("N21", "Отобразить все окна", [this] { N21Click(); });
    const struct {
        Viewer which;
        const char* caption;
        const char* print;
    } viewers[] = {
        {Viewer::Results, "Окно результатов", "Печать...                  F5"},
        {Viewer::Statistics, "Окно статистики", "Печать...                  F6"},
        {Viewer::Protocol, "Окно протокола", "Печать...                  F7"},
        {Viewer::Visualisation, "Окно визуализации", "Печать...                  F8"},
    };
    for (const auto& v : viewers) {
        const ViewerItems& names = kViewerItems[static_cast<int>(v.which)];
        QAction* window = add(
            names.window, v.caption, [] {}, true);
        window->setChecked(true);
        disconnect(window, &QAction::triggered, this, nullptr);
        connect(window, &QAction::triggered, this,
                [this, which = v.which](bool checked) { setWindowItem(which, checked); });
        add(names.print, v.print, [this, which = v.which] { printViewer(which); });
    }
    popup_->addSeparator();
    auto option = [this, &add](const char* name, const char* caption,
                               std::atomic<bool> RunOptions::*flag) {
        QAction* a = add(
            name, caption, [] {}, true);
        disconnect(a, &QAction::triggered, this, nullptr);
        connect(a, &QAction::triggered, this,
                [this, flag](bool checked) { (models_.options.*flag) = checked; });
    };
    option("N16", "Сохранять статистику сеансов", &RunOptions::saveStatistics);
    option("N10", "Сохранять результаты измерений", &RunOptions::saveResults);
    popup_->addSeparator();
    option("N14", "Останов при невыполнении норм", &RunOptions::stopOnNorms);
    option("N17", "Упрощенный вызов генератора", &RunOptions::simpleGenerator);
    popup_->addSeparator();
    add("N9", "Закончить работу", [this] { N9Click(); });
}

QAction* TMetrForm::item(const char* name) const {
    auto it = items_.find(name);
    return it == items_.end() ? nullptr : it->second;
}

ViewerWindow* TMetrForm::viewer(Viewer which) const {
    switch (which) {
    case Viewer::Results:
        return resl_.get();
    case Viewer::Statistics:
        return stat_.get();
    case Viewer::Protocol:
        return prot_.get();
    case Viewer::Visualisation:
        break;
    }
    return show_.get();
}

void TMetrForm::placeWindows(const QRect& mainFrame) {
    // The defaults are frames (title bar and border included); a window is placed by its
    // client area, so the decoration of the main window's frame is taken off each.
    const RunPlacements p =
        defaultRunPlacements(mainFrame, kClientHeight + decoration_.top() + decoration_.bottom());
    GuiSettings settings;
    auto place = [this, &settings](QWidget* w, const char* key, QRect rect) {
        rect = rect.marginsRemoved(decoration_);
        settings.readPlacement(key, rect);
        w->setGeometry(rect);
    };
    place(this, "MetrForm", p.metr);
    place(prot_.get(), "ProtForm", p.prot);
    place(stat_.get(), "StatForm", p.stat);
    place(show_.get(), "ShowForm", p.show);
    place(resl_.get(), "ReslForm", p.resl);
    QRect alarm(0, 0, alarm_->width(), alarm_->height());
    settings.readPlacement("AlarmForm", alarm);
    alarm_->resize(alarm.size());
}

void TMetrForm::start(StartMode mode) {
    for (Viewer which : kViewers) {
        const ViewerItems& names = kViewerItems[static_cast<int>(which)];
        const bool on = windowFlag(models_.run, which);
        item(names.window)->setChecked(on);
        item(names.print)->setEnabled(on);
    }
    item("N16")->setChecked(models_.options.saveStatistics);
    item("N10")->setChecked(models_.options.saveResults);
    item("N14")->setChecked(models_.options.stopOnNorms);
    item("N17")->setChecked(models_.options.simpleGenerator);
    show();
    for (Viewer which : kViewers)
        if (windowFlag(models_.run, which))
            viewer(which)->show();
    raise();
    bridge_.post(startMessage(mode));
}

void TMetrForm::setWindowItem(Viewer which, bool checked) {
    const ViewerItems& names = kViewerItems[static_cast<int>(which)];
    windowFlag(models_.run, which) = checked;
    item(names.window)->setChecked(checked);
    item(names.print)->setEnabled(checked);
    if (released_)
        return;
    ViewerWindow* w = viewer(which);
    if (checked) {
        w->show();
        w->raise();
    } else {
        w->hide();
    }
}

void TMetrForm::N21Click() {
    for (Viewer which :
         {Viewer::Protocol, Viewer::Visualisation, Viewer::Results, Viewer::Statistics})
        setWindowItem(which, true);
}

void TMetrForm::N9Click() {
    close();
}

bool TMetrForm::printViewer(Viewer which) {
    if (released_)
        return false;
    ViewerWindow* w = viewer(which);
    if (!w || !w->isVisible())
        return false;
    QPrinter printer(QPrinter::HighResolution);
    if (choosePrinter && !choosePrinter(printer, w))
        return false;
    return printWindow(w, printer);
}

bool TMetrForm::printKey(int key) {
    for (Viewer which : kViewers)
        if (kViewerItems[static_cast<int>(which)].key == key) {
            printViewer(which);
            return true;
        }
    return false;
}

void TMetrForm::serve() {
    // A hand-off that shows a message box runs a nested event loop, which may call serve
    // again. Hand-offs are served there too, but a run message waits for the outer
    // serve: tearing the run down inside would wait for the worker whose message box is
    // still open below on the stack.
    ++depth_;
    bridge_.serveInvocations();
    if (depth_ == 1)
        while (auto message = bridge_.takeMessage())
            run_.handleMessage(*message);
    --depth_;
}

void TMetrForm::redraw(ModelPart part) {
    if (released_)
        return;
    switch (part) {
    case ModelPart::RunWindow:
        labState_->setText(fromCp(models_.run.stateLabel));
        for (const CounterSpec& c : kCounters)
            counter(c.which)->setText(QString::fromStdString(models_.run.counterText(c.which)));
        break;
    case ModelPart::Protocol:
        prot_->refresh();
        break;
    case ModelPart::Results:
        resl_->refresh();
        break;
    case ModelPart::Statistics:
        stat_->refresh();
        break;
    case ModelPart::Pause:
        alarm_->refresh();
        break;
    case ModelPart::Visualisation:
        show_->refresh();
        break;
    }
}

void TMetrForm::runEnded(RunEnd how) {
    savePlacement();
    releaseWindows();
    hide();
    if (ended)
        ended(how);
}

void TMetrForm::savePlacement() {
    GuiSettings settings;
    settings.writePlacement("MetrForm", geometry());
    settings.writePlacement("ProtForm", prot_->geometry());
    settings.writePlacement("StatForm", stat_->geometry());
    settings.writePlacement("ShowForm", show_->geometry());
    settings.writePlacement("ReslForm", resl_->geometry());
    QSettings store(QStringLiteral("Orvelkan"), QStringLiteral("Vetlina"));
    store.setValue(QStringLiteral("AlarmForm/Width"), alarm_->width());
    store.setValue(QStringLiteral("AlarmForm/Height"), alarm_->height());
}

void TMetrForm::releaseWindows() {
    // Cut off first: from here on no model change reaches a window of this run.
    models_.changed = nullptr;
    models_.protocol.lineAdded = nullptr;
    released_ = true;
    show_->plot()->setRunOn(false);
    for (QWidget* w : {static_cast<QWidget*>(show_.get()), static_cast<QWidget*>(stat_.get()),
                       static_cast<QWidget*>(prot_.get()), static_cast<QWidget*>(resl_.get())})
        w->hide();
    alarm_->release();
}

void TMetrForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The counters at the right edge, right to left; the state line takes the rest.
    int right = width() - kCounterGap;
    const int top = (height() - kCounterHeight) / 2;
    for (const CounterSpec& c : kCounters) {
        QLabel* label = counter(c.which);
        const int w = std::max(kCounterWidth, label->sizeHint().width());
        label->setGeometry(right - w, top, w, kCounterHeight);
        right -= w + kCounterGap;
    }
    labState_->setGeometry(6, 0, std::max(0, right - 6), height());
    update();
}

void TMetrForm::keyPressEvent(QKeyEvent* event) {
    if (printKey(event->key())) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TMetrForm::closeEvent(QCloseEvent* event) {
    if (run_.active() && !run_.closeQuery()) {
        event->ignore();
        return;
    }
    event->accept();
}

void TMetrForm::contextMenuEvent(QContextMenuEvent* event) {
    popup_->exec(event->globalPos());
}

void TMetrForm::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || released_)
        return;
    // Minimising or restoring the bar does the same to the viewers that are on.
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    const bool minimised = windowState() & Qt::WindowMinimized;
    const bool wasMinimised = change->oldState() & Qt::WindowMinimized;
    if (minimised == wasMinimised)
        return;
    for (Viewer which : kViewers) {
        if (!windowFlag(models_.run, which))
            continue;
        if (minimised)
            viewer(which)->showMinimized();
        else
            viewer(which)->showNormal();
    }
}

} // namespace vetlina
