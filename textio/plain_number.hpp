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

// The nearest doubles to 10^-d, and their negatives.
inline constexpr double nearest_inverse_powers_of_ten[2][9] = {
    {1e0, 1e-1, 1e-2, 1e-3, 1e-4, 1e-5, 1e-6, 1e-7, 1e-8},
    {-1e0, -1e-1, -1e-2, -1e-3, -1e-4, -1e-5, -1e-6, -1e-7, -1e-8}};
inline constexpr std::uint64_t float_exact_limit = std::uint64_t{1} << 24;

// The float of digits below float_exact_limit times the factor of their decimals and sign
// (one of nearest_inverse_powers_of_ten).
inline float digits_times_factor(std::uint32_t digits, double factor) {
    return static_cast<float>(static_cast<double>(static_cast<std::int32_t>(digits)) * factor);
}

// The same float, by one multiplication where that gives it: for digits below 2^24 and up
// to 8 decimals, the product of the digits and the nearest double to 10^-d lies within a
// double's unit in the last place of the quotient, and the quotient, unless it is exactly
// halfway between two floats, lies further than that from every halfway point (at least
// 1/(2^k·10^d) for a halfway point with k fraction bits), so both round to the same float.
// Checked for every such pair (digits below float_exact_limit, decimals 0 to 8, negative
// 0 or 1). The sign comes with the factor (so that "-0" gives -0.0):
// it changes from record to record, and a branch on it would mostly guess wrong.
inline float short_plain_number_value(std::uint32_t digits, unsigned decimals, unsigned negative) {
    return digits_times_factor(digits, nearest_inverse_powers_of_ten[negative][decimals]);
}

inline float plain_number_value(std::uint64_t digits, int decimals, bool negative) {
    if (digits < float_exact_limit && decimals <= 8)
        return short_plain_number_value(static_cast<std::uint32_t>(digits), static_cast<unsigned>(decimals),
                                        negative ? 1 : 0);
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
