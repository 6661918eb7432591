// Exact digit generation: every digit the writers show comes from the float's exact binary
// value by integer arithmetic alone, so no locale or C library default can touch one.
#include "textio/detail/digits.hpp"

#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>

namespace textio {
namespace {

using u128 = unsigned __int128;

// ---------------------------------------------------------------------------------------
// Exact decimal expansion: a small multi-word integer, enough for 2^24 * 5^149 (371 bits).

constexpr int big_words = 12;

struct big_integer {
    std::uint32_t word[big_words] = {};  // least significant first
    int size = 0;
};

void multiply_small(big_integer& n, std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (int i = 0; i < n.size; ++i) {
        const std::uint64_t p = static_cast<std::uint64_t>(n.word[i]) * factor + carry;
        n.word[i] = static_cast<std::uint32_t>(p);
        carry = p >> 32;
    }
    if (carry != 0) {
        if (n.size == big_words) std::abort();
        n.word[n.size++] = static_cast<std::uint32_t>(carry);
    }
}

std::uint32_t divide_small(big_integer& n, std::uint32_t divisor) {
    std::uint64_t rest = 0;
    for (int i = n.size - 1; i >= 0; --i) {
        const std::uint64_t cur = (rest << 32) | n.word[i];
        n.word[i] = static_cast<std::uint32_t>(cur / divisor);
        rest = cur % divisor;
    }
    while (n.size > 0 && n.word[n.size - 1] == 0) --n.size;
    return static_cast<std::uint32_t>(rest);
}

void multiply_power(big_integer& n, std::uint32_t base, std::uint32_t chunk_factor, int chunk, int power) {
    for (; power >= chunk; power -= chunk) multiply_small(n, chunk_factor);
    for (; power > 0; --power) multiply_small(n, base);
}

// Decimal digits of n, most significant first, into text; returns their count.
int big_to_decimal(big_integer n, char* text) {
    char reversed[big_words * 10 + 10];
    int count = 0;
    while (n.size > 0) {
        std::uint32_t chunk = divide_small(n, 1000000000u);
        for (int i = 0; i < 9; ++i, chunk /= 10) reversed[count++] = static_cast<char>('0' + chunk % 10);
    }
    while (count > 0 && reversed[count - 1] == '0') --count;
    for (int i = 0; i < count; ++i) text[i] = reversed[count - 1 - i];
    return count;
}

}  // namespace

leading_digits big_leading_digits(float magnitude) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(magnitude) & 0x7fffffffu;
    const int exponent2 = static_cast<int>(bits >> 23) - 150;
    big_integer n;
    n.word[0] = (bits & 0x7fffffu) | 0x800000u;
    n.size = 1;
    int scale = 0;  // magnitude = n * 10^-scale
    if (exponent2 >= 0) {
        multiply_power(n, 2, 1u << 31, 31, exponent2);
    } else {
        multiply_power(n, 5, 1220703125u, 13, -exponent2);  // 5^13
        scale = -exponent2;
    }
    char text[big_words * 10 + 10];
    const int length = big_to_decimal(n, text);
    leading_digits v;
    for (int i = 0; i < float_significant_digits; ++i) v.digits = v.digits * 10 + (i < length ? text[i] - '0' : 0);
    v.exponent = length - scale;
    return v;
}

namespace {

// 10^0 to 10^38, every power of ten below 2^128.
constexpr int u128_powers = 39;

constexpr std::array<u128, u128_powers> make_u128_powers() {
    std::array<u128, u128_powers> p{};
    p[0] = 1;
    for (int i = 1; i < u128_powers; ++i) p[i] = p[i - 1] * 10;
    return p;
}

constexpr std::array<u128, u128_powers> powers_of_ten_128 = make_u128_powers();

// The float's exact value m * 2^e as n * 10^-scale, with n below 2^128: for e from
// -largest_fifth_power (5^44 < 2^103, times m < 2^24) to largest_doubling.
constexpr int largest_fifth_power = 44;
constexpr int largest_doubling = 100;

constexpr u128 power_of_five(int n) {
    u128 p = 1;
    while (n-- > 0) p *= 5;
    return p;
}

constexpr std::array<u128, largest_fifth_power + 1> make_fifth_powers() {
    std::array<u128, largest_fifth_power + 1> p{};
    for (int i = 0; i <= largest_fifth_power; ++i) p[i] = power_of_five(i);
    return p;
}

constexpr std::array<u128, largest_fifth_power + 1> powers_of_five_128 = make_fifth_powers();

}  // namespace

// The same digits from one 128-bit product where the exact value fits one, which it does
// for every float from about 10^-6 to 10^37: no multi-word arithmetic.
leading_digits exact_leading_digits(float magnitude) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(magnitude) & 0x7fffffffu;
    const int exponent2 = static_cast<int>(bits >> 23) - 150;
    if (exponent2 < -largest_fifth_power || exponent2 > largest_doubling) return big_leading_digits(magnitude);
    const u128 m = (bits & 0x7fffffu) | 0x800000u;
    const u128 n = exponent2 >= 0 ? m << exponent2 : m * powers_of_five_128[static_cast<std::size_t>(-exponent2)];
    const int scale = exponent2 >= 0 ? 0 : -exponent2;
    // Its count of digits, from its count of bits: 1233 / 4096 is just below log10(2).
    const auto high = static_cast<std::uint64_t>(n >> 64);
    const int bit_length =
        high != 0 ? 128 - std::countl_zero(high) : 64 - std::countl_zero(static_cast<std::uint64_t>(n));
    const int estimate = (bit_length * 1233) >> 12;
    const int length = estimate + 1 - (n < powers_of_ten_128[static_cast<std::size_t>(estimate)] ? 1 : 0);
    leading_digits v;
    v.digits = static_cast<std::uint32_t>(
        length > float_significant_digits
            ? n / powers_of_ten_128[static_cast<std::size_t>(length - float_significant_digits)]
            : n * powers_of_ten_128[static_cast<std::size_t>(float_significant_digits - length)]);
    v.exponent = length - scale;
    return v;
}

rounded_digits round_leading_digits(leading_digits value, int decimals) {
    if (value.digits == 0) return {};
    const int kept = value.exponent + decimals;
    if (kept >= float_significant_digits) {
        std::uint64_t lead = value.digits;
        const std::uint64_t last = lead % 10;
        if (last >= 5) lead += 10 - last;
        return {lead, kept - float_significant_digits};
    }
    const int dropped = float_significant_digits - kept;
    if (dropped > float_significant_digits) return {};
    const std::uint64_t unit = power_of_ten(dropped);
    std::uint64_t lead = value.digits / unit;
    if ((value.digits / (unit / 10)) % 10 >= 5) ++lead;
    return {lead, 0};
}

// With at most 7 significant digits kept, the first dropped digit lies within the 8 that
// the cut keeps, so exact half-up rounding of |x| * 10^d gives the same count.
bool round_fixed_fast(float magnitude, int decimals, rounded_digits& result) {
    constexpr int largest_decimals = 18;
    constexpr int smallest_exponent = -100;
    constexpr u128 seven_digit_limit = 10000000;
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(magnitude) & 0x7fffffffu;
    const std::uint32_t biased = bits >> 23;
    if (biased == 0 || biased == 0xffu || decimals < 0 || decimals > largest_decimals) return false;
    const int exponent2 = static_cast<int>(biased) - 150;
    if (exponent2 > 7) return false;
    if (exponent2 < smallest_exponent) {
        // Below 2^-76 even 18 places show nothing: the first dropped digit is a leading zero.
        result = {0, 0};
        return true;
    }
    u128 scaled = static_cast<u128>((bits & 0x7fffffu) | 0x800000u) * power_of_ten(decimals);
    if (exponent2 >= 0) {
        scaled <<= exponent2;
        if (scaled >= seven_digit_limit) return false;
        result = {static_cast<std::uint64_t>(scaled), 0};
        return true;
    }
    const int shift = -exponent2;
    if (scaled >= (seven_digit_limit << shift)) return false;
    result = {static_cast<std::uint64_t>((scaled + (static_cast<u128>(1) << (shift - 1))) >> shift), 0};
    return true;
}

rounded_digits round_fixed(float magnitude, int decimals) {
    rounded_digits r;
    if (round_fixed_fast(magnitude, decimals, r)) return r;
    return round_leading_digits(exact_leading_digits(magnitude), decimals);
}

int digits_before_point(rounded_digits value, int decimals) { return rounded_length(value) - decimals; }

}  // namespace textio
