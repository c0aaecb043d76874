// The main window: the scenario editor. It holds its controls and one handler per
// control event; every handler calls the editor (editor/ScenarioEditor.h) and then
// redraws from it. The numeric fields are built from the editor's field table.
#pragma once

#include "config/Configuration.h"
#include "editor/ScenarioEditor.h"
#include "reports/RunContext.h"
#include "scenario/Scenario.h"

#include <QMainWindow>
#include <map>
#include <memory>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTableView;
class QToolBar;
class QGridLayout;

namespace vetlina {

class ComplexListModel;
class FieldPair;
class TMetrForm;
enum class StartMode;

// The commands' file dialogs as Qt file dialogs in the folder "SCN".
class QtFileChooser : public FileChooser {
public:
    explicit QtFileChooser(QWidget* parent) : parent_(parent) {}
    std::optional<std::string> chooseOpen(FileKind kind) override;
    std::optional<std::string> chooseSave(FileKind kind) override;

private:
    QWidget* parent_;
};

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // dialogs and files: the message boxes and file dialogs (Qt's in the program, recorded
    // ones in tests). The identifier is read from Vetlina.ini in the current directory.
    TForm1(Dialogs& dialogs, FileChooser& files, QWidget* parent = nullptr);
    ~TForm1() override;

    ScenarioEditor& editor() { return *editor_; }
    Scenario& scenario() { return scenario_; }
    QTabWidget* pages() const { return pages_; }
    QTableView* listBox() const { return listBox_; }
    FieldPair* pair(const char* name) const;
    QCheckBox* checkBox(const char* name) const;
    QAction* action(const char* name) const;
    QLabel* totalLabel(int which) const; // 0 session, 1 cycle, 2 passport
    // The run window of the current (or last) run.
    TMetrForm* runWindow() const { return runWindow_.get(); }
    // The workers of the runs started here (the configured serial ports by default).
    void setWorkerFactory(std::unique_ptr<WorkerFactory> workers) { workers_ = std::move(workers); }

    // Takes the focus to the list, so that a value still being typed is checked and
    // stored first (before saving, starting a run or closing).
    void commitPendingEdit();
    // Shows the current entry in every page.
    void showEntry();

    // Handlers (named after their controls and events).
    void bAddClick();
    void bDelClick();
    void CheckSortClick();
    void SpeedNewClick();
    void SpeedOpenScenClick();
    void SpeedSaveScenClick();
    void SpeedOpenTempClick();
    void SpeedSaveTempClick();
    void SpeedPrintClick();
    void SpeedAboutClick();
    void ToolsClick();
    void ModemSetupClick();
    void startRun(StartMode mode);
    void AboutClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void buildMenus();
    void buildListPanel(QWidget* panel);
    QWidget* buildDiallingPage();
    QWidget* buildMeasurementsPage();
    QWidget* buildSettingsPage();
    QWidget* buildNorms1Page();
    QWidget* buildNorms2Page();
    QWidget* buildNorms3Page();
    FieldPair* makePair(const char* name, QWidget* parent);
    QCheckBox* makeCheck(const char* name, const QString& caption, QWidget* parent);
    void addRow(QGridLayout* grid, int row, const QString& label, const char* name);
    void onLeave(FieldPair* pair);
    void onStep(FieldPair* pair, int direction);
    void onTextEdited(FieldPair* pair, const QString& text);
    void onCheck(QCheckBox* box);
    void refusedAt(QLineEdit* edit, EditorPage page);
    void showFields();
    void showStates();
    void showTotals();
    void showList();
    void showCommands();
    void selectLine(int line);
    void readSettings();
    void writeSettings();
    void openDocument(const std::string& path);
    void runEnded();

    Dialogs& dialogs_;
    FileChooser& files_;
    Scenario scenario_;
    std::string complexId_;
    std::unique_ptr<ScenarioEditor> editor_;
    DocumentPaths documents_;
    DocumentsExist exist_;
    bool firstPaint_ = true;
    bool handling_ = false; // a handler is running (its message box must not re-enter)

    QTabWidget* pages_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QTableView* listBox_ = nullptr;
    ComplexListModel* listModel_ = nullptr;
    QLineEdit* editId_ = nullptr;
    QLineEdit* editNum_ = nullptr;
    QPushButton* bAdd_ = nullptr;
    QPushButton* bDel_ = nullptr;
    QCheckBox* checkSort_ = nullptr;
    QLineEdit* editId1_ = nullptr;
    QLineEdit* editNum1_ = nullptr;
    QLabel* labelId1_ = nullptr;
    QLabel* labelNum1_ = nullptr;
    QLineEdit* editDate_ = nullptr;
    QLineEdit* editBegTime_ = nullptr;
    QLineEdit* editEndTime_ = nullptr;
    QLineEdit* editAT_ = nullptr;
    QLineEdit* editDiscrAT_ = nullptr;
    QLabel* labelDiscrTime_ = nullptr;
    QLabel* labelDiscrAT_ = nullptr;
    QRadioButton* radioFull_ = nullptr;
    QRadioButton* radioGenerator_ = nullptr;
    QRadioButton* radioRelative_ = nullptr;
    QRadioButton* radioAbsolute_ = nullptr;
    QGroupBox* generatorBox_ = nullptr;
    QLabel* totals_[3] = {};
    std::map<std::string, FieldPair*> pairs_;
    std::map<std::string, QCheckBox*> checks_;
    std::map<std::string, QAction*> actions_;
    std::map<MeasureGroup, QLabel*> rowLabels_;
    std::map<MeasureGroup, QGroupBox*> groupBoxes_;
    std::unique_ptr<WorkerFactory> workers_;
    std::unique_ptr<TMetrForm> runWindow_;
};

} // namespace vetlina
