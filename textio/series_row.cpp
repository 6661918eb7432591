// The quick f8.3 route works on the float's bits: |x| = m * 2^-s with a 24-bit m, so
// |x| * 1000 rounded half up is (1000 m + 2^(s-1)) >> s, exactly, in 64-bit integers.
// That is the general writer's rounding whenever the result keeps at most 7 significant
// digits (the first dropped digit then lies within the 8 digits the general writer keeps),
// and every field that fits f8.3 keeps at most 7.
#include "textio/series_row.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "textio/format.hpp"

namespace textio {
namespace {

constexpr std::uint32_t mantissa_bits = 23;
constexpr int exponent_bias_and_width = 150;  // |x| = m * 2^(biased - 150)
// Below 2^14 even 1000 m + 2^(s-1) < 2^35 fits; 2^14 * 1000 is past every f8.3 field.
constexpr int smallest_shift = 10;
// From a shift of 35 on, 1000 m < 2^34 <= 2^(s-1) and the value rounds to zero at three
// places; so any larger shift (subnormals and zeros: 150) may be cut to 63, where
// 1000 m + 2^62 still fits 64 bits and still gives zero.
constexpr int largest_shift = 63;
// The largest counts of thousandths that f8.3 shows: 9999.999 and -999.999.
constexpr std::uint64_t largest_positive_count = 9999999;
constexpr std::uint64_t largest_negative_count = 999999;

using four_chars = std::array<char, 4>;

// The whole part right-aligned in four columns with its sign, for 0..999 (index 1000 +
// whole for a negative value), so the common field is two four-byte copies. Larger whole
// parts (1000..9999, positive only) take the digit loop.
constexpr std::uint32_t tabled_whole_parts = 1000;

constexpr std::array<four_chars, 2 * tabled_whole_parts> make_whole_parts() {
    std::array<four_chars, 2 * tabled_whole_parts> table{};
    for (std::uint32_t i = 0; i < table.size(); ++i) {
        std::uint32_t whole = i % tabled_whole_parts;
        four_chars& t = table[i];
        t = {' ', ' ', ' ', ' '};
        int at = 4;
        do {
            t[--at] = static_cast<char>('0' + whole % 10);
            whole /= 10;
        } while (whole != 0);
        if (i >= tabled_whole_parts) t[--at] = '-';
    }
    return table;
}

// ".ddd" for 0..999 thousandths.
constexpr std::array<four_chars, 1000> make_fractions() {
    std::array<four_chars, 1000> table{};
    for (std::uint32_t i = 0; i < table.size(); ++i)
        table[i] = {'.', static_cast<char>('0' + i / 100), static_cast<char>('0' + i / 10 % 10),
                    static_cast<char>('0' + i % 10)};
    return table;
}

constexpr std::array<four_chars, 2 * tabled_whole_parts> whole_parts = make_whole_parts();
constexpr std::array<four_chars, 1000> fractions = make_fractions();

// A positive whole part of 0..9999, right-aligned in field[0..4): from the tables, the last
// three digits of a larger one being those of a fraction.
inline void put_whole_part(char* field, std::uint32_t whole) {
    if (whole < tabled_whole_parts) {
        std::memcpy(field, whole_parts[whole].data(), 4);
        return;
    }
    field[0] = static_cast<char>('0' + whole / 1000);
    std::memcpy(field + 1, fractions[whole % 1000].data() + 1, 3);
}

// The quick route, inline in the rows' loop: a call for each value cost a fifth of it.
[[gnu::always_inline]] inline bool put_value_quickly(char* field, float value) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    const int biased = static_cast<int>((bits >> mantissa_bits) & 0xffu);
    if (exponent_bias_and_width - biased < smallest_shift) return false;  // 2^14 and above, infinities, NaN
    // No branch on the sign or the size below: they follow the data and would be mispredicted.
    const int shift = std::min(exponent_bias_and_width - biased, largest_shift);
    const std::uint64_t m = (bits & 0x7fffffu) | 0x800000u;
    const std::uint64_t count = (m * 1000 + (std::uint64_t{1} << (shift - 1))) >> shift;  // thousandths, half up
    // A value that rounds to zero shows no minus sign.
    const std::uint32_t negative = (bits >> 31) & static_cast<std::uint32_t>(count != 0);
    const std::uint64_t largest = largest_positive_count - negative * (largest_positive_count - largest_negative_count);
    if (count > largest) return false;
    const auto c = static_cast<std::uint32_t>(count);
    const std::uint32_t whole = c / 1000;
    if (whole < tabled_whole_parts)
        std::memcpy(field, whole_parts[whole + negative * tabled_whole_parts].data(), 4);
    else
        put_whole_part(field, whole);
    std::memcpy(field + 4, fractions[c - whole * 1000].data(), 4);
    return true;
}

#if defined(__x86_64__)
// The quick route for four values at once, in 64-bit lanes: false, with nothing written,
// when one of them needs the digit loop (a whole part of 1000 or more) or the general
// writer.
[[gnu::target("avx2")]] bool put_four_values_quickly(char* fields, const float* values) {
    const __m256i bits = _mm256_cvtepu32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(values)));
    const __m256i biased = _mm256_and_si256(_mm256_srli_epi64(bits, mantissa_bits), _mm256_set1_epi64x(0xff));
    const __m256i too_large = _mm256_cmpgt_epi64(biased, _mm256_set1_epi64x(exponent_bias_and_width - smallest_shift));
    if (!_mm256_testz_si256(too_large, too_large)) return false;
    // Both halves of each lane's shift are below 2^32, so the 32-bit minimum is the lane's.
    const __m256i shift = _mm256_min_epu32(_mm256_sub_epi64(_mm256_set1_epi64x(exponent_bias_and_width), biased),
                                           _mm256_set1_epi64x(largest_shift));
    const __m256i m =
        _mm256_or_si256(_mm256_and_si256(bits, _mm256_set1_epi64x(0x7fffff)), _mm256_set1_epi64x(0x800000));
    const __m256i half = _mm256_sllv_epi64(_mm256_set1_epi64x(1), _mm256_sub_epi64(shift, _mm256_set1_epi64x(1)));
    const __m256i count =
        _mm256_srlv_epi64(_mm256_add_epi64(_mm256_mul_epu32(m, _mm256_set1_epi64x(1000)), half), shift);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i negative = _mm256_andnot_si256(_mm256_cmpeq_epi64(count, zero), _mm256_srli_epi64(bits, 31));
    const __m256i largest = _mm256_sub_epi64(
        _mm256_set1_epi64x(largest_positive_count),
        _mm256_mul_epu32(negative, _mm256_set1_epi64x(largest_positive_count - largest_negative_count)));
    const __m256i past = _mm256_cmpgt_epi64(count, largest);
    if (!_mm256_testz_si256(past, past)) return false;
    // count / 1000 by a product: exact for every count below 2^32.
    const __m256i whole = _mm256_srli_epi64(_mm256_mul_epu32(count, _mm256_set1_epi64x(0x10624dd3)), 38);
    const __m256i untabled = _mm256_cmpgt_epi64(whole, _mm256_set1_epi64x(tabled_whole_parts - 1));
    if (!_mm256_testz_si256(untabled, untabled)) return false;
    const __m256i fraction = _mm256_sub_epi64(count, _mm256_mul_epu32(whole, _mm256_set1_epi64x(1000)));
    const __m256i whole_index =
        _mm256_add_epi64(whole, _mm256_mul_epu32(negative, _mm256_set1_epi64x(tabled_whole_parts)));
    const __m128i wholes =
        _mm256_i64gather_epi32(reinterpret_cast<const int*>(whole_parts.data()), whole_index, sizeof(four_chars));
    const __m128i fractions_of =
        _mm256_i64gather_epi32(reinterpret_cast<const int*>(fractions.data()), fraction, sizeof(four_chars));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(fields), _mm_unpacklo_epi32(wholes, fractions_of));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(fields + 16), _mm_unpackhi_epi32(wholes, fractions_of));
    return true;
}

bool four_at_once() {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}
#endif

void put_value_generally(char* field, float value) {
    std::string general;  // eight characters: no allocation
    append_fixed_field(general, value, 8, 3);
    std::memcpy(field, general.data(), series_value_width);
}

}  // namespace

bool put_series_value_quickly(char* field, float value) { return put_value_quickly(field, value); }

void put_series_value(char* field, float value) {
    if (!put_series_value_quickly(field, value)) put_value_generally(field, value);
}

void put_series_year(char* field, std::int32_t year) {
    if (year < 0 || year > 9999) {
        std::string general;
        append_integer_field(general, year, 4);
        std::memcpy(field, general.data(), series_year_width);
        return;
    }
    put_whole_part(field, static_cast<std::uint32_t>(year));
}

void append_series_row(std::string& out, std::int32_t year, const float (&months)[12]) {
    char row[series_row_length];
    put_series_year(row, year);
    for (std::size_t i = 0; i < 12; i += 4) {
        char* const fields = row + series_year_width + i * series_value_width;
#if defined(__x86_64__)
        if (four_at_once() && put_four_values_quickly(fields, months + i)) continue;
#endif
        for (std::size_t j = 0; j < 4; ++j) {
            char* const field = fields + j * series_value_width;
            if (!put_value_quickly(field, months[i + j])) put_value_generally(field, months[i + j]);
        }
    }
    row[series_row_length - 1] = '\n';
    out.append(row, series_row_length);
}

}  // namespace textio
