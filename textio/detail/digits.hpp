// Decimal digits of single-precision magnitudes for the fw.d and free-form writers.
// A value is first expanded exactly and cut after 8 significant digits; rounding to a
// number of places then works on those digits alone. A fast route covers the common
// fields; the exact route is the reference that the fast one must agree with.
#pragma once
#include <bit>
#include <cstdint>
#include <string>

namespace textio {

inline constexpr int float_significant_digits = 8;

// A positive magnitude cut after 8 significant digits: digits * 10^(exponent - 8), with
// 10^7 <= digits < 10^8. `exponent` is the count of digits before the point (0 for
// 0.1 up to 1, -1 for 0.0x). `digits` is 0 for zero.
struct leading_digits {
    std::uint32_t digits = 0;
    int exponent = 0;
};

// A magnitude rounded to d places, as a count of units of 10^-d: lead * 10^zeros.
// lead is 0 when the magnitude rounds to zero.
struct rounded_digits {
    std::uint64_t lead = 0;
    int zeros = 0;
};

// Exact leading digits of a finite, positive, normal float: from one 128-bit product where
// the value fits one, else by big_leading_digits.
leading_digits exact_leading_digits(float magnitude);

// The same by a big-integer expansion, for any finite, positive, normal float.
leading_digits big_leading_digits(float magnitude);

// Rounds at `decimals` places: ties away from zero by the first dropped digit; when the
// kept digits reach the 8th significant one, that digit is itself the rounding digit.
rounded_digits round_leading_digits(leading_digits value, int decimals);

// Same result as round_leading_digits(exact_leading_digits(m), decimals) for the fields
// that keep at most 7 significant digits; false (result untouched) for any other input.
bool round_fixed_fast(float magnitude, int decimals, rounded_digits& result);

// The fast route where it applies, the exact one otherwise.
rounded_digits round_fixed(float magnitude, int decimals);

// Count of digits before the point of a rounded value (k of fw.d: 0 below 1, negative
// for 0.0x); -decimals for a value that rounded to zero.
int digits_before_point(rounded_digits value, int decimals);

// ---------------------------------------------------------------------------------------
// Small pieces the fixed-field and free-form writers share. They stay inline: the writers
// call them for every number of every record.

constexpr std::uint64_t power_of_ten(int n) {
    std::uint64_t p = 1;
    while (n-- > 0) p *= 10;
    return p;
}

inline int decimal_length(std::uint64_t v) {
    int n = 1;
    while (v >= 10) {
        v /= 10;
        ++n;
    }
    return n;
}

// Writes the decimal digits of v and returns their count.
inline int unsigned_text(std::uint64_t v, char* text) {
    const int n = decimal_length(v);
    for (int i = n - 1; i >= 0; --i, v /= 10) text[i] = static_cast<char>('0' + v % 10);
    return n;
}

// Decimal text of a signed value, a minus sign in front of a negative one; returns its
// length (at most 11, for the most negative value).
inline int integer_text(std::int32_t value, char* text) {
    const bool negative = value < 0;
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(value)) : static_cast<std::uint64_t>(value);
    if (negative) text[0] = '-';
    return unsigned_text(magnitude, text + (negative ? 1 : 0)) + (negative ? 1 : 0);
}

inline int rounded_length(rounded_digits r) { return r.lead == 0 ? 0 : decimal_length(r.lead) + r.zeros; }

// Appends `count` digits of the rounded value starting at digit `from`; digits beyond the
// lead's own are zeros.
inline void append_rounded_digits(std::string& out, rounded_digits r, int from, int count) {
    char lead[24];
    const int n = unsigned_text(r.lead, lead);
    for (int i = from; i < from + count; ++i) out.push_back(i < n ? lead[i] : '0');
}

// What the writers branch on before they need any digit of a float.
struct float_parts {
    bool sign;
    bool not_finite;  // NaN or infinity
    bool zero;        // zero or subnormal
    bool nan;
    float magnitude;
};

inline float_parts split_float(float value) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    const std::uint32_t biased = (bits >> 23) & 0xffu;
    float_parts p{};
    p.sign = (bits >> 31) != 0;
    p.not_finite = biased == 0xffu;
    p.nan = p.not_finite && (bits & 0x7fffffu) != 0;
    p.zero = biased == 0;
    p.magnitude = std::bit_cast<float>(bits & 0x7fffffffu);
    return p;
}

}  // namespace textio
