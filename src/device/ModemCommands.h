// The command numbers of the modem thread MODEM: the step its loop runs next. The modem
// thread sets most of them itself; the analyzer thread sets ThroughputTest or Reconnect
// when it has measured both directions, and NoGeneratorSignal or GeneratorSessionComplete
// after a session with an autonomous generator.
#pragma once

#include <cstdint>

namespace vetlina {

enum class ModemCommand : int32_t {
    Stopped = -1,                 // stopped for good (Device::kStopCommand): the run is ending
    Idle = 0,                     // the analyzer holds the line
    WaitForCall = 1,              // waits for a ring or a connection (a limited time when calling)
    RingReceived = 2,             // a ring came: waits for the connection
    AnswererDialogue = 3,         // connected as the answering complex
    ChooseAndDial = 4,            // chooses the next entry and dials it
    ClassifyDialResult = 5,       // reads the modem's answer to the dial command
    CallerDialogue = 6,           // connected as the calling complex
    ThroughputTest = 7,           // the data throughput test, then Reconnect
    Reconnect = 8,                // the modems connect again for the result exchange
    ResultExchange = 9,           // the two complexes exchange their results
    GeneratorAnswered = 10,       // an autonomous generator answered: its session starts
    NoGeneratorSignal = 11,       // the analyzer found no signal from the generator
    GeneratorSessionComplete = 12 // the analyzer has measured the generator
};

} // namespace vetlina
