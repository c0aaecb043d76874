// The command numbers of the analyzer thread ZMK: the step its loop runs next. The modem
// thread starts a pass with MeasureFirst or GenerateFirst; every step sets the next one;
// the last step of a session hands the line back to the modem thread (ModemCommands.h).
#pragma once

#include <cstdint>

namespace vetlina {

enum class AnalyzerCommand : int32_t {
    Stopped = -1,     // stopped for good (Device::kStopCommand): the run is ending
    Idle = 0,         // polls the analyzer; the modem thread holds the line
    MeasureFirst = 1, // range step of a session in which this complex measures first
    MeterSine = 2,    // meter steps, in the order of a measuring pass
    MeterO132 = 3,
    MeterO131 = 4,
    MeterMtts = 5,
    MeterO42 = 6,
    MeterImpedance = 7,
    MeterNoise = 8,
    MeterTalkerEcho = 9,
    GenerateFirst = 10, // range step of a session in which this complex generates first
    GeneratorSine = 11, // generator steps, in the order of a generating pass
    GeneratorO132 = 12,
    GeneratorO131 = 13,
    GeneratorMtts = 14,
    GeneratorO42 = 15,
    GeneratorImpedance = 16,
    GeneratorNoise = 17,
    MeterListenerEcho = 18,
    EndOfPass = 19, // the second pass follows, or the line goes back to the modem thread
    SwitchOff = 20, // switches the line interface off, then idles
};

} // namespace vetlina
