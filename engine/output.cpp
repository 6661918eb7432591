#include <string>
#include <string_view>

#include "engine/station_pass.hpp"
#include "engine/stations.hpp"
#include "textio/series_row.hpp"
#include "textio/write.hpp"

namespace engine {
namespace {

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
    for (std::int32_t y = run.fyod; y <= run.lyod; ++y) textio::append_series_row(row_text(), y, g[y]);
    textio::write_bytes(files.series, row_text());
    row_text().clear();
}

}  // namespace engine
