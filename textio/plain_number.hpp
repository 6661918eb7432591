// Plain decimal numbers: an optional sign, digits, an optional point and digits, at most
// 15 digits in all. Most records of the input files hold nothing else, so the readers of
// those records take them by this short route and leave every other form (exponents,
// commas, slashes, repeat counts, quotes, inf/nan, longer digit strings) to the general
// free-form reader; the value is the same either way.
#pragma once
#include <cstdint>

namespace textio {

inline constexpr int plain_digit_limit = 15;

inline constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                                 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The nearest double to a plain number of at most 15 digits, rounded to float: the digits
// and the power of ten are both exact doubles, so the one division rounds correctly.
inline float plain_number_value_by_double(std::uint64_t digits, int decimals, bool negative) {
    const double value = static_cast<double>(digits) / exact_powers_of_ten[decimals];
    return static_cast<float>(negative ? -value : value);
}

inline constexpr float exact_float_powers_of_ten[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f};
inline constexpr std::uint64_t float_exact_limit = std::uint64_t{1} << 24;

// The same float, by one float division where that gives it: digits below 2^24 and powers
// up to 10^8 are exact floats, and their quotient, unless it is exactly halfway between two
// floats, lies further from every halfway point than half a double's unit in the last
// place (the distance is at least 1/(2^k·10^d) for a halfway point with k fraction bits),
// so rounding it first to double never moves it onto one. Checked for every such pair.
inline float plain_number_value(std::uint64_t digits, int decimals, bool negative) {
    if (digits < float_exact_limit && decimals <= 8) {
        const float value = static_cast<float>(digits) / exact_float_powers_of_ten[decimals];
        return negative ? -value : value;
    }
    return plain_number_value_by_double(digits, decimals, negative);
}

struct plain_number {
    std::uint64_t digits = 0;
    int decimals = 0;
    bool negative = false;
    bool has_point = false;
};

inline float plain_number_value(const plain_number& n) { return plain_number_value(n.digits, n.decimals, n.negative); }

// Scans one plain number at p; on success p is left on the character after it. What ends
// the number is for the caller to judge.
inline bool scan_plain_number(const char*& p, const char* end, plain_number& n) {
    const auto is_digit = [](char c) { return static_cast<unsigned char>(c - '0') < 10; };
    const char* s = p;
    n.negative = false;
    if (s < end && (*s == '+' || *s == '-')) n.negative = (*s++ == '-');
    std::uint64_t digits = 0;
    const char* first = s;
    while (s < end && is_digit(*s)) digits = digits * 10 + static_cast<unsigned>(*s++ - '0');
    long count = s - first;
    n.has_point = s < end && *s == '.';
    n.decimals = 0;
    if (n.has_point) {
        const char* after_point = ++s;
        while (s < end && is_digit(*s)) digits = digits * 10 + static_cast<unsigned>(*s++ - '0');
        n.decimals = static_cast<int>(s - after_point);
        count += n.decimals;
    }
    if (count == 0 || count > plain_digit_limit) return false;
    n.digits = digits;
    p = s;
    return true;
}

}  // namespace textio
