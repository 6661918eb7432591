// The saved stations as one long CSV table: a header line, then one line per station, year
// and month. RFC 4180 with line-feed line ends; every field is a number, so nothing is
// quoted. The texts are those of the series and coordinates files without their blanks.
#pragma once
#include <string>

#include "engine/station_series.hpp"

namespace engine {

inline constexpr const char* csv_header = "station_id,longitude,latitude,extra,year,month,value\n";
// With a near selector, the station's distance from the point is the last column.
inline constexpr const char* csv_header_with_distance =
    "station_id,longitude,latitude,extra,year,month,value,distance_km\n";

struct csv_writer {
    int fd = -1;
    bool owns_fd = false;  // false for a stream
    bool with_distance = false;
    std::string path;     // as messages name it
    std::string pending;  // lines not yet handed to the system
};

// Creates (or empties) the file at `path` and queues the header line. Throws output_error
// when the file cannot be opened.
csv_writer open_csv(const std::string& path, bool with_distance = false);

// Writes to an open stream, which is never closed here; `name` is what messages call it.
// A negative descriptor fails at the first write (EBADF).
csv_writer open_csv_stream(int fd, const std::string& name, bool with_distance = false);

// Queues the lines of one station, writing when enough have gathered; throws output_error
// when a write fails.
void write_csv_station(csv_writer& w, const station_series& s);

// Writes what is queued and closes the file (standard output stays open); throws
// output_error when a write or the close fails. The writer is closed either way.
void close_csv(csv_writer& w);

// Closes without writing what is queued and without reporting, for a run that is failing.
void discard_csv(csv_writer& w) noexcept;

// The lines of one station, as write_csv_station writes them.
void append_csv_station(std::string& out, const station_series& s, bool with_distance = false);

// Writes every saved station of the span.
using csv_sink = saved_series_sink<csv_writer, write_csv_station>;

}  // namespace engine
