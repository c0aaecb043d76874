// vetlina-data ini check [FILE]: reads a Vetlina.ini as the program reads it and says,
// in UTF-8, every key it understood with the value the program takes, the serial ports
// the analyzer and the modem resolve to, and what looks like a mistake: an inline
// comment (the reader keeps it as part of the value), UTF-8 text where code page 1251
// is expected, an invalid identifier, a text cut to its buffer, a number with trailing
// text, an unknown key, a line that is not read, a port that cannot be what is meant.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace vetlina {

// Where an inline comment begins in a value: a ";" or "#" at its start or after a blank;
// npos when there is none.
std::size_t inlineCommentAt(std::string_view value);

struct IniCheckResult {
    std::string report; // UTF-8 lines
    int mistakes = 0;
};

// The check of the file's bytes. deviceExists tells whether a local device path exists
// on this machine.
IniCheckResult checkIni(std::string_view bytes,
                        const std::function<bool(const std::string&)>& deviceExists);

// The command for the file named (none: Vetlina.ini of the current directory): the report
// on `out`; status 0 when nothing looks wrong, 1 when something does or the file cannot
// be read (one line on `err`).
int iniCheckCommand(const std::vector<std::string>& file, std::ostream& out, std::ostream& err);

} // namespace vetlina
