#include "engine/station_report.hpp"

#include <string>

#include "engine/value_text.hpp"

namespace engine {

const char* verdict_word(verdict_kind kind) {
    switch (kind) {
        case verdict_kind::saved: return "saved";
        case verdict_kind::no_records: return "no-records";
        case verdict_kind::span_not_covered: return "span-not-covered";
        case verdict_kind::too_many_missing: return "too-many-missing";
        case verdict_kind::implausible: return "implausible";
    }
    return "";
}

std::string verdict_detail(const station_row& row, const station_verdict& verdict) {
    std::string text;
    switch (verdict.kind) {
        case verdict_kind::saved:
        case verdict_kind::no_records: break;
        case verdict_kind::span_not_covered:
            text = "first=";
            append_integer(text, row.first_year);
            text += " last=";
            append_integer(text, row.last_year);
            break;
        case verdict_kind::too_many_missing:
            text = "missing=";
            append_integer(text, verdict.missing);
            text += " limit=";
            append_integer(text, verdict.limit);
            break;
        case verdict_kind::implausible:
            text = "value=";
            append_fixed_real(text, verdict.value, 3);
            text += " year=";
            append_integer(text, verdict.year);
            text += " month=";
            append_integer(text, verdict.month);
            break;
    }
    return text;
}

void station_report_sink::table_loaded(std::int32_t) { textio::write_bytes(out_, report_header); }

void station_report_sink::station(const station_row& row, const station_verdict& verdict, const year_month_grid&) {
    std::string line;
    append_integer(line, row.id);
    line.push_back('\t');
    append_free_form_real(line, row.lon);
    line.push_back('\t');
    append_free_form_real(line, row.lat);
    line.push_back('\t');
    line += verdict_word(verdict.kind);
    line.push_back('\t');
    line += verdict_detail(row, verdict);
    line.push_back('\n');
    textio::write_bytes(out_, line);
}

}  // namespace engine
