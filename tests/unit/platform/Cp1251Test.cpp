#include "platform/Cp1251.h"

#include <gtest/gtest.h>

namespace vetlina {
namespace {

TEST(Cp1251, CyrillicLettersMapToTheirBytes) {
    EXPECT_EQ("Москва"_cp, std::string("\xCC\xEE\xF1\xEA\xE2\xE0"));
    EXPECT_EQ("АТС Э"_cp, std::string("\xC0\xD2\xD1\x20\xDD"));
    EXPECT_EQ("Ёё"_cp, std::string("\xA8\xB8"));
}

TEST(Cp1251, EveryByteSurvivesARoundTripThroughUtf8) {
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(toCp1251(toUtf8(all)), all);
}

TEST(Cp1251, PunctuationAndSignsOfTheUpperHalf) {
    EXPECT_EQ(toUtf8("\x85\x96\x97\xB9\x88\x99"), "…–—№€™");
    EXPECT_EQ(toCp1251("«»°±µ"), std::string("\xAB\xBB\xB0\xB1\xB5"));
}

TEST(Cp1251, UnmappableAndMalformedUtf8BecomesQuestionMarks) {
    EXPECT_EQ(toCp1251("a漢b"), "a?b");
    EXPECT_EQ(toCp1251("x😀y"), "x?y");
    EXPECT_EQ(toCp1251("\xC3"), "?");           // truncated sequence
    EXPECT_EQ(toCp1251("\xC0\x80z"), "?z");     // overlong NUL
    EXPECT_EQ(toCp1251("\xED\xA0\x80!"), "?!"); // surrogate
    EXPECT_EQ(toCp1251("\xFF\xFEok"), "??ok");  // bytes that never start a sequence
}

TEST(Cp1251, Utf8IsRecognisedAndCodePage1251TextIsNot) {
    EXPECT_TRUE(isUtf8(""));
    EXPECT_TRUE(isUtf8("demo.scn"));
    EXPECT_TRUE(isUtf8("сценарий 漢 😀.scn"));
    EXPECT_FALSE(isUtf8(toCp1251("сценарий.scn")));
    for (const char* malformed : {"\xC3", "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80"})
        EXPECT_FALSE(isUtf8(malformed)) << malformed;
}

} // namespace
} // namespace vetlina
