#include <algorithm>
#include <string>
#include <string_view>

#include "engine/station_pass.hpp"
#include "engine/stations.hpp"
#include "textio/write.hpp"

namespace engine {
namespace {

// One row of the series file, "(i4,12f8.3)": the year and the twelve months. The list
// holds data descriptors only, so the row is exactly its fields side by side.
void append_series_row(std::string& out, std::int32_t year, const float (&months)[12]) {
    textio::append_integer_field(out, year, 4);
    for (const float value : months) textio::append_fixed_field(out, value, 8, 3);
    out.push_back('\n');
}

// The rows of one station, gathered before they are handed to the file.
std::string& row_text() {
    static std::string text;
    return text;
}

}  // namespace

void write_station_output(const app::run_settings& run, app::run_files& files, std::int32_t row) {
    const station_table& t = stations();
    const std::string_view tab(&run.separator, 1);
    textio::write_free_form(files.coordinates, {textio::item_real(t.station_lon[row]), textio::item_text(tab),
                                                textio::item_real(t.station_lat[row]), textio::item_text(tab),
                                                textio::item_int(t.station_id[row])});
    textio::write_free_form(files.series,
                            {textio::item_real(t.station_lon[row]), textio::item_text(tab),
                             textio::item_real(t.station_lat[row]), textio::item_text(tab),
                             textio::item_real(t.station_extra[row]), textio::item_int(t.station_id[row]),
                             textio::item_text(" RFMT=(i4,12f8.3) MISS= -99.000")});
    const year_month_grid& g = grid();
    for (std::int32_t y = run.fyod; y <= run.lyod; ++y) append_series_row(row_text(), y, g[y]);
    textio::write_bytes(files.series, row_text());
    row_text().clear();
    mark_whole_station(files);
}

namespace {

bool holds(const textio::out_unit& u, std::int64_t length) { return length <= u.written; }

bool both_hold(const app::run_files& files, const app::pair_lengths& end) {
    return holds(files.series, end.series) && holds(files.coordinates, end.coordinates);
}

}  // namespace

void mark_whole_station(app::run_files& files) {
    std::vector<app::pair_lengths>& ends = files.station_ends;
    ends.push_back({textio::output_length(files.series), textio::output_length(files.coordinates)});
    // Only the last end both files already hold is needed from the ends before it.
    std::size_t keep = 0;
    while (keep + 1 < ends.size() && both_hold(files, ends[keep + 1])) ++keep;
    if (keep > 0) ends.erase(ends.begin(), ends.begin() + static_cast<std::ptrdiff_t>(keep));
}

void cut_back_to_whole_stations(app::run_files& files) {
    const std::vector<app::pair_lengths>& ends = files.station_ends;
    if (ends.empty()) return;
    textio::write_output_up_to(files.series, ends.back().series);
    textio::write_output_up_to(files.coordinates, ends.back().coordinates);
    app::pair_lengths end = ends.front();
    for (const app::pair_lengths& e : ends)
        if (both_hold(files, e)) end = e;
    textio::cut_output(files.series, std::min(end.series, files.series.written));
    textio::cut_output(files.coordinates, std::min(end.coordinates, files.coordinates.written));
}

}  // namespace engine
