// The run window: the small bar that stands for a run while it lasts. It shows the
// state line LabState and the four link counters, carries the popup menu (documents,
// the viewer windows and their printing, the four run options, the end of work), takes
// F5-F8 for printing, and owns the run with its viewer windows and pause window.
//
// Threads: the run's workers reach the windows only through the run's UI bridge, which
// the Qt event loop serves on the main thread; every model change is told to the
// windows there (WindowModels::changed). The windows are released at the end of the
// run only after they have been cut off from the models, so no update reaches a window
// that has gone.
#pragma once

#include "app/Run.h"
#include "app/StartModes.h"
#include "config/Configuration.h"
#include "gui/PrintWindow.h"
#include "ui/UiBridge.h"
#include "ui/WindowModels.h"

#include <QWidget>
#include <array>
#include <functional>
#include <map>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QPrinter;

namespace vetlina {

class TAlarmForm;
class TProtForm;
class TReslForm;
class TShowForm;
class TStatForm;
class ViewerWindow;

// The four viewer windows, in the order of their print keys F5-F8.
enum class Viewer { Results, Statistics, Protocol, Visualisation };

class TMetrForm : public QWidget {
    Q_OBJECT
public:
    // caption: the main window's caption; mainFrame: the main window's frame, from which
    // the windows of the run take their default places, and decoration: its title bar
    // and borders (what a frame has around the client area).
    TMetrForm(Dialogs& dialogs, WorkerFactory& workers, Scenario& scenario, std::string ident,
              DocumentPaths documents, const QString& caption, const QRect& mainFrame,
              const QMargins& decoration = QMargins());
    ~TMetrForm() override;

    WindowModels& models() { return models_; }
    UiBridge& bridge() { return bridge_; }
    Run& run() { return run_; }
    bool active() const { return run_.active(); }

    // Takes the check marks of the window items and the options from the models (set by
    // the main window), shows the run window and each checked viewer, and posts the
    // start message of the mode; the run starts when the loop serves it.
    void start(StartMode mode);
    // Called on the main thread once the run has been torn down; the windows of the run
    // have been cut off from the models, their placement saved and they are hidden.
    std::function<void(RunEnd)> ended;
    // Opens a document with the desktop's program (the main window's way).
    std::function<void(const std::string& path)> openDocument;
    // Prepares the printer for a print: the print dialog (default printer, or a PDF
    // file) unless replaced. False cancels the print.
    std::function<bool(QPrinter& printer, QWidget* window)> choosePrinter;

    ViewerWindow* viewer(Viewer which) const;
    TProtForm* protForm() const { return prot_.get(); }
    TReslForm* reslForm() const { return resl_.get(); }
    TStatForm* statForm() const { return stat_.get(); }
    TShowForm* showForm() const { return show_.get(); }
    TAlarmForm* alarmForm() const { return alarm_.get(); }
    QLabel* labState() const { return labState_; }
    QLabel* counter(RunCounter which) const { return counters_[static_cast<std::size_t>(which)]; }
    QMenu* popup() const { return popup_; }
    QAction* item(const char* name) const;

    // Prints a viewer window (if it is visible); true when a page was printed.
    bool printViewer(Viewer which);
    // The print keys F5-F8 of this window and of the viewers; true when handled.
    bool printKey(int key);
    // The client height of the bar, and its least width.
    static constexpr int kClientHeight = 23;
    static constexpr int kMinWidth = 200;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildMenu();
    void placeWindows(const QRect& mainFrame);
    void serve();
    void redraw(ModelPart part);
    void setWindowItem(Viewer which, bool checked);
    void N21Click();
    void N9Click();
    void runEnded(RunEnd how);
    void savePlacement();
    void releaseWindows();

    QMargins decoration_;
    WindowModels models_;
    UiBridge bridge_;
    Run run_;
    DocumentPaths documents_;
    QLabel* labState_;
    std::array<QLabel*, kRunCounterCount> counters_{};
    QMenu* popup_;
    std::map<std::string, QAction*> items_;
    std::unique_ptr<TProtForm> prot_;
    std::unique_ptr<TStatForm> stat_;
    std::unique_ptr<TShowForm> show_;
    std::unique_ptr<TReslForm> resl_;
    std::unique_ptr<TAlarmForm> alarm_;
    int depth_ = 0;         // serve() calls on the stack
    bool released_ = false; // the viewers are cut off from the models
    bool sizing_ = false;   // the size rules are being applied
};

} // namespace vetlina
