#include "sim/analyzer/Zmk5Meter.h"

#include "sim/analyzer/Zmk5Generator.h"
#include "sim/signals/Fft.h"
#include "sim/signals/Signals.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vetlina::sim {

namespace {

using zmk5::kFrameSamples;
using zmk5::kSetSamples;

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr int kStatisticsSamples = 12800;
constexpr int kSecondEnvelopes = 1600;
// The peak word of a table (w9, w10) carries the input's largest excursion over the
// interval as the mean square of a sine with that peak (codes^2), taken ahead of the
// converter's limit (the input's overload detector): the computer reads it as a level,
// 10 log10(word / 2^32) + top + 8.47, and reports an overload when it lies above the top.
// While the meter follows a sine the word is that mean square against the sine's,
// 2^32 x 10^(-2.087) x peak^2 / 2 / sine power, so that the computer's reading of it,
// sine level + 20.87 dB + 10 log10(word / 2^32), is the same level of the peak.
constexpr double kPeakToSineScale = 4294967296.0 * 0.0081846;
// Frequencies in the table are in steps of 3.125 x 2^-18 Hz.
constexpr double kFrequencySteps = 262144.0 / 3.125;
constexpr double kTrackingStepHz = 12800.0 / 1856.0;
constexpr int kReferenceTone = 10; // 1000 Hz
constexpr int kFirstTrackedTone = 3;
constexpr int kLastTrackedTone = 34;
constexpr int kOverloadCode = 28499;
// Signal sets begin on the sample clock's 10 ms grid, the period of the multi-frequency
// comb: the computer reads each tone's phase at the start of a set against its nominal
// phase and compares it between sets (impedance), so every set must find the comb at the
// same point of its period whenever the link lets the meter take it.
constexpr int kSetGridSamples = 128;
constexpr int kEnvelopeDecimation = 8;
constexpr int kEchoLead = 32; // envelope values before the probe end
constexpr int kRawHistory = 1024;
// A far probe must have sounded this long before its end starts a set (20 ms).
constexpr int kProbeMinimumSamples = 256;
// Energy of a tone worth calling a probe (codes^2): about 20 codes of amplitude at 1 kHz.
constexpr double kProbeEnergyFloor = 100.0;

// Position p of a set holds the sample t of the set (in time order).
int sampleOfPosition(int p) {
    return p < kSetSamples / 2 ? 2 * p : 2 * (p - kSetSamples / 2) + 1;
}

uint32_t saturate32(double value) {
    if (!(value > 0.0))
        return 0;
    return value >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(value + 0.5);
}

int16_t word16(double value) {
    return static_cast<int16_t>(std::clamp(std::lround(value), -32767L, 32767L));
}

} // namespace

double meterCodesPerUnit(double topDbm) {
    return kMeterFullScaleRms / std::pow(10.0, (topDbm + kMeterFullScaleDb) / 20.0);
}

Zmk5Meter::Zmk5Meter(uint32_t seed) : random_(seed), floorNoise_(0.0, 1.0) {
    codesPerUnit_ = meterCodesPerUnit(topDbm());
}

void Zmk5Meter::setRange(int attenuator, int bottomCode) {
    attenuator_ = attenuator;
    bottomCode_ = bottomCode;
    codesPerUnit_ = meterCodesPerUnit(topDbm());
}

void Zmk5Meter::setGain(bool on) {
    gain_ = on;
    codesPerUnit_ = meterCodesPerUnit(topDbm());
}

double Zmk5Meter::topDbm() const {
    return (gain_ ? 20.0 : 0.0) - 1.5 * attenuator_;
}

bool Zmk5Meter::restart(int setting) {
    const bool sine = setting >= kSineBinLow && setting <= kSineBinHigh;
    running_ = true;
    setting_ = sine ? setting : 0;
    restartSample_ = sampleCount_;
    dropCapture();
    armed_ = true;
    nextStatistics_ = sampleCount_ + kStatisticsSamples;
    if (sine)
        tracker_.start(setting * kBinHz);
    else
        tracker_.stop();
    events_.reset(setting * kBinHz);
    sumSquares_ = noiseSquares_ = peakCodes_ = 0.0;
    tableSamples_ = 0;
    sinePower_ = amplitudeSum_ = amplitudeMin_ = amplitudeMax_ = phaseMax_ = 0.0;
    tableEnvelopes_ = 0;
    phaseStartValid_ = false;
    echoState_ = EchoState::Waiting;
    envelope_.clear();
    echoFramesSent_ = 0;
    if (echoOn_) {
        armed_ = false;
        framesSent_ = kSetSamples / kFrameSamples;
    }
    return sine || setting == 0;
}

void Zmk5Meter::setEcho(bool on, double probeHz, const Zmk5Generator* own) {
    if (on == echoOn_ && probeHz == echoHz_ && own == own_)
        return;
    echoOn_ = on;
    echoHz_ = probeHz;
    own_ = own;
    echoState_ = EchoState::Waiting;
    envelope_.clear();
    echoFramesSent_ = 0;
    energyLevel_ = 0.0;
    soundingSince_ = -1;
    quietRun_ = 0;
    // Signal sets stop while the meter takes echo sets, and start afresh after.
    capturing_ = false;
    set_.clear();
    framesSent_ = kSetSamples / kFrameSamples;
    armed_ = running_ && !on;
}

void Zmk5Meter::startEchoSet(int64_t end) {
    echoState_ = EchoState::Taking;
    echoStart_ = end - static_cast<int64_t>(kEchoLead) * kEnvelopeDecimation;
    envelope_.clear();
    envelope_.reserve(kSetSamples);
    echoFramesSent_ = 0;
    window_ = {};
    // The values before the end come from the samples already seen.
    const int64_t have = std::min<int64_t>(sampleCount_, kRawHistory);
    for (int64_t n = std::max(echoStart_, sampleCount_ - have); n < sampleCount_; ++n) {
        const double x = raw_[static_cast<std::size_t>(n % kRawHistory)];
        window_ += x * std::polar(1.0, -2.0 * std::numbers::pi * echoHz_ *
                                           static_cast<double>(n - echoStart_) / kMeterRate);
        if ((n - echoStart_ + 1) % kEnvelopeDecimation == 0) {
            envelope_.push_back(static_cast<uint16_t>(
                std::min(65535.0, std::sqrt(2.0) * std::abs(window_) / kEnvelopeDecimation)));
            window_ = {};
        }
    }
}

void Zmk5Meter::echoSample(double x) {
    const int64_t n = sampleCount_;
    if (raw_.size() != kRawHistory)
        raw_.assign(kRawHistory, 0.0);
    // The energy of the sample before this one: x[n-1]^2 - x[n-2] x[n].
    const double energy = x1_ * x1_ - x2_ * x;
    x2_ = x1_;
    x1_ = x;

    if (echoState_ == EchoState::Waiting) {
        if (own_ != nullptr && own_->echoing() && own_->probe(0).on) {
            // Talker echo: the own probe's end is known to the sample.
            int64_t end = own_->firstProbeEnd(n);
            if (end == n)
                startEchoSet(end);
        } else {
            // Listener echo: the far probe's end, where its energy vanishes.
            if (energy > energyLevel_ / 16.0 && energy > kProbeEnergyFloor) {
                if (soundingSince_ < 0)
                    soundingSince_ = n - 1;
                energyLevel_ = std::max(energy, energyLevel_ * (1.0 - 1.0 / 1280.0));
                quietRun_ = 0;
            } else if (soundingSince_ >= 0) {
                if (++quietRun_ == 3) {
                    // The first energy to vanish (at n - 3) belongs to the probe's first silent
                    // sample or to its last one when that was near zero: taking the sample
                    // after it keeps the set's first values inside the probe.
                    const int64_t end = n - 2;
                    if (end - soundingSince_ >= kProbeMinimumSamples)
                        startEchoSet(end);
                    soundingSince_ = -1;
                    energyLevel_ = 0.0;
                    quietRun_ = 0;
                }
            }
        }
    }
    raw_[static_cast<std::size_t>(n % kRawHistory)] = x;

    if (echoState_ == EchoState::Taking && n >= echoStart_) {
        window_ += x * std::polar(1.0, -2.0 * std::numbers::pi * echoHz_ *
                                           static_cast<double>(n - echoStart_) / kMeterRate);
        if ((n - echoStart_ + 1) % kEnvelopeDecimation == 0) {
            envelope_.push_back(static_cast<uint16_t>(
                std::min(65535.0, std::sqrt(2.0) * std::abs(window_) / kEnvelopeDecimation)));
            window_ = {};
            if (static_cast<int>(envelope_.size()) == kSetSamples) {
                echoState_ = EchoState::Done;
                queueTable();
            }
        }
    }
}

void Zmk5Meter::noSignal() {
    setting_ = 0;
    tracker_.stop();
    statistics_.reset();
    sumSquares_ = noiseSquares_ = peakCodes_ = 0.0;
    tableSamples_ = 0;
    sinePower_ = amplitudeSum_ = amplitudeMin_ = amplitudeMax_ = phaseMax_ = 0.0;
    tableEnvelopes_ = 0;
    phaseStartValid_ = false;
}

void Zmk5Meter::stop() {
    running_ = false;
    setting_ = 0;
    tracker_.stop();
    dropCapture();
    armed_ = false;
}

void Zmk5Meter::dropCapture() {
    capturing_ = false;
    set_.clear();
    framesSent_ = kSetSamples / kFrameSamples;
    small_.clear();
    statistics_.reset();
}

void Zmk5Meter::powerOn() {
    stop();
    setRange(0, 0);
    setGain(false);
    events_ = Zmk5Events();
}

void Zmk5Meter::skip(int64_t n) {
    if (n <= 0)
        return;
    sampleCount_ += n;
    if (capturing_ || framesSent_ < kSetSamples / kFrameSamples) {
        capturing_ = false;
        set_.clear();
        framesSent_ = kSetSamples / kFrameSamples;
        armed_ = running_;
    }
    if (tracker_.active())
        tracker_.start(tracker_.nominalHz());
    nextStatistics_ = std::max(nextStatistics_, sampleCount_);
}

uint32_t Zmk5Meter::msSinceRestart(int64_t sample) const {
    return static_cast<uint32_t>((sample - restartSample_) * 1000 / kStatisticsSamples);
}

void Zmk5Meter::startSet() {
    armed_ = false;
    capturing_ = true;
    setStart_ = sampleCount_;
    set_.clear();
    set_.reserve(kSetSamples);
    framesSent_ = 0;
}

void Zmk5Meter::acquire(std::span<const double> line) {
    const double floorCodes = std::pow(10.0, kMeterNoiseDbm / 20.0) * codesPerUnit_;
    for (double value : line) {
        if (!running_) {
            ++sampleCount_;
            continue;
        }
        if (armed_ && sampleCount_ % kSetGridSamples == 0)
            startSet();
        const double analog = value * codesPerUnit_ + floorCodes * floorNoise_(random_);
        peakCodes_ = std::max(peakCodes_, std::abs(analog));
        const auto code =
            static_cast<int16_t>(std::clamp(std::nearbyint(analog), -32767.0, 32767.0));
        const double x = code;
        if (echoOn_)
            echoSample(x);
        if (capturing_) {
            set_.push_back(code);
            if (static_cast<int>(set_.size()) == kSetSamples) {
                capturing_ = false;
                finishSet();
            }
        }
        sumSquares_ += x * x;
        ++tableSamples_;
        if (tracker_.active()) {
            const bool envelope = tracker_.feed(x);
            events_.feed(tracker_, envelope);
            const double residual = tracker_.residual();
            noiseSquares_ += residual * residual;
            if (envelope && tracker_.locked()) {
                const double a = tracker_.amplitude();
                if (!phaseStartValid_) {
                    phaseStartValid_ = true;
                    phaseStart_ = tracker_.loopPhase();
                    amplitudeMin_ = amplitudeMax_ = a;
                }
                sinePower_ += a * a / 2.0;
                amplitudeSum_ += a;
                amplitudeMin_ = std::min(amplitudeMin_, a);
                amplitudeMax_ = std::max(amplitudeMax_, a);
                phaseMax_ = std::max(phaseMax_, std::abs(tracker_.phaseError()));
                ++tableEnvelopes_;
            }
        } else {
            noiseSquares_ += x * x;
        }
        ++sampleCount_;
        if (tracker_.active() && sampleCount_ >= nextStatistics_) {
            nextStatistics_ += kStatisticsSamples;
            auto block = zmk5::eventStatisticsBlock(events_.statistics());
            statistics_ = std::vector<int16_t>(block.begin(), block.end());
        }
    }
}

void Zmk5Meter::finishSet() {
    queueTable();
    queueTracking();
}

void Zmk5Meter::queueTable() {
    zmk5::MeterTable t;
    t.timeMs = msSinceRestart(sampleCount_ + 1);
    // The count word holds at most 65535 samples: a longer interval is given by its
    // mean over that many.
    double squares = sumSquares_;
    int64_t count = tableSamples_;
    if (count > 65535) {
        squares = squares * 65535.0 / static_cast<double>(count);
        count = 65535;
    }
    t.sumOfSquares = static_cast<uint64_t>(squares + 0.5);
    t.squareCount = static_cast<uint16_t>(count);
    const double noise =
        tableSamples_ > 0 ? noiseSquares_ / static_cast<double>(tableSamples_) : 0.0;
    t.noiseMeanSquare = saturate32(noise);
    if (tracker_.active() && tableEnvelopes_ > 0) {
        const double sine = sinePower_ / static_cast<double>(tableEnvelopes_);
        const double peak = peakCodes_ * peakCodes_ / 2.0;
        t.peakWord = sine > 0.0 ? saturate32(kPeakToSineScale * peak / sine) : 0xFFFFFFFFu;
        const double mean = amplitudeSum_ / static_cast<double>(tableEnvelopes_);
        if (mean > 0.0) {
            t.amplitudeRise = word16(-(amplitudeMax_ / mean - 1.0) * 8196.0);
            t.amplitudeFall = word16((1.0 - amplitudeMin_ / mean) * 8196.0);
        }
        t.phaseDeviation = word16(std::sin(std::min(phaseMax_, std::numbers::pi / 2)) * 8196.0);
        // The mean frequency over the interval: the loop's phase advance over its time.
        const double seconds = static_cast<double>(tableEnvelopes_ - 1) / kSecondEnvelopes;
        const double hz =
            seconds > 0.0
                ? tracker_.nominalHz() + (tracker_.loopPhase() - phaseStart_) / (kTwoPi * seconds)
                : tracker_.frequencyHz();
        if (hz > 0.0) {
            t.frequencySum = static_cast<uint64_t>(hz * kFrequencySteps + 0.5);
            t.frequencyCount = 1;
        }
    } else {
        t.peakWord = saturate32(peakCodes_ * peakCodes_ / 2.0);
    }
    auto block = zmk5::meterTableBlock(t);
    small_.emplace_back(block.begin(), block.end());

    sumSquares_ = noiseSquares_ = peakCodes_ = 0.0;
    tableSamples_ = 0;
    sinePower_ = amplitudeSum_ = phaseMax_ = 0.0;
    tableEnvelopes_ = 0;
    phaseStartValid_ = false;
}

void Zmk5Meter::queueTracking() {
    // The comb is recognised from the set's spectrum: the bins on a 100 Hz grid (at the
    // grid's offset with the most power) must hold nine tenths of the band's power.
    std::vector<double> windowed(kSetSamples);
    for (int n = 0; n < kSetSamples; ++n)
        windowed[n] = set_[n] * (0.5 - 0.5 * std::cos(kTwoPi * n / kSetSamples));
    const std::vector<double> power = powerSpectrum(windowed);
    int bestOffset = 0;
    double bestComb = -1.0;
    for (int offset = -16; offset < 16; ++offset) {
        double comb = 0.0;
        for (int tone = kFirstTrackedTone; tone <= kLastTrackedTone; ++tone)
            for (int d = -2; d <= 2; ++d)
                comb += power[32 * tone + offset + d];
        if (comb > bestComb) {
            bestComb = comb;
            bestOffset = offset;
        }
    }
    double band = 0.0;
    for (int k = 32 * kFirstTrackedTone - 16; k < 32 * kLastTrackedTone + 16; ++k)
        band += power[k];
    if (!(band > 0.0) || bestComb < 0.9 * band)
        return;

    const bool overload = std::any_of(set_.begin(), set_.end(),
                                      [](int16_t x) { return std::abs(x) > kOverloadCode; });
    const double shiftHz = bestOffset * kBinHz;
    // Complex amplitude of a tone over the first 1856 samples, its nominal phase taken out.
    auto measure = [&](int tone) {
        const double hz = tone * kCombSpacingHz + shiftHz;
        const std::complex<double> step = std::polar(1.0, -kTwoPi * hz / kMeterRate);
        std::complex<double> rotor{1.0, 0.0}, sum{};
        for (int n = 0; n < kTrackingSamples; ++n) {
            sum += static_cast<double>(set_[n]) * rotor;
            rotor *= step;
        }
        sum *= 2.0 / kTrackingSamples;
        sum *= std::polar(1.0, -kCombPhaseSevenths[tone - 1] * kTwoPi / 7.0);
        // The step nearest the tone, kept inside the band the computer accepts.
        long at = std::lround(hz / kTrackingStepHz);
        if (at * kTrackingStepHz < 300.0)
            ++at;
        if (at * kTrackingStepHz > 3400.0)
            --at;
        return std::pair{sum, static_cast<int16_t>(at)};
    };
    const auto [reference, referenceStep] = measure(kReferenceTone);
    for (int i = 0; i < kTrackingPerSet; ++i) {
        const int tone = kFirstTrackedTone + trackingTone_;
        trackingTone_ = (trackingTone_ + 1) % (kLastTrackedTone - kFirstTrackedTone + 1);
        const auto [value, step] = measure(tone);
        zmk5::TrackingFrame f;
        f.timeMs = msSinceRestart(setStart_);
        f.referenceRe = word16(reference.real());
        f.referenceIm = word16(reference.imag());
        f.referenceStep = referenceStep;
        f.toneRe = word16(value.real());
        f.toneIm = word16(value.imag());
        f.toneStep = step;
        f.overload = overload;
        auto block = zmk5::trackingBlock(f);
        small_.emplace_back(block.begin(), block.end());
    }
}

int Zmk5Meter::frameReadyCount() const {
    // Frames before the middle hold even samples, the others odd ones.
    const int captured = static_cast<int>(set_.size());
    int ready = 0;
    for (int j = 0; j < kSetSamples / kFrameSamples; ++j) {
        const int last = sampleOfPosition(j * kFrameSamples + kFrameSamples - 1);
        if (captured <= last)
            break;
        ready = j + 1;
    }
    return ready;
}

std::optional<std::vector<int16_t>> Zmk5Meter::takeBlock() {
    if (!running_)
        return std::nullopt;
    if (!small_.empty()) {
        std::vector<int16_t> block = std::move(small_.front());
        small_.pop_front();
        return block;
    }
    if (statistics_) {
        std::vector<int16_t> block = std::move(*statistics_);
        statistics_.reset();
        return block;
    }
    const int frames = kSetSamples / kFrameSamples;
    if (echoOn_) {
        if (echoState_ == EchoState::Waiting ||
            static_cast<int>(envelope_.size()) < (echoFramesSent_ + 1) * kFrameSamples)
            return std::nullopt;
        std::array<int16_t, kFrameSamples> values{};
        for (int q = 0; q < kFrameSamples; ++q)
            values[q] = static_cast<int16_t>(envelope_[echoFramesSent_ * kFrameSamples + q]);
        ++echoFramesSent_;
        auto frame = zmk5::rawFrame(zmk5::block::EchoFrame,
                                    msSinceRestart(std::max(echoStart_, restartSample_)), values,
                                    echoFramesSent_ * kFrameSamples);
        if (echoFramesSent_ == frames) {
            echoState_ = EchoState::Waiting;
            envelope_.clear();
            echoFramesSent_ = 0;
        }
        return std::vector<int16_t>(frame.begin(), frame.end());
    }
    if (framesSent_ >= frames || framesSent_ >= frameReadyCount())
        return std::nullopt;
    std::array<int16_t, kFrameSamples> samples{};
    for (int q = 0; q < kFrameSamples; ++q)
        samples[q] = set_[sampleOfPosition(framesSent_ * kFrameSamples + q)];
    ++framesSent_;
    auto frame = zmk5::rawFrame(zmk5::block::SignalFrame, msSinceRestart(setStart_), samples,
                                framesSent_ * kFrameSamples);
    if (framesSent_ == frames)
        armed_ = true;
    return std::vector<int16_t>(frame.begin(), frame.end());
}

} // namespace vetlina::sim
