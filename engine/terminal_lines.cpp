#include "engine/terminal_lines.hpp"

#include <string_view>

#include "textio/write.hpp"

namespace engine {
namespace {

using textio::item_int;
using textio::item_real;
using textio::item_text;

const textio::format_list count_message = textio::parse_format("(/1x,'Number of qualifying stations = ',i8,/)");
const textio::format_list missing_station = textio::parse_format("(1x,'**station data missing** ',i8)");
const textio::format_list skipped_line = textio::parse_format("(1x,'Record will be skipped ***************')");

}  // namespace

void terminal_lines_sink::table_loaded(std::int32_t qualifying_count) {
    if (show_count_) textio::write_formatted(terminal_, count_message, {item_int(qualifying_count)});
}

void terminal_lines_sink::station(const station_row& row, const station_verdict& verdict, const year_month_grid&) {
    const std::string_view tab(&run_.separator, 1);
    switch (verdict.kind) {
        case verdict_kind::no_records:
            if (verdict.reported_missing) textio::write_formatted(terminal_, missing_station, {item_int(row.id)});
            return;
        case verdict_kind::implausible:
            textio::write_free_form(terminal_, {item_text(" :-Spurious values detected in record e.g., :- ")});
            textio::write_free_form(
                terminal_, {item_text("  "), item_int(row.id), item_text(tab), item_real(row.lon), item_text(tab),
                            item_real(row.lat), item_text(tab), item_real(verdict.value)});
            textio::write_formatted(terminal_, skipped_line);
            return;
        case verdict_kind::saved:
            textio::write_free_form(
                terminal_, {item_int(verdict.saved_count), item_text(" >> Saving Station-: "), item_real(row.lon),
                            item_text(tab), item_real(row.lat), item_text(tab), item_int(row.id), item_text(tab),
                            item_int(row.first_year), item_int(0), item_int(row.last_year)});
            return;
        case verdict_kind::span_not_covered:
        case verdict_kind::too_many_missing:
        case verdict_kind::not_in_catalogue: return;
    }
}

}  // namespace engine
