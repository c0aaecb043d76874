// The byte layout of the files of the folder DATA (data, norms and message files), shared
// by their writers (DataFiles.cpp, MessageFile.cpp) and their reader (DataFileReader.h).
//
// Every file begins with its kind letter: "D" data, "S" norms, "M" message. Data and
// message files carry the 41-byte common header; a norms file its own 26-byte head and
// the 197-byte measurement plan. Then come items: a key of ASCII letters and digits with
// its terminating zero and a 4-byte value (f32), or, for the frequency lists "mttAtt" and
// "mttDel", an i32 count and that many (value, frequency) f32 pairs; the key "end" with
// its zero and no value closes the file. A message file holds the header and one code.
#pragma once

#include "platform/LittleEndian.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>

namespace vetlina {

inline constexpr char kDataKind = 'D';
inline constexpr char kNormsKind = 'S';
inline constexpr char kMessageKind = 'M';
inline constexpr char kGeneratorRole = 'G';
inline constexpr char kMeterRole = 'M';
inline constexpr std::string_view kEndKey = "end";
// The two keys whose value is a frequency list, and the most points a list holds.
inline constexpr std::string_view kAttListKey = "mttAtt";
inline constexpr std::string_view kDelListKey = "mttDel";
inline constexpr int32_t kMaxListPoints = 14;
// A frequency point of the multi-frequency measurement counts above this, Hz.
inline constexpr float kCountedPointHz = 99.99f;
// Identifiers stand as 8 characters, no terminator (zero-padded when shorter).
inline constexpr std::size_t kIdentWidth = 8;

// The number of a file name zmk<digits>.dat (letters in either case, as the platform's
// file search compares them), read whole however many digits it has; nullopt for any
// other name and for numbers beyond 18 digits.
inline std::optional<int64_t> dataFileNumber(std::string_view name) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    auto hasAt = [&](std::size_t at, std::string_view what) {
        for (std::size_t i = 0; i < what.size(); ++i)
            if (lower(name[at + i]) != what[i])
                return false;
        return true;
    };
    if (name.size() < 8 || !hasAt(0, "zmk") || !hasAt(name.size() - 4, ".dat"))
        return std::nullopt;
    const std::string_view digits = name.substr(3, name.size() - 7);
    if (digits.empty() || digits.size() > 18)
        return std::nullopt;
    int64_t n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

inline bool isListKey(std::string_view key) {
    return key == kAttListKey || key == kDelListKey;
}

// The common header of data and message files.
struct DataFileHeader {
    char kind;                       // "D" or "M"
    uint8_t callerFlag;              // 1: this complex called
    Le<double> cycleStart;           // SeriesTime of the entry
    Le<double> writtenAt;            // when the file was written
    char callerRole;                 // "G" or "M" in the direction the file covers
    char callerIdent[kIdentWidth];   // identifier of the calling complex
    char answererRole;               // the other letter
    char answererIdent[kIdentWidth]; // identifier of the answering complex
    Le<int32_t> session;             // SessionsDone + 1
    uint8_t cycleEnd;                // Finished
};
static_assert(sizeof(DataFileHeader) == 41 && alignof(DataFileHeader) == 1);
static_assert(std::is_trivially_copyable_v<DataFileHeader>);
static_assert(offsetof(DataFileHeader, callerFlag) == 1 &&
              offsetof(DataFileHeader, cycleStart) == 2 &&
              offsetof(DataFileHeader, writtenAt) == 10 &&
              offsetof(DataFileHeader, callerRole) == 18 &&
              offsetof(DataFileHeader, callerIdent) == 19 &&
              offsetof(DataFileHeader, answererRole) == 27 &&
              offsetof(DataFileHeader, answererIdent) == 28 &&
              offsetof(DataFileHeader, session) == 36 && offsetof(DataFileHeader, cycleEnd) == 40);

// The measurement plan of a norms file: the settings of the nine measurement kinds,
// named after the editor fields; each block begins with its duration in seconds.
struct MeasurementPlan {
    Le<double> EditEchoTime;
    Le<float> EditEchoLev;
    Le<float> EditEchoLevR;
    Le<int32_t> EditEchoFreq;
    Le<int32_t> EditEchoT1;
    Le<int32_t> EditEchoT2;
    Le<int32_t> EditEchoT;
    Le<double> EditSinTime;
    Le<float> EditSinLev;
    Le<float> EditSinLevR;
    Le<int32_t> EditSinFreq;
    Le<double> EditO132Time;
    Le<float> EditO132Lev;
    Le<float> EditO132LevR;
    Le<int32_t> EditO132Freq;
    Le<double> EditO131Time;
    Le<float> EditO131Lev;
    Le<float> EditO131LevR;
    Le<double> EditMTTSTime;
    Le<float> EditMTTSLev;
    Le<float> EditMTTSLevR;
    Le<double> EditO42Time;
    Le<float> EditO42Lev;
    Le<float> EditO42LevR;
    Le<double> EditImpTime;
    Le<float> EditImpLev;
    Le<float> EditImpLevR;
    Le<double> EditBlkTime;
    Le<double> EditDiscrTime;
    Le<int32_t> EditSincTime;
    Le<int32_t> EditDeadTime;
    Le<int32_t> EditMaxLev;
    Le<int32_t> EditMinLev;
    Le<int32_t> EditMinSNR;
    Le<float> EditThHitPh;
    Le<float> EditThHitAm;
    uint8_t ThAbs; // 1 absolute impulse/interruption thresholds, 0 relative
    Le<float> EditThAbsPul;
    Le<float> EditThAbsInt;
    Le<float> EditThRelPul;
    Le<float> EditThRelInt;
};
static_assert(sizeof(MeasurementPlan) == 197 && alignof(MeasurementPlan) == 1);
static_assert(offsetof(MeasurementPlan, EditSinTime) == 32 &&
              offsetof(MeasurementPlan, EditO132Time) == 52 &&
              offsetof(MeasurementPlan, EditO131Time) == 72 &&
              offsetof(MeasurementPlan, EditMTTSTime) == 88 &&
              offsetof(MeasurementPlan, EditO42Time) == 104 &&
              offsetof(MeasurementPlan, EditImpTime) == 120 &&
              offsetof(MeasurementPlan, EditBlkTime) == 136 &&
              offsetof(MeasurementPlan, EditDiscrTime) == 144 &&
              offsetof(MeasurementPlan, ThAbs) == 180 &&
              offsetof(MeasurementPlan, EditThRelInt) == 193);

// The head of a norms file, the plan included; the norm items follow at 223.
struct NormsFileHeader {
    char kind; // "S"
    uint8_t callerFlag;
    Le<double> cycleStart;
    char callerIdent[kIdentWidth];
    char answererIdent[kIdentWidth];
    MeasurementPlan plan;
};
static_assert(sizeof(NormsFileHeader) == 223 && alignof(NormsFileHeader) == 1);
static_assert(offsetof(NormsFileHeader, cycleStart) == 2 &&
              offsetof(NormsFileHeader, callerIdent) == 10 &&
              offsetof(NormsFileHeader, answererIdent) == 18 &&
              offsetof(NormsFileHeader, plan) == 26);

// A message file: the common header and the code.
inline constexpr std::size_t kMessageFileSize = sizeof(DataFileHeader) + 1;

} // namespace vetlina
