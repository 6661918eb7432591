// Random single-precision values through fw.d and the free-form writer, checked against a
// slow reference that works on the exact decimal digits as text. The reference shares no
// code with the writers.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "textio/detail/digits.hpp"
#include "textio/format.hpp"

namespace {

// ---------------------------------------------------------------------------------------
// Reference: decimal digits as characters, one place at a time.

// Every digit of a finite, non-zero, normal magnitude: value = 0.digits * 10^before_point.
struct exact_decimal {
    std::string digits;
    int before_point = 0;
};

// Multiplies a little-endian decimal digit vector by a one-digit factor.
void multiply_digits(std::vector<std::uint8_t>& digits, int factor) {
    int carry = 0;
    for (std::uint8_t& d : digits) {
        const int p = d * factor + carry;
        d = static_cast<std::uint8_t>(p % 10);
        carry = p / 10;
    }
    while (carry > 0) {
        digits.push_back(static_cast<std::uint8_t>(carry % 10));
        carry /= 10;
    }
}

// mantissa * 2^e: for e < 0 that is mantissa * 5^-e / 10^-e.
exact_decimal expand(float magnitude) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(magnitude) & 0x7fffffffu;
    const int e = static_cast<int>(bits >> 23) - 150;
    std::vector<std::uint8_t> digits;
    digits.reserve(128);
    for (std::uint32_t m = (bits & 0x7fffffu) | 0x800000u; m != 0; m /= 10)
        digits.push_back(static_cast<std::uint8_t>(m % 10));
    for (int i = 0; i < (e >= 0 ? e : -e); ++i) multiply_digits(digits, e >= 0 ? 2 : 5);
    exact_decimal x;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) x.digits.push_back(static_cast<char>('0' + *it));
    x.before_point = static_cast<int>(x.digits.size()) - (e < 0 ? -e : 0);
    return x;
}

// A magnitude rounded to d places: the digits before the point (none below 1) and the d
// digits after it.
struct rounded_text {
    std::string whole;
    std::string fraction;
    bool zero = false;
};

// Adds one unit at position `at` of a digit string whose first character is a spare '0'.
void add_one_at(std::string& all, int at) {
    for (int i = at;; --i) {
        if (all[i] == '9') {
            all[i] = '0';
            continue;
        }
        ++all[i];
        return;
    }
}

rounded_text round_reference(const exact_decimal& x, int d) {
    std::string all = "0";  // spare place for a carry out of the first digit
    if (x.before_point > 0) {
        all += x.digits;
        if (static_cast<int>(x.digits.size()) < x.before_point) all.append(x.before_point - x.digits.size(), '0');
    } else {
        all += std::string(-x.before_point, '0') + x.digits;
    }
    const int point = 1 + (x.before_point > 0 ? x.before_point : 0);  // characters before the point
    const int first = static_cast<int>(all.find_first_not_of('0'));
    for (int i = first + 8; i < static_cast<int>(all.size()); ++i) all[i] = '0';
    if (static_cast<int>(all.size()) < point + d + 1) all.append(point + d + 1 - all.size(), '0');
    const int last_kept = point + d - 1;
    if (last_kept - first + 1 >= 8) {
        const int eighth = first + 7;
        if (all[eighth] >= '5') {
            all[eighth] = '0';
            add_one_at(all, eighth - 1);
        }
    } else if (all[last_kept + 1] >= '5') {
        add_one_at(all, last_kept);
    }
    rounded_text r;
    r.whole = all.substr(0, point);
    r.whole.erase(
        0, r.whole.find_first_not_of('0') == std::string::npos ? r.whole.size() : r.whole.find_first_not_of('0'));
    r.fraction = all.substr(point, d);
    r.zero = r.whole.empty() && r.fraction.find_first_not_of('0') == std::string::npos;
    return r;
}

// k: digits before the point, or minus the zeros that follow the point.
int digits_before_point(const rounded_text& r) {
    if (!r.whole.empty()) return static_cast<int>(r.whole.size());
    return -static_cast<int>(r.fraction.find_first_not_of('0'));
}

std::string blanks(int n) { return std::string(n > 0 ? n : 0, ' '); }

// `x` holds the exact digits of |value| when value is finite, non-zero and normal.
std::string reference_fixed(float value, const exact_decimal& x, int w, int d) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    const bool sign = (bits >> 31) != 0;
    const std::uint32_t biased = (bits >> 23) & 0xffu;
    if (biased == 0xffu) {
        const std::string text = std::string(sign ? "-" : "") + ((bits & 0x7fffffu) != 0 ? "NaN" : "INF");
        if (static_cast<int>(text.size()) > w) return std::string(w, '*');
        return blanks(w - static_cast<int>(text.size())) + text;
    }
    const bool zero_like = biased == 0;
    const bool negative = sign && !zero_like;
    rounded_text r;
    if (zero_like) {
        r.fraction = std::string(d, '0');
        r.zero = true;
    } else {
        r = round_reference(x, d);
    }
    const int room = (negative ? w - 1 : w) - d - 1;
    const std::string minus = negative ? "-" : "";
    const std::string stars(w, '*');
    if (!r.zero && !r.whole.empty()) {
        const int k = static_cast<int>(r.whole.size());
        if (k > room) return stars;
        return blanks(room - k) + minus + r.whole + "." + r.fraction;
    }
    if (!r.zero) {
        if (room < 0) return stars;
        if (room > 0) return blanks(room - 1) + minus + "0." + r.fraction;
        return minus + "." + r.fraction;
    }
    if (room < 0) return stars;
    const std::string zeros(d, '0');
    if (!negative) return room > 0 ? blanks(room - 1) + "0." + zeros : "." + zeros;
    return room > 0 ? blanks(room) + "0." + zeros : blanks(w - d - 1) + "." + zeros;
}

std::string reference_exponent_form(const exact_decimal& x) {
    std::string s = x.digits.substr(0, 8);
    s.append(8 - s.size(), '0');
    const bool up = s[7] >= '5';
    s = "0" + s.substr(0, 7);
    if (up) add_one_at(s, 7);
    int exponent = x.before_point - 1;
    if (s[0] == '1') {
        ++exponent;
        s = s.substr(0, 7);
    } else {
        s = s.substr(1);
    }
    std::string e = std::to_string(exponent < 0 ? -exponent : exponent);
    if (e.size() < 2) e = "0" + e;
    return s.substr(0, 1) + "." + s.substr(1) + "E" + (exponent < 0 ? "-" : "+") + e;
}

std::string reference_free_real(float value, const exact_decimal& x) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    const bool sign = (bits >> 31) != 0;
    const std::uint32_t biased = (bits >> 23) & 0xffu;
    if (biased == 0xffu) return std::string(sign ? " -" : "  ") + ((bits & 0x7fffffu) != 0 ? "NaN" : "INF");
    if (biased == 0) return "  0.000000";
    const std::string prefix = sign ? " -" : "  ";
    const rounded_text at_seven = round_reference(x, 7);
    if (!at_seven.zero) {
        const int c = digits_before_point(at_seven);
        if (c >= 0 && c <= 6) {
            const int c_rounded = digits_before_point(round_reference(x, 6 - c));
            if (c_rounded >= 0 && c_rounded <= 6) {
                const rounded_text r = round_reference(x, 6 - c_rounded);
                return prefix + (r.whole.empty() ? "0" : r.whole) + "." + r.fraction;
            }
        }
    }
    return prefix + reference_exponent_form(x);
}

// ---------------------------------------------------------------------------------------
// Values

float from_bits(std::uint32_t bits) { return std::bit_cast<float>(bits); }

float offset_ulps(float v, int ulps) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(v);
    const std::uint32_t magnitude = bits & 0x7fffffffu;
    if (ulps < 0 && magnitude < static_cast<std::uint32_t>(-ulps)) return v;
    return from_bits((bits & 0x80000000u) | (magnitude + static_cast<std::uint32_t>(ulps)));
}

// Magnitudes from about 1e-5 to 1e5, any mantissa, either sign.
float useful_range_value(std::mt19937_64& rng) {
    const std::uint32_t biased = 110 + static_cast<std::uint32_t>(rng() % 34);
    return from_bits(static_cast<std::uint32_t>(rng() & 0x807fffffu) | (biased << 23));
}

// Near n/10^d and (n + 1/2)/10^d for 1 to 3 places: where rounding changes its mind.
float rounding_boundary_value(std::mt19937_64& rng) {
    static const double scale[] = {10.0, 100.0, 1000.0};
    const int d = static_cast<int>(rng() % 3);
    const double n = static_cast<double>(rng() % 2000000);
    const double half = (rng() & 1) ? 0.5 : 0.0;
    float v = static_cast<float>((n + half) / scale[d]);
    if (rng() & 2) v = -v;
    return offset_ulps(v, static_cast<int>(rng() % 7) - 3);
}

// Any bit pattern: subnormals, infinities and not-a-numbers included.
float any_value(std::mt19937_64& rng) { return from_bits(static_cast<std::uint32_t>(rng())); }

// Near powers of ten and near the edges of the free-form fixed layout.
float free_form_boundary_value(std::mt19937_64& rng) {
    static const double base[] = {1e-8,     5e-8,     1e-7,      1e-6,  1e-5, 1e-4,      1e-3,     0.01,
                                  0.1,      1.0,      10.0,      100.0, 1e3,  1e4,       1e5,      1e6,
                                  999999.5, 999999.9, 9999999.5, 1e7,   1e8,  0.0999999, 0.9999999};
    float v = static_cast<float>(base[rng() % (sizeof base / sizeof base[0])]);
    if (rng() & 1) v = -v;
    return offset_ulps(v, static_cast<int>(rng() % 129) - 64);
}

struct field_shape {
    int width;
    int decimals;
};

constexpr field_shape program_fields[] = {{5, 3}, {6, 2}, {7, 2}, {8, 2}, {8, 3}};
constexpr field_shape wide_fields[] = {{14, 5}, {22, 12}};  // reach the 8th significant digit

struct mismatch_log {
    int count = 0;
    std::vector<std::string> first;
    void add(const std::string& what, float v, const std::string& got, const std::string& want) {
        ++count;
        if (first.size() < 20) {
            first.push_back(what + " of bits " + std::to_string(std::bit_cast<std::uint32_t>(v)) + ": got [" + got +
                            "] want [" + want + "]");
        }
    }
};

exact_decimal expand_if_normal(float v) {
    const std::uint32_t biased = (std::bit_cast<std::uint32_t>(v) >> 23) & 0xffu;
    return biased == 0 || biased == 0xffu ? exact_decimal{} : expand(std::fabs(v));
}

std::string reference_fixed(float value, int w, int d) { return reference_fixed(value, expand_if_normal(value), w, d); }

std::string reference_free_real(float value) { return reference_free_real(value, expand_if_normal(value)); }

void check_fixed(float v, const exact_decimal& x, field_shape f, mismatch_log& log) {
    std::string got;
    textio::append_fixed_field(got, v, f.width, f.decimals);
    const std::string want = reference_fixed(v, x, f.width, f.decimals);
    if (got != want) log.add("f" + std::to_string(f.width) + "." + std::to_string(f.decimals), v, got, want);
}

void check_value(float v, mismatch_log& log) {
    const exact_decimal x = expand_if_normal(v);
    for (const field_shape& f : program_fields) check_fixed(v, x, f, log);
    for (const field_shape& f : wide_fields) check_fixed(v, x, f, log);
    std::string got;
    const textio::out_item item = textio::item_real(v);
    textio::append_free_form(got, std::span<const textio::out_item>(&item, 1));
    const std::string want = " " + reference_free_real(v, x) + "\n";
    if (got != want) log.add("free form", v, got, want);
}

void report(const mismatch_log& log) {
    for (const std::string& line : log.first) ADD_FAILURE() << line;
    EXPECT_EQ(log.count, 0);
}

TEST(FormatRandom, ReferenceAgreesOnTheWorkedValues) {
    // The reference itself must give the documented fields before it judges anything.
    EXPECT_EQ(reference_fixed(0.0419921875f, 5, 3), "0.042");
    EXPECT_EQ(reference_fixed(-0.042f, 5, 3), "-.042");
    EXPECT_EQ(reference_fixed(-0.0004f, 5, 3), " .000");
    EXPECT_EQ(reference_fixed(-0.5f, 6, 2), " -0.50");
    EXPECT_EQ(reference_fixed(-0.001f, 6, 2), "  0.00");
    EXPECT_EQ(reference_fixed(-100.0f, 6, 2), "******");
    EXPECT_EQ(reference_fixed(12.3456f, 8, 3), "  12.346");
    EXPECT_EQ(reference_fixed(-0.0f, 8, 3), "   0.000");
    EXPECT_EQ(reference_fixed(0.9996f, 5, 3), "1.000");
    EXPECT_EQ(reference_fixed(1.2345678f, 14, 8), "    1.23456800");
    EXPECT_EQ(reference_free_real(36.7167f), "  36.7167");
    EXPECT_EQ(reference_free_real(-120.25f), " -120.250");
    EXPECT_EQ(reference_free_real(1234.5f), "  1234.50");
    EXPECT_EQ(reference_free_real(0.05f), "  5.000000E-02");
    EXPECT_EQ(reference_free_real(-2.5e6f), " -2.500000E+06");
}

// Under the sanitizers, which look for memory and undefined behaviour rather than wrong
// digits, the random cases run one in `sanitized_share` of their values.
#ifdef VARNEX_SANITIZED
constexpr int sanitized_share = 8;
#else
constexpr int sanitized_share = 1;
#endif

TEST(FormatRandom, MillionValuesMatchTheReference) {
    std::mt19937_64 rng(0x5eed2012u);
    mismatch_log log;
    for (int i = 0; i < 560000 / sanitized_share; ++i) check_value(useful_range_value(rng), log);
    for (int i = 0; i < 340000 / sanitized_share; ++i) check_value(rounding_boundary_value(rng), log);
    for (int i = 0; i < 70000 / sanitized_share; ++i) check_value(free_form_boundary_value(rng), log);
    for (int i = 0; i < 30000 / sanitized_share; ++i) check_value(any_value(rng), log);
    report(log);
}

TEST(FormatRandom, ValuesOfTheFormNOverAThousandAndTheirNeighbours) {
    mismatch_log log;
    for (int n = 0; n <= 200000; n += sanitized_share) {
        const float v = static_cast<float>(n) / 1000.0f;
        for (int ulps = -1; ulps <= 1; ++ulps) {
            check_value(offset_ulps(v, ulps), log);
            check_value(-offset_ulps(v, ulps), log);
        }
    }
    report(log);
}

// ---------------------------------------------------------------------------------------
// The fast route of the digit rounding against the exact route.

TEST(FixedDigits, FastRouteAgreesWithTheExactRoute) {
    std::mt19937_64 rng(0xfa57u);
    long fast = 0;
    long disagreements = 0;
    for (int i = 0; i < 1500000; ++i) {
        float v;
        if (i % 2 == 0) {
            const std::uint32_t biased = 1 + static_cast<std::uint32_t>(rng() % 160);  // 2^-126 up to 2^33
            v = from_bits(static_cast<std::uint32_t>(rng() & 0x7fffffu) | (biased << 23));
        } else {
            static const double scale[] = {1.0, 10.0, 100.0, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
            const double half = (rng() & 1) ? 0.5 : 0.0;
            v = std::fabs(
                offset_ulps(static_cast<float>((static_cast<double>(rng() % 10000000) + half) / scale[rng() % 10]),
                            static_cast<int>(rng() % 5) - 2));
            if (v == 0.0f) continue;
        }
        const int decimals = static_cast<int>(rng() % 19);
        textio::rounded_digits quick;
        if (!textio::round_fixed_fast(v, decimals, quick)) continue;
        ++fast;
        const textio::rounded_digits exact = textio::round_leading_digits(textio::exact_leading_digits(v), decimals);
        if (quick.lead != exact.lead || quick.zeros != exact.zeros) {
            if (++disagreements <= 20) {
                ADD_FAILURE() << "bits " << std::bit_cast<std::uint32_t>(v) << " at " << decimals << " places: fast "
                              << quick.lead << "e" << quick.zeros << ", exact " << exact.lead << "e" << exact.zeros;
            }
        }
    }
    EXPECT_EQ(disagreements, 0);
    EXPECT_GT(fast, 300000);  // the comparison really exercised the fast route
}

TEST(FixedDigits, FastRouteDeclinesWhatItCannotDo) {
    textio::rounded_digits r;
    EXPECT_FALSE(textio::round_fixed_fast(1.0e7f, 0, r));      // 8 digits kept
    EXPECT_FALSE(textio::round_fixed_fast(1.2345678f, 7, r));  // reaches the 8th digit
    EXPECT_FALSE(textio::round_fixed_fast(0.0f, 3, r));
    EXPECT_FALSE(textio::round_fixed_fast(from_bits(0x00000001u), 3, r));
    EXPECT_FALSE(textio::round_fixed_fast(std::numeric_limits<float>::infinity(), 3, r));
    EXPECT_TRUE(textio::round_fixed_fast(9999999.0f, 0, r));
    EXPECT_EQ(r.lead, 9999999u);
    EXPECT_TRUE(textio::round_fixed_fast(12.3456f, 3, r));
    EXPECT_EQ(r.lead, 12346u);
}

TEST(FixedDigits, ExactLeadingDigits) {
    struct digits_case {
        float value;
        std::uint32_t digits;
        int exponent;
    };
    const digits_case cases[] = {
        {1.0f, 10000000u, 1},
        {0.0419921875f, 41992187u, -1},
        {0.125f, 12500000u, 0},
        {123456789.0f, 12345679u, 9},                         // 123456792
        {std::numeric_limits<float>::max(), 34028234u, 39},   // 3.40282346638...e38
        {std::numeric_limits<float>::min(), 11754943u, -37},  // 1.17549435082...e-38
        {0.3f, 30000001u, 0},                                 // 0.300000011920...
    };
    for (const digits_case& c : cases) {
        const textio::leading_digits v = textio::exact_leading_digits(c.value);
        EXPECT_EQ(v.digits, c.digits) << c.value;
        EXPECT_EQ(v.exponent, c.exponent) << c.value;
    }
}

// The digits from one 128-bit product are those of the big-integer expansion, for every
// exponent (both sides of where the product stops fitting) and mantissas at their edges.
TEST(FixedDigits, LeadingDigitsByProductAgreeWithTheBigExpansion) {
    std::mt19937_64 rng(0x128u);
    long checked = 0;
    for (std::uint32_t biased = 1; biased < 255; ++biased) {
        for (int i = 0; i < 600; ++i) {
            const std::uint32_t mantissa = i == 0   ? 0u
                                           : i == 1 ? 0x7fffffu
                                                    : static_cast<std::uint32_t>(rng() & 0x7fffffu);
            const float v = from_bits(mantissa | (biased << 23));
            const textio::leading_digits quick = textio::exact_leading_digits(v);
            const textio::leading_digits big = textio::big_leading_digits(v);
            ASSERT_EQ(quick.digits, big.digits) << "bits " << std::bit_cast<std::uint32_t>(v);
            ASSERT_EQ(quick.exponent, big.exponent) << "bits " << std::bit_cast<std::uint32_t>(v);
            ++checked;
        }
    }
    EXPECT_EQ(checked, 254 * 600);
}

}  // namespace
