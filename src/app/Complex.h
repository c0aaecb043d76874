// The measuring complex of one run: the identity of this complex and of the complex at
// the other end of the current connection, the two worker threads, and the five open
// documents. There is never more than one; the process-wide current Complex is empty
// between runs.
#pragma once

#include "config/Configuration.h"
#include "platform/DateTime.h"
#include "reports/EventProtocol.h"
#include "reports/RunContext.h"

#include <atomic>
#include <cstddef>

namespace vetlina {

class Complex : public RunContext {
public:
    // Creation step 1: identity texts cleared, both header-due flags set, no documents, no
    // threads, no current scenario entry. The scenario is the one the run works through;
    // documentIdent is the identifier the front end read at its start: it names the
    // documents' folder.
    Complex(UiBridge& ui, WorkerFactory& workers, Scenario& scenario, std::string documentIdent);
    // Destruction, on the main thread only: both threads are stopped (-1), resumed and
    // asked to end; then waited for, analyzer first, while the hand-offs of the threads
    // are served; then deleted, analyzer first; then the documents are closed in the
    // order passports, results, statistics, summary table, protocol.
    ~Complex() override;
    Complex(const Complex&) = delete;
    Complex& operator=(const Complex&) = delete;

    // Creation steps 2 to 6, on the main thread: the own identity from the configuration;
    // the analyzer thread; the modem thread with the role; the five documents, the
    // protocol with the start text; then both threads resumed. A failing step stops the
    // sequence with MSG_RUN_END posted and the threads not running. Call it after the
    // object has become the current Complex, so that the start-ups can log.
    void create(ModemRole role, const std::string& startText);
    // True once create() has resumed the threads.
    bool started() const { return started_; }

    // ---- Documents ----------------------------------------------------------------
    bool openProtocol(const std::string& startText);
    bool openPassports();
    bool openResults();
    bool openStatistics();
    bool openSummary();

    // ---- Event lines from the main thread (or any thread without a Device) ------------
    void showProtocolLine(const std::string& text) override;
    void SetStateText(const std::string& text) override;
    // One write and flush under the document's lock; a failure shows "Невозможна запись в
    // файл протокола" from the writing thread and posts MSG_RUN_END (once per failed line).
    void appendProtocol(const std::string& text) override;

    // Rewrites the scenario file with the progress of the run (after each session, on the
    // modem thread). A failure stops the modem thread (-1), logs and shows "Ошибка записи
    // файла сценария" (title "Ошибка") and posts MSG_RUN_END; false then.
    bool saveProgress() override;
    // True once a failed save has been shown to the operator (any thread).
    bool progressSaveFailed() const { return progressSaveFailed_.load(); }

    // ---- The run context of the workers and the documents ------------------------------
    UiBridge& ui() override { return ui_; }
    // The scenario of the run: the calling side's entries (the modem thread chooses, calls
    // and updates them; the main window is hidden meanwhile).
    Scenario& scenario() override { return scenario_; }
    // The four run options of the run window, as the operator has them checked now.
    RunOptions& options() override;
    // The process-wide current entry (currentEntry()).
    ScenarioEntry* entry() const override;
    void setEntry(ScenarioEntry* entry) override;
    AnalyzerThread* analyzer() override { return analyzerThread.get(); }
    ModemThread* modem() override { return modemThread.get(); }
    SessionParty ownParty() const override;
    SessionParty peerParty() const override;
    void setPeerIdent(std::string_view ident) override;
    void setPeerDetails(std::string_view station, std::string_view user,
                        std::string_view city) override;
    bool headingDue(SessionHeading document) const override;
    void setHeadingDue(SessionHeading document, bool due) override;
    File& document(ReportDocument document) override;
    int64_t statisticsRewind() const override { return statisticsRewindPos; }
    void setStatisticsRewind(int64_t position) override { statisticsRewindPos = position; }
    // The process-wide modem identification (below).
    std::string modemIdentification() const override;
    void setModemIdentification(const std::string& text) override;

    const DocumentPaths& paths() const { return paths_; }
    const std::string& documentIdent() const { return documentIdent_; }

    // ---- Fields, in their order --------------------------------------------------------
    // Texts are zero-terminated cp1251 in fixed arrays (the width counts the zero).
    DateTime runStartTime = 0; // set when the protocol is opened
    char ownIdent[10]{};
    char ownAts[8]{};
    char ownUser[30]{};
    char ownCity[20]{};
    char peerIdent[10]{}; // set by the session dialogue; empty when none
    char peerAts[8]{};
    char peerUser[30]{};
    char peerCity[20]{};
    bool statisticsHeaderDue = true;
    bool resultsHeaderDue = true;
    // Where a statistics entry is rewritten while session statistics are not kept. A file
    // position wider than the 32 bits the format once used, so a large Stat.htm is safe.
    int64_t statisticsRewindPos = 0;
    File passportStream;
    ProtocolDocument protocolStream;
    File resultsStream;
    File statisticsStream;
    File summaryStream;
    std::unique_ptr<AnalyzerThread> analyzerThread;
    std::unique_ptr<ModemThread> modemThread;

private:
    bool openReport(File& file, const std::string& path, const std::string& head,
                    const char* failureText);

    UiBridge& ui_;
    WorkerFactory& workers_;
    Scenario& scenario_;
    std::string documentIdent_;
    DocumentPaths paths_;
    bool started_ = false;
    std::atomic<bool> progressSaveFailed_{false};
};

// The current Complex: written only by the main thread (the run), read by the front end.
Complex* currentComplex();
void setCurrentComplex(Complex* complex);

// The scenario entry the run works on now: an entry of the scenario, or the entry the
// answering modem received. Written by the main thread between runs and by the modem
// thread during a run; read by the threads that hold the step.
ScenarioEntry* currentEntry();
void setCurrentEntry(ScenarioEntry* entry);

// A text field: its characters up to the first zero (never past the field).
template <std::size_t N>
std::string fieldText(const char (&field)[N]) {
    std::size_t n = 0;
    while (n < N && field[n] != '\0')
        ++n;
    return std::string(field, n);
}
// Sets a text field, cut to N - 1 characters and zero-padded.
template <std::size_t N>
void setFieldText(char (&field)[N], std::string_view text) {
    std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
    for (std::size_t i = 0; i < N; ++i)
        field[i] = i < n ? text[i] : '\0';
}

// The modem's identification, as it answered at initialisation (cp1251, at most 127
// characters; the " Доп.настройка " suffix included). Process-wide: set by the modem
// thread's start-up on the main thread (through its run), read by the protocol header.
std::string modemIdentification();
void setModemIdentification(const std::string& text);

} // namespace vetlina
