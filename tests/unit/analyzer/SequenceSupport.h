// Doubles and helpers for the tests of the measurement sequence: a modem thread that
// records the commands the analyzer hands it, an analyzer thread bound to that double,
// a recorder of the event lines with their ticks, and scenario entries.
#pragma once

#include "EntryKinds.h"
#include "analyzer/ZMK.h"
#include "app/Complex.h"
#include "device/WorkerThreads.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "scenario/ScenarioEntry.h"
#include "ui/UiBridge.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace vetlina::test {

// How much faster than real time the clock runs in the tests of the sequence. Where
// the far end streams frame sets, the analysis must keep up with the stream; the
// sanitizer builds run several times slower.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr double kSequenceScale = 5.0;
inline constexpr double kStreamScale = 2.0;
#else
inline constexpr double kSequenceScale = 10.0;
inline constexpr double kStreamScale = 10.0;
#endif
// Start-up waits for bytes with 300 ms time-outs: it runs at the real pace.
inline constexpr double kStartupScale = 1.0;

// A modem thread that takes every command the analyzer sets, records it with its tick,
// and goes back to 0, as the real one idles between its steps.
class RecordingModem : public ModemThread {
public:
    struct Received {
        uint32_t tick;
        ModemCommand command;
    };
    explicit RecordingModem(UiBridge& ui, ModemRole role = ModemRole::CallingInCall)
        : ModemThread(ui, nullptr), role_(role) {}
    ~RecordingModem() override {
        stop();
        Terminate();
        DeviceThread::WaitFor();
    }

    ModemRole role() const override { return role_.load(); }
    bool simplifiedCall() const override { return simplified.load(); }
    std::atomic<bool> simplified{false};

    std::vector<Received> received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }
    std::vector<ModemCommand> commands() const {
        std::vector<ModemCommand> out;
        for (const auto& r : received())
            out.push_back(r.command);
        return out;
    }

protected:
    void Execute() override {
        while (!Terminated()) {
            const ModemCommand c = command();
            if (c != ModemCommand::Idle && c != ModemCommand::Stopped) {
                {
                    std::lock_guard lock(mutex_);
                    received_.push_back({tickMs(), c});
                }
                SetCommand(ModemCommand::Idle);
            }
            sleepMs(1);
        }
    }

private:
    std::atomic<ModemRole> role_;
    mutable std::mutex mutex_;
    std::vector<Received> received_;
};

// The analyzer thread with its modem thread given, instead of the run's, and the
// process-wide current entry as its run's entry.
class BoundZmk : public ZMK {
public:
    BoundZmk(UiBridge& ui, PortFactory ports, ModemThread* modemThread)
        : ZMK(ui, std::move(ports)), modem_(modemThread) {}
    ~BoundZmk() override { endThread(); }

protected:
    ModemThread* modem() override { return modem_; }
    const ScenarioEntry* runEntry() const override { return currentEntry(); }

private:
    ModemThread* modem_;
};

// Records each new text of the run window's state label with the tick it came at: the
// event lines of the sequence (main thread).
class StateLines {
public:
    struct Line {
        uint32_t tick;
        std::string text; // UTF-8, without the time stamp
    };
    explicit StateLines(WindowModels& models) : models_(models) {
        models_.changed = [this](ModelPart part) {
            if (part == ModelPart::Visualisation && models_.show.caption != lastCaption_) {
                lastCaption_ = models_.show.caption;
                captions_.push_back({tickMs(), toUtf8(lastCaption_)});
            }
            if (part != ModelPart::RunWindow || models_.run.stateLabel == last_)
                return;
            last_ = models_.run.stateLabel;
            const std::string text = toUtf8(last_);
            // "hh:nn:ss " in front.
            lines_.push_back({tickMs(), text.size() > 9 ? text.substr(9) : text});
        };
    }
    ~StateLines() { models_.changed = nullptr; }
    const std::vector<Line>& lines() const { return lines_; }
    // The captions of the visualisation window, with their ticks.
    const std::vector<Line>& captions() const { return captions_; }
    uint32_t captionTick(const std::string& text) const {
        for (const Line& c : captions_)
            if (c.text == text)
                return c.tick;
        return 0;
    }
    // The tick of the first line with this text after `from` (0 when none).
    uint32_t tickOf(const std::string& text, std::size_t from = 0) const {
        for (std::size_t i = from; i < lines_.size(); ++i)
            if (lines_[i].text == text)
                return lines_[i].tick;
        return 0;
    }

private:
    WindowModels& models_;
    std::string last_;
    std::string lastCaption_;
    std::vector<Line> lines_;
    std::vector<Line> captions_;
};

// An entry that measures every kind, each for `seconds`, with the synchronisation
// delay stored as `sinc`.
inline ScenarioEntry everyKindEntry(double seconds, int32_t sinc) {
    ScenarioEntry e = defaultEntry();
    e.Analog = 1;
    e.ComplexType = kFullComplexType;
    e.SincTime = sinc;
    e.sinSNROn = 1;
    e.o132SNROn = 1;
    e.o131SNROn = 1;
    e.mttAttOn = 1;
    e.o42Dis2On = 1;
    e.impImpedOn = 1;
    e.blkNoiseOn = 1;
    e.echoTalkOn = 1;
    e.disPassOn = 1;
    setEveryKindTime(e, seconds);
    return e;
}

// An entry with the electrical parameters switched on and not one parameter selected:
// it measures nothing until a test selects something.
inline ScenarioEntry nothingEntry() {
    ScenarioEntry e = everyKindEntry(10.0, 8);
    clearEverySelection(e);
    return e;
}

} // namespace vetlina::test
