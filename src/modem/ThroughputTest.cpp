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

void MODEM::throughputTest() {
    ScenarioEntry& e = entry();
    const std::string discrAt(textOf(e.DiscrAT));
    const std::string connection = toCp1251(kConnectionText);
    logEvent(discrAt.empty() ? connection : connection + " (" + lowerLatin(discrAt) + ")", true);
    SetShowCaption(connection);
    invokeSync([this, &e] {
        setUpVisualisationPanel(ui().models().show, e);
        ui().models().notify(ModelPart::Visualisation);
    });
    if (!resetModem())
        return;

    const std::string command = throughputCommand(e, calling());
    throughput = kNotMeasured;
    const uint32_t start = tickMs();
    for (;;) {
        if (Terminated())
            return;
        const int32_t left = ticksLeft(start + kThroughputWindowMs, tickMs());
        if (left < static_cast<int32_t>(kThroughputNewAttemptMs)) {
            // Too little time for another attempt: the step keeps to its 90 s all the same.
            if (left > 0 && !sleepUnlessTerminated(static_cast<uint32_t>(left)))
                return;
            break;
        }
        const Attempt attempt = throughputAttempt(command, start);
        if (attempt == Attempt::Measured || attempt == Attempt::End)
            return;
        if (attempt == Attempt::GiveUp)
            break;
    }
    throughputNotMeasured(true);
    SetCommand(ModemCommand::Reconnect);
}

MODEM::Attempt MODEM::throughputAttempt(const std::string& command, uint32_t start) {
    dtr(true);
    if (!commandLine(command))
        return Attempt::End;
    const int32_t left = ticksLeft(start + kThroughputWindowMs, tickMs());
    const uint32_t limit =
        std::min<uint32_t>(static_cast<uint32_t>(std::max(left, 0)), kThroughputConnectMs);
    if (!readLine(limit)) {
        if (Terminated())
            return Attempt::End;
        logEvent(" -нет соединения"_cp, false);
        dropLine();
        return Attempt::Again;
    }
    if (responseLine == result::Error) {
        logEvent("Неправильная команда настройки"_cp, true);
        dropLine();
        return Attempt::GiveUp;
    }
    if (responseLine == result::NoCarrier) {
        logEvent(" -неустанов взаимодействия"_cp, false);
        dtr(false);
        sleepUnlessTerminated(kAfterDtrDropMs);
        return Attempt::Again;
    }
    if (responseLine != result::Connect) {
        logEvent("Неправильное сообщение о соединении"_cp, true);
        dropLine();
        return Attempt::GiveUp;
    }

    const DateTime measured = measureThroughput();
    if (Terminated())
        return Attempt::End;
    PurgePort();
    if (!hangUp())
        return Attempt::End;
    // The port afresh after the data connection.
    ClosePort();
    sleepUnlessTerminated(kReopenSleepMs);
    OpenPort();
    dtr(false);
    sleepUnlessTerminated(kReopenSleepMs);

    if (throughput >= 0.0f) {
        if (ui().models().options.saveResults.load()) {
            appendProtocol(resultsLink(measured));
            if (run_)
                appendResults(*run_, *this, measured);
        }
    } else {
        throughputNotMeasured(false);
    }
    SetCommand(ModemCommand::Reconnect);
    return Attempt::Measured;
}

DateTime MODEM::measureThroughput() {
    const uint32_t duration = throughputDurationMs(entry());
    deadline = tickMs() + duration;
    const DateTime started = now();
    logEvent("Пропускная способность"_cp, true);
    SetShowCaption("Пропускная способность"_cp);
    progressBar = ShowKind::Disc;
    SetResultsCaption("Передача данных"_cp);

    sleepUnlessTerminated(kSettleMs);
    if (Terminated() || !carrier())
        return started;

    // Warm-up: both sides under way, shown by the far side's first bytes.
    std::array<uint8_t, kReadMax> buffer{};
    uint64_t warmUp = 0;
    const uint32_t warmUpEnd = tickMs() + warmUpMs(duration);
    while (warmUp < kWarmUpBytes && !tickReached(warmUpEnd)) {
        if (Terminated() || !carrier())
            return started;
        sendPattern();
        warmUp += gets(buffer.data(), buffer.size());
    }
    if (warmUp < kWarmUpBytes)
        return started;

    // Measuring, until the deadline set at the start of the measurement. The count goes
    // on from the warm-up's bytes and is held against the time from here on: the far
    // complex computes its figure by the same rule, and both sides store it.
    const uint32_t t0 = tickMs();
    uint32_t shown = t0;
    uint64_t count = warmUp;
    while (!tickReached(deadline) && !Terminated() && carrier()) {
        sendPattern();
        count += gets(buffer.data(), buffer.size());
        const uint32_t t = tickMs();
        if (t - shown > kDisplayEveryMs) {
            throughput = throughputPercent(count, t - t0);
            showThroughput(false, ticksLeft(deadline, t));
            shown = t;
        }
    }
    const uint32_t t = tickMs();
    if (t != t0) {
        throughput = throughputPercent(count, t - t0);
        showThroughput(tickReached(deadline, t), ticksLeft(deadline, t));
    }
    return started;
}

void MODEM::sendPattern() {
    // Nothing while the modem holds the transmission (CTS off).
    if (ClearErrors())
        return;
    std::array<uint8_t, kPatternSize> pattern;
    pattern.fill(kPatternByte);
    if (!puts(pattern.data(), pattern.size())) {
        traceEvent(" -не выданы данные"_cp);
        sleepMs(kHeldPatternSleepMs);
    }
}

void MODEM::showThroughput(bool deadlinePassed, int32_t leftMs) {
    const uint32_t duration = throughputDurationMs(entry());
    progress = throughputProgress(deadlinePassed, leftMs, duration);
    const std::string line = throughputLine(throughput);
    invokeSync([this, &line] {
        WindowModels& models = ui().models();
        models.results.lines = {line};
        models.notify(ModelPart::Results);
        models.show.kind(progressBar).progress = progress;
        models.notify(ModelPart::Visualisation);
    });
}

void MODEM::throughputNotMeasured(bool withCaption) {
    logEvent(" -пропускная способность не измерена"_cp, true);
    const std::string caption = toCp1251(kConnectionText);
    const std::string line = toCp1251(kNotMeasuredLine);
    invokeSync([&] {
        WindowModels& models = ui().models();
        if (withCaption)
            models.results.caption = caption;
        models.results.lines = {line};
        models.notify(ModelPart::Results);
    });
}

} // namespace vetlina
