#include "engine/month.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <limits>

#include "textio/convert.hpp"
#include "textio/format.hpp"

namespace engine {
namespace {

const textio::format_list fraction_text = textio::parse_format("(f5.3)");

constexpr const char* month_texts[12] = {"0.042", "0.125", "0.208", "0.292", "0.375", "0.458",
                                         "0.542", "0.625", "0.708", "0.792", "0.875", "0.958"};

bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// The month of a fraction of a year is decided by its "(f5.3)" text. That text is a
// non-decreasing step function of the fraction, so the fractions that give one month's text
// form one interval of floats; the bounds are found once by bisection on the text itself.
int thousandths_text_value(float fraction) {
    char text[5];
    const textio::out_item item = textio::item_real(fraction);
    textio::format_to_string(text, sizeof text, fraction_text, {&item, 1});
    int value = 0;
    for (const char c : text)
        if (is_digit(c)) value = value * 10 + (c - '0');
    return value;
}

// Smallest float in [0, 1] whose text reads at least `target` thousandths.
float first_fraction_reading(int target) {
    std::uint32_t low = 0, high = 0x3F800000u;  // bit patterns of 0.0 and 1.0
    while (low < high) {
        const std::uint32_t middle = low + (high - low) / 2;
        float f;
        std::memcpy(&f, &middle, sizeof f);
        if (thousandths_text_value(f) >= target)
            high = middle;
        else
            low = middle + 1;
    }
    float f;
    std::memcpy(&f, &low, sizeof f);
    return f;
}

}  // namespace

const month_intervals& month_table() {
    static const month_intervals table = [] {
        month_intervals t;
        for (int m = 0; m < 12; ++m) {
            const int thousandths =
                (month_texts[m][2] - '0') * 100 + (month_texts[m][3] - '0') * 10 + (month_texts[m][4] - '0');
            t.low[m] = first_fraction_reading(thousandths);
            t.high[m] = first_fraction_reading(thousandths + 1);
        }
        return t;
    }();
    return table;
}

placed_years cells_of_dates_one_by_one(const float* dates, std::size_t count, std::int32_t last_year,
                                       std::int32_t* cells) {
    const month_intervals& months = month_table();
    placed_years placed{last_year + 1, 0};
    for (std::size_t k = 0; k < count; ++k) {
        const year_month when = date_to_year_month(dates[k], months);
        const bool has_cell = when.month >= 1 && when.month <= 12 && when.year >= 1 && when.year <= last_year;
        cells[k] = has_cell ? when.year * 12 + when.month - 1 : -1;
        if (!has_cell) continue;
        placed.first = std::min(placed.first, when.year);
        placed.last = std::max(placed.last, when.year);
    }
    return placed;
}

#if defined(__x86_64__)
namespace {

// Eight dates at a time, as date_to_year_month dates one: the truncation gives the most
// negative int32 for NaN and out-of-range dates, as truncate_to_int32 does; ordered
// comparisons are false for NaN; and a lane whose fraction lies outside the months' span
// has its month index, whatever it is, ruled out by that span.
[[gnu::target("avx2")]] placed_years cells_of_eight_dates(const float* dates, std::size_t count, std::int32_t last_year,
                                                          std::int32_t* cells) {
    const month_intervals& t = month_table();
    const __m256 low_first = _mm256_loadu_ps(t.low), high_first = _mm256_loadu_ps(t.high);
    const __m256 low_last = _mm256_setr_ps(t.low[8], t.low[9], t.low[10], t.low[11], 0, 0, 0, 0);
    const __m256 high_last = _mm256_setr_ps(t.high[8], t.high[9], t.high[10], t.high[11], 0, 0, 0, 0);
    const __m256 span_low = _mm256_set1_ps(t.low[0]), span_high = _mm256_set1_ps(t.high[11]);
    const __m256i first_month_of_last = _mm256_set1_epi32(7);
    const __m256i no_year = _mm256_set1_epi32(0), after_last = _mm256_set1_epi32(last_year + 1);
    __m256i first = _mm256_set1_epi32(last_year + 1), last = _mm256_set1_epi32(0);
    std::size_t k = 0;
    for (; k + 8 <= count; k += 8) {
        const __m256 date = _mm256_loadu_ps(dates + k);
        const __m256i year = _mm256_cvttps_epi32(date);
        const __m256 fraction = _mm256_sub_ps(date, _mm256_cvtepi32_ps(year));
        const __m256i month = _mm256_cvttps_epi32(_mm256_mul_ps(fraction, _mm256_set1_ps(12.0f)));
        const __m256 in_last = _mm256_castsi256_ps(_mm256_cmpgt_epi32(month, first_month_of_last));
        const __m256 low = _mm256_blendv_ps(_mm256_permutevar8x32_ps(low_first, month),
                                            _mm256_permutevar8x32_ps(low_last, month), in_last);
        const __m256 high = _mm256_blendv_ps(_mm256_permutevar8x32_ps(high_first, month),
                                             _mm256_permutevar8x32_ps(high_last, month), in_last);
        const __m256 dated = _mm256_and_ps(
            _mm256_and_ps(_mm256_cmp_ps(fraction, span_low, _CMP_GE_OQ),
                          _mm256_cmp_ps(fraction, span_high, _CMP_LT_OQ)),
            _mm256_and_ps(_mm256_cmp_ps(fraction, low, _CMP_GE_OQ), _mm256_cmp_ps(fraction, high, _CMP_LT_OQ)));
        const __m256i in_grid =
            _mm256_and_si256(_mm256_cmpgt_epi32(year, no_year), _mm256_cmpgt_epi32(after_last, year));
        const __m256i has_cell = _mm256_and_si256(_mm256_castps_si256(dated), in_grid);
        const __m256i cell = _mm256_add_epi32(_mm256_mullo_epi32(year, _mm256_set1_epi32(12)), month);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(cells + k),
                            _mm256_or_si256(cell, _mm256_xor_si256(has_cell, _mm256_set1_epi32(-1))));
        first = _mm256_min_epi32(first, _mm256_blendv_epi8(_mm256_set1_epi32(last_year + 1), year, has_cell));
        last = _mm256_max_epi32(last, _mm256_and_si256(year, has_cell));
    }
    alignas(32) std::int32_t firsts[8], lasts[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(firsts), first);
    _mm256_store_si256(reinterpret_cast<__m256i*>(lasts), last);
    placed_years placed = cells_of_dates_one_by_one(dates + k, count - k, last_year, cells + k);
    placed.first = std::min(placed.first, *std::min_element(firsts, firsts + 8));
    placed.last = std::max(placed.last, *std::max_element(lasts, lasts + 8));
    return placed;
}

}  // namespace
#endif

placed_years cells_of_dates(const float* dates, std::size_t count, std::int32_t last_year, std::int32_t* cells) {
#if defined(__x86_64__)
    static const bool eight_at_once = __builtin_cpu_supports("avx2");
    if (eight_at_once) return cells_of_eight_dates(dates, count, last_year, cells);
#endif
    return cells_of_dates_one_by_one(dates, count, last_year, cells);
}

int month_of_fraction_by_text(float fraction) {
    char text[5];
    const textio::out_item item = textio::item_real(fraction);
    textio::format_to_string(text, sizeof text, fraction_text, {&item, 1});
    for (int m = 0; m < 12; ++m)
        if (std::memcmp(text, month_texts[m], 5) == 0) return m + 1;
    return 0;
}

}  // namespace engine
