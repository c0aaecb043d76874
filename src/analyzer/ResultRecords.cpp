#include "analyzer/ResultRecords.h"

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

} // namespace vetlina
