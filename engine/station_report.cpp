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
        case verdict_kind::not_in_catalogue: return "not-in-catalogue";
    }
    return "";
}

namespace {

// " name=value", without the blank before the first.
void append_detail(std::string& text, const char* name, std::int64_t value) {
    if (!text.empty()) text.push_back(' ');
    text += name;
    text.push_back('=');
    append_integer(text, value);
}

}  // namespace

std::string verdict_detail(const station_row& row, const station_verdict& verdict) {
    std::string text;
    switch (verdict.kind) {
        case verdict_kind::saved:
        case verdict_kind::no_records:
        case verdict_kind::not_in_catalogue: break;
        case verdict_kind::span_not_covered:
            append_detail(text, "first", row.first_year);
            append_detail(text, "last", row.last_year);
            break;
        case verdict_kind::too_many_missing:
            append_detail(text, "missing", verdict.missing);
            append_detail(text, "limit", verdict.limit);
            break;
        case verdict_kind::implausible:
            text = "value=";
            append_fixed_real(text, verdict.value, 3);
            append_detail(text, "year", verdict.year);
            append_detail(text, "month", verdict.month);
            break;
    }
    return text;
}

void station_report_sink::table_loaded(std::int32_t) {
    textio::write_bytes(out_, with_distance_ ? report_header_with_distance : report_header);
}

void station_report_sink::station(const station_row& row, const station_verdict& verdict, const year_month_grid&) {
    const bool in_catalogue = verdict.kind != verdict_kind::not_in_catalogue;
    std::string line;
    append_integer(line, row.id);
    line.push_back('\t');
    if (in_catalogue) append_free_form_real(line, row.lon);
    line.push_back('\t');
    if (in_catalogue) append_free_form_real(line, row.lat);
    line.push_back('\t');
    line += verdict_word(verdict.kind);
    line.push_back('\t');
    line += verdict_detail(row, verdict);
    if (with_distance_) {
        line.push_back('\t');
        if (in_catalogue) append_distance(line, row.distance_km);
    }
    line.push_back('\n');
    textio::write_bytes(out_, line);
}

}  // namespace engine
