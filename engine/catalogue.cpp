#include <cstdint>

#include "engine/stations.hpp"
#include "textio/read.hpp"

namespace engine {
namespace {

void append_station(station_table& table, std::int32_t id, float lat, float lon, float extra) {
    if (table.station_id.empty()) {
        table.station_id.reserve(max_stations);
        table.station_lat.reserve(max_stations);
        table.station_lon.reserve(max_stations);
        table.station_extra.reserve(max_stations);
    }
    table.station_id.push_back(id);
    table.station_lat.push_back(lat);
    table.station_lon.push_back(lon);
    table.station_extra.push_back(extra);
    table.first_year.push_back(0);
    table.last_year.push_back(0);
    ++table.qualifying_count;
}

}  // namespace

bool inside_box(const run_settings& run, float lat, float lon) {
    if (!(run.min_lat <= lat && lat <= run.max_lat)) return false;
    if (run.crosses_dateline == 0) return run.min_lon <= lon && lon <= run.max_lon;
    return (run.min_lon <= lon && lon <= 180.0f) || (-180.0f <= lon && lon <= run.max_lon);
}

void load_station_catalogue(const run_settings& run, textio::in_unit& catalogue, station_table& table) {
    // A value left empty keeps what the same field had in the previous record.
    std::int32_t id = 0;
    float lat = 0.0f, lon = 0.0f, extra = 0.0f;
    const textio::in_item fields[] = {textio::target_identifier(id), textio::target_real(lat), textio::target_real(lon),
                                      textio::target_real(extra)};
    while (textio::read_free_form(catalogue, fields, true) == textio::read_outcome::ok)
        if (inside_box(run, lat, lon)) append_station(table, id, lat, lon, extra);
    textio::close_input(catalogue);
}

}  // namespace engine
