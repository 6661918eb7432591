// The station table: one row per catalogue station inside the box, in catalogue order.
#pragma once
#include <cstdint>
#include <vector>

#include "engine/run_settings.hpp"
#include "textio/limits.hpp"

namespace engine {

// Rows are indexed from 0 here; the table grows past its planned 40,000 rows rather than
// drop a station.
struct station_table {
    std::vector<std::int32_t> station_id;
    std::vector<float> station_lat;
    std::vector<float> station_lon;
    std::vector<float> station_extra;
    std::vector<std::int32_t> first_year;
    std::vector<std::int32_t> last_year;
    std::int32_t qualifying_count = 0;
};

using textio::max_stations;

// Whether a catalogue position lies in the confirmed box (bounds inclusive, latitude
// first, a not-a-number coordinate never inside).
bool inside_box(const run_settings& run, float lat, float lon);

// Reads the catalogue from its first station record to its end through the box filter
// into the table, and closes the catalogue.
void load_station_catalogue(const run_settings& run, textio::in_unit& catalogue, station_table& table);

}  // namespace engine
