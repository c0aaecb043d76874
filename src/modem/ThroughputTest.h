// The data throughput test: after both analyzers have measured, the modems connect at
// 2400 bit/s on the held line with a fixed modulation set-up, each side sends a constant
// pattern as fast as the link takes it and counts what the other side's pattern brings
// in for the entry's DiscrTime; the received rate against a reference rate is the
// result. The steps are MODEM's (ThroughputTest.cpp); these are its rules.
#pragma once

#include "scenario/ScenarioEntry.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace vetlina {

// The test pattern: 32 bytes, each 85.
inline constexpr std::size_t kPatternSize = 32;
inline constexpr uint8_t kPatternByte = 85;
// The reference: 293.13 bytes a second is 100 per cent.
inline constexpr double kThroughputFactor = 0.003411455668133592657;
// The attempts to connect: all within 90 s; a new one only while 10 s remain.
inline constexpr uint32_t kThroughputWindowMs = 90000;
inline constexpr uint32_t kThroughputNewAttemptMs = 10000;
inline constexpr uint32_t kThroughputConnectMs = 70000;
// Fewer bytes than this in the warm-up: the far side is not sending.
inline constexpr uint64_t kWarmUpBytes = 30;

// The throughput in per cent of bytes received over ms milliseconds, capped at 100 (as
// shown and stored); 0 ms gives 0.
float throughputPercent(uint64_t bytes, uint32_t ms);

// The test's duration from the entry, in ms: DiscrTime seconds, held to a day (the
// editor's longest duration) since an entry may come from the far complex.
uint32_t throughputDurationMs(const ScenarioEntry& entry);

// The warm-up's longest duration: 20 s when the test lasts 23 s or more, else the test's
// duration less 3 s (nothing below 0).
uint32_t warmUpMs(uint32_t durationMs);

// The progress bar PrDisc: 100 once the deadline has passed, else 100 less the time left
// as a share of the duration, rounded.
int32_t throughputProgress(bool deadlinePassed, int32_t leftMs, uint32_t durationMs);

// The command line of the test: "AT%E2" + DiscrAT in upper case + "&L1S37=6%M0", then
// "D" (the caller originates) or "A" (the answerer answers), CR LF.
std::string throughputCommand(const ScenarioEntry& entry, bool calling);

// The results window's line: "Пропускная способность = %.2f %%" (cp1251).
std::string throughputLine(float percent);

} // namespace vetlina
