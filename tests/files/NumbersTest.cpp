// The one number reader, in each form a reader of the tree takes.
#include "Numbers.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using files::ParseCount;
using files::ParseNumber;

TEST(Numbers, TypedIsDecimalWithASignAndSpacesAround) {
    EXPECT_EQ(ParseNumber(" +7 ", 0, 255, files::Typed), 7);
    EXPECT_EQ(ParseNumber("-12", -100, 100, files::Typed), -12);
    EXPECT_EQ(ParseNumber("-0", 0, 1, files::Typed), 0);
    for (const char* refused : {"", " ", "+", "-", "+-5", "-+5", "+ 5", "5 5", "0x10", "\t5", "5a", "1e3", "256"})
        EXPECT_FALSE(ParseNumber(refused, 0, 255, files::Typed)) << refused;
    EXPECT_EQ(files::ParseTyped("2147483647"), INT32_MAX);
    EXPECT_EQ(files::ParseTyped("-2147483648"), INT32_MIN);
    EXPECT_FALSE(files::ParseTyped("2147483648")) << "a settings field holds 32 bits";
}

TEST(Numbers, GivenIsDecimalOrHexadecimalWithNothingAround) {
    EXPECT_EQ(ParseCount("0x2A", 255, files::Given), 42u);
    EXPECT_EQ(ParseCount("0X2a", 255, files::Given), 42u);
    EXPECT_EQ(ParseCount("42", 255, files::Given), 42u);
    EXPECT_EQ(ParseCount("18446744073709551615", UINT64_MAX, files::Given), UINT64_MAX);
    for (const char* refused : {"", "0x", "0x-5", "0x+5", "+5", "-5", " 5", "5 ", "256", "0x100", "18446744073709551616"})
        EXPECT_FALSE(ParseCount(refused, 255, files::Given)) << refused;
    EXPECT_EQ(ParseNumber("0x10", 0, 255, files::Given), 16);
}

TEST(Numbers, HexadecimalIsItsDigitsAloneOrAfter0xWhereAllowed) {
    EXPECT_EQ(ParseNumber("2a", 0, 0xFFF, files::Hexadecimal), 0x2A);
    EXPECT_EQ(ParseNumber("FFF", 0, 0xFFF, files::Hexadecimal), 0xFFF);
    for (const char* refused : {"", "0x300", "1000", "-1", "12g", " 300"})
        EXPECT_FALSE(ParseNumber(refused, 0, 0xFFF, files::Hexadecimal)) << refused;
    EXPECT_EQ(ParseNumber("0x300", 0, 0xFFF, {.hex = true, .base = 16}), 0x300);
    EXPECT_EQ(ParseNumber("300", 0, 0xFFF, {.hex = true, .base = 16}), 0x300);
}

}  // namespace
