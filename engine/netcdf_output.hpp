// The saved stations as a netCDF-4 file following CF-1.8: featureType timeSeries in the
// orthogonal multidimensional layout, one data variable over (station, time), the station
// dimension unlimited so that stations are written one at a time as they are saved and an
// empty selection is still a valid file.
#pragma once
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine/station_series.hpp"

namespace engine {

// zlib level of the data variable's chunks (1 station x all months, shuffled first).
inline constexpr int default_deflate_level = 1;

// What the file holds, as plain data: the writer defines the file from it, and the Python
// module builds its Dataset from it, so that both hold the same names, types and texts.
enum class netcdf_type { int32, float32, float64 };

struct netcdf_attribute {
    std::string name;
    std::variant<std::string, std::vector<std::int32_t>, std::vector<float>, std::vector<double>> value;
};

struct netcdf_dimension {
    std::string name;
    std::size_t length = 0;  // 0: unlimited (the station dimension)
};

// "_FillValue" among the attributes is the variable's fill value.
struct netcdf_variable {
    std::string name;
    netcdf_type type = netcdf_type::float32;
    std::vector<std::string> dimensions;
    std::vector<netcdf_attribute> attributes;
};

struct netcdf_layout {
    std::vector<netcdf_dimension> dimensions;
    // The station variables in the order of station_variable, then time, time_bnds and the
    // data variable, last.
    std::vector<netcdf_variable> variables;
    std::vector<netcdf_attribute> attributes;
};

// The station variables, by their place in netcdf_layout::variables; distance only with a
// near selector.
enum class station_variable { station_id, lat, lon, extra, distance };

// The file of a run; throws output_error naming `name` for a data type word it does not
// know or an empty span. Without a box, the extent (extent_attributes) comes when the
// stations are known.
netcdf_layout netcdf_layout_of(const output_meta& meta, const std::string& name);

// The geospatial attributes of a box or of the saved stations' extent.
std::vector<netcdf_attribute> extent_attributes(float min_lat, float max_lat, float west, float east);

// The extent of the saved stations, for a run without a box; a coordinate that is not a
// number widens nothing.
struct station_extent {
    float min_lat = std::numeric_limits<float>::infinity();
    float max_lat = -std::numeric_limits<float>::infinity();
    float min_lon = std::numeric_limits<float>::infinity();
    float max_lon = -std::numeric_limits<float>::infinity();
    void widen(float lat, float lon) {
        if (lat < min_lat) min_lat = lat;
        if (lat > max_lat) max_lat = lat;
        if (lon < min_lon) min_lon = lon;
        if (lon > max_lon) max_lon = lon;
    }
    bool known() const { return min_lat <= max_lat && min_lon <= max_lon; }
};

// The time axis of the span: each month's middle, and its start and end (two per month),
// in the days of the time variable's units.
struct time_axis {
    std::vector<double> time;
    std::vector<double> bounds;
};
time_axis time_axis_of(std::int32_t fyod, std::int32_t lyod);

struct netcdf_writer {
    int ncid = -1;
    std::string path;
    std::string name;  // as messages name it: the final name of a file made under another
    std::int32_t fyod = 0;
    std::int32_t lyod = 0;
    std::size_t stations = 0;  // written so far
    int station_id_var = -1;
    int lat_var = -1;
    int lon_var = -1;
    int extra_var = -1;
    int distance_var = -1;  // with a near selector only
    int data_var = -1;
    // Without a box, the geospatial attributes give the extent of the saved stations, known
    // when the file is closed.
    bool box_given = true;
    station_extent extent;
};

// Creates (or replaces) the file at `path`, defines its dimensions, variables and
// attributes and writes the time axis. deflate_level 0 stores the data uncompressed.
// Throws output_error naming the file (`name`, or `path` when it is empty) and the
// library's reason, followed by the system's when the system refused a call.
netcdf_writer create_netcdf(const std::string& path, const output_meta& meta, int deflate_level = default_deflate_level,
                            const std::string& name = "");

// Appends one station along the station dimension. Its span must be the file's.
void write_netcdf_station(netcdf_writer& w, const station_series& s);

// Gives the extent of the saved stations when no box was given, and closes the file,
// which writes what the library still holds; the writer is closed even when this throws.
void close_netcdf(netcdf_writer& w);

// Closes without reporting, for a run that is failing.
void discard_netcdf(netcdf_writer& w) noexcept;

// Name of the data variable for a data type word: tas for tave and tave-raw, tasmax for
// tmax, tasmin for tmin; empty for any other word.
std::string_view data_variable_name(std::string_view type_word);

// Days from 1800-01-01 to the first day of the month (1..12) of `year`, proleptic
// Gregorian; months past 12 run on into the following years.
std::int64_t days_since_1800(std::int32_t year, std::int32_t month);

// Writes every saved station of the span.
using netcdf_sink = saved_series_sink<netcdf_writer, write_netcdf_station>;

}  // namespace engine
