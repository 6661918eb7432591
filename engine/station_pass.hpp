// The station pass: each station of the table is collected, ordered, laid out in the
// year-by-month grid, screened, and written when it is saved.
#pragma once
#include <cstdint>

#include "app/settings.hpp"

namespace engine {

inline constexpr std::int32_t last_grid_year = 2020;
inline constexpr float missing_value = -99.0f;
inline constexpr float spurious_above = 100.0f;
inline constexpr float spurious_below = -70.0f;

// Cells for the calendar years 1 to 2020 (row 0 unused) and the months 1 to 12 (column 0..11).
using year_month_grid = float[last_grid_year + 1][12];
year_month_grid& grid();

// Runs the pass over every station of the table; returns the number of stations saved.
std::int32_t run_station_pass(const app::run_settings& run, app::run_files& files);

// Writes a saved station: its coordinates row, its station header and one row per year
// of the span.
void write_station_output(const app::run_settings& run, app::run_files& files, std::int32_t row);

// Notes that the series and coordinates files end after the same whole station (or after
// the coordinates header).
void mark_whole_station(app::run_files& files);

// After a failure: writes what is pending up to the last whole station and cuts both
// files back to the last station that both of them hold whole. Never raises.
void cut_back_to_whole_stations(app::run_files& files);

}  // namespace engine
