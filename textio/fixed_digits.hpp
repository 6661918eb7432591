// Decimal digits of single-precision magnitudes for the fw.d and free-form writers.
// A value is first expanded exactly and cut after 8 significant digits; rounding to a
// number of places then works on those digits alone. A fast route covers the common
// fields; the exact route is the reference that the fast one must agree with.
#pragma once
#include <cstdint>

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

// Exact leading digits of a finite, positive, normal float (big-integer expansion).
leading_digits exact_leading_digits(float magnitude);

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

}  // namespace textio
