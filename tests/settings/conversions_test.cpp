// SPDX-License-Identifier: MIT
#include "settings/conversions.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

namespace zorvek::settings {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

struct NumberCase {
    std::string text;
    std::optional<double> expected;
};

TEST(ParseNumber, AcceptsPlainDecimalForms) {
    const NumberCase cases[] = {
        {"0", 0.0},         {"5", 5.0},
        {"007", 7.0},       {"  -12\t", -12.0},
        {"\t+3.25 ", 3.25}, {".5", 0.5},
        {"5.", 5.0},        {"-.5", -0.5},
        {"1e3", 1000.0},    {"2.5E-1", 0.25},
        {"1E+2", 100.0},    {"5.e1", 50.0},
        {"-0", -0.0},       {"0.1", 0.1},
        {"32767", 32767.0}, {"12345678901234567890", 12345678901234567890.0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseNumber(c.text), c.expected) << '"' << c.text << '"';
    }
}

TEST(ParseNumber, RejectsEverythingElse) {
    const std::string cases[] = {
        "",
        " ",
        "\t",
        "+",
        "-",
        ".",
        "+.",
        "1e",
        "1e+",
        "1E-",
        "e5",
        ".e1",
        "0x10",
        "1,000",
        "1 000",
        "inf",
        "nan",
        "Infinity",
        "-inf",
        "5 apples",
        "--5",
        "+-5",
        "1.2.3",
        "1e5.5",
        "1e2e3",
        "\xEF\xBC\x91" /* full-width 1 */,
        std::string("5\0", 2),
        "5\n",
        "\n5",
        "1d5",
        "&H10",
        "$5",
        "5%",
        "(5)",
        "+ 5",
    };
    for (const auto& text : cases) {
        EXPECT_EQ(parseNumber(text), std::nullopt) << '"' << text << '"';
    }
}

TEST(ParseNumber, HugeAndTinyValuesSaturate) {
    const NumberCase cases[] = {
        {"1e999999", kInf},      {"-1e999999", -kInf}, {"1e99999999999999999999999999", kInf},
        {"0.0001e999999", kInf}, {"1e-999999", 0.0},   {"1e-99999999999999999999999999", 0.0},
        {"0e99999999999", 0.0},  {"1e308", 1e308},     {"2e308", kInf},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseNumber(c.text), c.expected) << '"' << c.text << '"';
    }
    // Sign of an underflowed value is kept.
    const auto tiny = parseNumber("-1e-999999");
    ASSERT_TRUE(tiny.has_value());
    EXPECT_TRUE(*tiny == 0.0 && std::signbit(*tiny));
}

TEST(ParseNumber, LongDigitStringsAreExactAndFast) {
    const std::string nines(100000, '9');
    const std::string one = "1" + std::string(100000, '0') + "e-100000";
    const std::string small = "0." + std::string(100000, '0') + "1";
    const std::string longFraction = "2." + std::string(100000, '0') + "1";
    const std::string notNumber = std::string(100000, '1') + "x";

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(parseNumber(nines), kInf);
    EXPECT_EQ(parseNumber(one), 1.0);
    EXPECT_EQ(parseNumber(small), 0.0);
    EXPECT_EQ(parseNumber(longFraction), 2.0);
    EXPECT_EQ(parseNumber(notNumber), std::nullopt);
    EXPECT_EQ(toInt16(nines), std::nullopt);
    EXPECT_EQ(toInt16(longFraction), int16_t{2});
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // Linear work here takes milliseconds even under sanitizers; quadratic work
    // on 100,000 digits would take minutes.
    EXPECT_LT(elapsed, std::chrono::seconds(2));
}

TEST(RoundHalfEven, RoundsTiesToTheEvenNeighbour) {
    const struct {
        double value, expected;
    } cases[] = {
        {0.5, 0.0},     {1.5, 2.0},         {2.5, 2.0},
        {3.5, 4.0},     {-1.5, -2.0},       {-2.5, -2.0},
        {-3.5, -4.0},   {2.4, 2.0},         {2.6, 3.0},
        {-2.6, -3.0},   {2.5000001, 3.0},   {0.49999999999999994, 0.0},
        {7.0, 7.0},     {32767.5, 32768.0}, {4503599627370495.5, 4503599627370496.0},
        {1e300, 1e300}, {kInf, kInf},       {-kInf, -kInf},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(roundHalfEven(c.value), c.expected) << c.value;
    }
}

TEST(RoundHalfEven, KeepsTheSignOfZero) {
    for (double value : {-0.5, -0.4, -0.0}) {
        const double rounded = roundHalfEven(value);
        EXPECT_TRUE(rounded == 0.0 && std::signbit(rounded)) << value;
    }
    for (double value : {0.5, 0.4, 0.0}) {
        const double rounded = roundHalfEven(value);
        EXPECT_TRUE(rounded == 0.0 && !std::signbit(rounded)) << value;
    }
    EXPECT_TRUE(std::isnan(roundHalfEven(std::nan(""))));
}

TEST(ToInt16, TextConvertsLikeCInt) {
    const struct {
        std::string text;
        std::optional<int16_t> expected;
    } cases[] = {
        {"2.5", 2},
        {"3.5", 4},
        {"-0.5", 0},
        {"-1.5", -2},
        {"0.5", 0},
        {"1.5", 2},
        {" 12 ", 12},
        {"1e4", 10000},
        {"0.00001", 0},
        {"32767", 32767},
        {"32767.4", 32767},
        {"32767.5", std::nullopt},
        {"32768", std::nullopt},
        {"-32768", -32768},
        {"-32768.5", -32768},
        {"-32768.6", std::nullopt},
        {"-32769", std::nullopt},
        {"99999", std::nullopt},
        {"1e300", std::nullopt},
        {"-1e300", std::nullopt},
        {"1e999999", std::nullopt},
        {"abc", std::nullopt},
        {"", std::nullopt},
        {"5x", std::nullopt},
        {"0x7F", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toInt16(std::string_view(c.text)), c.expected) << '"' << c.text << '"';
    }
}

TEST(ToInt16, NumberConvertsLikeCInt) {
    const struct {
        double value;
        std::optional<int16_t> expected;
    } cases[] = {
        {2.5, 2},
        {-2.5, -2},
        {32767.49, 32767},
        {32767.5, std::nullopt},
        {-32768.5, -32768},
        {-32768.5000001, std::nullopt},
        {1e300, std::nullopt},
        {kInf, std::nullopt},
        {-kInf, std::nullopt},
        {std::nan(""), std::nullopt},
        {-0.0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toInt16(c.value), c.expected) << c.value;
    }
}

TEST(FormatNumber, WritesShortestTextThatReadsBack) {
    const struct {
        double value;
        std::string expected;
    } cases[] = {
        {5.0, "5"},      {-12.0, "-12"},  {0.5, "0.5"},          {0.1, "0.1"},
        {-0.0, "0"},     {0.0, "0"},      {100000.0, "100000"},  {123456.789, "123456.789"},
        {1e15, "1e+15"}, {1e-6, "1e-06"}, {1.5e300, "1.5e+300"}, {kInf, "inf"},
        {-kInf, "-inf"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(formatNumber(c.value), c.expected) << c.value;
    }
    for (double value : {0.1, 1.0 / 3.0, 5e-324, 1.7976931348623157e308, -2.5e-5, 32767.5}) {
        EXPECT_EQ(parseNumber(formatNumber(value)), value) << formatNumber(value);
    }
}

TEST(NormaliseTime, AcceptsHoursMinutesAndOptionalSeconds) {
    const struct {
        std::string text;
        std::optional<std::string> expected;
    } cases[] = {
        {"7:5", "07:05"},
        {"9:30", "09:30"},
        {"23:00", "23:00"},
        {"0:0", "00:00"},
        {"00:00", "00:00"},
        {"23:59", "23:59"},
        {" 08:15:59 ", "08:15"},
        {"\t1:02:3\t", "01:02"},
        {"7:05:00", "07:05"},
        {"", std::nullopt},
        {"  ", std::nullopt},
        {"abc", std::nullopt},
        {"25:00", std::nullopt},
        {"24:00", std::nullopt},
        {"12:60", std::nullopt},
        {"12:00:60", std::nullopt},
        {"7", std::nullopt},
        {"7:", std::nullopt},
        {":5", std::nullopt},
        {"7:05:", std::nullopt},
        {"1:2:3:4", std::nullopt},
        {"007:00", std::nullopt},
        {"7:005", std::nullopt},
        {"7 : 05", std::nullopt},
        {"7:05 PM", std::nullopt},
        {"7.05", std::nullopt},
        {"-1:00", std::nullopt},
        {"+7:05", std::nullopt},
        {"\xEF\xBC\x97:05", std::nullopt} /* full-width 7 */,
    };
    for (const auto& c : cases) {
        EXPECT_EQ(normaliseTime(c.text), c.expected) << '"' << c.text << '"';
    }
}

}  // namespace
}  // namespace zorvek::settings
