// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the number formatters: widths that cut as well as fill, marker
// texts, truncation of fractions, 64-bit patterns and the decimal separator.
#include "format/NumberFormat.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace {

// Builds an expected decimal text with the user's separator in place of '.'.
std::string Local(std::string text) {
    for (char& c : text) {
        if (c == '.') c = DecimalSeparator();
    }
    return text;
}

TEST(PadOrCut, FillsOnTheLeftOrKeepsTheLeftmostCharacters) {
    struct Case {
        int32_t width;
        char fill;
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {6, '0', "ABC", "000ABC"}, {2, '0', "ABC", "AB"}, {3, '0', "ABC", "ABC"}, {0, '0', "ABC", ""},
        {-1, '0', "ABC", ""},      {4, ' ', "", "    "},  {1, '*', "", "*"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PadOrCut(c.width, c.fill, c.text), c.expected) << c.width << " '" << c.text << "'";
    }
}

TEST(Hex32Text, ZeroFilledUpperCaseAndCutToTheMostSignificantDigits) {
    struct Case {
        uint32_t value;
        int32_t width;
        bool prefix;
        const char* expected;
    };
    const Case cases[] = {
        {0x10B5, 4, false, "10B5"},
        {0, 8, false, "00000000"},
        {0x12345, 4, false, "1234"},
        {0x1f, 2, true, "0x1F"},
        {0xFFFFFFFF, 8, true, "0xFFFFFFFF"},
        {0xABCDEF, 10, true, "0x0000ABCDEF"},
        {0xabcdef, 6, false, "ABCDEF"},
        {5, 1, false, "5"},
        {0xABC, 0, false, ""},
        {0xAB, -3, false, ""},
        {0xAB, -3, true, "0x"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Hex32Text(c.value, c.width, c.prefix), c.expected) << std::hex << c.value << " " << c.width;
    }
}

TEST(HexText, AWidthNoFieldCouldHaveFailsInsteadOfFillingMemory) {
    EXPECT_EQ(Hex32Text(0x1F, std::numeric_limits<int32_t>::max(), true), "0xINVALID");
    EXPECT_EQ(Hex32Text(0x1F, 65536, false), "INVALID");
    EXPECT_EQ(Hex32Text(0x1F, 65535, false).size(), 65535u);
    EXPECT_EQ(Hex64Text(0x1F, std::numeric_limits<int32_t>::max(), true), "OVERFLOW");
}

TEST(Hex64Text, PatternsOfEightOrSixteenDigitsFilledAndCut) {
    struct Case {
        long double value;
        int32_t width;
        bool prefix;
        const char* expected;
    };
    const Case cases[] = {
        {0x1000, 8, true, "0x00001000"},
        {0xFEBFF000u, 8, true, "0xFEBFF000"},
        {0x123456789ULL, 8, true, "0x00000001"},
        {0x123456789ULL, 16, false, "0000000123456789"},
        {static_cast<long double>(0xFFFFF88001234000ULL), 16, false, "FFFFF88001234000"},
        {static_cast<long double>(0xFFFFFFFFFFFFFFFFULL), 16, false, "FFFFFFFFFFFFFFFF"},
        {0xFFFFFFFFu, 8, false, "FFFFFFFF"},
        {0x100000000ULL, 8, false, "00000001"},
        {0x1F, 4, false, "001F"},
        {0x12345, 4, false, "1234"},  // as Hex32Text: the leftmost digits stay
        {0x1000, 20, false, "00000000000000001000"},
        {0, 0, true, "0x"},
        {-1, 16, false, "FFFFFFFFFFFFFFFF"},
        {-1.5L, 16, false, "FFFFFFFFFFFFFFFF"},
        {-9223372036854775808.0L, 16, false, "8000000000000000"},
        {255.9L, 2, false, "FF"},
        {0.99L, 8, false, "00000000"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Hex64Text(c.value, c.width, c.prefix), c.expected) << static_cast<double>(c.value);
    }
}

TEST(Hex64Text, OutOfRangeIsOverflowWithoutFillCutOrPrefix) {
    const long double outside[] = {
        18446744073709551616.0L,  // 2^64
        -9223372036854777856.0L,  // just below -2^63
        std::numeric_limits<long double>::infinity(),
        -std::numeric_limits<long double>::infinity(),
        std::numeric_limits<long double>::quiet_NaN(),
    };
    for (const long double value : outside) {
        for (const int32_t width : {0, 4, 16, 20}) {
            EXPECT_EQ(Hex64Text(value, width, true), "OVERFLOW")
                << static_cast<double>(value) << " " << width;
        }
    }
}

TEST(DecimalText, FixedPointCutToTheWidthAndNeverFilled) {
    struct Case {
        double value;
        int32_t maxWidth;
        int32_t decimals;
        const char* expected;  // '.' stands for the user's separator
    };
    const Case cases[] = {
        {12, 5, 0, "12"},
        {123456, 5, 0, "12345"},
        {1.5, 10, 3, "1.500"},
        {1.5, 3, 3, "1.5"},
        {0, 2, 0, "0"},
        {-3, 5, 0, "-3"},
        {-3, 1, 0, "-"},
        {4294967295.0, 9, 0, "429496729"},
        {4294967295.0, 10, 0, "4294967295"},
        {2.5, 5, 0, "3"},
        {-2.5, 5, 0, "-3"},
        {0.0005, 10, 3, "0.001"},
        {9.9996, 10, 3, "10.000"},
        {-0.0001, 8, 0, "0"},
        {-0.0004, 8, 3, "0.000"},
        {12.7, 5, -1, "13"},
        {12, 0, 0, ""},
        {12, -4, 2, ""},
        {1.25, 30, 20, "1.25000000000000000000"},
        // Rounded to the decimals first, then cut: "9.96" cut to one is 9.
        {9.96, 1, 2, "9"},
        {99.999, 2, 5, "99"},
        {-0.001, 2, 3, "-0"},
        // 18 significant digits, then zeros.
        {1.0 / 3.0, 30, 20, "0.33333333333333331500"},
        {123456789012345680.0, 30, 0, "123456789012345680"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecimalText(c.value, c.maxWidth, c.decimals), Local(c.expected))
            << c.value << " " << c.maxWidth << " " << c.decimals;
    }
}

TEST(DecimalText, IntegerPartsBeyondEighteenDigitsUseExponentNotation) {
    EXPECT_EQ(DecimalText(1e20, 30, 0), "1E+20");
    EXPECT_EQ(DecimalText(-1e20, 30, 2), "-1E+20");
    EXPECT_EQ(DecimalText(1234567890123456789.0, 30, 0), Local("1.23456789012345677E+18"));
    EXPECT_EQ(DecimalText(1234567890123456789.0, 5, 0), Local("1.234"));
    // Rounding that carries into a nineteenth digit.
    EXPECT_EQ(DecimalText(999999999999999999.9, 30, 0), "1E+18");
}

TEST(DecimalText, ValuesItCannotShowGiveNan) {
    EXPECT_EQ(DecimalText(std::numeric_limits<double>::quiet_NaN(), 9, 0), "Nan");
    EXPECT_EQ(DecimalText(std::numeric_limits<double>::infinity(), 9, 0), "Nan");
    EXPECT_EQ(DecimalText(-std::numeric_limits<double>::infinity(), 9, 3), "Nan");
}

TEST(DecimalText, AHugeDecimalCountCostsNoMoreThanTheWidth) {
    EXPECT_EQ(DecimalText(1.5, 6, std::numeric_limits<int32_t>::max()), Local("1.5000"));
}

// The separator comes from the user's settings once; the process's C locale,
// which a toolkit may switch, changes nothing.
TEST(DecimalText, LeavesTheProcessLocaleAsItWas) {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    DecimalText(1.5, 10, 3);
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), before);
}

TEST(DecimalText, TheProcessLocaleDoesNotChangeTheSeparator) {
    const char separator = DecimalSeparator();
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr &&
        std::setlocale(LC_ALL, "fr_FR.UTF-8") == nullptr) {
        GTEST_SKIP() << "no locale with a decimal comma installed";
    }
    EXPECT_EQ(DecimalText(1.5, 10, 3), std::string("1") + separator + "500");
    EXPECT_EQ(DecimalSeparator(), separator);
    std::setlocale(LC_ALL, saved.c_str());
}

}  // namespace
