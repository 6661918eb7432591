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

netcdf_attribute text(std::string name, std::string value) { return {std::move(name), std::move(value)}; }

template <class T>
netcdf_attribute numbers(std::string name, std::vector<T> values) {
    return {std::move(name), std::move(values)};
}

std::vector<netcdf_variable> station_variables(const station_selection& selection) {
    std::vector<netcdf_variable> v = {
        {"station_id",
         netcdf_type::int32,
         {"station"},
         {text("long_name", "station identifier"), text("cf_role", "timeseries_id")}},
        {"lat",
         netcdf_type::float32,
         {"station"},
         {text("standard_name", "latitude"), text("long_name", "station latitude"), text("units", "degrees_north"),
          text("axis", "Y")}},
        {"lon",
         netcdf_type::float32,
         {"station"},
         {text("standard_name", "longitude"), text("long_name", "station longitude"), text("units", "degrees_east"),
          text("axis", "X")}},
        {"extra",
         netcdf_type::float32,
         {"station"},
         {text("long_name", "fourth value of the station catalogue (such as the elevation)")}},
    };
    if (selection.has_near)
        v.push_back({"distance",
                     netcdf_type::float64,
                     {"station"},
                     {text("long_name", "great-circle distance from the point of --near"), text("units", "km")}});
    return v;
}

std::vector<netcdf_variable> time_variables() {
    return {
        {"time",
         netcdf_type::float64,
         {"time"},
         {text("standard_name", "time"), text("long_name", "middle of the month"),
          text("units", "days since 1800-01-01 00:00:00"), text("calendar", "standard"), text("axis", "T"),
          text("bounds", "time_bnds")}},
        {"time_bnds", netcdf_type::float64, {"time", "nv"}, {}},
    };
}

netcdf_variable data_variable(const data_kind& kind) {
    return {std::string(kind.variable),
            netcdf_type::float32,
            {"station", "time"},
            {numbers("_FillValue", std::vector<float>{missing_month}), text("standard_name", "air_temperature"),
             text("long_name", std::string(kind.long_name)), text("units", "degC"),
             text("cell_methods", std::string(kind.cell_methods)), text("coordinates", "lat lon station_id")}};
}

// The selectors other than the box, which the geospatial attributes give.
void add_selectors(std::vector<netcdf_attribute>& a, const station_selection& s) {
    if (s.has_list) a.push_back(numbers("varnex_stations", s.ids));
    if (!s.has_near) return;
    a.push_back(numbers("varnex_near_lat_lon", std::vector<float>{s.near.lat, s.near.lon}));
    if (s.near.has_radius) a.push_back(numbers("varnex_radius_km", std::vector<double>{s.near.radius_km}));
    if (s.near.nearest > 0) a.push_back(numbers("varnex_nearest", std::vector<std::int32_t>{s.near.nearest}));
}

std::vector<netcdf_attribute> global_attributes(const output_meta& meta) {
    std::vector<netcdf_attribute> a = {
        text("Conventions", "CF-1.8, ACDD-1.3"),
        text("featureType", "timeSeries"),
        text("title", "Varnex monthly station temperature series (" + meta.type_word + ")"),
        text("source", joined_sources(meta)),
        text("history", meta.history),
    };
    const station_selection& s = meta.selection;
    if (s.has_box) {
        for (netcdf_attribute& e : extent_attributes(s.box.min_lat, s.box.max_lat, s.box.min_lon, s.box.max_lon))
            a.push_back(std::move(e));
    }
    a.push_back(text("time_coverage_start", iso_date(meta.fyod, "-01-01")));
    a.push_back(text("time_coverage_end", iso_date(meta.lyod, "-12-31")));
    if (meta.has_max_missing)
        a.push_back(numbers("varnex_max_missing_months", std::vector<std::int32_t>{meta.max_missing}));
    a.push_back(text("varnex_data_type", meta.type_word));
    add_selectors(a, s);
    return a;
}

nc_type nc_type_of(netcdf_type type) {
    switch (type) {
        case netcdf_type::int32: return NC_INT;
        case netcdf_type::float32: return NC_FLOAT;
        case netcdf_type::float64: return NC_DOUBLE;
    }
    return NC_FLOAT;
}

void put_attribute(netcdf_writer& w, int var, const netcdf_attribute& a) {
    const char* name = a.name.c_str();
    if (const auto* t = std::get_if<std::string>(&a.value)) {
        check_defining(w, nc_put_att_text(w.ncid, var, name, t->size(), t->data()));
    } else if (const auto* i = std::get_if<std::vector<std::int32_t>>(&a.value)) {
        check_defining(w, nc_put_att_int(w.ncid, var, name, NC_INT, i->size(), i->data()));
    } else if (const auto* f = std::get_if<std::vector<float>>(&a.value)) {
        // The fill value of a variable is given as such, so that its values are filled.
        if (a.name == "_FillValue" && var != NC_GLOBAL) {
            check_defining(w, nc_def_var_fill(w.ncid, var, NC_FILL, f->data()));
        } else {
            check_defining(w, nc_put_att_float(w.ncid, var, name, NC_FLOAT, f->size(), f->data()));
        }
    } else if (const auto* d = std::get_if<std::vector<double>>(&a.value)) {
        check_defining(w, nc_put_att_double(w.ncid, var, name, NC_DOUBLE, d->size(), d->data()));
    }
}

int define_variable(netcdf_writer& w, const netcdf_variable& v, const std::vector<int>& dims, int deflate_level) {
    int var = -1;
    check_defining(w, nc_def_var(w.ncid, v.name.c_str(), nc_type_of(v.type), static_cast<int>(v.dimensions.size()),
                                 dims.data(), &var));
    if (v.dimensions.size() == 2 && v.dimensions[0] == "station") {
        // The data variable, over (station, time): one chunk per station, all its months.
        std::size_t months = 0;
        check_defining(w, nc_inq_dimlen(w.ncid, dims[1], &months));
        const std::size_t chunk[] = {1, months};
        check_defining(w, nc_def_var_chunking(w.ncid, var, NC_CHUNKED, chunk));
        if (deflate_level > 0) check_defining(w, nc_def_var_deflate(w.ncid, var, 1, 1, deflate_level));
    }
    for (const netcdf_attribute& a : v.attributes) put_attribute(w, var, a);
    return var;
}

// Each variable of the layout with its dimensions' ids; returns their ids in layout order.
std::vector<int> define_layout(netcdf_writer& w, const netcdf_layout& layout, int deflate_level) {
    std::vector<std::pair<std::string, int>> dims;
    for (const netcdf_dimension& d : layout.dimensions) {
        int id = -1;
        check_defining(w, nc_def_dim(w.ncid, d.name.c_str(), d.length == 0 ? NC_UNLIMITED : d.length, &id));
        dims.emplace_back(d.name, id);
    }
    std::vector<int> vars;
    for (const netcdf_variable& v : layout.variables) {
        std::vector<int> ids;
        for (const std::string& name : v.dimensions)
            for (const auto& [known, id] : dims)
                if (known == name) ids.push_back(id);
        vars.push_back(define_variable(w, v, ids, deflate_level));
    }
    for (const netcdf_attribute& a : layout.attributes) put_attribute(w, NC_GLOBAL, a);
    return vars;
}

void write_time_axis(netcdf_writer& w, int time_var, int bounds_var) {
    const time_axis axis = time_axis_of(w.fyod, w.lyod);
    check_defining(w, nc_put_var_double(w.ncid, time_var, axis.time.data()));
    check_defining(w, nc_put_var_double(w.ncid, bounds_var, axis.bounds.data()));
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

netcdf_layout netcdf_layout_of(const output_meta& meta, const std::string& name) {
    const data_kind* kind = find_kind(meta.type_word);
    if (kind == nullptr) fail(name, "unknown data type '" + meta.type_word + "'");
    if (meta.fyod > meta.lyod) fail(name, "empty span of years");
    const std::size_t months = static_cast<std::size_t>(meta.lyod - meta.fyod + 1) * 12;
    netcdf_layout layout;
    layout.dimensions = {{"station", 0}, {"time", months}, {"nv", month_bounds}};
    layout.variables = station_variables(meta.selection);
    for (netcdf_variable& v : time_variables()) layout.variables.push_back(std::move(v));
    layout.variables.push_back(data_variable(*kind));
    layout.attributes = global_attributes(meta);
    return layout;
}

std::vector<netcdf_attribute> extent_attributes(float min_lat, float max_lat, float west, float east) {
    // geospatial_lon_min greater than geospatial_lon_max crosses the 180th meridian, as ACDD has it.
    return {numbers("geospatial_lat_min", std::vector<float>{min_lat}),
            numbers("geospatial_lat_max", std::vector<float>{max_lat}),
            numbers("geospatial_lon_min", std::vector<float>{west}),
            numbers("geospatial_lon_max", std::vector<float>{east}),
            text("geospatial_lat_units", "degrees_north"),
            text("geospatial_lon_units", "degrees_east")};
}

// Month i of the span runs from bounds[2i] to bounds[2i + 1]; time[i] is their middle.
time_axis time_axis_of(std::int32_t fyod, std::int32_t lyod) {
    const std::size_t months = static_cast<std::size_t>(lyod - fyod + 1) * 12;
    time_axis axis;
    axis.time.resize(months);
    axis.bounds.resize(months * month_bounds);
    for (std::size_t i = 0; i < months; ++i) {
        const auto month = static_cast<std::int32_t>(i) + 1;
        const std::int64_t start = days_since_1800(fyod, month);
        const std::int64_t end = days_since_1800(fyod, month + 1);
        axis.bounds[2 * i] = static_cast<double>(start);
        axis.bounds[2 * i + 1] = static_cast<double>(end);
        axis.time[i] = static_cast<double>(start + end) / 2.0;  // a whole or half day: exact
    }
    return axis;
}

netcdf_writer create_netcdf(const std::string& path, const output_meta& meta, int deflate_level,
                            const std::string& name) {
    netcdf_writer w;
    w.path = path;
    w.name = name.empty() ? path : name;
    errno = 0;
    w.fyod = meta.fyod;
    w.lyod = meta.lyod;
    const netcdf_layout layout = netcdf_layout_of(meta, w.name);
    if (deflate_level < 0 || deflate_level > 9) fail(w.name, "deflate level outside 0..9");

    check(w.name, nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &w.ncid));
    int old_fill = 0;
    check_defining(w, nc_set_fill(w.ncid, NC_NOFILL, &old_fill));  // every value is written
    w.box_given = meta.selection.has_box;
    const std::vector<int> vars = define_layout(w, layout, deflate_level);
    check_defining(w, nc_enddef(w.ncid));

    w.station_id_var = vars[static_cast<std::size_t>(station_variable::station_id)];
    w.lat_var = vars[static_cast<std::size_t>(station_variable::lat)];
    w.lon_var = vars[static_cast<std::size_t>(station_variable::lon)];
    w.extra_var = vars[static_cast<std::size_t>(station_variable::extra)];
    if (meta.selection.has_near) w.distance_var = vars[static_cast<std::size_t>(station_variable::distance)];
    w.data_var = vars.back();
    write_time_axis(w, vars[vars.size() - 3], vars[vars.size() - 2]);
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
    w.extent.widen(s.lat, s.lon);
    ++w.stations;
}

void close_netcdf(netcdf_writer& w) {
    errno = 0;
    if (w.ncid >= 0 && !w.box_given && w.extent.known()) {
        check_defining(w, nc_redef(w.ncid));
        const station_extent& e = w.extent;
        for (const netcdf_attribute& a : extent_attributes(e.min_lat, e.max_lat, e.min_lon, e.max_lon))
            put_attribute(w, NC_GLOBAL, a);
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
