#include "engine/series_files.hpp"

#include <algorithm>
#include <string>
#include <string_view>

#include "textio/series_row.hpp"
#include "textio/write.hpp"

namespace engine {
namespace {

const textio::format_list coordinates_header = textio::parse_format("('#Lon',a,'Lat',a,'Station ID#')");

bool holds(const textio::out_unit& u, std::int64_t length) { return length <= u.written; }

bool both_hold(const series_pair& pair, const pair_lengths& end) {
    return holds(pair.series, end.series) && holds(pair.coordinates, end.coordinates);
}

// Notes that both files end after the same whole station (or after the header).
void mark_whole_station(series_pair& pair) {
    std::vector<pair_lengths>& ends = pair.station_ends;
    ends.push_back({textio::output_length(pair.series), textio::output_length(pair.coordinates)});
    // Of the ends before it, only the last one both files already hold is needed.
    std::size_t keep = 0;
    while (keep + 1 < ends.size() && both_hold(pair, ends[keep + 1])) ++keep;
    if (keep > 0) ends.erase(ends.begin(), ends.begin() + static_cast<std::ptrdiff_t>(keep));
}

}  // namespace

// The coordinates rows go to the system with the series rows they belong to, and the
// header at once: on a disk that fills up, both files then end after the same whole
// station, and the coordinates file keeps its header whenever the disk took it.
void start_series_pair(series_pair& pair, char separator) {
    textio::empty_output(pair.series);
    textio::empty_output(pair.coordinates);
    pair.series.flushed_first = &pair.coordinates;
    const std::string_view tab(&separator, 1);
    textio::write_formatted(pair.coordinates, coordinates_header, {textio::item_text(tab), textio::item_text(tab)});
    textio::flush_output(pair.coordinates);
    pair.station_ends.clear();
    mark_whole_station(pair);
}

void write_station_output(series_pair& pair, const run_settings& run, const station_row& row,
                          const year_month_grid& grid) {
    const std::string_view tab(&run.separator, 1);
    textio::write_free_form(pair.coordinates,
                            {textio::item_real(row.lon), textio::item_text(tab), textio::item_real(row.lat),
                             textio::item_text(tab), textio::item_int(row.id)});
    textio::write_free_form(
        pair.series,
        {textio::item_real(row.lon), textio::item_text(tab), textio::item_real(row.lat), textio::item_text(tab),
         textio::item_real(row.extra), textio::item_int(row.id), textio::item_text(" RFMT=(i4,12f8.3) MISS= -99.000")});
    std::string rows;
    rows.reserve(static_cast<std::size_t>(run.lyod - run.fyod + 1) * 101);
    for (std::int32_t y = run.fyod; y <= run.lyod; ++y) textio::append_series_row(rows, y, grid[y]);
    textio::write_bytes(pair.series, rows);
    mark_whole_station(pair);
}

void flush_series_pair(series_pair& pair) {
    textio::flush_output(pair.series);
    textio::flush_output(pair.coordinates);
}

void cut_back_to_whole_stations(series_pair& pair) {
    const std::vector<pair_lengths>& ends = pair.station_ends;
    if (ends.empty()) return;
    textio::write_output_up_to(pair.series, ends.back().series);
    textio::write_output_up_to(pair.coordinates, ends.back().coordinates);
    pair_lengths end = ends.front();
    for (const pair_lengths& e : ends)
        if (both_hold(pair, e)) end = e;
    textio::cut_output(pair.series, std::min(end.series, pair.series.written));
    textio::cut_output(pair.coordinates, std::min(end.coordinates, pair.coordinates.written));
}

}  // namespace engine
