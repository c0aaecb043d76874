// The command line of vetlina-run:
//   vetlina-run (--active SCN | --restart SCN | --passive)
//               [--trace] [--option save-results|save-stats|stop-on-norms|simple-generator]...
//               [--answer yes|no] [--exit-when-done] [--stop-after SECONDS]
#pragma once

#include "app/StartModes.h"

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace vetlina {

struct RunArguments {
    StartMode mode = StartMode::Passive;
    std::string scenarioFile;        // --active / --restart
    bool trace = false;              // --trace: the "/d" switch
    bool saveResults = false;        // "Сохранять результаты измерений"
    bool saveStatistics = false;     // "Сохранять статистику сеансов"
    bool stopOnNorms = false;        // "Останов при невыполнении норм"
    bool simpleGenerator = false;    // "Упрощенный вызов генератора"
    bool answerYes = false;          // --answer: how questions are answered
    bool exitWhenDone = false;       // end once every entry of an active run is finished
    std::optional<double> stopAfter; // seconds of the (scaled) clock
};

// The arguments (without the program name), or the usage error as one line.
std::variant<RunArguments, std::string> parseRunArguments(const std::vector<std::string>& args);

// The usage text.
std::string runUsage();

} // namespace vetlina
