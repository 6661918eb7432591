// The station engine's entry point: the catalogue is read through the box into the
// station table, then each station's block is collected, ordered, laid out in the
// year-by-month grid and screened, and its verdict handed to the sink.
#pragma once
#include <cstdint>
#include <vector>

#include "engine/grid.hpp"
#include "engine/run_settings.hpp"
#include "engine/sink.hpp"
#include "engine/stations.hpp"
#include "textio/failure.hpp"

namespace engine {

inline constexpr float spurious_above = 100.0f;
inline constexpr float spurious_below = -70.0f;

struct extraction_summary {
    std::int32_t qualifying = 0;
    std::int32_t saved = 0;
    std::int32_t no_records = 0;
    std::int32_t span_not_covered = 0;
    std::int32_t too_many_missing = 0;
    std::int32_t implausible = 0;
    std::int32_t not_in_catalogue = 0;  // listed identifiers that no catalogue station has
    int stop_signal = 0;                // SIGINT, SIGTERM or SIGHUP when the pass stopped at a station boundary
};

// One selection of a pass over data.txt: its settings, its table and the sink told about its
// stations, and how its part of the pass went.
struct selection_pass {
    const run_settings* run = nullptr;
    station_table table;
    station_sink* sink = nullptr;
    extraction_summary summary;
    bool failed = false;
    textio::io_failure failure;  // when failed: the record its own run would have failed on
};

// Reads data.txt once for all the selections, each block at most once, and tells each
// selection's sink about its stations in table order, then about its listed identifiers
// that are not in the catalogue, as a run of its own would. A record that cannot be read
// fails exactly the selections whose own runs would read it: their sinks are told about
// the stations before it, and `failed` is set; the others go on. A failure of a sink is
// thrown as textio::io_failure. A stop signal ends the pass before the next station.
void extract_selections(std::vector<selection_pass>& selections, textio::in_unit& observations);

// Reads data.txt as far as the searches need and tells the sink about every station of the
// table, then about each listed identifier that is not in the catalogue. A read failure or
// a failure of a sink is thrown as textio::io_failure. A stop signal noted
// (util::catch_stop_signals) ends the pass before the next station.
extraction_summary extract_stations(const run_settings& run, station_table table, textio::in_unit& observations,
                                    station_sink& sink);

// The same for the box of `run`, after the catalogue is read to its end and closed.
extraction_summary extract_stations(const run_settings& run, archive& files, station_sink& sink);

// The verdict on a station whose block lies in the grid: an implausible value of the span
// first, then the years of the block against the span, then the missing months.
station_verdict screen_station(const run_settings& run, const station_row& row, const station_grid& grid);

}  // namespace engine
