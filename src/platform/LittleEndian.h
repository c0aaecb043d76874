// Little-endian numbers inside byte-exact records. Every record that is stored in
// a file or sent to the far complex keeps its numbers little-endian at fixed
// offsets, often odd ones; Le<T> holds such a number as its bytes (alignment 1,
// no padding) and converts explicitly on every read and write, so a record is a
// plain trivially copyable struct whose image is the bytes on disk and wire.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

namespace vetlina {

namespace detail {

template <std::size_t Size>
struct UnsignedOfSize;
template <>
struct UnsignedOfSize<1> {
    using type = uint8_t;
};
template <>
struct UnsignedOfSize<2> {
    using type = uint16_t;
};
template <>
struct UnsignedOfSize<4> {
    using type = uint32_t;
};
template <>
struct UnsignedOfSize<8> {
    using type = uint64_t;
};

template <typename T>
concept LittleEndianValue = (std::is_integral_v<T> ||
                             std::is_floating_point_v<T>)&&(sizeof(T) == 1 || sizeof(T) == 2 ||
                                                            sizeof(T) == 4 || sizeof(T) == 8) &&
                            (!std::is_floating_point_v<T> || std::numeric_limits<T>::is_iec559);

} // namespace detail

// The value of type T stored little-endian at bytes (any alignment).
template <detail::LittleEndianValue T>
T loadLe(const void* bytes) {
    using U = typename detail::UnsignedOfSize<sizeof(T)>::type;
    const auto* b = static_cast<const unsigned char*>(bytes);
    U bits = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        bits = static_cast<U>(bits | static_cast<U>(static_cast<U>(b[i]) << (8 * i)));
    return std::bit_cast<T>(bits);
}

// Stores value little-endian at bytes (any alignment), every bit as it is: NaN
// payloads and the sign of zero are kept.
template <detail::LittleEndianValue T>
void storeLe(void* bytes, T value) {
    using U = typename detail::UnsignedOfSize<sizeof(T)>::type;
    auto* b = static_cast<unsigned char*>(bytes);
    U bits = std::bit_cast<U>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i)
        b[i] = static_cast<unsigned char>(bits >> (8 * i));
}

// A T kept as sizeof(T) little-endian bytes. An aggregate: `Le<int32_t> x{}` is
// zero, and a record built of Le members is trivially copyable with no padding.
template <detail::LittleEndianValue T>
struct Le {
    using value_type = T;

    unsigned char bytes[sizeof(T)];

    T get() const { return loadLe<T>(bytes); }
    void set(T value) { storeLe<T>(bytes, value); }

    operator T() const { return get(); }
    Le& operator=(T value) {
        set(value);
        return *this;
    }
};

static_assert(sizeof(Le<double>) == 8 && alignof(Le<double>) == 1);
static_assert(sizeof(Le<int16_t>) == 2 && alignof(Le<int16_t>) == 1);
static_assert(std::is_trivially_copyable_v<Le<float>> && std::is_standard_layout_v<Le<float>>);

} // namespace vetlina
