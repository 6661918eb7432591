// The year-by-month grid of one station: single-precision cells for the calendar years 1
// to 2100 and the months 1 to 12. The dialogue's spans end by 2020, the command line's by
// 2100; a run reads only the cells of its span.
#pragma once
#include <cstdint>

namespace engine {

inline constexpr std::int32_t last_grid_year = 2100;
inline constexpr float missing_value = -99.0f;

// Row 0 is unused; column 0 is January.
using year_month_grid = float[last_grid_year + 1][12];

}  // namespace engine

namespace engine {

// The grid of the station being screened, with the years that may hold values other than
// the missing value (every year, before the first reset).
struct station_grid {
    year_month_grid cells;
    std::int32_t placed_first = 1;
    std::int32_t placed_last = last_grid_year;
};

// Sets every cell to the missing value. Only the years placed since the last reset can
// hold anything else, so only they are cleared.
void reset_grid(station_grid& grid);

// Places a value; a year outside 1 to 2100 or a month outside 1 to 12 is not placed.
inline void place_value(station_grid& grid, std::int32_t year, int month, float value) {
    if (month < 1 || month > 12 || year < 1 || year > last_grid_year) return;
    grid.cells[year][month - 1] = value;
    if (year < grid.placed_first) grid.placed_first = year;
    if (year > grid.placed_last) grid.placed_last = year;
}

}  // namespace engine
