#include "analyzer/ResultRecords.h"

#include <bit>
#include <cstring>
#include <type_traits>

namespace vetlina {

namespace {

// Visits the fields of a record in their order.
template <class R, class F>
void fields(R& r, F&& f) {
    using Plain = std::remove_const_t<R>;
    if constexpr (std::is_same_v<Plain, SineResult>) {
        for (auto* p :
             {&r.level, &r.frequency, &r.snr, &r.snrPs, &r.jitPh, &r.jitAm, &r.shift, &r.pulPrc})
            f(*p);
        f(r.pulCnt);
        f(r.pulRel);
        f(r.intPrc);
        f(r.intCnt);
        f(r.intRel);
        f(r.sumPrc);
        f(r.sumCnt);
        f(r.sumRel);
        f(r.hitPh);
        f(r.hitAm);
        for (auto& m : r.mod)
            f(m);
        for (auto* p : {&r.att, &r.dis2, &r.dis3, &r.dis23})
            f(*p);
        f(r.counter);
    } else if constexpr (std::is_same_v<Plain, O132Result>) {
        for (auto* p : {&r.level, &r.frequency, &r.snr, &r.snrPs, &r.jitPh, &r.jitAm, &r.shift})
            f(*p);
        f(r.counter);
    } else if constexpr (std::is_same_v<Plain, O131Result>) {
        f(r.level);
        f(r.snr);
        f(r.counter);
    } else if constexpr (std::is_same_v<Plain, MttsResult>) {
        f(r.level);
        for (auto* a : {&r.att, &r.del, &r.freq})
            for (auto& v : *a)
                f(v);
        f(r.counter);
    } else if constexpr (std::is_same_v<Plain, O42Result>) {
        for (auto* p : {&r.level, &r.dis2, &r.dis3, &r.dis23})
            f(*p);
        f(r.counter);
    } else if constexpr (std::is_same_v<Plain, ImpedanceResult>) {
        for (auto* a : {&r.imped, &r.capac, &r.freq})
            for (auto& v : *a)
                f(v);
        f(r.counter);
    } else if constexpr (std::is_same_v<Plain, NoiseResult>) {
        f(r.noise);
        f(r.noisePs);
        for (auto& v : r.spectrum)
            f(v);
        f(r.counter);
    } else if constexpr (std::is_same_v<Plain, EchoResult>) {
        f(r.echo);
        f(r.counter);
    }
}

template <class R>
void write(const R& r, uint8_t* out) {
    std::size_t at = 0;
    fields(r, [&](const auto& v) {
        const uint32_t bits = std::bit_cast<uint32_t>(v);
        for (int i = 0; i < 4; ++i)
            out[at++] = static_cast<uint8_t>(bits >> (8 * i));
    });
}

template <class R>
void read(const uint8_t* in, R& r) {
    std::size_t at = 0;
    fields(r, [&](auto& v) {
        uint32_t bits = 0;
        for (int i = 0; i < 4; ++i)
            bits |= static_cast<uint32_t>(in[at++]) << (8 * i);
        v = std::bit_cast<std::remove_reference_t<decltype(v)>>(bits);
    });
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

} // namespace vetlina
