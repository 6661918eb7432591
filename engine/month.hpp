// Dating an observation: the year and calendar month of a decimal date such as 1950.042.
#pragma once
#include <cstddef>
#include <cstdint>

#include "textio/convert.hpp"

namespace engine {

// Year and month (1 to 12) of a decimal date; month 0 when the fraction of the year is
// not one of the twelve month mid-points at three decimals.
struct year_month {
    std::int32_t year;
    int month;
};

// The fractions of a year whose "(f5.3)" text reads each month's text form one interval of
// floats: [low, high).
struct month_intervals {
    float low[12];
    float high[12];
};
const month_intervals& month_table();

// Month (1 to 12, or 0) of a fraction of a year: quickly, and by comparing its "(f5.3)"
// text with the month texts. The two agree for every float.
inline int month_of_fraction(float fraction, const month_intervals& t) {
    if (!(fraction >= t.low[0] && fraction < t.high[11])) return 0;  // NaN fails too
    // Each interval lies within 0.001 of its mid-month point (m - 0.5)/12, so twelve times
    // the fraction names the only month it can be.
    const int m = static_cast<int>(fraction * 12.0f);
    return (fraction >= t.low[m] && fraction < t.high[m]) ? m + 1 : 0;
}
inline int month_of_fraction(float fraction) { return month_of_fraction(fraction, month_table()); }
int month_of_fraction_by_text(float fraction);

// Inline, with the table looked up once, for the loop that dates every record of a block.
inline year_month date_to_year_month(float date, const month_intervals& t) {
    const std::int32_t year = textio::truncate_to_int32(date);
    return {year, month_of_fraction(date - static_cast<float>(year), t)};
}
inline year_month date_to_year_month(float date) { return date_to_year_month(date, month_table()); }

// The cell of each of `count` dates in a station's grid (year × 12 + month − 1), or −1 for
// a date with no month or whose year lies outside 1 to `last_year`; and the first and last
// years given a cell (first above last when none is).
struct placed_years {
    std::int32_t first;
    std::int32_t last;
};
placed_years cells_of_dates(const float* dates, std::size_t count, std::int32_t last_year, std::int32_t* cells);

// The same, date by date: what cells_of_dates does where the processor lacks the
// instructions for eight dates at once, and for the dates after the last eight.
placed_years cells_of_dates_one_by_one(const float* dates, std::size_t count, std::int32_t last_year,
                                       std::int32_t* cells);

}  // namespace engine
