#include <string_view>

#include "engine/station_pass.hpp"
#include "engine/stations.hpp"
#include "textio/write.hpp"

namespace engine {
namespace {

const textio::format_list series_row = textio::parse_format("(i4,12f8.3)");

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
    textio::out_item items[13];
    for (std::int32_t y = run.fyod; y <= run.lyod; ++y) {
        items[0] = textio::item_int(y);
        for (int m = 0; m < 12; ++m) items[m + 1] = textio::item_real(g[y][m]);
        textio::write_formatted(files.series, series_row, items);
    }
}

}  // namespace engine
