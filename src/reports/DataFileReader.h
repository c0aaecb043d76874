// Reads the files of the folder DATA (data, norms and message files) back: their kind,
// header, items in file order and plan. The files come from outside the program's hands
// once written (copied, cut short, edited), so every length is bounded and a damaged file
// is refused with the byte offset at which it stops making sense.
#pragma once

#include "reports/DataFileFormat.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vetlina {

enum class DataFileKind { Data, Norms, Message };

// No file of DATA written by the program comes near this; a longer one is refused unread.
inline constexpr std::size_t kMaxDataFileSize = 64 * 1024;
// The longest key the reader accepts.
inline constexpr std::size_t kMaxKeyLength = 32;

struct ListPoint {
    float value;
    float frequency;
};

struct DataFileItem {
    std::string key;
    std::size_t offset = 0; // of the key's first byte
    bool isList = false;
    float value = 0;               // a plain item
    std::vector<ListPoint> points; // a frequency list
};

struct DataFileContents {
    DataFileKind kind = DataFileKind::Data;
    uint8_t callerFlag = 0;
    double cycleStart = 0;
    double writtenAt = 0;                   // data and message files
    char callerRole = 0, answererRole = 0;  // data and message files
    std::string callerIdent, answererIdent; // up to the first zero, code page 1251
    int32_t session = 0;                    // data and message files
    uint8_t cycleEnd = 0;                   // data and message files
    MeasurementPlan plan{};                 // norms files
    std::vector<DataFileItem> items;        // data and norms files, in file order
    uint8_t messageCode = 0;                // message files
};

struct DataFileError {
    std::size_t offset = 0;
    std::string what;
    // "offset N: what"
    std::string describe() const;
};

// Parses a whole file; false with the error when it is damaged: an unknown kind, a header
// out of range (flags other than 0 and 1, role letters other than "G"/"M" or not opposite,
// a session number below 1, an unknown message code), a cut-off header, value or list, a
// key without its terminator, empty, too long or with a byte that is not an ASCII letter
// or digit, a key repeated, a list count outside 0..14, no "end", bytes after "end", a
// file longer than kMaxDataFileSize.
bool readDataFile(std::string_view bytes, DataFileContents& contents, DataFileError& error);

// The text of a message code (UTF-8), empty for a code that is not one.
std::string_view messageCodeText(uint8_t code);

} // namespace vetlina
