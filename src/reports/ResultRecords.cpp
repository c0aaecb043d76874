#include "reports/ResultRecords.h"

#include "scenario/ScenarioEntry.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vetlina {

namespace {

template <class R>
void write(const R& r, uint8_t* out) {
    static_assert(std::is_trivially_copyable_v<R> && alignof(R) == 1);
    std::memcpy(out, &r, sizeof r);
}

template <class R>
void read(const uint8_t* in, R& r) {
    std::memcpy(&r, in, sizeof r);
}

} // namespace

void toBytes(const SineResult& r, uint8_t* out) {
    write(r, out);
}
void toBytes(const O132Result& r, uint8_t* out) {
    write(r, out);
}
void toBytes(const O131Result& r, uint8_t* out) {
    write(r, out);
}
void toBytes(const MttsResult& r, uint8_t* out) {
    write(r, out);
}
void toBytes(const O42Result& r, uint8_t* out) {
    write(r, out);
}
void toBytes(const ImpedanceResult& r, uint8_t* out) {
    write(r, out);
}
void toBytes(const NoiseResult& r, uint8_t* out) {
    write(r, out);
}
void toBytes(const EchoResult& r, uint8_t* out) {
    write(r, out);
}
void fromBytes(const uint8_t* in, SineResult& r) {
    read(in, r);
}
void fromBytes(const uint8_t* in, O132Result& r) {
    read(in, r);
}
void fromBytes(const uint8_t* in, O131Result& r) {
    read(in, r);
}
void fromBytes(const uint8_t* in, MttsResult& r) {
    read(in, r);
}
void fromBytes(const uint8_t* in, O42Result& r) {
    read(in, r);
}
void fromBytes(const uint8_t* in, ImpedanceResult& r) {
    read(in, r);
}
void fromBytes(const uint8_t* in, NoiseResult& r) {
    read(in, r);
}
void fromBytes(const uint8_t* in, EchoResult& r) {
    read(in, r);
}

float parasiticModulation(const SineResult& sine) {
    float m = 0.0f;
    for (const auto& v : sine.mod)
        m = std::max(m, v.get());
    return m;
}

float selectiveInterference(const NoiseResult& noise) {
    float m = kNotMeasured;
    for (int j = 11; j <= 135; ++j)
        m = std::max(m, noise.spectrum[j].get());
    return m;
}

int nearestComponent(const std::array<Le<float>, 38>& frequency, double x) {
    int nearest = -1;
    for (int i = 0; i < 38; ++i) {
        if (!(frequency[i] >= 1e-9f))
            continue;
        if (nearest < 0 || std::fabs(frequency[i] - x) < std::fabs(frequency[nearest] - x))
            nearest = i;
    }
    return nearest;
}

double interpolateAtReference(const std::array<Le<float>, 38>& frequency,
                              const std::array<Le<float>, 38>& value, double x,
                              bool impedanceRecord) {
    if (x < 100.0) {
        if (!impedanceRecord)
            return 0.0;
        double m = 0.0;
        for (int i = 2; i <= 34; ++i)
            m = std::max(m, std::fabs(static_cast<double>(value[i])));
        return m;
    }
    for (int i = 0; i < 37; ++i) {
        const double f0 = frequency[i], f1 = frequency[i + 1];
        if (f0 <= x && x < f1) {
            if (std::fabs(f1 - f0) < 1e-7)
                return -10000.0;
            if (impedanceRecord && (f0 < 1e-9 || f1 < 1e-9))
                return kNotMeasured;
            return value[i] + (value[i + 1] - value[i]) * (x - f0) / (f1 - f0);
        }
    }
    // No measured pair encloses x: the component measured nearest to it.
    const int nearest = nearestComponent(frequency, x);
    if (nearest < 0)
        return impedanceRecord ? kNotMeasured : 0.0;
    return value[nearest];
}

} // namespace vetlina
