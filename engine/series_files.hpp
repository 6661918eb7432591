// The series file (.TSF) and the coordinates file (.YX): for every saved station a
// coordinates row, a station header and one "(i4,12f8.3)" row per year of the span. The
// two are written as a pair: after a failure both are cut back to the same whole station.
#pragma once
#include <cstdint>
#include <vector>

#include "engine/run_settings.hpp"
#include "engine/sink.hpp"
#include "textio/units.hpp"

namespace engine {

// Lengths of the series and coordinates files where a saved station ends.
struct pair_lengths {
    std::int64_t series = 0;
    std::int64_t coordinates = 0;
};

struct series_pair {
    textio::out_unit series;       // 14
    textio::out_unit coordinates;  // 15
    // Where the two files end after the header and after each saved station, from the last
    // one both files are known to hold on.
    std::vector<pair_lengths> station_ends;
};

// Empties both files (regular files only) and writes the coordinates header; from then on
// the coordinates file is flushed whenever the series file is.
void start_series_pair(series_pair& pair, char separator);

// Writes a saved station: its coordinates row, its station header and one row per year
// of the span.
void write_station_output(series_pair& pair, const run_settings& run, const station_row& row,
                          const year_month_grid& grid);

// Passes on everything written while both files are still open, so that a refused write
// can still cut the pair back to the same whole station.
void flush_series_pair(series_pair& pair);

// After a failure or an interrupt: writes what is pending up to the last whole station
// and cuts both files back to the last station that both of them hold whole. Never raises.
void cut_back_to_whole_stations(series_pair& pair);

class series_files_sink : public station_sink {
public:
    series_files_sink(const run_settings& run, series_pair& pair) : run_(run), pair_(pair) {}
    void station(const station_row& row, const station_verdict& verdict, const year_month_grid& grid) override {
        if (verdict.kind == verdict_kind::saved) write_station_output(pair_, run_, row, grid);
    }

private:
    const run_settings& run_;
    series_pair& pair_;
};

}  // namespace engine
