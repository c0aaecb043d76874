// The scenario editor without its window: everything the main window (TForm1) does to
// the scenario when the operator types, clicks or chooses a command. The window calls
// one handler per control event and redraws from what the editor says; the editor
// checks, stores, couples fields, shows its messages through Dialogs (code page 1251)
// and keeps the unsaved-changes state. Nothing here knows a widget.
#pragma once

#include "editor/EditorFields.h"
#include "platform/Dialogs.h"
#include "scenario/Scenario.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vetlina {

// The file dialogs of the commands; the window shows them, a test answers them.
enum class FileKind { Scenario, Template };
class FileChooser {
public:
    virtual ~FileChooser() = default;
    // The path the operator chose, nullopt when the dialog was cancelled.
    virtual std::optional<std::string> chooseOpen(FileKind kind) = 0;
    virtual std::optional<std::string> chooseSave(FileKind kind) = 0;
};

// What an edit shows after one of its events, and whether the value was refused (the
// message has been shown; the window brings the field's page to front and gives the
// edit the focus again).
struct FieldReply {
    bool stored = false;
    bool refused = false;
    std::string text; // what the edit shows now
};

// The range of a field's spin button.
struct SpinRange {
    int min = 0;
    int max = 0;
    int step = 1;
};

// The time totals of the measurement page: session and cycle in seconds and as the
// labels show them, and the label "Паспорт" (empty when the session makes no passport).
struct TimeTotals {
    int64_t sessionSeconds = 0;
    int64_t cycleSeconds = 0;
    std::string session;
    std::string cycle;
    std::string passport;
};

// The outcome of adding a complex.
enum class AddOutcome { Nothing, Added, BadId, BadNumber, NoMemory };

// Identifiers and numbers of answering complexes. An identifier is 8 characters,
// digits, the seventh may also be "X" or "x". A number is a modem dial string: digits,
// "p", "t", "w", "P", "T", "W", blank, "-", ",", "!", "@", and after a "t" or "T" the
// tone characters "*", "#", "a".."d", "A".."D"; at most 32 characters.
bool isValidEntryId(std::string_view id);
bool isValidDialNumber(std::string_view number);

// The shown form of a duration under one day and of longer ones ("%dд.+hh:nn:ss").
std::string durationText(int64_t seconds, const char* daysFormat = "%dд.+");

class ScenarioEditor {
public:
    // complexId: the identifier of this complex as read from the configuration.
    ScenarioEditor(Scenario& scenario, Dialogs& dialogs, std::string complexId);

    Scenario& scenario() { return scenario_; }
    const Scenario& scenario() const { return scenario_; }
    const ScenarioEntry& entry() const { return scenario_.current(); }

    // ---- The window as a whole ------------------------------------------------------
    // "ЛИРС " + identifier, or " ЛИРС " + identifier + " :  " + file name after a file
    // was opened or saved (cp1251).
    const std::string& caption() const { return caption_; }
    const std::string& complexId() const { return complexId_; }
    bool complexIdValid() const { return complexIdValid_; }
    // Shown once when the window first appears with an invalid identifier.
    void firstShown();

    bool canCreateNew() const { return scenario_.count() > 0; }
    bool canSave() const { return scenario_.count() > 0; }
    bool canStartActive() const { return scenario_.count() > 0; }
    bool sortEnabled() const { return scenario_.count() >= 2; }

    // Called after anything that may change what the list shows (lines added, removed,
    // reordered, replaced, or the selected line's text).
    std::function<void()> listChanged;

    // ---- Numeric fields -----------------------------------------------------------------
    // The text and spin position a field shows for the current entry (the fixed values
    // of an autonomous generator where its rule says so).
    std::string shownText(const EditorField& field) const;
    int spinPosition(const EditorField& field) const;
    SpinRange spinRange(const EditorField& field) const;
    // Leaving the edit (or Enter).
    FieldReply leaveField(const EditorField& field, std::string_view text);
    // A click on the spin button, up (+1) or down (-1).
    FieldReply spinClick(const EditorField& field, int direction);
    // Every change of the edit's text: the spin button follows the leading number; a
    // change typed by the operator marks the scenario modified.
    void textEdited(const EditorField& field, std::string_view text, bool typed);
    // Duration edits: the group's row label is lit while the text reads as a time of at
    // least one second.
    static bool durationLabelLit(std::string_view text);
    bool fieldEnabled(const EditorField& field) const;

    // ---- Check boxes and groups -----------------------------------------------------
    bool checked(const EditorCheck& check) const;
    void setChecked(const EditorCheck& check, bool on);
    bool checkEnabled(const EditorCheck& check) const;
    // Analog and at least one box of the group (throughput: its box alone).
    bool groupActive(MeasureGroup group) const;
    bool rowLabelEnabled(MeasureGroup group) const;
    // The group's frame on the measurement page (an autonomous generator has no O.131,
    // O.42, impedance, noise or throughput).
    bool groupFrameEnabled(MeasureGroup group) const;
    bool generatorFrameEnabled() const { return entry().ComplexType == kFullComplexType; }

    // ---- Texts, thresholds, complex type -------------------------------------------------
    void setAtText(std::string_view text, bool typed);
    void setDiscrAtText(std::string_view text, bool typed);
    bool discrAtEnabled() const;
    void setAbsoluteThresholds(bool absolute);
    void setComplexType(uint8_t type);

    // ---- Date and time window --------------------------------------------------------
    std::string dateText() const;
    std::string begTimeText() const;
    std::string endTimeText() const;
    FieldReply leaveDate(std::string_view text);
    FieldReply leaveBegTime(std::string_view text);
    FieldReply leaveEndTime(std::string_view text);

    TimeTotals totals() const;

    // ---- The list of complexes -----------------------------------------------------------
    AddOutcome addComplex(std::string_view id, std::string_view number);
    void select(int line);
    void removeSelected();
    void setSorted(bool on);
    // The selected complex's identifier and number, as typed (copied at once), and
    // their check when the field is left (the message only; the text stays).
    void editSelectedId(std::string_view text, bool typed);
    void editSelectedNumber(std::string_view text, bool typed);
    bool checkSelectedId();
    bool checkSelectedNumber();

    // ---- Commands with their prompts and dialogs -----------------------------------------
    // Each returns false when the operator cancelled or the file could not be used.
    bool newScenario(FileChooser& files);
    bool openScenario(FileChooser& files);
    bool saveScenarioAs(FileChooser& files);
    bool openTemplate(FileChooser& files);
    bool saveTemplateAs(FileChooser& files);
    // Closing the window: true when it may close.
    bool closeQuery(FileChooser& files);
    // A start needs a list for the active modes: "Нет сценария" otherwise.
    bool mayStart(bool active);
    // After a run: the first line selected if the first entry is current, else none.
    void afterRun();

private:
    void showError(const std::string& text);
    FieldReply refuse(const std::string& message, std::string text = {});
    void storeValue(const EditorField& field, double value);
    double value(const EditorField& field) const;
    void coupleSessions(const EditorField& changed);
    void coupleMinLev();
    void applyComplexTypeRule();
    // Answers the save question; false for Cancel.
    bool offerSave(const std::string& question, FileChooser& files);
    void setCaptionFromFile();
    void notifyList();
    int& spin(const EditorField& field) const;

    Scenario& scenario_;
    Dialogs& dialogs_;
    std::string complexId_;
    bool complexIdValid_;
    bool identReported_ = false;
    std::string caption_;
    // The spin buttons' positions, one per field of editorFields().
    mutable std::vector<int> spins_;
};

} // namespace vetlina
