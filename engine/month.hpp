// Dating an observation: the year and calendar month of a decimal date such as 1950.042.
#pragma once
#include <cstdint>

namespace engine {

// Year and month (1 to 12) of a decimal date; month 0 when the fraction of the year is
// not one of the twelve month mid-points at three decimals.
struct year_month {
    std::int32_t year;
    int month;
};
year_month date_to_year_month(float date);

// Month (1 to 12, or 0) of a fraction of a year: quickly, and by comparing its "(f5.3)"
// text with the month texts. The two agree for every float.
int month_of_fraction(float fraction);
int month_of_fraction_by_text(float fraction);

}  // namespace engine
