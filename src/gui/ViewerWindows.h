// The viewer windows of a run: protocol (TProtForm), results (TReslForm), statistics
// (TStatForm) and visualisation (TShowForm) with its progress panel and the spectrum
// plot, and the about box (TAboutBox). The viewers draw the window models
// (ui/WindowModels.h); the run window tells them when a model has changed, always on
// the main thread.
#pragma once

#include "ui/WindowModels.h"

#include <QDialog>
#include <QWidget>
#include <array>
#include <functional>

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;

namespace vetlina {

// What the viewers share: the key preview of F5-F8 and the close box that unchecks the
// window's item in the run window.
class ViewerWindow : public QWidget {
    Q_OBJECT
public:
    // key: the window's key of the per-machine values ("ProtForm" ...).
    ViewerWindow(const char* key, QWidget* parent = nullptr);
    const char* key() const { return key_; }

    // F5-F8 pressed in the window (true when handled).
    std::function<bool(int key)> keyPreview;
    // The operator closed the window by its close box.
    std::function<void()> closedByOperator;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    const char* key_;
};

// The protocol window: ProtMemo, the run's recent event lines.
class TProtForm : public ViewerWindow {
    Q_OBJECT
public:
    explicit TProtForm(const WindowModels& models);
    // A line was added to the memo (its text, cp1251).
    void lineAdded(const std::string& text);
    // The memo dropped lines at its front, or was cleared: shown again from the model.
    void refresh();
    QPlainTextEdit* memo() const { return memo_; }

private:
    const WindowModels& models_;
    QPlainTextEdit* memo_;
    std::size_t shownLines_ = 0;
};

// The results window (ReslBox) or the statistics window (StatBox): a caption and a list.
class ListForm : public ViewerWindow {
    Q_OBJECT
public:
    ListForm(const char* key, const char* boxName, const ListModel& model);
    void refresh();
    QListWidget* box() const { return box_; }

private:
    const ListModel& model_;
    QListWidget* box_;
};

class TReslForm : public ListForm {
    Q_OBJECT
public:
    explicit TReslForm(const WindowModels& models);
};

class TStatForm : public ListForm {
    Q_OBJECT
public:
    explicit TStatForm(const WindowModels& models);
};

// The colours and axis ranges of the spectrum plot.
struct SpectrumAxes {
    double xMax; // Hz
    double yMin; // dB (the top of the plot is 0 dB)
    int points;  // points of a frame
};
SpectrumAxes spectrumAxes(int32_t mode);
inline constexpr QRgb kPlotBackground = 0xFFC0C0C0; // 12632256
inline constexpr QRgb kPlotFrame = 0xFF7F7F7F;      // 8355711
inline constexpr QRgb kCurveNormal = 0xFF00FF00;    // green
inline constexpr QRgb kCurveOverload = 0xFFFF0000;  // red, while the analyzer is overloaded

// The spectrum as the analyzer last sent it: grid, axes in Hz and dB, the curve.
class SpectrumView : public QWidget {
    Q_OBJECT
public:
    explicit SpectrumView(const VisualisationState& show, QWidget* parent = nullptr);
    // Frames drawn (each paint with a curve).
    uint64_t framesDrawn() const { return framesDrawn_; }
    // Drawn only while a run exists.
    void setRunOn(bool on) {
        runOn_ = on;
        update();
    }
    // Draws the plot onto painter within rect (the paint event and the benchmark).
    void draw(QPainter& painter, const QRect& rect) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const VisualisationState& show_;
    uint64_t framesDrawn_ = 0;
    bool runOn_ = true;
};

// The visualisation window: caption, the progress panel of the measurement kinds and
// the spectrum plot.
class TShowForm : public ViewerWindow {
    Q_OBJECT
public:
    explicit TShowForm(const WindowModels& models);
    void refresh();
    SpectrumView* plot() const { return plot_; }
    QWidget* panel() const { return panel_; }
    QProgressBar* bar(ShowKind kind) const { return rows_[static_cast<std::size_t>(kind)].bar; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Row {
        QLabel* name = nullptr;
        QLabel* duration = nullptr;
        QProgressBar* bar = nullptr;
    };
    const WindowModels& models_;
    QWidget* panel_;
    std::array<Row, kShowKindCount> rows_{};
    SpectrumView* plot_;
    uint64_t repaintsSeen_ = 0;
};

// "О программе": the program's picture, its name, version and modification, "Выход".
class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);
};

} // namespace vetlina
