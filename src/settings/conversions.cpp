// SPDX-License-Identifier: MIT
#include "settings/conversions.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <system_error>

namespace zorvek::settings {

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads one or two digits at `pos` into `value`; false when there are none or
// more than two.
bool readTimePart(std::string_view text, size_t& pos, int& value) {
    size_t start = pos;
    value = 0;
    while (pos < text.size() && isDigit(text[pos])) {
        if (pos - start == 2) return false;
        value = value * 10 + (text[pos] - '0');
        ++pos;
    }
    return pos > start;
}

// A number too large or too small for a double: infinity or zero, decided
// from the decimal position of the first significant digit of its integer
// and fraction digits and its exponent.
double outOfRange(std::string_view intDigits, std::string_view fracDigits, int64_t exponent,
                  bool negative) {
    int64_t magnitude = 0;  // the value is about 10^(magnitude - 1) or more
    bool found = false;
    for (size_t k = 0; k < intDigits.size(); ++k) {
        if (intDigits[k] != '0') {
            magnitude = static_cast<int64_t>(intDigits.size() - k);
            found = true;
            break;
        }
    }
    if (!found) {
        for (size_t k = 0; k < fracDigits.size(); ++k) {
            if (fracDigits[k] != '0') {
                magnitude = -static_cast<int64_t>(k);
                found = true;
                break;
            }
        }
    }
    const double zero = negative ? -0.0 : 0.0;
    if (!found) return zero;
    if (magnitude + exponent > 0) {
        return negative ? -std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::infinity();
    }
    return zero;
}

}  // namespace

std::optional<double> parseNumber(std::string_view text) {
    text = trimBlanks(text);
    const size_t n = text.size();
    size_t i = 0;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const size_t signLength = i;

    const size_t intStart = i;
    while (i < n && isDigit(text[i])) ++i;
    const size_t intDigits = i - intStart;
    size_t fracStart = i;
    size_t fracDigits = 0;
    if (i < n && text[i] == '.') {
        fracStart = ++i;
        while (i < n && isDigit(text[i])) ++i;
        fracDigits = i - fracStart;
    }
    if (intDigits + fracDigits == 0) return std::nullopt;

    // The exponent is kept saturated so that a thousand-digit exponent cannot
    // overflow; only its rough size matters once it is that large.
    constexpr int64_t kExponentCap = 1'000'000'000;
    int64_t exponent = 0;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < n && (text[i] == '+' || text[i] == '-')) {
            negativeExponent = text[i] == '-';
            ++i;
        }
        const size_t expStart = i;
        while (i < n && isDigit(text[i])) {
            if (exponent < kExponentCap) exponent = exponent * 10 + (text[i] - '0');
            ++i;
        }
        if (i == expStart) return std::nullopt;
        if (negativeExponent) exponent = -exponent;
    }
    if (i != n) return std::nullopt;

    // The grammar is a subset of what from_chars reads, apart from a leading
    // '+', which it does not take.
    std::string_view body = text;
    if (signLength == 1 && !negative) body.remove_prefix(1);
    double value = 0;
    auto [end, ec] =
        std::from_chars(body.data(), body.data() + body.size(), value, std::chars_format::general);
    if (ec == std::errc() && end == body.data() + body.size()) return value;

    // Out of range for a double.
    return outOfRange(text.substr(intStart, intDigits), text.substr(fracStart, fracDigits),
                      exponent, negative);
}

double roundHalfEven(double value) {
    if (!std::isfinite(value)) return value;
    // x - trunc(x) is exact for every double, so the tie test is exact too.
    if (std::fabs(value - std::trunc(value)) == 0.5) {
        return 2.0 * std::round(value / 2.0);
    }
    return std::round(value);
}

std::optional<int16_t> toInt16(double value) {
    if (std::isnan(value)) return std::nullopt;
    const double rounded = roundHalfEven(value);
    if (rounded < std::numeric_limits<int16_t>::min() ||
        rounded > std::numeric_limits<int16_t>::max()) {
        return std::nullopt;
    }
    return static_cast<int16_t>(rounded);
}

std::optional<int16_t> toInt16(std::string_view text) {
    const std::optional<double> value = parseNumber(text);
    if (!value) return std::nullopt;
    return toInt16(*value);
}

std::string formatNumber(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    if (value == 0) return "0";
    // Plain decimals for everyday magnitudes, exponent form for the rest, each
    // with the fewest digits that read back as the same double.
    const double magnitude = std::fabs(value);
    const std::chars_format format = magnitude >= 1e-5 && magnitude < 1e15
                                         ? std::chars_format::fixed
                                         : std::chars_format::scientific;
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, format);
    if (ec != std::errc()) return "nan";  // cannot happen with 64 bytes
    return std::string(buffer, end);
}

std::optional<std::string> normaliseTime(std::string_view text) {
    text = trimBlanks(text);
    size_t pos = 0;
    int hour = 0, minute = 0, second = 0;
    if (!readTimePart(text, pos, hour)) return std::nullopt;
    if (pos >= text.size() || text[pos] != ':') return std::nullopt;
    ++pos;
    if (!readTimePart(text, pos, minute)) return std::nullopt;
    if (pos < text.size()) {
        if (text[pos] != ':') return std::nullopt;
        ++pos;
        if (!readTimePart(text, pos, second)) return std::nullopt;
    }
    if (pos != text.size()) return std::nullopt;
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;

    std::string result = "00:00";
    result[0] = static_cast<char>('0' + hour / 10);
    result[1] = static_cast<char>('0' + hour % 10);
    result[3] = static_cast<char>('0' + minute / 10);
    result[4] = static_cast<char>('0' + minute % 10);
    return result;
}

}  // namespace zorvek::settings
