// The command line of vetlina-run:
//   vetlina-run (--active SCN | --restart SCN | --passive)
//               [--trace] [--option save-results|save-stats|stop-on-norms|simple-generator]...
//               [--answer yes|no] [--exit-when-done] [--stop-after SECONDS]
//   vetlina-run -h | --help
#pragma once

#include "app/StartModes.h"

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace vetlina {

struct RunArguments {
    bool help = false; // -h / --help: print runHelp() and run nothing
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

// The usage text (after a usage error, on stderr).
std::string runUsage();

// The help of -h and --help (on stdout): the usage, what each argument does, the
// outputs and the exit statuses.
std::string runHelp();

} // namespace vetlina
