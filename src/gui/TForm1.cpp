#include "gui/TForm1.h"

#include "app/DeviceWorkers.h"
#include "app/StartModes.h"
#include "editor/EditorFields.h"
#include "gui/ComplexListModel.h"
#include "gui/FieldPair.h"
#include "gui/GuiSettings.h"
#include "gui/QtDialogs.h"
#include "gui/QtText.h"
#include "gui/TMetrForm.h"
#include "gui/UserGuide.h"
#include "gui/ViewerWindows.h"
#include "modem/Modem.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

namespace vetlina {
namespace {

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// The folder of the scenario and template files, relative to the working folder.
constexpr const char* kScenarioFolder = "SCN";

struct FileDialogText {
    const char* openTitle;
    const char* saveTitle;
    const char* filter;
    const char* suffix;
};
const FileDialogText& dialogText(FileKind kind) {
    static const FileDialogText scenario{" Открыть сценарий", " Сохранить сценарий",
                                         "Сценарии (*.scn)", "scn"};
    static const FileDialogText pattern{" Открыть шаблон", " Сохранить шаблон", "Шаблоны (*.pat)",
                                        "pat"};
    return kind == FileKind::Scenario ? scenario : pattern;
}

// A path as the scenario code takes it: relative to the working folder where it lies in
// it, so that the saved name reads as the operator chose it.
std::string localPath(const QString& chosen) {
    return QDir::current().relativeFilePath(chosen).toStdString();
}

} // namespace

// ---- File dialogs --------------------------------------------------------------------

std::optional<std::string> QtFileChooser::chooseOpen(FileKind kind) {
    const FileDialogText& t = dialogText(kind);
    QFileDialog dialog(parent_, u(t.openTitle), QString::fromLatin1(kScenarioFolder), u(t.filter));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setDefaultSuffix(QString::fromLatin1(t.suffix));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return localPath(dialog.selectedFiles().front());
}

std::optional<std::string> QtFileChooser::chooseSave(FileKind kind) {
    const FileDialogText& t = dialogText(kind);
    QFileDialog dialog(parent_, u(t.saveTitle), QString::fromLatin1(kScenarioFolder), u(t.filter));
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QString::fromLatin1(t.suffix));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return localPath(dialog.selectedFiles().front());
}

// ---- Window ----------------------------------------------------------------------------

TForm1::TForm1(Dialogs& dialogs, FileChooser& files, QWidget* parent)
    : QMainWindow(parent), dialogs_(dialogs), files_(files) {
    setObjectName(QStringLiteral("TForm1"));
    // Creation: the identifier, the caption, the document paths and their flags.
    complexId_ = readKey(readConfiguration(), keys::Ident);
    editor_ = std::make_unique<ScenarioEditor>(scenario_, dialogs_, complexId_);
    documents_ = documentPaths(complexId_);
    exist_ = documentsExist(documents_);

    auto* central = new QWidget(this);
    auto* layout = new QHBoxLayout(central);
    layout->setContentsMargins(6, 6, 6, 6);
    auto* splitter = new QSplitter(Qt::Horizontal, central);
    auto* panel = new QWidget(splitter);
    buildListPanel(panel);
    pages_ = new QTabWidget(splitter);
    pages_->setObjectName(QStringLiteral("PageControl"));
    pages_->addTab(buildDiallingPage(), u("\"Дозвон\""));
    pages_->addTab(buildMeasurementsPage(), u("Измерения"));
    pages_->addTab(buildSettingsPage(), u("Настройки"));
    pages_->addTab(buildNorms1Page(), u("Нормы, 1 стр"));
    pages_->addTab(buildNorms2Page(), u("Нормы, 2 стр"));
    pages_->addTab(buildNorms3Page(), u("Нормы, 3 стр"));
    splitter->addWidget(panel);
    splitter->addWidget(pages_);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    layout->addWidget(splitter);
    setCentralWidget(central);
    buildMenus();

    connect(pages_, &QTabWidget::currentChanged, this, [this] { showTotals(); });
    editor_->listChanged = [this] { showList(); };

    readSettings();
    showList();
    showEntry();
    setWindowTitle(fromCp(editor_->caption()));
}

TForm1::~TForm1() {
    writeSettings();
    editor_->listChanged = nullptr;
}

// ---- Building --------------------------------------------------------------------------

void TForm1::buildMenus() {
    auto add = [this](QMenu* menu, const char* name, const char* text, auto handler,
                      QStyle::StandardPixmap icon = QStyle::SP_CustomBase) {
        QAction* a = menu->addAction(u(text));
        a->setObjectName(QString::fromLatin1(name));
        if (icon != QStyle::SP_CustomBase)
            a->setIcon(style()->standardIcon(icon));
        connect(a, &QAction::triggered, this, handler);
        actions_[name] = a;
        return a;
    };
    auto check = [this](QMenu* menu, const char* name, const char* text) {
        QAction* a = menu->addAction(u(text));
        a->setObjectName(QString::fromLatin1(name));
        a->setCheckable(true);
        actions_[name] = a;
        return a;
    };
    QMenu* file = menuBar()->addMenu(u("&Файл"));
    add(
        file, "SpeedNew", "Создать новый сценарий", [this] { SpeedNewClick(); },
        QStyle::SP_FileIcon);
    add(
        file, "SpeedOpenScen", "Открыть сценарий...", [this] { SpeedOpenScenClick(); },
        QStyle::SP_DialogOpenButton);
    add(
        file, "SpeedSaveScen", "Сохранить сценарий...", [this] { SpeedSaveScenClick(); },
        QStyle::SP_DialogSaveButton);
    file->addSeparator();
    add(
        file, "SpeedOpenTemp", "Открыть шаблон...", [this] { SpeedOpenTempClick(); },
        QStyle::SP_DirOpenIcon);
    add(
        file, "SpeedSaveTemp", "Сохранить шаблон...", [this] { SpeedSaveTempClick(); },
        QStyle::SP_DriveFDIcon);
    file->addSeparator();
    add(
        file, "SpeedOpenProt", "Открыть файл протокола",
        [this] { openDocument(documents_.protocol); }, QStyle::SP_FileDialogDetailedView);
    add(file, "OpenRest", "Открыть файл результатов", [this] { openDocument(documents_.results); });
    add(
        file, "SpeedOpenStat", "Открыть файл статистики",
        [this] { openDocument(documents_.statistics); }, QStyle::SP_FileDialogContentsView);
    add(file, "OpenPasp", "Открыть файл паспортов", [this] { openDocument(documents_.passports); });
    add(file, "OpenPaspTabl", "Открыть сводную таблицу",
        [this] { openDocument(documents_.summary); });
    file->addSeparator();
    add(
        file, "SpeedPrint", "Печать", [this] { SpeedPrintClick(); }, QStyle::SP_ComputerIcon);
    add(file, "Exit", "Выход", [this] { close(); });

    QMenu* view = menuBar()->addMenu(u("&Вид"));
    QAction* tools = check(view, "Tools", "Инструментальная панель");
    tools->setChecked(true);
    connect(tools, &QAction::triggered, this, [this] { ToolsClick(); });

    QMenu* run = menuBar()->addMenu(u("&Измерения"));
    add(
        run, "SpeedStart", "Активный старт...", [this] { startRun(StartMode::Active); },
        QStyle::SP_MediaPlay);
    add(
        run, "SpeedRestart", "Активный рестарт...", [this] { startRun(StartMode::Restart); },
        QStyle::SP_MediaSeekForward);
    add(
        run, "SpeedPassive", "Пассивный старт...", [this] { startRun(StartMode::Passive); },
        QStyle::SP_MediaPause);
    run->addSeparator();
    for (auto [name, text] :
         {std::pair{"ProtWindow", "Окно протокола"}, std::pair{"ShowWindow", "Окно визуализации"},
          std::pair{"ReslWindow", "Окно результатов"}, std::pair{"StatWindow", "Окно статистики"}})
        check(run, name, text)->setChecked(true);
    run->addSeparator();
    check(run, "SaveStats", "Сохранять статистику сеансов");
    check(run, "SaveResults", "Сохранять результаты измерений");

    QMenu* setup = menuBar()->addMenu(u("Настройка"));
    add(setup, "ModemSetup", "Исходная настройка модема", [this] { ModemSetupClick(); });
    check(setup, "Dumb5G", "Упрощенный вызов генератора");
    check(setup, "StopOnNorms", "Останов при невыполнении норм");

    QMenu* help = menuBar()->addMenu(u("&?"));
    add(
        help, "SpeedAbout", "Справка", [this] { SpeedAboutClick(); },
        QStyle::SP_MessageBoxQuestion);
    add(help, "About", "О программе...", [this] { AboutClick(); });

    // The tool bar: the speed buttons with their hints.
    toolBar_ = addToolBar(u("Инструментальная панель"));
    toolBar_->setObjectName(QStringLiteral("ToolBar"));
    toolBar_->setMovable(false);
    toolBar_->setIconSize(QSize(20, 20));
    for (const char* name : {"SpeedNew", "SpeedOpenScen", "SpeedSaveScen", "", "SpeedOpenTemp",
                             "SpeedSaveTemp", "", "SpeedOpenProt", "SpeedOpenStat", "SpeedPrint",
                             "", "SpeedStart", "SpeedRestart", "SpeedPassive", "", "SpeedAbout"}) {
        if (!*name) {
            toolBar_->addSeparator();
            continue;
        }
        QAction* a = actions_.at(name);
        a->setToolTip(a->text().remove(QStringLiteral("...")));
        toolBar_->addAction(a);
    }
}

void TForm1::buildListPanel(QWidget* panel) {
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 4, 0);
    auto* title = new QLabel(u("Отвечающие комплексы"), panel);
    title->setStyleSheet(QStringLiteral("font-weight: bold"));
    layout->addWidget(title);
    listBox_ = new QTableView(panel);
    listBox_->setObjectName(QStringLiteral("ListBox"));
    listBox_->setToolTip(u("Список циклов"));
    listModel_ = new ComplexListModel(scenario_, this);
    listBox_->setModel(listModel_);
    listBox_->setSelectionBehavior(QAbstractItemView::SelectRows);
    listBox_->setSelectionMode(QAbstractItemView::SingleSelection);
    listBox_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    listBox_->setAlternatingRowColors(true);
    listBox_->setWordWrap(false);
    listBox_->verticalHeader()->hide();
    listBox_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    listBox_->verticalHeader()->setDefaultSectionSize(listBox_->fontMetrics().height() + 4);
    listBox_->horizontalHeader()->setHighlightSections(false);
    listBox_->horizontalHeader()->setMinimumSectionSize(24);
    // Fixed widths from the font: measuring 10 000 lines would cost the opening of a
    // large scenario.
    const QFontMetrics metrics = listBox_->fontMetrics();
    const int idWidth = metrics.horizontalAdvance(u("Идентификатор")) + 14;
    const int numberWidth = metrics.horizontalAdvance(QStringLiteral("8w495231004567")) + 12;
    const int startWidth = metrics.horizontalAdvance(QStringLiteral("88.88.8888 88:88")) + 12;
    const int sessionsWidth = metrics.horizontalAdvance(u("Сеансы")) + 16;
    listBox_->setColumnWidth(ComplexListModel::IdColumn, idWidth);
    listBox_->setColumnWidth(ComplexListModel::NumberColumn, numberWidth);
    listBox_->setColumnWidth(ComplexListModel::StartColumn, startWidth);
    listBox_->horizontalHeader()->setSectionResizeMode(ComplexListModel::SessionsColumn,
                                                       QHeaderView::Stretch);
    listBox_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    listBox_->setMinimumWidth(idWidth + numberWidth + startWidth + sessionsWidth +
                              listBox_->verticalScrollBar()->sizeHint().width() +
                              2 * listBox_->frameWidth() + 2);
    layout->addWidget(listBox_, 1);
    connect(listBox_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (!handling_ && current.row() != scenario_.currentIndex())
                    selectLine(current.row());
            });
    auto* del = new QShortcut(QKeySequence::Delete, listBox_, nullptr, nullptr,
                              Qt::WidgetWithChildrenShortcut);
    connect(del, &QShortcut::activated, this, [this] { bDelClick(); });

    auto* grid = new QGridLayout;
    editId_ = new QLineEdit(panel);
    editId_->setObjectName(QStringLiteral("EditId"));
    editId_->setToolTip(u("Идентификатор"));
    editId_->setPlaceholderText(u("Идентификатор"));
    editId_->setMaxLength(8);
    editNum_ = new QLineEdit(panel);
    editNum_->setObjectName(QStringLiteral("EditNum"));
    editNum_->setToolTip(u("Телефонный номер"));
    editNum_->setPlaceholderText(u("Телефонный номер"));
    editNum_->setMaxLength(32);
    bAdd_ = new QPushButton(u("Добавить"), panel);
    bAdd_->setObjectName(QStringLiteral("bAdd"));
    bAdd_->setToolTip(u("Добавить в список"));
    bDel_ = new QPushButton(u("Удалить"), panel);
    bDel_->setObjectName(QStringLiteral("bDel"));
    bDel_->setToolTip(u("Удалить из списка"));
    checkSort_ = new QCheckBox(u("Сортировка по алфавиту"), panel);
    checkSort_->setObjectName(QStringLiteral("CheckSort"));
    grid->addWidget(editId_, 0, 0);
    grid->addWidget(editNum_, 0, 1);
    grid->addWidget(bAdd_, 1, 0);
    grid->addWidget(bDel_, 1, 1);
    grid->addWidget(checkSort_, 2, 0, 1, 2);
    layout->addLayout(grid);

    auto enableAdd = [this] {
        bAdd_->setEnabled(editId_->text().size() == 8 && !editNum_->text().isEmpty());
    };
    connect(editId_, &QLineEdit::textChanged, this, enableAdd);
    connect(editNum_, &QLineEdit::textChanged, this, enableAdd);
    connect(editId_, &QLineEdit::returnPressed, this, [this] { editNum_->setFocus(); });
    connect(editNum_, &QLineEdit::returnPressed, this, [this] { bAddClick(); });
    connect(bAdd_, &QPushButton::clicked, this, [this] { bAddClick(); });
    connect(bDel_, &QPushButton::clicked, this, [this] { bDelClick(); });
    connect(checkSort_, &QCheckBox::clicked, this, [this] { CheckSortClick(); });
    enableAdd();
}

FieldPair* TForm1::makePair(const char* name, QWidget* parent) {
    const EditorField* field = findEditorField(name);
    Q_ASSERT(field);
    auto* p = new FieldPair(*field, parent);
    pairs_[name] = p;
    connect(p, &FieldPair::left, this, [this, p] { onLeave(p); });
    connect(p, &FieldPair::stepped, this, [this, p](int d) { onStep(p, d); });
    connect(p->edit(), &QLineEdit::textEdited, this,
            [this, p](const QString& text) { onTextEdited(p, text); });
    return p;
}

QCheckBox* TForm1::makeCheck(const char* name, const QString& caption, QWidget* parent) {
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(QString::fromLatin1(name));
    checks_[name] = box;
    connect(box, &QCheckBox::clicked, this, [this, box] { onCheck(box); });
    return box;
}

void TForm1::addRow(QGridLayout* grid, int row, const QString& label, const char* name) {
    auto* l = new QLabel(label);
    grid->addWidget(l, row, 0);
    grid->addWidget(makePair(name, nullptr), row, 1, Qt::AlignLeft);
}

static QGroupBox* group(const char* title, QWidget* parent) {
    auto* box = new QGroupBox(QString::fromUtf8(title), parent);
    return box;
}

static QLineEdit* plainEdit(const char* name, int width, int maxLength, QWidget* parent) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    if (width > 0)
        e->setFixedWidth(width);
    e->setMaxLength(maxLength);
    return e;
}

QWidget* TForm1::buildDiallingPage() {
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);

    QGroupBox* when = group(" Время начала измерений ", page);
    auto* g = new QGridLayout(when);
    editDate_ = plainEdit("EditDate", 90, 10, when);
    editBegTime_ = plainEdit("EditBegTime", 74, 8, when);
    editEndTime_ = plainEdit("EditEndTime", 74, 8, when);
    g->addWidget(new QLabel(u("Дата")), 0, 0);
    g->addWidget(editDate_, 0, 1, Qt::AlignLeft);
    g->addWidget(new QLabel(u("Не раньше")), 1, 0);
    g->addWidget(editBegTime_, 1, 1, Qt::AlignLeft);
    g->addWidget(new QLabel(u("Не позднее")), 2, 0);
    g->addWidget(editEndTime_, 2, 1, Qt::AlignLeft);
    grid->addWidget(when, 0, 0);
    for (QLineEdit* e : {editDate_, editBegTime_, editEndTime_})
        connect(new LeaveWatcher(e), &LeaveWatcher::left, this, [this, e] {
            if (handling_)
                return;
            handling_ = true;
            const std::string text = toCp(e->text());
            FieldReply r = e == editDate_      ? editor_->leaveDate(text)
                           : e == editBegTime_ ? editor_->leaveBegTime(text)
                                               : editor_->leaveEndTime(text);
            if (r.refused)
                refusedAt(e, EditorPage::Dialling);
            else
                e->setText(fromCp(r.text));
            handling_ = false;
        });

    QGroupBox* sessions = group(" Количество измерений ", page);
    g = new QGridLayout(sessions);
    addRow(g, 0, u("минимальное"), "NumMin");
    addRow(g, 1, u("максимальное (max)"), "NumTotal");
    grid->addWidget(sessions, 0, 1);

    QGroupBox* local = group(" Местное соединение ", page);
    g = new QGridLayout(local);
    addRow(g, 0, u("Пауза, сек"), "LocalPaus");
    addRow(g, 1, u("Попыток, шт"), "LocalCall");
    grid->addWidget(local, 1, 0);

    QGroupBox* trunk = group(" Междугороднее соединение ", page);
    g = new QGridLayout(trunk);
    addRow(g, 0, u("Пауза, сек"), "TrunkPaus");
    addRow(g, 1, u("Попыток, шт"), "TrunkCall");
    addRow(g, 2, u("Попыток 8w, шт"), "Trunk8W");
    grid->addWidget(trunk, 1, 1);

    QGroupBox* modem = group(" Вызывающий модем ", page);
    g = new QGridLayout(modem);
    editAT_ = plainEdit("EditAT", 0, 64, modem);
    g->addWidget(new QLabel(u("Команды настройки (без at)")), 0, 0);
    g->addWidget(editAT_, 1, 0);
    connect(editAT_, &QLineEdit::textEdited, this,
            [this](const QString& t) { editor_->setAtText(toCp(t), true); });
    grid->addWidget(modem, 2, 0, 1, 2);

    QGroupBox* type = group("Отвечающий комплекс", page);
    g = new QGridLayout(type);
    radioFull_ = new QRadioButton(u("ЛИРС"), type);
    radioFull_->setObjectName(QStringLiteral("RadioFull"));
    radioGenerator_ = new QRadioButton(u("Автономный генератор"), type);
    radioGenerator_->setObjectName(QStringLiteral("RadioGenerator"));
    g->addWidget(radioFull_, 0, 0);
    g->addWidget(radioGenerator_, 1, 0);
    connect(radioFull_, &QRadioButton::clicked, this, [this] {
        editor_->setComplexType(kFullComplexType);
        showEntry();
    });
    connect(radioGenerator_, &QRadioButton::clicked, this, [this] {
        editor_->setComplexType(kGeneratorComplexType);
        showEntry();
    });
    grid->addWidget(type, 3, 0);

    QGroupBox* selected = group(" Выбранный комплекс ", page);
    g = new QGridLayout(selected);
    labelId1_ = new QLabel(u("Идентификатор"));
    labelNum1_ = new QLabel(u("Номер"));
    editId1_ = plainEdit("EditId1", 90, 8, selected);
    editNum1_ = plainEdit("EditNum1", 0, 32, selected);
    g->addWidget(labelId1_, 0, 0);
    g->addWidget(editId1_, 0, 1, Qt::AlignLeft);
    g->addWidget(labelNum1_, 1, 0);
    g->addWidget(editNum1_, 1, 1);
    connect(editId1_, &QLineEdit::textEdited, this,
            [this](const QString& t) { editor_->editSelectedId(toCp(t), true); });
    connect(editNum1_, &QLineEdit::textEdited, this,
            [this](const QString& t) { editor_->editSelectedNumber(toCp(t), true); });
    for (QLineEdit* e : {editId1_, editNum1_})
        connect(new LeaveWatcher(e), &LeaveWatcher::left, this, [this, e] {
            if (handling_)
                return;
            handling_ = true;
            const bool ok =
                e == editId1_ ? editor_->checkSelectedId() : editor_->checkSelectedNumber();
            if (!ok)
                refusedAt(e, EditorPage::Dialling);
            handling_ = false;
        });
    grid->addWidget(selected, 3, 1);
    grid->setRowStretch(4, 1);
    grid->setColumnStretch(2, 1);
    return page;
}

QWidget* TForm1::buildMeasurementsPage() {
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    grid->addWidget(makeCheck("CheckAnalog", u("Электрические параметры"), page), 0, 0, 1, 3);

    QGroupBox* sine = group(" Гармонический сигнал ", page);
    groupBoxes_[MeasureGroup::Sine] = sine;
    auto* g = new QGridLayout(sine);
    int row = 0;
    for (auto [name, text] :
         {std::pair{"CheckSinSNR", "Сигнал/шум"}, std::pair{"CheckSinSNRps", "Сигнал/шум псоф."},
          std::pair{"CheckSinJitPh", "Дрожание фазы "},
          std::pair{"CheckSinJitAm", "Дрожание уровня"},
          std::pair{"CheckSinShift", "Изменение частоты"}})
        g->addWidget(makeCheck(name, u(text), sine), row++, 0, 1, 4);
    g->addWidget(new QLabel(u("%")), row, 1, Qt::AlignCenter);
    g->addWidget(new QLabel(u("шт.")), row, 2, Qt::AlignCenter);
    g->addWidget(new QLabel(u("отн.время")), row, 3, Qt::AlignCenter);
    ++row;
    for (auto [text, kind] :
         {std::pair{"Импульсные помехи", "Pul"}, std::pair{"Перерывы связи", "Int"},
          std::pair{"Имп. помехи + перерывы", "Sum"}}) {
        g->addWidget(new QLabel(u(text)), row, 0);
        int column = 1;
        for (const char* part : {"Prc", "Cnt", "Rel"}) {
            const std::string name = std::string("CheckSin") + kind + part;
            QCheckBox* box = makeCheck(findEditorCheck(name)->name, QString(), sine);
            g->addWidget(box, row, column++, Qt::AlignCenter);
        }
        ++row;
    }
    for (auto [name, text] :
         {std::pair{"CheckSinHitPh", "Скачки фазы"}, std::pair{"CheckSinHitAm", "Скачки уровня"},
          std::pair{"CheckSinMod", "Паразитные модуляции"},
          std::pair{"CheckSinAtt", "Затухание сигнала"}})
        g->addWidget(makeCheck(name, u(text), sine), row++, 0, 1, 4);
    auto* distortion = new QHBoxLayout;
    distortion->addWidget(new QLabel(u("Нелинейные искажения")));
    distortion->addWidget(makeCheck("CheckSinDis2", u("2"), sine));
    distortion->addWidget(makeCheck("CheckSinDis3", u("3"), sine));
    distortion->addWidget(makeCheck("CheckSinDis23", u("2+3"), sine));
    distortion->addStretch();
    g->addLayout(distortion, row++, 0, 1, 4);
    grid->addWidget(sine, 1, 0, 4, 1);

    struct Box {
        MeasureGroup group;
        const char* title;
        std::vector<std::pair<const char*, const char*>> checks;
        int row, column;
    };
    const Box boxes[] = {
        {MeasureGroup::O132,
         " O.132 ",
         {{"CheckO132SNR", "Сигнал/шум"},
          {"CheckO132SNRps", "Сигнал/шум псоф."},
          {"CheckO132JitPh", "Дрожание фазы "},
          {"CheckO132JitAm", "Дрожание уровня"},
          {"CheckO132Shift", "Изменение частоты"}},
         1,
         1},
        {MeasureGroup::Noise,
         " Шум ",
         {{"CheckBlkNoise", "Уровень шума"},
          {"CheckBlkNoisePs", "Уровень шума псоф."},
          {"CheckBlkNoiseSel", "Селективная помеха"}},
         1,
         2},
        {MeasureGroup::O131, " O.131 ", {{"CheckO131SNR", "Сигнал/шум"}}, 2, 1},
        {MeasureGroup::Echo,
         " Эхо ",
         {{"CheckEchoTalk", "Эхо говорящего"}, {"CheckEchoList", "Эхо слушающего"}},
         2,
         2},
        {MeasureGroup::Mtts,
         " Многочастотный сигнал ",
         {{"CheckMttAtt", "АЧХ"}, {"CheckMttDel", "ГВП"}},
         3,
         1},
        {MeasureGroup::Imp,
         " Импеданс, ёмкость ",
         {{"CheckImpImped", "Импеданс"}, {"CheckImpCapac", "Ёмкость"}},
         3,
         2},
        {MeasureGroup::O42,
         " O.42 ",
         {{"CheckO42Dis2", "2"}, {"CheckO42Dis3", "3"}, {"CheckO42Dis23", "2+3"}},
         4,
         1},
        {MeasureGroup::Throughput,
         " Передача данных ",
         {{"CheckDisPass", "Пропускная способность"}},
         4,
         2},
    };
    for (const Box& b : boxes) {
        QGroupBox* box = group(b.title, page);
        groupBoxes_[b.group] = box;
        QBoxLayout* l = b.group == MeasureGroup::O42
                            ? static_cast<QBoxLayout*>(new QHBoxLayout(box))
                            : new QVBoxLayout(box);
        for (auto [name, text] : b.checks)
            l->addWidget(makeCheck(name, u(text), box));
        l->addStretch();
        grid->addWidget(box, b.row, b.column);
    }

    QGroupBox* totals = group(" Суммарное время измерений ", page);
    auto* t = new QGridLayout(totals);
    t->addWidget(new QLabel(u("Сеанс:")), 0, 0);
    t->addWidget(new QLabel(u("Цикл:")), 1, 0);
    for (int i = 0; i < 3; ++i) {
        totals_[i] = new QLabel(totals);
        totals_[i]->setObjectName(i == 0 ? "LabSession" : i == 1 ? "LabCycle" : "LabPassport");
        totals_[i]->setMinimumWidth(110);
    }
    QFont bold = totals_[0]->font();
    bold.setBold(true);
    for (QLabel* l : totals_)
        l->setFont(bold);
    t->addWidget(totals_[0], 0, 1);
    t->addWidget(totals_[1], 1, 1);
    t->addWidget(totals_[2], 0, 2, 2, 1, Qt::AlignCenter);
    t->setColumnStretch(3, 1);
    grid->addWidget(totals, 5, 0, 1, 3);
    grid->setRowStretch(6, 1);
    grid->setColumnStretch(3, 1);
    return page;
}

QWidget* TForm1::buildSettingsPage() {
    auto* page = new QWidget;
    auto* outer = new QGridLayout(page);

    generatorBox_ = group(" Генератор ", page);
    auto* g = new QGridLayout(generatorBox_);
    g->setHorizontalSpacing(8);
    const char* heads[] = {"Время",      "исход.",   "вход.",  "Частота,Гц",
                           "Импульс,мс", "Пауза,мс", "Тэхо,мс"};
    auto* levels = new QLabel(u("Уровень,дБм"));
    levels->setAlignment(Qt::AlignCenter);
    g->addWidget(levels, 0, 2, 1, 2);
    for (int c = 0; c < 7; ++c) {
        auto* h = new QLabel(u(heads[c]));
        h->setAlignment(Qt::AlignCenter);
        g->addWidget(h, 1, c + 1);
    }
    struct GenRow {
        MeasureGroup group;
        const char* label;
        const char* fields[7];
    };
    const GenRow rows[] = {
        {MeasureGroup::Echo,
         " ЭХО",
         {"EchoTime", "EchoLev", "EchoLevR", "EchoFreq", "EchoT1", "EchoT2", "EchoT"}},
        {MeasureGroup::Sine, " SIN", {"SinTime", "SinLev", "SinLevR", "SinFreq"}},
        {MeasureGroup::O132, "О.132", {"O132Time", "O132Lev", "O132LevR", "O132Freq"}},
        {MeasureGroup::O131, "О.131", {"O131Time", "O131Lev", "O131LevR"}},
        {MeasureGroup::Mtts, " МЧС", {"MTTSTime", "MTTSLev", "MTTSLevR"}},
        {MeasureGroup::O42, " О.42", {"O42Time", "O42Lev", "O42LevR"}},
        {MeasureGroup::Imp, "  W    ", {"ImpTime", "ImpLev", "ImpLevR"}},
        {MeasureGroup::Noise, " ШУМ", {"BlkTime"}},
    };
    int r = 2;
    for (const GenRow& row : rows) {
        auto* label = new QLabel(u(row.label));
        label->setStyleSheet(QStringLiteral("font-weight: bold"));
        rowLabels_[row.group] = label;
        g->addWidget(label, r, 0);
        for (int c = 0; c < 7 && row.fields[c]; ++c)
            g->addWidget(makePair(row.fields[c], generatorBox_), r, c + 1, Qt::AlignCenter);
        ++r;
    }
    outer->addWidget(generatorBox_, 0, 0, 1, 2);

    QGroupBox* data = group(" Передача данных ", page);
    g = new QGridLayout(data);
    labelDiscrTime_ = new QLabel(u("Время измерения"));
    rowLabels_[MeasureGroup::Throughput] = labelDiscrTime_;
    g->addWidget(labelDiscrTime_, 0, 0);
    g->addWidget(makePair("DiscrTime", data), 0, 1, Qt::AlignLeft);
    labelDiscrAT_ = new QLabel(u("Команды настройки (без at)"));
    g->addWidget(labelDiscrAT_, 1, 0);
    editDiscrAT_ = plainEdit("EditDiscrAT", 0, 64, data);
    g->addWidget(editDiscrAT_, 1, 1);
    connect(editDiscrAT_, &QLineEdit::textEdited, this,
            [this](const QString& t) { editor_->setDiscrAtText(toCp(t), true); });
    outer->addWidget(data, 1, 0, 1, 2);

    QGroupBox* meter = group(" Измеритель ", page);
    g = new QGridLayout(meter);
    addRow(g, 0, u("Задержка синхронизации, сек"), "SincTime");
    addRow(g, 1, u("\"Мёртвое\" время измерителя, мс"), "DeadTime");
    addRow(g, 2, u("Максимальный сигнал, дБм"), "MaxLev");
    addRow(g, 3, u("Минимальный сигнал, дБм"), "MinLev");
    addRow(g, 4, u("Мин. отношение сигнал/шум, дБ"), "MinSNR");
    g->setRowStretch(5, 1);
    outer->addWidget(meter, 2, 0);

    QGroupBox* thresholds = group(" Пороги фиксации событий ", page);
    g = new QGridLayout(thresholds);
    addRow(g, 0, u("Скачки фазы, град"), "ThHitPh");
    addRow(g, 1, u("Скачки уровня, дБ"), "ThHitAm");
    radioRelative_ = new QRadioButton(u("Относительные пороги"), thresholds);
    radioRelative_->setObjectName(QStringLiteral("RadioRelative"));
    radioAbsolute_ = new QRadioButton(u("Абсолютные пороги"), thresholds);
    radioAbsolute_->setObjectName(QStringLiteral("RadioAbsolute"));
    g->addWidget(radioRelative_, 2, 0, 1, 2);
    addRow(g, 3, u("Импульсные помехи, дБ"), "ThRelPul");
    addRow(g, 4, u("Перерывы связи, дБ"), "ThRelInt");
    g->addWidget(radioAbsolute_, 5, 0, 1, 2);
    addRow(g, 6, u("Импульсные помехи, дБм"), "ThAbsPul");
    addRow(g, 7, u("Перерывы связи, дБм"), "ThAbsInt");
    connect(radioRelative_, &QRadioButton::clicked, this, [this] {
        editor_->setAbsoluteThresholds(false);
        showStates();
    });
    connect(radioAbsolute_, &QRadioButton::clicked, this, [this] {
        editor_->setAbsoluteThresholds(true);
        showStates();
    });
    outer->addWidget(thresholds, 2, 1);
    outer->setRowStretch(3, 1);
    outer->setColumnStretch(2, 1);
    return page;
}

QWidget* TForm1::buildNorms1Page() {
    auto* page = new QWidget;
    auto* outer = new QGridLayout(page);
    QGroupBox* sine = group(" Гармонический сигнал ", page);
    auto* g = new QGridLayout(sine);
    int row = 0;
    for (auto [text, name] :
         {std::pair{"Сигнал/шум, дБ", "SinSNR"}, std::pair{"Сигнал/шум псоф., дБ", "SinSNRps"},
          std::pair{"Дрожание фазы, град", "SinJitPh"}, std::pair{"Дрожание уровня, %", "SinJitAm"},
          std::pair{"Изменение частоты, Гц", "SinShift"}, std::pair{"Скачки фазы, шт", "SinHitPh"},
          std::pair{"Скачки уровня, шт", "SinHitAm"},
          std::pair{"Паразитные модуляции, дБ", "SinMod"},
          std::pair{"Затухание сигнала, дБ", "SinAtt"}})
        addRow(g, row++, u(text), name);
    auto* events = new QGridLayout;
    events->addWidget(new QLabel(u("%")), 0, 1, Qt::AlignCenter);
    events->addWidget(new QLabel(u("шт.")), 0, 2, Qt::AlignCenter);
    events->addWidget(new QLabel(u("отн.время, 10^")), 0, 3, Qt::AlignCenter);
    int r = 1;
    for (auto [text, kind] :
         {std::pair{"Импульсные помехи", "Pul"}, std::pair{"Перерывы связи", "Int"},
          std::pair{"Имп. помехи + перерывы", "Sum"}}) {
        events->addWidget(new QLabel(u(text)), r, 0);
        int column = 1;
        for (const char* part : {"Prc", "Cnt", "Rel"}) {
            const std::string name = std::string("Sin") + kind + part;
            events->addWidget(makePair(findEditorField(name)->name, sine), r, column++);
        }
        ++r;
    }
    g->addLayout(events, row++, 0, 1, 2);
    auto* distortion = new QGridLayout;
    distortion->addWidget(new QLabel(u("Нелинейные искажения, %")), 0, 0, 1, 3);
    int column = 0;
    for (auto [text, name] :
         {std::pair{"2", "SinDis2"}, std::pair{"3", "SinDis3"}, std::pair{"2+3", "SinDis23"}}) {
        distortion->addWidget(new QLabel(u(text)), 1, column, Qt::AlignCenter);
        distortion->addWidget(makePair(name, sine), 2, column++);
    }
    g->addLayout(distortion, row++, 0, 1, 2);
    outer->addWidget(sine, 0, 0, 2, 1);

    QGroupBox* o132 = group(" O.132 ", page);
    g = new QGridLayout(o132);
    row = 0;
    for (auto [text, name] :
         {std::pair{"Сигнал/шум, дБ", "O132SNR"}, std::pair{"Сигнал/шум псоф., дБ", "O132SNRps"},
          std::pair{"Дрожание фазы, град", "O132JitPh"},
          std::pair{"Дрожание уровня, %", "O132JitAm"},
          std::pair{"Изменение частоты, Гц", "O132Shift"}})
        addRow(g, row++, u(text), name);
    outer->addWidget(o132, 0, 1);
    QGroupBox* o42 = group(" O.42 ", page);
    g = new QGridLayout(o42);
    row = 0;
    for (auto [text, name] : {std::pair{"Продукты 2-го порядка, %", "O42Dis2"},
                              std::pair{"Продукты 3-го порядка, %", "O42Dis3"},
                              std::pair{"Сумма продуктов, %", "O42Dis23"}})
        addRow(g, row++, u(text), name);
    outer->addWidget(o42, 1, 1, Qt::AlignTop);
    outer->setRowStretch(2, 1);
    outer->setColumnStretch(2, 1);
    return page;
}

QWidget* TForm1::buildNorms2Page() {
    auto* page = new QWidget;
    auto* outer = new QHBoxLayout(page);
    for (auto [title, norm, frequency, notch, unit] :
         {std::tuple{" АЧХ ", "Att", "AttF", "AttNotch", "Норма, дБ"},
          std::tuple{" ГВП ", "Del", "DelF", "DelNotch", "Норма, мкс"}}) {
        QGroupBox* box = group(title, page);
        auto* g = new QGridLayout(box);
        g->setVerticalSpacing(2);
        g->addWidget(new QLabel(u("Точка")), 0, 0);
        g->addWidget(new QLabel(u("Частота, Гц")), 0, 1, Qt::AlignCenter);
        g->addWidget(new QLabel(u(unit)), 0, 2, Qt::AlignCenter);
        for (int k = 1; k <= 14; ++k) {
            g->addWidget(new QLabel(QString::number(k)), k, 0, Qt::AlignRight);
            const std::string f = frequency + std::to_string(k);
            const std::string n = norm + std::to_string(k);
            g->addWidget(makePair(findEditorField(f)->name, box), k, 1);
            g->addWidget(makePair(findEditorField(n)->name, box), k, 2);
        }
        g->addWidget(new QLabel(u("Опорная частота, Гц")), 15, 0, 1, 2);
        g->addWidget(makePair(notch, box), 15, 2);
        outer->addWidget(box, 0, Qt::AlignTop);
    }
    outer->addStretch();
    return page;
}

QWidget* TForm1::buildNorms3Page() {
    auto* page = new QWidget;
    auto* outer = new QGridLayout(page);
    struct Section {
        const char* title;
        std::vector<std::pair<const char*, const char*>> rows;
        int row, column;
    };
    const Section sections[] = {
        {" Шум ",
         {{"Уровень шума, дБм", "BlkNoise"},
          {"Уровень шума псоф., дБм", "BlkNoisePs"},
          {"Селективная помеха, дБм", "BlkNoiseSel"}},
         0,
         0},
        {" Эхо ", {{"Эхо говорящего, дБ", "EchoTalk"}, {"Эхо слушающего, дБ", "EchoList"}}, 1, 0},
        {" O.131 ", {{"Сигнал/шум, дБ", "O131SNR"}}, 2, 0},
        {" Импеданс, ёмкость ",
         {{"Импеданс, Ом", "ImpImped"},
          {"Частота импеданса, Гц", "ImpedFreq"},
          {"Ёмкость, нФ", "ImpCapac"},
          {"Частота ёмкости, Гц", "CapacFreq"}},
         0,
         1},
        {" Передача данных ", {{"Пропускная способность, %", "DisPass"}}, 1, 1},
    };
    for (const Section& s : sections) {
        QGroupBox* box = group(s.title, page);
        auto* g = new QGridLayout(box);
        int row = 0;
        for (auto [text, name] : s.rows)
            addRow(g, row++, u(text), name);
        outer->addWidget(box, s.row, s.column, Qt::AlignTop);
    }
    auto* note = new QLabel(u("\"*\" — норма не задана: значение не проверяется."), page);
    note->setEnabled(false);
    outer->addWidget(note, 3, 0, 1, 2);
    outer->setRowStretch(4, 1);
    outer->setColumnStretch(2, 1);
    return page;
}

// ---- Lookups -----------------------------------------------------------------------------

FieldPair* TForm1::pair(const char* name) const {
    auto it = pairs_.find(name);
    return it == pairs_.end() ? nullptr : it->second;
}
QCheckBox* TForm1::checkBox(const char* name) const {
    auto it = checks_.find(name);
    return it == checks_.end() ? nullptr : it->second;
}
QAction* TForm1::action(const char* name) const {
    auto it = actions_.find(name);
    return it == actions_.end() ? nullptr : it->second;
}
QLabel* TForm1::totalLabel(int which) const {
    return totals_[which];
}

// ---- Showing -----------------------------------------------------------------------------

void TForm1::showEntry() {
    for (auto& [name, p] : pairs_)
        p->setTyped(false);
    showFields();
    showStates();
    showTotals();
    showCommands();
}

void TForm1::showFields() {
    for (auto& [name, p] : pairs_) {
        if (p->typed())
            continue; // a refused text the operator is correcting
        p->edit()->setText(fromCp(editor_->shownText(p->field())));
        editor_->spinPosition(p->field());
    }
    const ScenarioEntry& e = editor_->entry();
    for (auto& [name, box] : checks_)
        box->setChecked(editor_->checked(*findEditorCheck(name)));
    editDate_->setText(fromCp(editor_->dateText()));
    editBegTime_->setText(fromCp(editor_->begTimeText()));
    editEndTime_->setText(fromCp(editor_->endTimeText()));
    editAT_->setText(fromCp(std::string(textOf(e.AT))));
    editDiscrAT_->setText(fromCp(std::string(textOf(e.DiscrAT))));
    radioFull_->setChecked(e.ComplexType != kGeneratorComplexType);
    radioGenerator_->setChecked(e.ComplexType == kGeneratorComplexType);
    radioRelative_->setChecked(e.ThAbs == 0);
    radioAbsolute_->setChecked(e.ThAbs != 0);
    const bool selected = scenario_.lineSelected();
    editId1_->setText(selected ? fromCp(std::string(textOf(e.Id))) : QString());
    editNum1_->setText(selected ? fromCp(std::string(textOf(e.Number))) : QString());
}

void TForm1::showStates() {
    for (auto& [name, p] : pairs_) {
        const bool on = editor_->fieldEnabled(p->field());
        p->edit()->setEnabled(on);
        if (p->upDown())
            p->upDown()->setEnabled(on && !(editor_->entry().ComplexType == kGeneratorComplexType &&
                                            p->field().group != MeasureGroup::None));
    }
    for (auto& [name, box] : checks_)
        box->setEnabled(editor_->checkEnabled(*findEditorCheck(name)));
    for (auto& [group, label] : rowLabels_)
        label->setEnabled(editor_->rowLabelEnabled(group));
    for (auto& [group, box] : groupBoxes_)
        box->setEnabled(editor_->groupFrameEnabled(group));
    generatorBox_->setEnabled(editor_->generatorFrameEnabled());
    editDiscrAT_->setEnabled(editor_->discrAtEnabled());
    labelDiscrAT_->setEnabled(editor_->rowLabelEnabled(MeasureGroup::Throughput));
    const bool selected = scenario_.lineSelected();
    for (QWidget* w :
         std::initializer_list<QWidget*>{editId1_, editNum1_, labelId1_, labelNum1_, bDel_})
        w->setEnabled(selected);
}

void TForm1::showTotals() {
    const TimeTotals t = editor_->totals();
    totals_[0]->setText(fromCp(t.session));
    totals_[1]->setText(fromCp(t.cycle));
    totals_[2]->setText(fromCp(t.passport));
}

void TForm1::showCommands() {
    const bool any = scenario_.count() > 0;
    for (const char* name : {"SpeedNew", "SpeedSaveScen", "SpeedStart", "SpeedRestart"})
        actions_.at(name)->setEnabled(any);
    actions_.at("SpeedOpenProt")->setEnabled(exist_.protocol);
    actions_.at("OpenRest")->setEnabled(exist_.results);
    actions_.at("SpeedOpenStat")->setEnabled(exist_.statistics);
    actions_.at("OpenPasp")->setEnabled(exist_.passports);
    actions_.at("OpenPaspTabl")->setEnabled(exist_.summary);
    checkSort_->setEnabled(editor_->sortEnabled());
    checkSort_->setChecked(scenario_.sortedById());
    setWindowTitle(fromCp(editor_->caption()));
}

void TForm1::showList() {
    const bool was = handling_;
    handling_ = true;
    listModel_->refresh();
    const int line = scenario_.currentIndex();
    if (line >= 0) {
        const QModelIndex index = listModel_->index(line, 0);
        listBox_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                               QItemSelectionModel::Rows);
        listBox_->scrollTo(index);
    } else {
        listBox_->selectionModel()->clearSelection();
    }
    handling_ = was;
    showCommands();
}

void TForm1::selectLine(int line) {
    editor_->select(line);
    showEntry();
}

// ---- Handlers --------------------------------------------------------------------------

void TForm1::refusedAt(QLineEdit* edit, EditorPage page) {
    pages_->setCurrentIndex(static_cast<int>(page));
    edit->setFocus(Qt::OtherFocusReason);
}

void TForm1::onLeave(FieldPair* p) {
    if (handling_ || !p->edit()->isEnabled() || !p->typed())
        return;
    handling_ = true;
    const FieldReply r = editor_->leaveField(p->field(), toCp(p->edit()->text()));
    // A refused text stays to be corrected: leaving again checks it again.
    p->setTyped(r.refused);
    p->edit()->setText(fromCp(r.text));
    // The couplings (sessions, meter limits) and the group states follow the field.
    showFields();
    showStates();
    if (r.refused)
        refusedAt(p->edit(), p->field().page);
    showTotals();
    handling_ = false;
}

void TForm1::onStep(FieldPair* p, int direction) {
    if (handling_)
        return;
    editor_->spinClick(p->field(), direction);
    p->setTyped(false);
    showFields();
    showStates();
    showTotals();
}

void TForm1::onTextEdited(FieldPair* p, const QString& text) {
    p->setTyped(true);
    editor_->textEdited(p->field(), toCp(text), true);
    const MeasureGroup group = p->field().group;
    if (p->field().family != FieldFamily::Duration || !rowLabels_.count(group))
        return;
    // A group's row lights up while its time reads as at least one second; the modem
    // commands of the throughput test follow their time the same way.
    const bool lit = editor_->groupActive(group) && ScenarioEditor::durationLabelLit(toCp(text));
    rowLabels_[group]->setEnabled(lit);
    if (group == MeasureGroup::Throughput) {
        labelDiscrAT_->setEnabled(lit);
        editDiscrAT_->setEnabled(lit);
    }
}

void TForm1::onCheck(QCheckBox* box) {
    editor_->setChecked(*findEditorCheck(box->objectName().toStdString()), box->isChecked());
    showStates();
    showTotals();
}

void TForm1::commitPendingEdit() {
    listBox_->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
}

void TForm1::bAddClick() {
    const AddOutcome outcome = editor_->addComplex(toCp(editId_->text()), toCp(editNum_->text()));
    switch (outcome) {
    case AddOutcome::BadId:
        editId_->setFocus();
        return;
    case AddOutcome::BadNumber:
        editNum_->setFocus();
        return;
    case AddOutcome::Added:
        editId_->clear();
        editNum_->clear();
        editId_->setFocus();
        showEntry();
        return;
    case AddOutcome::Nothing:
    case AddOutcome::NoMemory:
        return;
    }
}

void TForm1::bDelClick() {
    editor_->removeSelected();
    showEntry();
}

void TForm1::CheckSortClick() {
    editor_->setSorted(checkSort_->isChecked());
}

void TForm1::SpeedNewClick() {
    commitPendingEdit();
    if (editor_->newScenario(files_)) {
        showEntry();
        editId_->setFocus();
    }
}

void TForm1::SpeedOpenScenClick() {
    commitPendingEdit();
    if (editor_->openScenario(files_))
        showEntry();
}

void TForm1::SpeedSaveScenClick() {
    commitPendingEdit();
    editor_->saveScenarioAs(files_);
    showCommands();
}

void TForm1::SpeedOpenTempClick() {
    if (editor_->openTemplate(files_))
        showEntry();
}

void TForm1::SpeedSaveTempClick() {
    commitPendingEdit();
    editor_->saveTemplateAs(files_);
}

void TForm1::SpeedPrintClick() {
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QPainter painter(&printer);
    const QPixmap image = grab();
    const QRect page = painter.viewport();
    QSize size = image.size();
    size.scale(page.size(), Qt::KeepAspectRatio);
    painter.drawPixmap(QRect(page.topLeft(), size), image);
}

void TForm1::SpeedAboutClick() {
    const QString guide = userGuidePath();
    if (guide.isEmpty() || !QDesktopServices::openUrl(QUrl::fromLocalFile(guide)))
        dialogs_.showMessage("Ошибка"_cp, "Нет файла справки"_cp, DialogIcon::Error);
}

void TForm1::AboutClick() {
    TAboutBox about(this);
    about.exec();
}

void TForm1::ToolsClick() {
    toolBar_->setVisible(actions_.at("Tools")->isChecked());
}

void TForm1::ModemSetupClick() {
    WindowModels models;
    UiBridge bridge(dialogs_, models);
    if (auto* qt = dynamic_cast<QtDialogs*>(&dialogs_))
        qt->setBridge(&bridge);
    MODEM::writeInitialSetup(bridge, comPortFactory());
    if (auto* qt = dynamic_cast<QtDialogs*>(&dialogs_))
        qt->setBridge(nullptr);
}

void TForm1::openDocument(const std::string& path) {
    const QString file = QDir::current().absoluteFilePath(QString::fromStdString(path));
    if (!QFileInfo::exists(file) || !QDesktopServices::openUrl(QUrl::fromLocalFile(file)))
        dialogs_.showMessage("Ошибка"_cp, "Невозможно открыть файл "_cp + toCp(file),
                             DialogIcon::Error);
}

void TForm1::startRun(StartMode mode) {
    if (runWindow_ && runWindow_->active())
        return;
    if (!editor_->mayStart(mode != StartMode::Passive))
        return;
    commitPendingEdit();
    std::vector<std::string> parameters;
    for (const QString& a : QApplication::arguments().mid(1))
        parameters.push_back(a.toStdString());
    if (traceRequested(parameters))
        traceSwitch() = true;
    if (!workers_)
        workers_ = std::make_unique<DeviceWorkers>();
    // The windows of the last run go before the new ones take their places.
    runWindow_.reset();
    QMargins decoration(geometry().left() - frameGeometry().left(),
                        geometry().top() - frameGeometry().top(),
                        frameGeometry().right() - geometry().right(),
                        frameGeometry().bottom() - geometry().bottom());
    runWindow_ = std::make_unique<TMetrForm>(dialogs_, *workers_, scenario_, complexId_, documents_,
                                             windowTitle(), frameGeometry(), decoration);
    runWindow_->openDocument = [this](const std::string& path) { openDocument(path); };
    RunOptions& o = runWindow_->models().options;
    o.saveStatistics = actions_.at("SaveStats")->isChecked();
    o.saveResults = actions_.at("SaveResults")->isChecked();
    o.stopOnNorms = actions_.at("StopOnNorms")->isChecked();
    o.simpleGenerator = actions_.at("Dumb5G")->isChecked();
    RunWindowModel& w = runWindow_->models().run;
    w.protocolWindow = actions_.at("ProtWindow")->isChecked();
    w.visualisationWindow = actions_.at("ShowWindow")->isChecked();
    w.resultsWindow = actions_.at("ReslWindow")->isChecked();
    w.statisticsWindow = actions_.at("StatWindow")->isChecked();
    runWindow_->ended = [this](RunEnd) { runEnded(); };
    hide();
    runWindow_->start(mode);
}

void TForm1::runEnded() {
    // The options the operator changed during the run come back to the menu.
    RunOptions& o = runWindow_->models().options;
    actions_.at("SaveStats")->setChecked(o.saveStatistics);
    actions_.at("SaveResults")->setChecked(o.saveResults);
    actions_.at("StopOnNorms")->setChecked(o.stopOnNorms);
    actions_.at("Dumb5G")->setChecked(o.simpleGenerator);
    const RunWindowModel& w = runWindow_->models().run;
    actions_.at("ProtWindow")->setChecked(w.protocolWindow);
    actions_.at("ShowWindow")->setChecked(w.visualisationWindow);
    actions_.at("ReslWindow")->setChecked(w.resultsWindow);
    actions_.at("StatWindow")->setChecked(w.statisticsWindow);
    if (auto* qt = dynamic_cast<QtDialogs*>(&dialogs_))
        qt->setBridge(nullptr);
    editor_->afterRun();
    exist_ = documentsExist(documents_);
    showEntry();
    show();
}

// ---- Window events -----------------------------------------------------------------------

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    exist_ = documentsExist(documents_);
    showCommands();
}

void TForm1::paintEvent(QPaintEvent* event) {
    QMainWindow::paintEvent(event);
    if (firstPaint_) {
        firstPaint_ = false;
        QMetaObject::invokeMethod(
            this, [this] { editor_->firstShown(); }, Qt::QueuedConnection);
    }
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (runWindow_ && runWindow_->active()) {
        event->ignore();
        return;
    }
    commitPendingEdit();
    if (!editor_->closeQuery(files_)) {
        event->ignore();
        return;
    }
    // The windows of the last run go with the program.
    runWindow_.reset();
    event->accept();
}

// ---- Per-machine settings ------------------------------------------------------------------

void TForm1::readSettings() {
    GuiSettings s;
    actions_.at("Tools")->setChecked(s.readBool("MainForm", "Tools", true));
    toolBar_->setVisible(actions_.at("Tools")->isChecked());
    actions_.at("ProtWindow")->setChecked(s.readBool("ProtForm", "Visible", true));
    actions_.at("ShowWindow")->setChecked(s.readBool("ShowForm", "Visible", true));
    actions_.at("ReslWindow")->setChecked(s.readBool("ReslForm", "Visible", true));
    actions_.at("StatWindow")->setChecked(s.readBool("StatForm", "Visible", true));
    actions_.at("SaveStats")->setChecked(s.readBool("ReslForm", "Save", false));
    actions_.at("SaveResults")->setChecked(s.readBool("StatForm", "Save", false));
    actions_.at("StopOnNorms")->setChecked(s.readBool("StatForm", "Stop", false));
    actions_.at("Dumb5G")->setChecked(s.readBool("StatForm", "Dumb5G", false));
    QRect placement(80, 60, 1140, 740);
    s.readPlacement("MainForm", placement);
    setGeometry(placement);
}

void TForm1::writeSettings() {
    GuiSettings s;
    s.writeBool("MainForm", "Tools", actions_.at("Tools")->isChecked());
    s.writeBool("ProtForm", "Visible", actions_.at("ProtWindow")->isChecked());
    s.writeBool("ShowForm", "Visible", actions_.at("ShowWindow")->isChecked());
    s.writeBool("ReslForm", "Visible", actions_.at("ReslWindow")->isChecked());
    s.writeBool("StatForm", "Visible", actions_.at("StatWindow")->isChecked());
    s.writeBool("ReslForm", "Save", actions_.at("SaveStats")->isChecked());
    s.writeBool("StatForm", "Save", actions_.at("SaveResults")->isChecked());
    s.writeBool("StatForm", "Stop", actions_.at("StopOnNorms")->isChecked());
    s.writeBool("StatForm", "Dumb5G", actions_.at("Dumb5G")->isChecked());
    s.writePlacement("MainForm", geometry());
}

} // namespace vetlina
