// Fuzz target: the modem's result lines. Whatever the modem sends, each line ends at its
// CR, holds at most 39 characters (its first 38 and the last one received) and never
// the CR itself.
#include "modem/ResultLine.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string line;
    std::size_t start = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const bool ended = vetlina::addResultLineChar(line, data[i]);
        if (ended != (data[i] == '\r') || line.size() > vetlina::kResultLineMax)
            std::abort();
        if (!ended)
            continue;
        // The model: the first 38 characters and, for a longer line, the last one.
        const std::string sent(reinterpret_cast<const char*>(data + start), i - start);
        const std::string kept = sent.size() <= vetlina::kResultLineMax
                                     ? sent
                                     : sent.substr(0, vetlina::kResultLineKept) + sent.back();
        if (line != kept)
            std::abort();
        line.clear();
        start = i + 1;
    }
    return 0;
}
