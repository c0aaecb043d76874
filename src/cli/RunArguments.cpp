#include "cli/RunArguments.h"

#include <cmath>
#include <cstdlib>

namespace vetlina {
namespace {

// The longest --stop-after accepted: about 31 years, far beyond any run, small enough
// that the milliseconds stay exact in the runner's 64-bit count.
constexpr double kMaxStopAfterSeconds = 1e9;

std::optional<double> parseSeconds(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(value) || value < 0.0 ||
        value > kMaxStopAfterSeconds)
        return std::nullopt;
    return value;
}

} // namespace

std::string runUsage() {
    return "usage: vetlina-run (--active SCN | --restart SCN | --passive)\n"
           "                   [--trace] [--option save-results|save-stats|stop-on-norms|"
           "simple-generator]...\n"
           "                   [--answer yes|no] [--exit-when-done] [--stop-after SECONDS]\n";
}

std::variant<RunArguments, std::string> parseRunArguments(const std::vector<std::string>& args) {
    RunArguments run;
    bool modeGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        // The value that follows an argument.
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size())
                return std::nullopt;
            return args[++i];
        };
        if (arg == "--active" || arg == "--restart" || arg == "--passive") {
            if (modeGiven)
                return "only one of --active, --restart and --passive may be given";
            modeGiven = true;
            if (arg == "--passive") {
                run.mode = StartMode::Passive;
                continue;
            }
            run.mode = arg == "--active" ? StartMode::Active : StartMode::Restart;
            auto file = value();
            if (!file || file->empty())
                return arg + " needs a scenario file";
            run.scenarioFile = *file;
        } else if (arg == "--trace") {
            run.trace = true;
        } else if (arg == "--option") {
            auto option = value();
            if (!option)
                return "--option needs a value";
            if (*option == "save-results")
                run.saveResults = true;
            else if (*option == "save-stats")
                run.saveStatistics = true;
            else if (*option == "stop-on-norms")
                run.stopOnNorms = true;
            else if (*option == "simple-generator")
                run.simpleGenerator = true;
            else
                return "unknown run option: " + *option;
        } else if (arg == "--answer") {
            auto answer = value();
            if (!answer || (*answer != "yes" && *answer != "no"))
                return "--answer takes yes or no";
            run.answerYes = *answer == "yes";
        } else if (arg == "--exit-when-done") {
            run.exitWhenDone = true;
        } else if (arg == "--stop-after") {
            auto seconds = value();
            auto parsed = seconds ? parseSeconds(*seconds) : std::nullopt;
            if (!parsed)
                return "--stop-after takes a number of seconds (0 to 1e9)";
            run.stopAfter = parsed;
        } else {
            return "unknown argument: " + arg;
        }
    }
    if (!modeGiven)
        return "one of --active SCN, --restart SCN or --passive is needed";
    return run;
}

} // namespace vetlina
