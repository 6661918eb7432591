// Number scanning: checked decimal text to exact values. Reals go through the nearest
// double (from_chars rounds correctly), so a typed value never depends on the locale.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "textio/convert.hpp"
#include "textio/detail/scan.hpp"
#include "textio/read.hpp"

namespace textio {
namespace {

// Beyond these decimal exponents every value is an infinity or a zero in double precision,
// so the digits need not be converted at all.
constexpr std::int64_t overflow_exponent = 400;
constexpr std::int64_t underflow_exponent = -400;
// Exponent digits beyond this value change nothing; accumulation stops growing there.
constexpr std::int64_t exponent_ceiling = 1000000000;
// Magnitudes past the int32 range all saturate alike; accumulation stops growing there.
constexpr std::int64_t magnitude_ceiling = 4294967296;
constexpr std::int64_t int32_positive_bound = 2147483647;
constexpr std::int64_t int32_negative_bound = 2147483648;
// Doubles from here on round to infinity in single precision (the midpoint between the
// largest float and 2^128 rounds to the even neighbour, 2^128).
constexpr double float_overflow_threshold = 0x1.ffffffp127;

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_sign(char c) { return c == '+' || c == '-'; }
bool is_exponent_letter(char c) { return c == 'E' || c == 'e' || c == 'D' || c == 'd'; }

float double_to_float(double value) {
    if (std::fabs(value) >= float_overflow_threshold) return std::signbit(value) ? -HUGE_VALF : HUGE_VALF;
    return static_cast<float>(value);
}

// The parts of a checked real: its digits (point removed) and where the point stands.
struct real_text {
    bool negative = false;
    enum { finite, infinity, not_a_number } kind = finite;
    std::string_view integer_digits;
    std::string_view fraction_digits;
    bool has_point = false;
    std::int64_t exponent = 0;
};

// Exponent part from position i: a letter E or D with an optional sign, or a sign alone,
// then at least one digit, up to the end of the text.
bool scan_exponent(std::string_view text, std::size_t i, std::int64_t& exponent) {
    if (is_exponent_letter(text[i])) {
        ++i;
        if (i < text.size() && is_sign(text[i])) ++i;
    } else if (is_sign(text[i])) {
        ++i;
    } else {
        return false;
    }
    const bool negative = text[i - 1] == '-';
    const std::size_t first = i;
    std::int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        if (!is_digit(text[i])) return false;
        magnitude = std::min(magnitude * 10 + (text[i] - '0'), exponent_ceiling);
    }
    if (i == first) return false;
    exponent = negative ? -magnitude : magnitude;
    return true;
}

// Checks a real written without blanks: sign, digits with at most one point, at most one
// exponent part; or a sign followed by I (infinity) or N (not-a-number) and anything.
bool scan_real_text(std::string_view text, real_text& parts) {
    std::size_t i = 0;
    if (i < text.size() && is_sign(text[i])) {
        parts.negative = text[i] == '-';
        ++i;
    }
    if (i < text.size()) {
        const char c = text[i];
        if (c == 'I' || c == 'i') return parts.kind = real_text::infinity, true;
        if (c == 'N' || c == 'n') return parts.kind = real_text::not_a_number, true;
    }
    std::size_t stop = skip_digits(text, i);
    parts.integer_digits = text.substr(i, stop - i);
    i = stop;
    if (i < text.size() && text[i] == '.') {
        parts.has_point = true;
        stop = skip_digits(text, i + 1);
        parts.fraction_digits = text.substr(i + 1, stop - i - 1);
        i = stop;
    }
    const bool any_digit = !parts.integer_digits.empty() || !parts.fraction_digits.empty();
    if (i == text.size()) return true;
    return any_digit && scan_exponent(text, i, parts.exponent);
}

// Significant digits of a finite real (leading zeros dropped) and the decimal exponent e
// for which the value is 0.<digits> times ten to the e. Returns false when every digit is
// zero.
bool significant_digits(const real_text& parts, std::int64_t point_position, std::string& digits,
                        std::int64_t& decimal_exponent) {
    std::string_view integer = parts.integer_digits;
    std::string_view fraction = parts.fraction_digits;
    while (!integer.empty() && integer.front() == '0') {
        integer.remove_prefix(1);
        --point_position;
    }
    if (integer.empty()) {
        while (!fraction.empty() && fraction.front() == '0') {
            fraction.remove_prefix(1);
            --point_position;
        }
        if (fraction.empty()) return false;
    }
    digits.assign(integer);
    digits.append(fraction);
    decimal_exponent = point_position + parts.exponent;
    return true;
}

// The nearest double to the digits, from_chars being correctly rounded; exponents far
// outside the double range are settled without converting.
double nearest_double(const std::string& digits, std::int64_t decimal_exponent) {
    if (decimal_exponent > overflow_exponent) return HUGE_VAL;
    if (decimal_exponent < underflow_exponent) return 0.0;
    thread_local std::string text;
    text.assign("0.");
    text.append(digits);
    text.push_back('e');
    char exponent_text[24];
    const auto written = std::to_chars(exponent_text, exponent_text + sizeof exponent_text, decimal_exponent);
    text.append(exponent_text, written.ptr);
    double magnitude = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (result.ec == std::errc::result_out_of_range) return decimal_exponent > 0 ? HUGE_VAL : 0.0;
    return magnitude;
}

// The checked text to the nearest double; infinities and not-a-number as such.
// `implied_decimals` > 0 places a point before the last that many digits when none was
// typed (a field read under fw.d).
double convert_real_exactly(const real_text& parts, int implied_decimals) {
    if (parts.kind == real_text::infinity) return parts.negative ? -HUGE_VAL : HUGE_VAL;
    if (parts.kind == real_text::not_a_number) return std::numeric_limits<double>::quiet_NaN();
    std::int64_t point_position = static_cast<std::int64_t>(parts.integer_digits.size());
    if (!parts.has_point && implied_decimals > 0) point_position -= implied_decimals;
    thread_local std::string digits;
    std::int64_t decimal_exponent = 0;
    if (!significant_digits(parts, point_position, digits, decimal_exponent)) return parts.negative ? -0.0 : 0.0;
    const double magnitude = nearest_double(digits, decimal_exponent);
    return parts.negative ? -magnitude : magnitude;
}

// The checked text to the nearest double, then rounded to single precision.
float convert_real(const real_text& parts, int implied_decimals) {
    if (parts.kind == real_text::not_a_number) {
        return std::copysign(std::numeric_limits<float>::quiet_NaN(), parts.negative ? -1.0f : 1.0f);
    }
    return double_to_float(convert_real_exactly(parts, implied_decimals));
}

}  // namespace

bool scan_integer(std::string_view text, bool empty_is_zero, std::int32_t& value) {
    bool negative = false;
    bool signed_already = false;
    bool any_digit = false;
    std::int64_t magnitude = 0;
    for (const char c : text) {
        if (c == ' ') continue;
        if (!any_digit && !signed_already && is_sign(c)) {
            signed_already = true;
            negative = c == '-';
            continue;
        }
        if (!is_digit(c)) return false;
        any_digit = true;
        magnitude = std::min(magnitude * 10 + (c - '0'), magnitude_ceiling);
    }
    if (!any_digit && !empty_is_zero) return false;
    magnitude = std::min(magnitude, negative ? int32_negative_bound : int32_positive_bound);
    value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return true;
}

bool scan_real(std::string_view text, int implied_decimals, float& value) {
    real_text parts;
    if (!scan_real_text(text, parts)) return false;
    value = convert_real(parts, implied_decimals);
    return true;
}

bool scan_identifier(std::string_view text, std::int32_t& value) {
    real_text parts;
    if (!scan_real_text(text, parts)) return false;
    value = truncate_to_int32(convert_real_exactly(parts, -1));
    return true;
}

float decimal_to_float(std::string_view text) {
    float value = 0.0f;
    if (!scan_real(text, -1, value)) return std::numeric_limits<float>::quiet_NaN();
    return value;
}

}  // namespace textio
