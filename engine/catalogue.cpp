#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <numeric>

#include "engine/stations.hpp"
#include "textio/read.hpp"

namespace engine {

station_catalogue read_station_catalogue(textio::in_unit& catalogue) {
    station_catalogue all;
    all.id.reserve(max_stations);
    all.lat.reserve(max_stations);
    all.lon.reserve(max_stations);
    all.extra.reserve(max_stations);
    // A value left empty keeps what the same field had in the previous record.
    std::int32_t id = 0;
    float lat = 0.0f, lon = 0.0f, extra = 0.0f;
    const textio::in_item fields[] = {textio::target_identifier(id), textio::target_real(lat), textio::target_real(lon),
                                      textio::target_real(extra)};
    while (textio::read_free_form(catalogue, fields, true) == textio::read_outcome::ok) {
        all.id.push_back(id);
        all.lat.push_back(lat);
        all.lon.push_back(lon);
        all.extra.push_back(extra);
    }
    textio::close_input(catalogue);
    return all;
}

namespace {

void append_station(station_table& table, const station_catalogue& all, std::size_t i) {
    if (table.station_id.empty()) {
        table.station_id.reserve(max_stations);
        table.station_lat.reserve(max_stations);
        table.station_lon.reserve(max_stations);
        table.station_extra.reserve(max_stations);
    }
    table.station_id.push_back(all.id[i]);
    table.station_lat.push_back(all.lat[i]);
    table.station_lon.push_back(all.lon[i]);
    table.station_extra.push_back(all.extra[i]);
    table.catalogue_row.push_back(static_cast<std::int32_t>(i));
    table.first_year.push_back(0);
    table.last_year.push_back(0);
    ++table.qualifying_count;
}

template <class T>
void keep_rows(std::vector<T>& column, const std::vector<std::int32_t>& rows) {
    std::vector<T> kept;
    kept.reserve(rows.size());
    for (const std::int32_t row : rows) kept.push_back(column[static_cast<std::size_t>(row)]);
    column = std::move(kept);
}

// The `count` rows nearest to the point, still in catalogue order; at equal distance the
// earlier row is the nearer.
void keep_nearest(station_table& table, std::int32_t count) {
    if (table.qualifying_count <= count) return;
    std::vector<std::int32_t> rows(static_cast<std::size_t>(table.qualifying_count));
    std::iota(rows.begin(), rows.end(), 0);
    const std::vector<double>& d = table.distance_km;
    std::nth_element(rows.begin(), rows.begin() + count, rows.end(), [&d](std::int32_t a, std::int32_t b) {
        const auto da = d[static_cast<std::size_t>(a)], db = d[static_cast<std::size_t>(b)];
        return da < db || (da == db && a < b);
    });
    rows.resize(static_cast<std::size_t>(count));
    std::sort(rows.begin(), rows.end());
    keep_rows(table.station_id, rows);
    keep_rows(table.station_lat, rows);
    keep_rows(table.station_lon, rows);
    keep_rows(table.station_extra, rows);
    keep_rows(table.first_year, rows);
    keep_rows(table.last_year, rows);
    keep_rows(table.distance_km, rows);
    keep_rows(table.catalogue_row, rows);
    table.qualifying_count = count;
}

// The listed identifiers, sorted, each once.
std::vector<std::int32_t> distinct(std::vector<std::int32_t> ids) {
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

// The listed identifiers that `found` does not mark, each once, in the order listed.
std::vector<std::int32_t> unfound(const std::vector<std::int32_t>& listed, const std::vector<std::int32_t>& sorted,
                                  std::vector<char> found) {
    std::vector<std::int32_t> missing;
    for (const std::int32_t id : listed) {
        const auto at = static_cast<std::size_t>(std::lower_bound(sorted.begin(), sorted.end(), id) - sorted.begin());
        if (found[at]) continue;
        found[at] = 1;  // named once
        missing.push_back(id);
    }
    return missing;
}

}  // namespace

void select_stations(const station_selection& s, const station_catalogue& all, station_table& table) {
    const std::vector<std::int32_t> listed = s.has_list ? distinct(s.ids) : std::vector<std::int32_t>();
    std::vector<char> found(listed.size(), 0);
    for (std::size_t i = 0; i < all.id.size(); ++i) {
        if (s.has_list) {
            const auto at = std::lower_bound(listed.begin(), listed.end(), all.id[i]);
            if (at == listed.end() || *at != all.id[i]) continue;
            found[static_cast<std::size_t>(at - listed.begin())] = 1;
        }
        if (s.has_box && !inside_box(s.box, all.lat[i], all.lon[i])) continue;
        double distance = 0.0;
        if (s.has_near) {
            distance = great_circle_km(s.near.lat, s.near.lon, all.lat[i], all.lon[i]);
            // A station without a position is near nothing.
            if (std::isnan(distance) || (s.near.has_radius && !(distance <= s.near.radius_km))) continue;
            table.distance_km.push_back(distance);
        }
        append_station(table, all, i);
    }
    if (s.has_near && s.near.nearest > 0) keep_nearest(table, s.near.nearest);
    table.listed_count = static_cast<std::int32_t>(listed.size());
    if (s.has_list) table.not_in_catalogue = unfound(s.ids, listed, std::move(found));
}

bool inside_box(const station_box& box, float lat, float lon) {
    if (!(box.min_lat <= lat && lat <= box.max_lat)) return false;
    if (!box.crosses_dateline) return box.min_lon <= lon && lon <= box.max_lon;
    return (box.min_lon <= lon && lon <= 180.0f) || (-180.0f <= lon && lon <= box.max_lon);
}

station_selection box_selection(const run_settings& run) {
    station_selection s;
    s.has_box = true;
    s.box = {run.min_lat, run.max_lat, run.min_lon, run.max_lon, run.crosses_dateline != 0};
    return s;
}

double great_circle_km(float lat1, float lon1, float lat2, float lon2) {
    constexpr double radians_per_degree = std::numbers::pi / 180.0;
    const double phi1 = static_cast<double>(lat1) * radians_per_degree;
    const double phi2 = static_cast<double>(lat2) * radians_per_degree;
    const double half_dphi = (phi2 - phi1) / 2.0;
    const double half_dlambda = (static_cast<double>(lon2) - static_cast<double>(lon1)) * radians_per_degree / 2.0;
    const double h = std::sin(half_dphi) * std::sin(half_dphi) +
                     std::cos(phi1) * std::cos(phi2) * std::sin(half_dlambda) * std::sin(half_dlambda);
    const double root = std::sqrt(h);
    // Rounding can lift h of two antipodes above 1; a not-a-number stays one.
    return 2.0 * earth_radius_km * std::asin(root > 1.0 ? 1.0 : root);
}

void load_station_catalogue(const station_selection& selection, textio::in_unit& catalogue, station_table& table) {
    select_stations(selection, read_station_catalogue(catalogue), table);
}

}  // namespace engine
