// Doubles of the analyzer and modem threads for the tests of the run: they record what
// happens to them, can fail their start-up as the real threads do (stopped, a
// message box, MSG_RUN_END), and run a loop that counts the steps it performs.
#pragma once

#include "analyzer/Results.h"
#include "app/Complex.h"
#include "device/WorkerThreads.h"
#include "platform/Clock.h"
#include "ui/UiBridge.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

namespace vetlina::test {

// What the doubles and their factory saw, in order.
class WorkerLog {
public:
    void add(const std::string& event) {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
    }
    std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

// Checks the life of the threads named (in creation order) as the events tell it: each
// was created in that order, started, performed no step unless steps are allowed, and
// ended; every thread ended before the first was deleted; deletion in creation order.
// Empty when all holds, else what did not.
inline std::string checkLifecycle(const std::vector<std::string>& events,
                                  const std::vector<std::string>& names, bool stepsAllowed) {
    auto at = [&](const std::string& e) {
        auto it = std::find(events.begin(), events.end(), e);
        return it == events.end() ? -1 : static_cast<int>(it - events.begin());
    };
    std::string problems;
    int lastCreated = -1, lastEnded = -1, firstDeleted = 1 << 30, lastDeleted = -1;
    for (const auto& n : names) {
        int created = at(n + " created"), started = at(n + " started"), ended = at(n + " ended"),
            deleted = at(n + " deleted");
        if (created <= lastCreated)
            problems += n + " created out of order; ";
        if (started < 0 || ended < started)
            problems += n + " did not start and end; ";
        if (deleted <= lastDeleted)
            problems += n + " deleted out of order; ";
        lastCreated = created;
        lastDeleted = deleted;
        lastEnded = std::max(lastEnded, ended);
        firstDeleted = std::min(firstDeleted, deleted);
    }
    if (lastEnded > firstDeleted)
        problems += "a thread was deleted before every thread had ended; ";
    if (!stepsAllowed)
        for (const auto& e : events)
            if (e.find(" step ") != std::string::npos)
                problems += "unexpected " + e + "; ";
    if (events.size() != 4 * names.size() && !stepsAllowed)
        problems += "other events than the life of the threads; ";
    return problems;
}

// The command a double's start-up leaves when it succeeds: the analyzer's, as the real
// one; the modem double idles (it dials nobody).
template <typename Base>
struct ReadyCommand;
template <>
struct ReadyCommand<AnalyzerThread> {
    static constexpr AnalyzerCommand value = AnalyzerCommand::SwitchOff;
};
template <>
struct ReadyCommand<ModemThread> {
    static constexpr ModemCommand value = ModemCommand::Idle;
};

// The loop both doubles run: any command but Idle, Stopped and the start-up's is a step;
// `step` does its work.
template <typename Base>
class DoubleWorker : public Base {
public:
    DoubleWorker(UiBridge& ui, WorkerLog& log, std::string name, bool failStartUp,
                 EventWriter* run = nullptr)
        : Base(ui, nullptr, run), log_(log), name_(std::move(name)) {
        log_.add(name_ + " created");
        if (failStartUp) {
            this->stop();
            this->showProtocolLine("COM: " + name_ + " failed");
            ui.dialogs().showMessage(name_, "start-up failed", DialogIcon::Warning);
            ui.post(MSG_RUN_END);
        } else {
            this->SetCommand(ReadyCommand<Base>::value);
        }
    }
    ~DoubleWorker() override { log_.add(name_ + " deleted"); }

    std::atomic<int> steps{0};
    // Runs on the worker for each step; the command is then Idle.
    std::function<void(DoubleWorker&)> step;
    // Runs on the worker after its loop has ended.
    std::function<void(DoubleWorker&)> atEnd;
    // Runs on the worker when it starts, before its loop.
    std::function<void(DoubleWorker&)> atStart;

protected:
    void Execute() override {
        log_.add(name_ + " started");
        if (atStart)
            atStart(*this);
        while (!this->Terminated()) {
            const auto command = this->command();
            using Command = std::remove_cvref_t<decltype(command)>;
            if (command != Command::Idle && command != Command::Stopped &&
                command != ReadyCommand<Base>::value) {
                ++steps;
                log_.add(name_ + " step " + std::to_string(static_cast<int32_t>(command)));
                if (step)
                    step(*this);
                this->SetCommand(Command::Idle);
            }
            sleepMs(2);
        }
        if (atEnd)
            atEnd(*this);
        log_.add(name_ + " ended");
    }

private:
    WorkerLog& log_;
    std::string name_;
};

class DoubleAnalyzer : public DoubleWorker<AnalyzerThread> {
public:
    using DoubleWorker::DoubleWorker;
    int16_t serial = 0;
    int16_t firmware = 0;
    int16_t serialNumber() const override { return serial; }
    int16_t firmwareNumber() const override { return firmware; }
    void setFirstPass(bool on) override { first = on; }
    bool firstPass() const override { return first; }
    LiveResults& liveResults() override { return results; }
    std::atomic<bool> first{false};
    LiveResults results;
};

class DoubleModem : public DoubleWorker<ModemThread> {
public:
    using DoubleWorker::DoubleWorker;
    std::atomic<ModemRole> currentRole{ModemRole::Answering};
    ModemRole role() const override { return currentRole.load(); }
    bool simplifiedCall() const override { return false; }
};

// Makes the doubles; each can be left out (null, as for a thread class that does not
// exist yet) or made to fail its start-up.
class DoubleFactory : public WorkerFactory {
public:
    explicit DoubleFactory(WorkerLog& log) : log_(log) {}

    bool makeAnalyzer = true, makeModem = true;
    bool failAnalyzer = false, failModem = false;
    int32_t analyzerPort = 2, modemPort = 1;
    int16_t serial = 0, firmware = 0;
    std::function<void(DoubleAnalyzer&)> analyzerStep, analyzerAtEnd;
    std::function<void(DoubleModem&)> modemStep, modemAtEnd, modemAtStart;

    DoubleAnalyzer* analyzer = nullptr;
    DoubleModem* modem = nullptr;
    ModemRole givenRole = ModemRole::AnsweringServed;

    std::unique_ptr<AnalyzerThread> createAnalyzer(RunContext& complex) override {
        if (!makeAnalyzer)
            return nullptr;
        auto thread = std::make_unique<DoubleAnalyzer>(complex.ui(), log_, "analyzer", failAnalyzer,
                                                       &complex);
        thread->portNumber = analyzerPort;
        thread->serial = serial;
        thread->firmware = firmware;
        if (analyzerStep)
            thread->step = [this](auto& w) { analyzerStep(static_cast<DoubleAnalyzer&>(w)); };
        if (analyzerAtEnd)
            thread->atEnd = [this](auto& w) { analyzerAtEnd(static_cast<DoubleAnalyzer&>(w)); };
        analyzer = thread.get();
        return thread;
    }

    std::unique_ptr<ModemThread> createModem(RunContext& complex, ModemRole role) override {
        givenRole = role;
        if (!makeModem)
            return nullptr;
        auto thread =
            std::make_unique<DoubleModem>(complex.ui(), log_, "modem", failModem, &complex);
        thread->portNumber = modemPort;
        thread->currentRole = role;
        if (modemStep)
            thread->step = [this](auto& w) { modemStep(static_cast<DoubleModem&>(w)); };
        if (modemAtEnd)
            thread->atEnd = [this](auto& w) { modemAtEnd(static_cast<DoubleModem&>(w)); };
        if (modemAtStart)
            thread->atStart = [this](auto& w) { modemAtStart(static_cast<DoubleModem&>(w)); };
        modem = thread.get();
        return thread;
    }

private:
    WorkerLog& log_;
};

} // namespace vetlina::test
