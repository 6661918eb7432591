#include "engine/netcdf_output.hpp"

#include <netcdf.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace engine {
namespace {

constexpr int month_bounds = 2;  // the nv dimension: start and end of each month

[[noreturn]] void fail(const std::string& name, const std::string& reason, int error = 0) {
    throw output_error(name + ": " + reason, error);
}

// The library's reason, and the system's when a call the library made was refused (a full
// disk is "NetCDF: HDF error: No space left on device"). errno is cleared after every call
// that succeeded, so what it holds at a failure came from the failing call.
[[noreturn]] void fail_with(const std::string& name, int status) {
    const int error = errno;
    std::string reason = nc_strerror(status);
    if (error != 0) reason += std::string(": ") + std::strerror(error);
    fail(name, reason, error);
}

void check(const std::string& name, int status) {
    if (status != NC_NOERR) fail_with(name, status);
    errno = 0;
}

// A failure while the file is being defined: the half-made file is let go first.
void check_defining(netcdf_writer& w, int status) {
    if (status == NC_NOERR) {
        errno = 0;
        return;
    }
    const int error = errno;
    discard_netcdf(w);
    errno = error;
    fail_with(w.name, status);
}

// Days since 0000-03-01 of a proleptic Gregorian date, exactly: counted in years that
// begin in March, the leap day ends a year and the month lengths follow a fixed pattern.
std::int64_t days_from_civil(std::int64_t year, std::int64_t month, std::int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t year_of_era = year - era * 400;
    const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era;
}

std::string_view trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") + 1 - first);
}

// The first header lines of both archive files, one per line.
std::string joined_sources(const output_meta& meta) {
    std::string text(trim(meta.catalogue_source));
    const std::string_view observations = trim(meta.observations_source);
    if (!text.empty() && !observations.empty()) text.push_back('\n');
    text.append(observations);
    return text;
}

// YYYY-MM-DD with the year in at least four digits (the span lies within 1700..2100).
std::string iso_date(std::int32_t year, const char* month_and_day) {
    std::string digits = std::to_string(year < 0 ? -year : year);
    if (digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
    return (year < 0 ? "-" : "") + digits + month_and_day;
}

struct data_kind {
    std::string_view word;
    std::string_view variable;
    std::string_view long_name;
    std::string_view cell_methods;
};

constexpr data_kind data_kinds[] = {
    {"tave", "tas", "monthly mean air temperature", "time: mean"},
    {"tave-raw", "tas", "monthly mean air temperature, without quality control", "time: mean"},
    {"tmax", "tasmax", "monthly mean of the daily maximum air temperature",
     "time: maximum within days time: mean over days"},
    {"tmin", "tasmin", "monthly mean of the daily minimum air temperature",
     "time: minimum within days time: mean over days"},
};

const data_kind* find_kind(std::string_view word) {
    for (const data_kind& k : data_kinds)
        if (k.word == word) return &k;
    return nullptr;
}

void put_text(netcdf_writer& w, int var, const char* name, std::string_view text) {
    check_defining(w, nc_put_att_text(w.ncid, var, name, text.size(), text.data()));
}

void put_float(netcdf_writer& w, int var, const char* name, float value) {
    check_defining(w, nc_put_att_float(w.ncid, var, name, NC_FLOAT, 1, &value));
}

int define_variable(netcdf_writer& w, const char* name, nc_type type, int rank, const int* dims) {
    int var = -1;
    check_defining(w, nc_def_var(w.ncid, name, type, rank, dims, &var));
    return var;
}

struct dimensions {
    int station = -1;
    int time = -1;
    int nv = -1;
};

void define_station_variables(netcdf_writer& w, const dimensions& d, const station_selection& selection) {
    w.station_id_var = define_variable(w, "station_id", NC_INT, 1, &d.station);
    put_text(w, w.station_id_var, "long_name", "station identifier");
    put_text(w, w.station_id_var, "cf_role", "timeseries_id");

    w.lat_var = define_variable(w, "lat", NC_FLOAT, 1, &d.station);
    put_text(w, w.lat_var, "standard_name", "latitude");
    put_text(w, w.lat_var, "long_name", "station latitude");
    put_text(w, w.lat_var, "units", "degrees_north");
    put_text(w, w.lat_var, "axis", "Y");

    w.lon_var = define_variable(w, "lon", NC_FLOAT, 1, &d.station);
    put_text(w, w.lon_var, "standard_name", "longitude");
    put_text(w, w.lon_var, "long_name", "station longitude");
    put_text(w, w.lon_var, "units", "degrees_east");
    put_text(w, w.lon_var, "axis", "X");

    w.extra_var = define_variable(w, "extra", NC_FLOAT, 1, &d.station);
    put_text(w, w.extra_var, "long_name", "fourth value of the station catalogue (such as the elevation)");

    if (!selection.has_near) return;
    w.distance_var = define_variable(w, "distance", NC_DOUBLE, 1, &d.station);
    put_text(w, w.distance_var, "long_name", "great-circle distance from the point of --near");
    put_text(w, w.distance_var, "units", "km");
}

void define_time_variables(netcdf_writer& w, const dimensions& d) {
    const int time_var = define_variable(w, "time", NC_DOUBLE, 1, &d.time);
    put_text(w, time_var, "standard_name", "time");
    put_text(w, time_var, "long_name", "middle of the month");
    put_text(w, time_var, "units", "days since 1800-01-01 00:00:00");
    put_text(w, time_var, "calendar", "standard");
    put_text(w, time_var, "axis", "T");
    put_text(w, time_var, "bounds", "time_bnds");
    const int bounds_dims[] = {d.time, d.nv};
    define_variable(w, "time_bnds", NC_DOUBLE, 2, bounds_dims);
}

void define_data_variable(netcdf_writer& w, const dimensions& d, const data_kind& kind, std::size_t months,
                          int deflate_level) {
    const int dims[] = {d.station, d.time};
    w.data_var = define_variable(w, std::string(kind.variable).c_str(), NC_FLOAT, 2, dims);
    const std::size_t chunk[] = {1, months};
    check_defining(w, nc_def_var_chunking(w.ncid, w.data_var, NC_CHUNKED, chunk));
    if (deflate_level > 0) check_defining(w, nc_def_var_deflate(w.ncid, w.data_var, 1, 1, deflate_level));
    const float fill = missing_month;
    check_defining(w, nc_def_var_fill(w.ncid, w.data_var, NC_FILL, &fill));
    put_text(w, w.data_var, "standard_name", "air_temperature");
    put_text(w, w.data_var, "long_name", kind.long_name);
    put_text(w, w.data_var, "units", "degC");
    put_text(w, w.data_var, "cell_methods", kind.cell_methods);
    put_text(w, w.data_var, "coordinates", "lat lon station_id");
}

// geospatial_lon_min greater than geospatial_lon_max crosses the 180th meridian, as ACDD has it.
void put_extent(netcdf_writer& w, float min_lat, float max_lat, float west, float east) {
    put_float(w, NC_GLOBAL, "geospatial_lat_min", min_lat);
    put_float(w, NC_GLOBAL, "geospatial_lat_max", max_lat);
    put_float(w, NC_GLOBAL, "geospatial_lon_min", west);
    put_float(w, NC_GLOBAL, "geospatial_lon_max", east);
    put_text(w, NC_GLOBAL, "geospatial_lat_units", "degrees_north");
    put_text(w, NC_GLOBAL, "geospatial_lon_units", "degrees_east");
}

// The selectors other than the box, which the geospatial attributes give.
void put_selectors(netcdf_writer& w, const station_selection& s) {
    if (s.has_list) {
        check_defining(w, nc_put_att_int(w.ncid, NC_GLOBAL, "varnex_stations", NC_INT, s.ids.size(), s.ids.data()));
    }
    if (!s.has_near) return;
    const float point[] = {s.near.lat, s.near.lon};
    check_defining(w, nc_put_att_float(w.ncid, NC_GLOBAL, "varnex_near_lat_lon", NC_FLOAT, 2, point));
    if (s.near.has_radius)
        check_defining(w, nc_put_att_double(w.ncid, NC_GLOBAL, "varnex_radius_km", NC_DOUBLE, 1, &s.near.radius_km));
    if (s.near.nearest > 0)
        check_defining(w, nc_put_att_int(w.ncid, NC_GLOBAL, "varnex_nearest", NC_INT, 1, &s.near.nearest));
}

void define_global_attributes(netcdf_writer& w, const output_meta& meta) {
    put_text(w, NC_GLOBAL, "Conventions", "CF-1.8, ACDD-1.3");
    put_text(w, NC_GLOBAL, "featureType", "timeSeries");
    put_text(w, NC_GLOBAL, "title", "Varnex monthly station temperature series (" + meta.type_word + ")");
    put_text(w, NC_GLOBAL, "source", joined_sources(meta));
    put_text(w, NC_GLOBAL, "history", meta.history);
    const station_selection& s = meta.selection;
    if (s.has_box) put_extent(w, s.box.min_lat, s.box.max_lat, s.box.min_lon, s.box.max_lon);
    put_text(w, NC_GLOBAL, "time_coverage_start", iso_date(meta.fyod, "-01-01"));
    put_text(w, NC_GLOBAL, "time_coverage_end", iso_date(meta.lyod, "-12-31"));
    if (meta.has_max_missing)
        check_defining(w, nc_put_att_int(w.ncid, NC_GLOBAL, "varnex_max_missing_months", NC_INT, 1, &meta.max_missing));
    put_text(w, NC_GLOBAL, "varnex_data_type", meta.type_word);
    put_selectors(w, s);
}

// Month i of the span runs from bounds[2i] to bounds[2i + 1]; time[i] is their middle.
void write_time_axis(netcdf_writer& w, int time_var, int bounds_var, std::size_t months) {
    std::vector<double> time(months);
    std::vector<double> bounds(months * month_bounds);
    for (std::size_t i = 0; i < months; ++i) {
        const auto month = static_cast<std::int32_t>(i) + 1;
        const std::int64_t start = days_since_1800(w.fyod, month);
        const std::int64_t end = days_since_1800(w.fyod, month + 1);
        bounds[2 * i] = static_cast<double>(start);
        bounds[2 * i + 1] = static_cast<double>(end);
        time[i] = static_cast<double>(start + end) / 2.0;  // a whole or half day: exact
    }
    check_defining(w, nc_put_var_double(w.ncid, time_var, time.data()));
    check_defining(w, nc_put_var_double(w.ncid, bounds_var, bounds.data()));
}

}  // namespace

std::string_view data_variable_name(std::string_view type_word) {
    const data_kind* kind = find_kind(type_word);
    return kind == nullptr ? std::string_view() : kind->variable;
}

std::int64_t days_since_1800(std::int32_t year, std::int32_t month) {
    const std::int64_t months_from_year_0 = static_cast<std::int64_t>(year) * 12 + (month - 1);
    const std::int64_t y = months_from_year_0 >= 0 ? months_from_year_0 / 12 : (months_from_year_0 - 11) / 12;
    const std::int64_t m = months_from_year_0 - y * 12 + 1;
    return days_from_civil(y, m, 1) - days_from_civil(1800, 1, 1);
}

netcdf_writer create_netcdf(const std::string& path, const output_meta& meta, int deflate_level,
                            const std::string& name) {
    netcdf_writer w;
    w.path = path;
    w.name = name.empty() ? path : name;
    errno = 0;
    w.fyod = meta.fyod;
    w.lyod = meta.lyod;
    const data_kind* kind = find_kind(meta.type_word);
    if (kind == nullptr) fail(w.name, "unknown data type '" + meta.type_word + "'");
    if (meta.fyod > meta.lyod) fail(w.name, "empty span of years");
    if (deflate_level < 0 || deflate_level > 9) fail(w.name, "deflate level outside 0..9");
    const std::size_t months = static_cast<std::size_t>(meta.lyod - meta.fyod + 1) * 12;

    check(w.name, nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &w.ncid));
    int old_fill = 0;
    check_defining(w, nc_set_fill(w.ncid, NC_NOFILL, &old_fill));  // every value is written
    dimensions d;
    check_defining(w, nc_def_dim(w.ncid, "station", NC_UNLIMITED, &d.station));
    check_defining(w, nc_def_dim(w.ncid, "time", months, &d.time));
    check_defining(w, nc_def_dim(w.ncid, "nv", month_bounds, &d.nv));
    w.box_given = meta.selection.has_box;
    define_station_variables(w, d, meta.selection);
    define_time_variables(w, d);
    define_data_variable(w, d, *kind, months, deflate_level);
    define_global_attributes(w, meta);
    check_defining(w, nc_enddef(w.ncid));

    int time_var = -1, bounds_var = -1;
    check_defining(w, nc_inq_varid(w.ncid, "time", &time_var));
    check_defining(w, nc_inq_varid(w.ncid, "time_bnds", &bounds_var));
    write_time_axis(w, time_var, bounds_var, months);
    return w;
}

void write_netcdf_station(netcdf_writer& w, const station_series& s) {
    if (s.fyod != w.fyod || s.lyod != w.lyod)
        fail(w.name, "station " + std::to_string(s.id) + " spans other years than the file");
    errno = 0;
    const std::size_t months = static_cast<std::size_t>(w.lyod - w.fyod + 1) * 12;
    const std::size_t at[] = {w.stations, 0};
    const std::size_t one[] = {1, months};
    check(w.name, nc_put_vara_float(w.ncid, w.data_var, at, one, &s.rows[0][0]));
    check(w.name, nc_put_vara_int(w.ncid, w.station_id_var, at, one, &s.id));
    check(w.name, nc_put_vara_float(w.ncid, w.lat_var, at, one, &s.lat));
    check(w.name, nc_put_vara_float(w.ncid, w.lon_var, at, one, &s.lon));
    check(w.name, nc_put_vara_float(w.ncid, w.extra_var, at, one, &s.extra));
    if (w.distance_var >= 0) check(w.name, nc_put_vara_double(w.ncid, w.distance_var, at, one, &s.distance_km));
    // A coordinate that is not a number widens nothing.
    if (s.lat < w.min_lat) w.min_lat = s.lat;
    if (s.lat > w.max_lat) w.max_lat = s.lat;
    if (s.lon < w.min_lon) w.min_lon = s.lon;
    if (s.lon > w.max_lon) w.max_lon = s.lon;
    ++w.stations;
}

void close_netcdf(netcdf_writer& w) {
    errno = 0;
    if (w.ncid >= 0 && !w.box_given && w.min_lat <= w.max_lat && w.min_lon <= w.max_lon) {
        check_defining(w, nc_redef(w.ncid));
        put_extent(w, w.min_lat, w.max_lat, w.min_lon, w.max_lon);
        check_defining(w, nc_enddef(w.ncid));
    }
    const int ncid = w.ncid;
    w.ncid = -1;
    if (ncid >= 0) check(w.name, nc_close(ncid));
}

void discard_netcdf(netcdf_writer& w) noexcept {
    if (w.ncid >= 0) nc_close(w.ncid);
    w.ncid = -1;
}

}  // namespace engine
