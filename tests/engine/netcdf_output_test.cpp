// The netCDF file of the saved stations, read back through the netCDF C library, ncdump
// and xarray.
#include <gtest/gtest.h>

#include <netcdf.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "engine/netcdf_output.hpp"
#include "tests/engine/client_tools.hpp"

namespace {

constexpr std::int32_t first_year = 1999;
constexpr std::int32_t last_year = 2001;
constexpr int years = last_year - first_year + 1;
constexpr std::size_t months = 12 * years;
constexpr int station_count = 3;

struct station_data {
    std::int32_t id;
    float lon, lat, extra;
    float rows[years][12];
};

// Three stations: one across the 180th meridian with a large identifier, one with missing
// months and both zeros, one all missing but January 2000.
std::vector<station_data> make_stations() {
    std::vector<station_data> s(station_count);
    s[0] = {16777217, -179.75f, -45.5f, 24.0f, {}};
    s[1] = {321, 8.25f, 51.125f, -999.0f, {}};
    s[2] = {2147483647, 179.5f, 0.0f, 1234.5f, {}};
    for (int y = 0; y < years; ++y) {
        for (int m = 0; m < 12; ++m) {
            s[0].rows[y][m] = -1.936f + static_cast<float>(y * 12 + m) * 0.25f;
            s[1].rows[y][m] = (m % 3 == 1) ? -99.0f : static_cast<float>(m) - 5.5f;
            s[2].rows[y][m] = -99.0f;
        }
    }
    s[1].rows[0][0] = -0.0f;
    s[1].rows[2][11] = 0.0f;
    s[2].rows[1][0] = 12.346f;
    return s;
}

engine::station_series series_of(const station_data& d) {
    return {d.id, d.lon, d.lat, d.extra, first_year, last_year, d.rows};
}

engine::output_meta make_meta(const std::string& type_word) {
    engine::output_meta meta;
    meta.type_word = type_word;
    meta.selection.has_box = true;
    meta.selection.box = {-50.0f, 60.5f, 170.0f, -170.25f, true};  // across the 180th meridian
    meta.fyod = first_year;
    meta.lyod = last_year;
    meta.has_max_missing = true;
    meta.max_missing = 36;
    meta.catalogue_source = "  Valmora station catalogue, edition 7  \r";
    meta.observations_source = "Valmora monthly observations\n";
    meta.history = "2026-03-14T10:00:00Z: varnex --netcdf out.nc";
    return meta;
}

struct temp_dir {
    std::string path = client::make_temp_dir();
    ~temp_dir() { client::remove_tree(path); }
};

std::string write_file(const std::string& path, const std::vector<station_data>& stations,
                       const engine::output_meta& meta, int level = engine::default_deflate_level) {
    engine::netcdf_writer w = engine::create_netcdf(path, meta, level);
    for (const station_data& d : stations) engine::write_netcdf_station(w, series_of(d));
    engine::close_netcdf(w);
    return path;
}

// Reading back through the C library.
struct reader {
    int ncid = -1;
    explicit reader(const std::string& path) { EXPECT_EQ(nc_open(path.c_str(), NC_NOWRITE, &ncid), NC_NOERR); }
    ~reader() {
        if (ncid >= 0) nc_close(ncid);
    }
    int var(const char* name) const {
        int id = -1;
        EXPECT_EQ(nc_inq_varid(ncid, name, &id), NC_NOERR) << name;
        return id;
    }
    std::size_t dim_length(const char* name) const {
        int id = -1;
        std::size_t length = 0;
        EXPECT_EQ(nc_inq_dimid(ncid, name, &id), NC_NOERR) << name;
        EXPECT_EQ(nc_inq_dimlen(ncid, id, &length), NC_NOERR) << name;
        return length;
    }
    std::string text(int varid, const char* name) const {
        std::size_t length = 0;
        nc_type type = NC_NAT;
        if (nc_inq_att(ncid, varid, name, &type, &length) != NC_NOERR) return "(absent)";
        EXPECT_EQ(type, NC_CHAR) << name;
        std::string value(length, '\0');
        EXPECT_EQ(nc_get_att_text(ncid, varid, name, value.data()), NC_NOERR);
        return value;
    }
    float float_attribute(int varid, const char* name) const {
        float v = 0;
        nc_type type = NC_NAT;
        std::size_t length = 0;
        EXPECT_EQ(nc_inq_att(ncid, varid, name, &type, &length), NC_NOERR) << name;
        EXPECT_EQ(type, NC_FLOAT) << name;
        EXPECT_EQ(length, 1u) << name;
        EXPECT_EQ(nc_get_att_float(ncid, varid, name, &v), NC_NOERR);
        return v;
    }
    bool has_attribute(int varid, const char* name) const {
        int id = -1;
        return nc_inq_attid(ncid, varid, name, &id) == NC_NOERR;
    }
};

// Days since 1800-01-01 of the first of a month, counted day by day from 1800.
double first_of_month(int year, int month) {
    const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    auto leap = [](int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
    long days = 0;
    for (int y = 1800; y < year; ++y) days += leap(y) ? 366 : 365;
    for (int m = 1; m < month; ++m) days += lengths[m - 1] + (m == 2 && leap(year) ? 1 : 0);
    return static_cast<double>(days);
}

TEST(NetcdfOutput, DaysSince1800CountTheCalendar) {
    EXPECT_EQ(engine::days_since_1800(1800, 1), 0);
    EXPECT_EQ(engine::days_since_1800(1800, 3), 59);  // 1800 is not a leap year
    EXPECT_EQ(engine::days_since_1800(1999, 1), 72683);
    EXPECT_EQ(engine::days_since_1800(2000, 2), 73079);
    EXPECT_EQ(engine::days_since_1800(2000, 3), 73108);  // February 2000 has 29 days
    EXPECT_EQ(engine::days_since_1800(2001, 13), 73779);
    for (int y = 1800; y <= 2021; ++y)
        for (int m = 1; m <= 12; ++m) ASSERT_EQ(engine::days_since_1800(y, m), first_of_month(y, m)) << y << "-" << m;
}

TEST(NetcdfOutput, DataVariableFollowsTheType) {
    EXPECT_EQ(engine::data_variable_name("tave"), "tas");
    EXPECT_EQ(engine::data_variable_name("tave-raw"), "tas");
    EXPECT_EQ(engine::data_variable_name("tmax"), "tasmax");
    EXPECT_EQ(engine::data_variable_name("tmin"), "tasmin");
    EXPECT_EQ(engine::data_variable_name("TAVE"), "");
}

TEST(NetcdfOutput, EveryCellAndAttributeReadsBack) {
    temp_dir dir;
    const std::vector<station_data> stations = make_stations();
    const std::string path = write_file(dir.path + "/stations.nc", stations, make_meta("tave"));
    reader r(path);
    int format = 0;
    ASSERT_EQ(nc_inq_format(r.ncid, &format), NC_NOERR);
    EXPECT_EQ(format, NC_FORMAT_NETCDF4);

    int unlimited = -1, station_dim = -1;
    ASSERT_EQ(nc_inq_unlimdim(r.ncid, &unlimited), NC_NOERR);
    ASSERT_EQ(nc_inq_dimid(r.ncid, "station", &station_dim), NC_NOERR);
    EXPECT_EQ(unlimited, station_dim);
    EXPECT_EQ(r.dim_length("station"), static_cast<std::size_t>(station_count));
    EXPECT_EQ(r.dim_length("time"), months);
    EXPECT_EQ(r.dim_length("nv"), 2u);

    std::int32_t ids[station_count];
    float lat[station_count], lon[station_count], extra[station_count];
    ASSERT_EQ(nc_get_var_int(r.ncid, r.var("station_id"), ids), NC_NOERR);
    ASSERT_EQ(nc_get_var_float(r.ncid, r.var("lat"), lat), NC_NOERR);
    ASSERT_EQ(nc_get_var_float(r.ncid, r.var("lon"), lon), NC_NOERR);
    ASSERT_EQ(nc_get_var_float(r.ncid, r.var("extra"), extra), NC_NOERR);
    std::vector<float> cells(station_count * months);
    ASSERT_EQ(nc_get_var_float(r.ncid, r.var("tas"), cells.data()), NC_NOERR);
    for (int s = 0; s < station_count; ++s) {
        EXPECT_EQ(ids[s], stations[s].id);
        EXPECT_EQ(lat[s], stations[s].lat);
        EXPECT_EQ(lon[s], stations[s].lon);
        EXPECT_EQ(extra[s], stations[s].extra);
        for (std::size_t t = 0; t < months; ++t) {
            const float expected = stations[s].rows[t / 12][t % 12];
            EXPECT_EQ(std::bit_cast<std::uint32_t>(cells[s * months + t]), std::bit_cast<std::uint32_t>(expected))
                << "station " << s << " month " << t;
        }
    }

    std::vector<double> time(months), bounds(2 * months);
    ASSERT_EQ(nc_get_var_double(r.ncid, r.var("time"), time.data()), NC_NOERR);
    ASSERT_EQ(nc_get_var_double(r.ncid, r.var("time_bnds"), bounds.data()), NC_NOERR);
    for (std::size_t t = 0; t < months; ++t) {
        const int year = first_year + static_cast<int>(t / 12), month = static_cast<int>(t % 12) + 1;
        const double start = first_of_month(year, month);
        const double end = month == 12 ? first_of_month(year + 1, 1) : first_of_month(year, month + 1);
        EXPECT_EQ(bounds[2 * t], start) << t;
        EXPECT_EQ(bounds[2 * t + 1], end) << t;
        EXPECT_EQ(time[t], (start + end) / 2) << t;
    }
    EXPECT_EQ(bounds[2 * 13 + 1] - bounds[2 * 13], 29.0);  // February 2000
    EXPECT_EQ(bounds[2 * 1 + 1] - bounds[2 * 1], 28.0);    // February 1999
    EXPECT_EQ(time[13], 73079.0 + 14.5);
    EXPECT_EQ(bounds[0], 72683.0);
    EXPECT_EQ(bounds[2 * months - 1], 73779.0);

    const int id = r.var("station_id");
    EXPECT_EQ(r.text(id, "cf_role"), "timeseries_id");
    EXPECT_EQ(r.text(id, "long_name"), "station identifier");
    const int la = r.var("lat"), lo = r.var("lon");
    EXPECT_EQ(r.text(la, "standard_name"), "latitude");
    EXPECT_EQ(r.text(la, "units"), "degrees_north");
    EXPECT_EQ(r.text(la, "axis"), "Y");
    EXPECT_EQ(r.text(lo, "standard_name"), "longitude");
    EXPECT_EQ(r.text(lo, "units"), "degrees_east");
    EXPECT_EQ(r.text(lo, "axis"), "X");
    EXPECT_EQ(r.text(r.var("extra"), "long_name"), "fourth value of the station catalogue (such as the elevation)");
    const int tv = r.var("time");
    EXPECT_EQ(r.text(tv, "units"), "days since 1800-01-01 00:00:00");
    EXPECT_EQ(r.text(tv, "calendar"), "standard");
    EXPECT_EQ(r.text(tv, "standard_name"), "time");
    EXPECT_EQ(r.text(tv, "axis"), "T");
    EXPECT_EQ(r.text(tv, "bounds"), "time_bnds");

    const int data = r.var("tas");
    EXPECT_EQ(r.text(data, "standard_name"), "air_temperature");
    EXPECT_EQ(r.text(data, "units"), "degC");
    EXPECT_EQ(r.text(data, "cell_methods"), "time: mean");
    EXPECT_EQ(r.text(data, "coordinates"), "lat lon station_id");
    EXPECT_EQ(r.float_attribute(data, "_FillValue"), -99.0f);
    int storage = -1, shuffle = 0, deflate = 0, level = 0;
    std::size_t chunk[2] = {};
    ASSERT_EQ(nc_inq_var_chunking(r.ncid, data, &storage, chunk), NC_NOERR);
    EXPECT_EQ(storage, NC_CHUNKED);
    EXPECT_EQ(chunk[0], 1u);
    EXPECT_EQ(chunk[1], months);
    ASSERT_EQ(nc_inq_var_deflate(r.ncid, data, &shuffle, &deflate, &level), NC_NOERR);
    EXPECT_EQ(shuffle, 1);
    EXPECT_EQ(deflate, 1);
    EXPECT_EQ(level, engine::default_deflate_level);

    EXPECT_EQ(r.text(NC_GLOBAL, "Conventions"), "CF-1.8, ACDD-1.3");
    EXPECT_EQ(r.text(NC_GLOBAL, "featureType"), "timeSeries");
    EXPECT_EQ(r.text(NC_GLOBAL, "title"), "Varnex monthly station temperature series (tave)");
    EXPECT_EQ(r.text(NC_GLOBAL, "source"), "Valmora station catalogue, edition 7\nValmora monthly observations");
    EXPECT_EQ(r.text(NC_GLOBAL, "history"), "2026-03-14T10:00:00Z: varnex --netcdf out.nc");
    EXPECT_EQ(r.float_attribute(NC_GLOBAL, "geospatial_lat_min"), -50.0f);
    EXPECT_EQ(r.float_attribute(NC_GLOBAL, "geospatial_lat_max"), 60.5f);
    EXPECT_EQ(r.float_attribute(NC_GLOBAL, "geospatial_lon_min"), 170.0f);
    EXPECT_EQ(r.float_attribute(NC_GLOBAL, "geospatial_lon_max"), -170.25f);
    EXPECT_EQ(r.text(NC_GLOBAL, "time_coverage_start"), "1999-01-01");
    EXPECT_EQ(r.text(NC_GLOBAL, "time_coverage_end"), "2001-12-31");
    EXPECT_EQ(r.text(NC_GLOBAL, "varnex_data_type"), "tave");
    std::int32_t max_missing = 0;
    nc_type type = NC_NAT;
    ASSERT_EQ(nc_inq_atttype(r.ncid, NC_GLOBAL, "varnex_max_missing_months", &type), NC_NOERR);
    EXPECT_EQ(type, NC_INT);
    ASSERT_EQ(nc_get_att_int(r.ncid, NC_GLOBAL, "varnex_max_missing_months", &max_missing), NC_NOERR);
    EXPECT_EQ(max_missing, 36);
}

struct kind_case {
    const char* type_word;
    const char* variable;
    const char* cell_methods;
};

TEST(NetcdfOutput, EachTypeNamesItsVariableAndCellMethods) {
    const kind_case cases[] = {
        {"tave", "tas", "time: mean"},
        {"tave-raw", "tas", "time: mean"},
        {"tmax", "tasmax", "time: maximum within days time: mean over days"},
        {"tmin", "tasmin", "time: minimum within days time: mean over days"},
    };
    temp_dir dir;
    for (const kind_case& c : cases) {
        engine::output_meta meta = make_meta(c.type_word);
        meta.has_max_missing = false;
        const std::string path = write_file(dir.path + "/" + c.type_word + ".nc", make_stations(), meta);
        reader r(path);
        int nvars = 0;
        ASSERT_EQ(nc_inq_nvars(r.ncid, &nvars), NC_NOERR);
        EXPECT_EQ(nvars, 7) << c.type_word;  // station_id, lat, lon, extra, time, time_bnds, data
        EXPECT_EQ(r.text(r.var(c.variable), "cell_methods"), c.cell_methods);
        EXPECT_EQ(r.text(NC_GLOBAL, "varnex_data_type"), c.type_word);
        EXPECT_FALSE(r.has_attribute(NC_GLOBAL, "varnex_max_missing_months")) << c.type_word;
    }
}

TEST(NetcdfOutput, UncompressedFileHoldsTheSameCells) {
    temp_dir dir;
    const std::vector<station_data> stations = make_stations();
    const std::string path = write_file(dir.path + "/plain.nc", stations, make_meta("tmin"), 0);
    reader r(path);
    int shuffle = 0, deflate = 1, level = 0;
    ASSERT_EQ(nc_inq_var_deflate(r.ncid, r.var("tasmin"), &shuffle, &deflate, &level), NC_NOERR);
    EXPECT_EQ(deflate, 0);
    std::vector<float> cells(station_count * months);
    ASSERT_EQ(nc_get_var_float(r.ncid, r.var("tasmin"), cells.data()), NC_NOERR);
    EXPECT_EQ(cells[months + 1], -99.0f);
    EXPECT_EQ(cells[2 * months + 12], 12.346f);
}

TEST(NetcdfOutput, EmptySelectionIsAValidFile) {
    temp_dir dir;
    const std::string path = write_file(dir.path + "/empty.nc", {}, make_meta("tave"));
    reader r(path);
    EXPECT_EQ(r.dim_length("station"), 0u);
    EXPECT_EQ(r.dim_length("time"), months);
}

TEST(NetcdfOutput, ErrorsNameTheFileAndTheLibrarysReason) {
    const std::string path = "/nonexistent-directory/stations.nc";
    try {
        engine::netcdf_writer w = engine::create_netcdf(path, make_meta("tave"));
        engine::discard_netcdf(w);
        FAIL() << "no error";
    } catch (const engine::output_error& e) {
        // HDF5 reports the failed open in its own words; the name leads the message.
        const std::string message = e.what();
        EXPECT_TRUE(message.starts_with(path + ": ")) << message;
        EXPECT_GT(message.size(), path.size() + 2) << message;
    }
    temp_dir dir;
    EXPECT_THROW(engine::create_netcdf(dir.path + "/x.nc", make_meta("tavg")), engine::output_error);
    engine::netcdf_writer w = engine::create_netcdf(dir.path + "/span.nc", make_meta("tave"));
    station_data d = make_stations()[0];
    engine::station_series s = series_of(d);
    s.lyod = 2000;
    EXPECT_THROW(engine::write_netcdf_station(w, s), engine::output_error);
    engine::close_netcdf(w);
}

TEST(NetcdfOutput, NcdumpShowsTheStructure) {
    REQUIRE_CLIENT(client::program_found("ncdump"), "ncdump");
    temp_dir dir;
    const std::string path = write_file(dir.path + "/stations.nc", make_stations(), make_meta("tmax"));
    const client::command_result r = client::run_command("ncdump -h " + client::quoted(path));
    ASSERT_EQ(r.exit_status, 0) << r.output;
    for (const char* text :
         {"station = UNLIMITED ; // (3 currently)", "time = 36 ;", "nv = 2 ;", "int station_id(station) ;",
          "station_id:cf_role = \"timeseries_id\" ;", "float lat(station) ;", "float lon(station) ;",
          "float extra(station) ;", "double time(time) ;", "double time_bnds(time, nv) ;",
          "float tasmax(station, time) ;", "tasmax:_FillValue = -99.f ;", ":featureType = \"timeSeries\" ;",
          ":Conventions = \"CF-1.8, ACDD-1.3\" ;", ":varnex_max_missing_months = 36 ;"})
        EXPECT_NE(r.output.find(text), std::string::npos) << text << "\n" << r.output;
}

const char* const xarray_check = R"(
import sys
import numpy as np, xarray as xr
ds = xr.open_dataset(sys.argv[1])
name, stations = sys.argv[2], int(sys.argv[3])
assert ds.sizes["station"] == stations, ds.sizes
assert ds.sizes["time"] == 36, ds.sizes
assert np.issubdtype(ds["time"].dtype, np.datetime64), ds["time"].dtype
assert str(ds["time"].values[0]) .startswith("1999-01-16T12:00"), ds["time"].values[0]
assert str(ds["time"].values[13]).startswith("2000-02-15T12:00"), ds["time"].values[13]
assert str(ds["time_bnds"].values[13][0]).startswith("2000-02-01"), ds["time_bnds"].values[13]
assert str(ds["time_bnds"].values[13][1]).startswith("2000-03-01"), ds["time_bnds"].values[13]
assert ds["station_id"].attrs["cf_role"] == "timeseries_id"
assert ds[name].dims == ("station", "time"), ds[name].dims
assert ds.attrs["featureType"] == "timeSeries"
if stations:
    v = ds[name].values
    assert ds["station_id"].values.tolist() == [16777217, 321, 2147483647]
    assert np.isnan(v[1, 1]) and np.isnan(v[2, 0]) and not np.isnan(v[2, 12])
    assert v[2, 12] == np.float32(12.346)
    assert np.isnan(v[2]).sum() == 35
    assert np.isnan(v[1]).sum() == 12
    assert not (v == -99).any()
    assert ds["lon"].values[0] == np.float32(-179.75)
    assert set(ds[name].coords) >= {"lat", "lon", "station_id", "time"}, list(ds[name].coords)
print("ok")
)";

TEST(NetcdfOutput, XarrayDecodesTimesAndMissingMonths) {
    REQUIRE_CLIENT(client::python_has("xarray, netCDF4, numpy"), "/usr/bin/python3 with xarray and netCDF4");
    temp_dir dir;
    const std::string path = write_file(dir.path + "/stations.nc", make_stations(), make_meta("tave"));
    const client::command_result r = client::run_python(xarray_check, client::quoted(path) + " tas 3");
    EXPECT_EQ(r.exit_status, 0) << r.output;
    EXPECT_EQ(r.output, "ok\n");
}

TEST(NetcdfOutput, XarrayOpensAnEmptySelection) {
    REQUIRE_CLIENT(client::python_has("xarray, netCDF4, numpy"), "/usr/bin/python3 with xarray and netCDF4");
    temp_dir dir;
    const std::string path = write_file(dir.path + "/empty.nc", {}, make_meta("tmin"));
    const client::command_result r = client::run_python(xarray_check, client::quoted(path) + " tasmin 0");
    EXPECT_EQ(r.exit_status, 0) << r.output;
    EXPECT_EQ(r.output, "ok\n");
}

}  // namespace
