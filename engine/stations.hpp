// The station table: one row per catalogue station that the selection keeps, in catalogue
// order, and the selection itself.
#pragma once
#include <cstdint>
#include <vector>

#include "engine/run_settings.hpp"
#include "textio/limits.hpp"

namespace engine {

// A latitude/longitude box, bounds inclusive; a west edge greater than the east edge
// crosses the 180th meridian.
struct station_box {
    float min_lat = -90.0f;
    float max_lat = 90.0f;
    float min_lon = -180.0f;  // west edge
    float max_lon = 180.0f;   // east edge
    bool crosses_dateline = false;
};

// The stations around a point: those within a radius, the nearest few, or both.
struct station_neighbourhood {
    float lat = 0.0f;
    float lon = 0.0f;
    bool has_radius = false;
    double radius_km = 0.0;    // a station at exactly this distance is inside
    std::int32_t nearest = 0;  // 0: no count
};

// Which catalogue stations a run keeps: those that meet every selector given. The count
// of --nearest is applied last, among the stations that meet all the others. A plain
// value, so that a command line or a line of a selections file fills it alike.
struct station_selection {
    bool has_box = false;
    station_box box;
    bool has_list = false;
    std::vector<std::int32_t> ids;  // as listed: repeats and identifiers absent from the catalogue included
    bool has_near = false;
    station_neighbourhood near;
};

// Rows are indexed from 0 here; the table grows past its planned 40,000 rows rather than
// drop a station.
struct station_table {
    std::vector<std::int32_t> station_id;
    std::vector<float> station_lat;
    std::vector<float> station_lon;
    std::vector<float> station_extra;
    std::vector<std::int32_t> first_year;
    std::vector<std::int32_t> last_year;
    std::vector<double> distance_km;          // from the point of a near selector; empty without one
    std::vector<std::int32_t> catalogue_row;  // each station's place in the catalogue, from 0
    std::int32_t qualifying_count = 0;
    // Listed identifiers that no catalogue station has, each once, in the order listed.
    std::vector<std::int32_t> not_in_catalogue;
    std::int32_t listed_count = 0;  // different identifiers listed
};

using textio::max_stations;

inline constexpr double earth_radius_km = 6371.0;

// Whether a catalogue position lies in the box (bounds inclusive, latitude first, a
// not-a-number coordinate never inside).
bool inside_box(const station_box& box, float lat, float lon);

// The box the dialogue confirmed, as the one selector of its run.
station_selection box_selection(const run_settings& run);

// The great-circle distance in km on a sphere of radius earth_radius_km, in double
// precision from single-precision coordinates in degrees: 2R asin(min(1, sqrt(h))), h the
// haversine of the two points.
double great_circle_km(float lat1, float lon1, float lat2, float lon2);

// Every station of the catalogue, in its order.
struct station_catalogue {
    std::vector<std::int32_t> id;
    std::vector<float> lat;
    std::vector<float> lon;
    std::vector<float> extra;
};

// Reads the catalogue from its first station record to its end, and closes it.
station_catalogue read_station_catalogue(textio::in_unit& catalogue);

// The stations of the catalogue that the selection keeps, into the table.
void select_stations(const station_selection& selection, const station_catalogue& all, station_table& table);

// Reads the catalogue from its first station record to its end through the selection
// into the table, and closes the catalogue.
void load_station_catalogue(const station_selection& selection, textio::in_unit& catalogue, station_table& table);

}  // namespace engine
