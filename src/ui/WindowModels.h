// What the windows of a run show, kept in the core as plain models. They are written
// only on the main thread (workers hand their updates over through
// UiBridge::invokeSync); the Qt windows observe them and draw them, and the documents
// read them (the results entry copies the results list), so that the headless runner
// writes the same documents as the windows.
#pragma once

#include "ui/ProtocolMemo.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vetlina {

// The four link counters of the run window, right to left as the window shows them.
enum class RunCounter {
    ZmkRecvBadBlk,   // nZmkRecvBadBlk: corrupted blocks from the analyzer
    ZmkSendNotReady, // nZmkSendNotReady: lost analyzer acknowledgements
    MdmRecvErr,      // nMdmRecvErr: session-link receive errors
    MdmSendErr,      // nMdmSendErr: session-link repeats
};
inline constexpr std::size_t kRunCounterCount = 4;

// The run window (TMetrForm): its caption, the state label LabState, the four counters
// and the check marks of its four window items.
struct RunWindowModel {
    std::string caption;
    std::string stateLabel;
    std::array<int32_t, kRunCounterCount> counters{};

    int32_t counter(RunCounter which) const { return counters[static_cast<std::size_t>(which)]; }
    // The counter as the window shows it ("0" at first).
    std::string counterText(RunCounter which) const { return std::to_string(counter(which)); }

    // Window items of the menu; each also enables its print item.
    bool resultsWindow = true;       // "Окно результатов" (N1)
    bool statisticsWindow = true;    // "Окно статистики" (N3)
    bool protocolWindow = true;      // "Окно протокола" (N5)
    bool visualisationWindow = true; // "Окно визуализации" (N7)
};

// The four run options of the run window's menu. The operator toggles them on the main
// thread while the worker threads read them, so each is an atomic flag.
struct RunOptions {
    std::atomic<bool> saveStatistics{false}; // "Сохранять статистику сеансов" (N16)
    std::atomic<bool> saveResults{false}; // "Сохранять результаты измерений" (N10)
    std::atomic<bool> stopOnNorms{false}; // "Останов при невыполнении норм" (N14)
    std::atomic<bool> simpleGenerator{false}; // "Упрощенный вызов генератора" (N17)
};

// A list window: the results window (TReslForm, ReslBox) or the statistics window
// (TStatForm, StatBox): its caption and its lines (cp1251).
struct ListModel {
    std::string caption;
    std::vector<std::string> lines;
};

// The pause window (TAlarmForm): shown by the session dialogue when a session broke
// a norm and the run option "Останов при невыполнении норм" is on. It lists the
// parameters that broke their norms (ParBox, filled by the evaluation), lets the
// operator stop the measurements, write a note for the protocol and continue; on the
// calling complex a countdown of AlarmTime seconds continues by itself. The front end
// drives the timer T1 (tick once a second while timerOn) and the buttons; the dialogue
// reads only whether the window is still visible and the note.
struct PauseWindowModel {
    std::vector<std::string> parameters; // ParBox
    bool visible = false;
    std::string caption;
    std::string question;      // Label1
    bool stopEnabled = false;  // ButtonStop "Остановить"
    bool startEnabled = false; // ButtonStart "Продолжить"
    bool noteEnabled = false;  // Label2 "Записать в протокол :" and PrEdit
    std::string note;          // PrEdit, the operator's note (cp1251)
    bool timerOn = false;      // T1
    int32_t countdown = 0;     // seconds left
    int32_t alarmTime = 300;   // AlarmTime, read when the run's windows are created
    uint32_t beeps = 0;        // counts the beeps of the countdown (the front end sounds them)

    // As the calling complex shows it: "Остановить процесс измерений ?", both buttons,
    // the countdown from AlarmTime running.
    void showAsCaller();
    // As the answering complex shows it: "Продолжить процесс измерений ?", only
    // "Продолжить", no countdown.
    void showAsAnswerer();
    // One tick of T1: the countdown goes down by one; at 0 the window hides itself (the
    // work continues); otherwise the caption shows the time left and the computer beeps.
    void tick();
    // "Остановить": the countdown stops, the note may be written, only "Продолжить" is left.
    void stop();
    // "Продолжить": the window hides (the work continues).
    void start();
    // Hidden (also by the dialogue when it is done); the timer stops.
    void hide();
};

// The measurement kinds of the visualisation panel, each with its duration label and
// its progress bar.
enum class ShowKind { Sin, O132, O131, Mtts, O42, Imp, Blk, Echo, Disc };
inline constexpr std::size_t kShowKindCount = 9;

// The visualisation window (TShowForm): caption, panel, progress and the spectrum the
// graph draws.
struct VisualisationState {
    struct Kind {
        bool enabled = false;
        std::string duration; // "hh:nn:ss"
        int32_t progress = 0; // 0..100
    };
    std::string caption;
    bool panelVisible = false; // hidden until the analyzer shows it
    std::array<Kind, kShowKindCount> kinds{};
    Kind& kind(ShowKind k) { return kinds[static_cast<std::size_t>(k)]; }
    const Kind& kind(ShowKind k) const { return kinds[static_cast<std::size_t>(k)]; }

    // The graph: spectrum points (dBm), the analyzer's mode (-6 draws 4096 points over
    // 0..2559.375 Hz and 0..-70 dB, other modes 2048 points over 0..6400 Hz and
    // 0..-110 dB), and the overload flag that colours the curve red.
    std::vector<float> spectrum;
    int32_t spectrumMode = 0;
    bool overload = false;
    // Counts the repaints asked for by the analyzer thread.
    uint64_t repaints = 0;
};

// Which model a change touched, for observers.
enum class ModelPart { RunWindow, Protocol, Results, Statistics, Pause, Visualisation };

struct WindowModels {
    WindowModels();

    RunWindowModel run;
    RunOptions options;
    ProtocolMemo protocol;
    ListModel results;    // caption " Результаты" until the analyzer sets one
    ListModel statistics; // caption " Статистика"
    PauseWindowModel pause;
    VisualisationState show; // caption " Визуализация"

    // Called on the main thread after a model has changed (front ends redraw).
    std::function<void(ModelPart)> changed;
    void notify(ModelPart part) const {
        if (changed)
            changed(part);
    }

    // The updates of the device hand-offs; each notifies.
    void addProtocolLine(const std::string& line);
    void setStateText(const std::string& text);
    void setResultsCaption(const std::string& text); // clears the results list
    void setShowCaption(const std::string& text);
    void resetStatistics(); // caption "Статистика", list cleared
    void setCounter(RunCounter which, int32_t value);

    // Back to the state of freshly created windows (a new run), the observers kept.
    void resetForRun();
};

} // namespace vetlina
