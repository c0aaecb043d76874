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

std::string runHelp() {
    return runUsage() +
           "       vetlina-run -h | --help\n"
           "\n"
           "Runs the measuring complex whose folder is the current directory (Vetlina.ini,\n"
           "SCN/, DATA/, Prot/<Ident>/) without windows, with the analyzer on ZMKPort and the\n"
           "modem on ModemPort of Vetlina.ini.\n"
           "\n"
           "  --active SCN      active start: work through the scenario SCN, every series anew\n"
           "  --restart SCN     active restart: the series and statistics of SCN continue\n"
           "  --passive         passive start: answer the calls of other complexes\n"
           "  --trace           the diagnostic lines (the \"/d\" switch)\n"
           "  --option NAME     check a run option: save-results, save-stats, stop-on-norms,\n"
           "                    simple-generator (may be repeated; unchecked otherwise)\n"
           "  --answer yes|no   the answer to every question (default no)\n"
           "  --exit-when-done  end once every entry of an active run is finished\n"
           "  --stop-after S    end after S seconds of the program's clock\n"
           "  -h, --help        this help\n"
           "\n"
           "The protocol lines go to stdout and message boxes to stderr as \"[title] text\"\n"
           "(UTF-8). SIGINT and SIGTERM end the work as the operator's \"Закончить работу\".\n"
           "Exit status: 0 after such an end, 3 when the run ended through a failure, 2 on a\n"
           "usage error or a scenario that cannot be run.\n";
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
        if (arg == "-h" || arg == "--help") {
            RunArguments help;
            help.help = true;
            return help;
        }
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
