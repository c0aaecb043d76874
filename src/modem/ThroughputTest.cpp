// The data throughput test, the modem thread's ThroughputTest step: the modems connect
// at 2400 bit/s on the line the analyzers hold, each side sends its pattern and counts
// what comes in, and the result goes on to the reconnection for the result exchange
// (Reconnect) whatever happened.
#include "modem/ThroughputTest.h"

#include "analyzer/VisualisationPanel.h"
#include "modem/Calling.h"
#include "modem/Modem.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "reports/ResultsEntry.h"
#include "ui/UiBridge.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace vetlina {
namespace {

constexpr double kLongestTestS = 86399.0; // "23:59:59", the editor's longest duration
constexpr uint32_t kLongWarmUpFromMs = 23000;
constexpr uint32_t kLongWarmUpMs = 20000;
constexpr uint32_t kShortWarmUpLessMs = 3000;
constexpr uint32_t kSettleMs = 300;       // after the connection, before the first pattern
constexpr uint32_t kDisplayEveryMs = 900; // the result is shown this often
constexpr uint32_t kHeldPatternSleepMs = 50;
constexpr uint32_t kReopenSleepMs = 500;
constexpr std::size_t kReadMax = 512;

const char* const kConnectionText = "Соединение на 2400 бит/с";
const char* const kNotMeasuredLine = "Пропускная способность не измерена";

} // namespace

float throughputPercent(uint64_t bytes, uint32_t ms) {
    if (ms == 0)
        return 0.0f;
    const double percent = static_cast<double>(bytes) * 100000.0 / ms * kThroughputFactor;
    return static_cast<float>(std::min(percent, 100.0));
}

uint32_t throughputDurationMs(const ScenarioEntry& entry) {
    const double seconds = entry.DiscrTime.get();
    if (!std::isfinite(seconds) || seconds <= 0.0)
        return 0;
    return static_cast<uint32_t>(std::min(seconds, kLongestTestS) * 1000.0);
}

uint32_t warmUpMs(uint32_t durationMs) {
    if (durationMs >= kLongWarmUpFromMs)
        return kLongWarmUpMs;
    return durationMs > kShortWarmUpLessMs ? durationMs - kShortWarmUpLessMs : 0;
}

int32_t throughputProgress(bool deadlinePassed, int32_t leftMs, uint32_t durationMs) {
    if (deadlinePassed || durationMs == 0)
        return 100;
    const double left = std::clamp<double>(leftMs, 0.0, durationMs);
    return static_cast<int32_t>(100.0 - left / durationMs * 100.0 + 0.5);
}

std::string throughputCommand(const ScenarioEntry& entry, bool calling) {
    return "AT%E2" + upperLatin(textOf(entry.DiscrAT)) + "&L1S37=6%M0" + (calling ? "D" : "A") +
           "\r\n";
}

std::string throughputLine(float percent) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f %%", static_cast<double>(percent));
    return "Пропускная способность = "_cp + text;
}

// ---- The step ------------------------------------------------------------------------

void ThroughputTest::run() {
    ScenarioEntry& e = modem_.entry();
    const std::string discrAt(textOf(e.DiscrAT));
    const std::string connection = toCp1251(kConnectionText);
    modem_.logEvent(discrAt.empty() ? connection : connection + " (" + lowerLatin(discrAt) + ")",
                    true);
    modem_.SetShowCaption(connection);
    modem_.invokeSync([this, &e] {
        setUpVisualisationPanel(modem_.ui().models().show, e);
        modem_.ui().models().notify(ModelPart::Visualisation);
    });
    if (!modem_.control().resetModem())
        return;

    const std::string command = throughputCommand(e, modem_.calling());
    throughput_ = kNotMeasured;
    const uint32_t start = tickMs();
    for (;;) {
        if (modem_.Terminated())
            return;
        const int32_t left = ticksLeft(start + kThroughputWindowMs, tickMs());
        if (left < static_cast<int32_t>(kThroughputNewAttemptMs)) {
            // Too little time for another attempt: the step keeps to its 90 s all the same.
            if (left > 0 && !modem_.sleepUnlessTerminated(static_cast<uint32_t>(left)))
                return;
            break;
        }
        const Attempt outcome = attempt(command, start);
        if (outcome == Attempt::Measured || outcome == Attempt::End)
            return;
        if (outcome == Attempt::GiveUp)
            break;
    }
    notMeasured(true);
    modem_.SetCommand(ModemCommand::Reconnect);
}

ThroughputTest::Attempt ThroughputTest::attempt(const std::string& command, uint32_t start) {
    modem_.dtr(true);
    if (!modem_.control().commandLine(command))
        return Attempt::End;
    const int32_t left = ticksLeft(start + kThroughputWindowMs, tickMs());
    const uint32_t limit =
        std::min<uint32_t>(static_cast<uint32_t>(std::max(left, 0)), kThroughputConnectMs);
    if (!modem_.control().readLine(limit)) {
        if (modem_.Terminated())
            return Attempt::End;
        modem_.logEvent(" -нет соединения"_cp, false);
        modem_.control().dropLine();
        return Attempt::Again;
    }
    if (modem_.control().line() == result::Error) {
        modem_.logEvent("Неправильная команда настройки"_cp, true);
        modem_.control().dropLine();
        return Attempt::GiveUp;
    }
    if (modem_.control().line() == result::NoCarrier) {
        modem_.logEvent(" -неустанов взаимодействия"_cp, false);
        modem_.dtr(false);
        modem_.sleepUnlessTerminated(ModemControl::kAfterDtrDropMs);
        return Attempt::Again;
    }
    if (modem_.control().line() != result::Connect) {
        modem_.logEvent("Неправильное сообщение о соединении"_cp, true);
        modem_.control().dropLine();
        return Attempt::GiveUp;
    }

    const DateTime measured = measure();
    if (modem_.Terminated())
        return Attempt::End;
    modem_.PurgePort();
    if (!modem_.control().hangUp())
        return Attempt::End;
    // The port afresh after the data connection.
    modem_.ClosePort();
    modem_.sleepUnlessTerminated(kReopenSleepMs);
    modem_.OpenPort();
    modem_.dtr(false);
    modem_.sleepUnlessTerminated(kReopenSleepMs);

    if (throughput_ >= 0.0f) {
        if (modem_.ui().models().options.saveResults.load()) {
            modem_.appendProtocol(resultsLink(measured));
            if (RunContext* run = modem_.run())
                appendResults(*run, modem_, measured);
        }
    } else {
        notMeasured(false);
    }
    modem_.SetCommand(ModemCommand::Reconnect);
    return Attempt::Measured;
}

DateTime ThroughputTest::measure() {
    const uint32_t duration = throughputDurationMs(modem_.entry());
    modem_.deadline = tickMs() + duration;
    const DateTime started = now();
    modem_.logEvent("Пропускная способность"_cp, true);
    modem_.SetShowCaption("Пропускная способность"_cp);
    modem_.progressBar = ShowKind::Disc;
    modem_.SetResultsCaption("Передача данных"_cp);

    modem_.sleepUnlessTerminated(kSettleMs);
    if (modem_.Terminated() || !modem_.carrier())
        return started;

    // Warm-up: both sides under way, shown by the far side's first bytes.
    std::array<uint8_t, kReadMax> buffer{};
    uint64_t warmUp = 0;
    const uint32_t warmUpEnd = tickMs() + warmUpMs(duration);
    while (warmUp < kWarmUpBytes && !tickReached(warmUpEnd)) {
        if (modem_.Terminated() || !modem_.carrier())
            return started;
        sendPattern();
        warmUp += modem_.gets(buffer.data(), buffer.size());
    }
    if (warmUp < kWarmUpBytes)
        return started;

    // Measuring, until the deadline set at the start of the measurement. The count goes
    // on from the warm-up's bytes and is held against the time from here on: the far
    // complex computes its figure by the same rule, and both sides store it.
    const uint32_t t0 = tickMs();
    uint32_t shown = t0;
    uint64_t count = warmUp;
    while (!tickReached(modem_.deadline) && !modem_.Terminated() && modem_.carrier()) {
        sendPattern();
        count += modem_.gets(buffer.data(), buffer.size());
        const uint32_t t = tickMs();
        if (t - shown > kDisplayEveryMs) {
            throughput_ = throughputPercent(count, t - t0);
            show(false, ticksLeft(modem_.deadline, t));
            shown = t;
        }
    }
    const uint32_t t = tickMs();
    if (t != t0) {
        throughput_ = throughputPercent(count, t - t0);
        show(tickReached(modem_.deadline, t), ticksLeft(modem_.deadline, t));
    }
    return started;
}

void ThroughputTest::sendPattern() {
    // Nothing while the modem holds the transmission (CTS off).
    if (modem_.ClearErrors())
        return;
    std::array<uint8_t, kPatternSize> pattern;
    pattern.fill(kPatternByte);
    if (!modem_.puts(pattern.data(), pattern.size())) {
        modem_.traceEvent(" -не выданы данные"_cp);
        sleepMs(kHeldPatternSleepMs);
    }
}

void ThroughputTest::show(bool deadlinePassed, int32_t leftMs) {
    const uint32_t duration = throughputDurationMs(modem_.entry());
    modem_.progress = throughputProgress(deadlinePassed, leftMs, duration);
    const std::string line = throughputLine(throughput_);
    modem_.invokeSync([this, &line] {
        WindowModels& models = modem_.ui().models();
        models.results.lines = {line};
        models.notify(ModelPart::Results);
        models.show.kind(modem_.progressBar).progress = modem_.progress;
        models.notify(ModelPart::Visualisation);
    });
}

void ThroughputTest::notMeasured(bool withCaption) {
    modem_.logEvent(" -пропускная способность не измерена"_cp, true);
    const std::string caption = toCp1251(kConnectionText);
    const std::string line = toCp1251(kNotMeasuredLine);
    modem_.invokeSync([&] {
        WindowModels& models = modem_.ui().models();
        if (withCaption)
            models.results.caption = caption;
        models.results.lines = {line};
        models.notify(ModelPart::Results);
    });
}

} // namespace vetlina
