#include "app/Complex.h"

#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "reports/Documents.h"
#include "scenario/ScenarioFiles.h"
#include "ui/UiBridge.h"

#include <atomic>

namespace vetlina {
namespace {

std::atomic<Complex*> theCurrentComplex{nullptr};
std::atomic<ScenarioEntry*> theCurrentEntry{nullptr};

// Stops a thread for good and lets it run to its end: it may never have been started.
void requestEnd(Device* thread) {
    if (thread == nullptr)
        return;
    thread->stop();
    thread->Resume();
    thread->Terminate();
}

} // namespace

Complex* currentComplex() {
    return theCurrentComplex.load(std::memory_order_acquire);
}

void setCurrentComplex(Complex* complex) {
    theCurrentComplex.store(complex, std::memory_order_release);
}

ScenarioEntry* currentEntry() {
    return theCurrentEntry.load(std::memory_order_acquire);
}

void setCurrentEntry(ScenarioEntry* entry) {
    theCurrentEntry.store(entry, std::memory_order_release);
}

Complex::Complex(UiBridge& ui, WorkerFactory& workers, Scenario& scenario,
                 std::string documentIdent)
    : ui_(ui), workers_(workers), scenario_(scenario), documentIdent_(std::move(documentIdent)),
      paths_(documentPaths(documentIdent_)) {
    setCurrentEntry(nullptr);
}

Complex::~Complex() {
    requestEnd(analyzerThread.get());
    requestEnd(modemThread.get());
    // Both threads end before either object goes: a thread in its last step may still
    // reach the other one through this Complex.
    for (Device* thread :
         {static_cast<Device*>(analyzerThread.get()), static_cast<Device*>(modemThread.get())}) {
        if (thread == nullptr)
            continue;
        ui_.serveUntil([thread] { return thread->Finished(); });
        thread->WaitFor();
    }
    analyzerThread.reset();
    modemThread.reset();
    passportStream.close();
    resultsStream.close();
    statisticsStream.close();
    summaryStream.close();
    protocolStream.close();
}

RunOptions& Complex::options() {
    return ui_.models().options;
}

ScenarioEntry* Complex::entry() const {
    return currentEntry();
}

void Complex::setEntry(ScenarioEntry* entry) {
    setCurrentEntry(entry);
}

SessionParty Complex::ownParty() const {
    return {fieldText(ownIdent), fieldText(ownAts), fieldText(ownUser), fieldText(ownCity)};
}

SessionParty Complex::peerParty() const {
    return {fieldText(peerIdent), fieldText(peerAts), fieldText(peerUser), fieldText(peerCity)};
}

void Complex::setPeerIdent(std::string_view ident) {
    setFieldText(peerIdent, ident);
}

void Complex::setPeerDetails(std::string_view station, std::string_view user,
                             std::string_view city) {
    setFieldText(peerAts, station);
    setFieldText(peerUser, user);
    setFieldText(peerCity, city);
}

bool Complex::headingDue(SessionHeading document) const {
    return document == SessionHeading::Results ? resultsHeaderDue : statisticsHeaderDue;
}

void Complex::setHeadingDue(SessionHeading document, bool due) {
    (document == SessionHeading::Results ? resultsHeaderDue : statisticsHeaderDue) = due;
}

File& Complex::document(ReportDocument document) {
    switch (document) {
    case ReportDocument::Passports:
        return passportStream;
    case ReportDocument::Results:
        return resultsStream;
    case ReportDocument::Statistics:
        return statisticsStream;
    case ReportDocument::Summary:
        break;
    }
    return summaryStream;
}

std::string Complex::modemIdentification() const {
    return vetlina::modemIdentification();
}

void Complex::setModemIdentification(const std::string& text) {
    vetlina::setModemIdentification(text);
}

void Complex::create(ModemRole role, const std::string& startText) {
    IniFile ini = readConfiguration();
    setFieldText(ownIdent, readKey(ini, keys::Ident));
    setFieldText(ownUser, readKey(ini, keys::User));
    setFieldText(ownCity, readKey(ini, keys::City));
    setFieldText(ownAts, readKey(ini, keys::Ats));

    // A thread whose start-up failed has reported and posted the end of the run itself;
    // the post here makes sure of it (a second end message does nothing).
    analyzerThread = workers_.createAnalyzer(*this);
    if (analyzerThread && analyzerThread->stopped()) {
        ui_.post(MSG_RUN_END);
        return;
    }
    modemThread = workers_.createModem(*this, role);
    if (modemThread && modemThread->stopped()) {
        ui_.post(MSG_RUN_END);
        return;
    }
    if (!openProtocol(startText) || !openPassports() || !openResults() || !openStatistics() ||
        !openSummary()) {
        ui_.post(MSG_RUN_END);
        return;
    }
    if (analyzerThread)
        analyzerThread->Resume();
    if (modemThread)
        modemThread->Resume();
    started_ = true;
}

bool Complex::openProtocol(const std::string& startText) {
    runStartTime = now();
    makeDocumentFolders(documentIdent_);

    // The ports as the threads opened them; without a thread, as configured for it.
    IniFile ini = readConfiguration();
    ProtocolHeader header;
    header.ident = documentIdent_;
    header.runStartTime = runStartTime;
    header.modemPort = modemThread ? modemThread->portNumber : readKey(ini, keys::ModemPort);
    header.modemIdentification = modemThread ? modemIdentification() : std::string();
    header.analyzerPort = analyzerThread ? analyzerThread->portNumber : readKey(ini, keys::ZmkPort);
    header.analyzerSerial = analyzerThread ? analyzerThread->serialNumber() : 0;
    header.analyzerFirmware = analyzerThread ? analyzerThread->firmwareNumber() : 0;
    header.startText = startText;

    if (protocolStream.open(paths_.protocol, protocolHeader(header)))
        return true;
    ui_.dialogs().showMessage(toCp1251(kErrorTitle), toCp1251(kCannotOpenProtocol),
                              DialogIcon::Warning);
    return false;
}

bool Complex::openReport(File& file, const std::string& path, const std::string& head,
                         const char* failureText) {
    file = openReportDocument(path, head);
    if (file.isOpen())
        return true;
    ui_.dialogs().showMessage(toCp1251(kErrorTitle), toCp1251(failureText), DialogIcon::Warning);
    return false;
}

bool Complex::openPassports() {
    return openReport(passportStream, paths_.passports, passportsHead(), kCannotOpenPassports);
}

bool Complex::openResults() {
    if (!openReport(resultsStream, paths_.results, resultsHead(documentIdent_), kCannotOpenResults))
        return false;
    resultsStream.sync();
    return true;
}

bool Complex::openStatistics() {
    if (!openReport(statisticsStream, paths_.statistics, statisticsHead(documentIdent_),
                    kCannotOpenStatistics))
        return false;
    statisticsRewindPos = statisticsStream.position();
    return true;
}

bool Complex::openSummary() {
    return openReport(summaryStream, paths_.summary, summaryHead(), kCannotOpenSummary);
}

bool Complex::saveProgress() {
    return vetlina::saveProgress(scenario_, [this](const std::string& text) {
        progressSaveFailed_ = true;
        if (modemThread)
            modemThread->stop();
        logEvent(text, true);
        ui_.dialogs().showMessage(toCp1251(kErrorTitle), text, DialogIcon::Warning);
        ui_.post(MSG_RUN_END);
    });
}

void Complex::showProtocolLine(const std::string& text) {
    ui_.invokeSync([this, &text] { ui_.models().addProtocolLine(text); });
}

void Complex::SetStateText(const std::string& text) {
    ui_.invokeSync([this, &text] { ui_.models().setStateText(text); });
}

void Complex::appendProtocol(const std::string& text) {
    if (protocolStream.append(text))
        return;
    ui_.dialogs().showMessage(toCp1251(kErrorTitle), toCp1251(kCannotWriteProtocol),
                              DialogIcon::Warning);
    ui_.post(MSG_RUN_END);
}

} // namespace vetlina
