// Fuzz target: any bytes given as a file of DATA must be read without a crash, an
// out-of-range access or undefined behaviour; a file the reader accepts holds only what
// the format allows, and a refusal names an offset inside (or just past) the input.
//
// Input: the bytes of one file.
#include "reports/DataFileReader.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    vetlina::DataFileContents contents;
    vetlina::DataFileError error;
    if (!vetlina::readDataFile(bytes, contents, error)) {
        if (error.offset > size || error.what.empty())
            std::abort();
        return 0;
    }
    for (const auto& item : contents.items) {
        if (item.key.empty() || item.key.size() > vetlina::kMaxKeyLength || item.offset >= size)
            std::abort();
        if (item.points.size() > static_cast<size_t>(vetlina::kMaxListPoints))
            std::abort();
        if (!item.isList && !item.points.empty())
            std::abort();
    }
    return 0;
}
