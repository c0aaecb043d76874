#include "platform/LittleEndian.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>

namespace vetlina {
namespace {

template <typename T>
std::string bytesOf(const Le<T>& value) {
    return std::string(reinterpret_cast<const char*>(value.bytes), sizeof(T));
}

TEST(LittleEndian, IntegersAreStoredLowByteFirst) {
    Le<int32_t> i32{};
    i32 = -2;
    EXPECT_EQ(bytesOf(i32), std::string("\xFE\xFF\xFF\xFF", 4));
    EXPECT_EQ(static_cast<int32_t>(i32), -2);

    i32 = 0x12345678;
    EXPECT_EQ(bytesOf(i32), std::string("\x78\x56\x34\x12", 4));

    Le<int16_t> i16{};
    i16 = -999;
    EXPECT_EQ(bytesOf(i16), std::string("\x19\xFC", 2));
    EXPECT_EQ(i16.get(), -999);

    Le<uint16_t> u16{};
    u16 = 0xBEEF;
    EXPECT_EQ(bytesOf(u16), std::string("\xEF\xBE", 2));

    Le<uint32_t> u32{};
    u32.set(0xFFFFFFFFu);
    EXPECT_EQ(u32.get(), 0xFFFFFFFFu);
    Le<int32_t> minimum{};
    minimum = INT32_MIN;
    EXPECT_EQ(bytesOf(minimum), std::string("\x00\x00\x00\x80", 4));
    EXPECT_EQ(minimum.get(), INT32_MIN);
}

TEST(LittleEndian, FloatsKeepTheirIeeeBitPatterns) {
    Le<float> f{};
    f = -999.0f; // the missing-value mark, 0xC479C000
    EXPECT_EQ(bytesOf(f), std::string("\x00\xC0\x79\xC4", 4));
    f = 1.5f; // 0x3FC00000
    EXPECT_EQ(bytesOf(f), std::string("\x00\x00\xC0\x3F", 4));

    Le<double> d{};
    d = 1e-8; // 0x3E45798EE2308C3A
    EXPECT_EQ(bytesOf(d), std::string("\x3A\x8C\x30\xE2\x8E\x79\x45\x3E", 8));
    d = 36526.5; // 01.01.2000 12:00, 0x40E1D5D000000000
    EXPECT_EQ(bytesOf(d), std::string("\x00\x00\x00\x00\xD0\xD5\xE1\x40", 8));
    EXPECT_EQ(d.get(), 36526.5);
}

TEST(LittleEndian, NegativeZeroAndNanPayloadsSurvive) {
    Le<double> d{};
    d = -0.0;
    EXPECT_TRUE(std::signbit(d.get()));
    EXPECT_EQ(bytesOf(d), std::string("\0\0\0\0\0\0\0\x80", 8));

    const unsigned char payload[4] = {0x01, 0x00, 0xA0, 0x7F}; // signalling NaN 0x7FA00001
    Le<float> f{};
    std::memcpy(f.bytes, payload, 4);
    float value = f.get();
    EXPECT_TRUE(std::isnan(value));
    Le<float> copy{};
    copy = value;
    EXPECT_EQ(bytesOf(copy), std::string(reinterpret_cast<const char*>(payload), 4));
}

TEST(LittleEndian, FreeHelpersWorkAtAnyOffset) {
    unsigned char buffer[11] = {};
    storeLe<double>(buffer + 1, -2.25);
    storeLe<int16_t>(buffer + 9, -2);
    EXPECT_EQ(loadLe<double>(buffer + 1), -2.25);
    EXPECT_EQ(loadLe<int16_t>(buffer + 9), -2);
    EXPECT_EQ(buffer[9], 0xFE);
    EXPECT_EQ(buffer[10], 0xFF);
    EXPECT_EQ(buffer[0], 0); // nothing written outside the value
}

struct Packed {
    uint8_t flag;
    Le<float> value;
    Le<double> time;
};
static_assert(sizeof(Packed) == 13 && offsetof(Packed, time) == 5);

TEST(LittleEndian, RecordsOfLeMembersHaveNoPadding) {
    Packed p{};
    p.flag = 1;
    p.value = 28.0f;
    p.time = 2.0;
    Packed copy;
    std::memcpy(&copy, &p, sizeof p);
    EXPECT_EQ(copy.value.get(), 28.0f);
    EXPECT_EQ(copy.time.get(), 2.0);
}

} // namespace
} // namespace vetlina
