#include "app/run_setup.hpp"

#include <cstring>
#include <ctime>
#include <string_view>

#include "app/station_list.hpp"
#include "engine/value_text.hpp"
#include "textio/read.hpp"

namespace app {
namespace {

// Text from an archive as a message shows it: its first 40 bytes, "..." when there is
// more, and every byte outside printable ASCII as \xHH, so that a huge or binary token
// makes a short line and reaches the terminal as plain text.
std::string shown_text(std::string_view text) {
    constexpr std::size_t most_shown = 40;
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string shown;
    for (const char c : text.substr(0, most_shown)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f) {
            shown.push_back(c);
        } else {
            shown += "\\x";
            shown.push_back(hex[byte >> 4]);
            shown.push_back(hex[byte & 0xf]);
        }
    }
    if (text.size() > most_shown) shown += "...";
    return shown;
}

}  // namespace

engine::run_settings settings_of(const batch_options& o) {
    engine::run_settings run;
    run.data_type = o.data_type;
    std::memcpy(run.type_tag, engine::data_type_tags[o.data_type - 1], sizeof run.type_tag);
    run.min_lat = o.min_lat;
    run.max_lat = o.max_lat;
    run.min_lon = o.min_lon;
    run.max_lon = o.max_lon;
    run.crosses_dateline = o.crosses_dateline ? 1 : 0;
    run.fyod = o.fyod;
    run.lyod = o.lyod;
    const std::int32_t potential_months = engine::potential_months(o.fyod, o.lyod);
    run.missing_fraction = o.missing_fraction;
    run.max_missing =
        o.has_max_missing ? engine::missing_month_limit(potential_months, o.missing_fraction) : potential_months;
    return run;
}

// Opens an archive file, decompressed when it is compressed, and passes over its header;
// returns the header's first line.
std::string open_archive_file(textio::in_unit& unit, int unit_number, const std::string& path, int header_lines) {
    constexpr auto coding = textio::input_coding::decompress_when_compressed;
    if (path == "-") {
        textio::open_standard_input(unit, unit_number, coding);
    } else {
        textio::open_input(unit, unit_number, path, textio::input_access::mapped_when_possible, coding);
    }
    std::string first;
    std::string_view line;
    for (int i = 1; i <= header_lines; ++i) {
        if (!textio::next_raw_record(unit, line))
            textio::raise_failure(
                textio::failure_at(textio::failure_kind::end_of_file, "READ", unit_number, unit.name, unit.line + 1));
        if (i == 1) first = std::string(engine::trim_blanks(line));
    }
    while (!first.empty() && (first.back() == '\r' || first.back() == ' ')) first.pop_back();
    return first;
}

selection_refusal read_selection(const batch_options& o, engine::station_selection& s, const std::string& context) {
    s.has_box = o.has_box;
    s.box = {o.min_lat, o.max_lat, o.min_lon, o.max_lon, o.crosses_dateline};
    s.has_list = o.has_station_list;
    s.ids = o.station_ids;
    s.has_near = o.has_near;
    s.near = {o.near_lat, o.near_lon, o.has_radius, o.radius_km, o.nearest};
    if (o.station_file.empty()) return {};
    int error = 0;
    const std::string problem = read_identifier_file(o.station_file, s.ids, error);
    if (!problem.empty()) return {usage_exit_status, context + "--stations: " + problem, ""};
    if (error == 0) return {};
    return {1, context + o.station_file + ": " + std::strerror(error), o.station_file};
}

engine::output_meta meta_of(const batch_options& o, const engine::station_selection& selection,
                            const engine::run_settings& run, const std::string& catalogue_source,
                            const std::string& observations_source) {
    engine::output_meta meta;
    meta.type_word = o.type_word;
    meta.selection = selection;
    meta.fyod = o.fyod;
    meta.lyod = o.lyod;
    meta.has_max_missing = o.has_max_missing;
    meta.max_missing = run.max_missing;
    meta.catalogue_source = catalogue_source;
    meta.observations_source = observations_source;
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    meta.history = std::string(stamp) + ": " + o.command_line;
    return meta;
}

std::string failure_text(const textio::io_failure& failure) {
    const std::string place = failure.file_name.empty() ? std::string("standard output") : failure.file_name;
    switch (failure.kind) {
        case textio::failure_kind::illegal_character:
            return place + ":" + std::to_string(failure.line) + ": field " + std::to_string(failure.field) +
                   ": malformed number \"" + shown_text(failure.text) + "\"";
        case textio::failure_kind::end_of_file:
            return place + ":" + std::to_string(failure.line) + ": the file ends inside its header";
        case textio::failure_kind::in_use:
        case textio::failure_kind::dangling_link:
        case textio::failure_kind::same_as_input: return failure.message;
        case textio::failure_kind::bad_compressed_data: return place + ": " + failure.message;
        case textio::failure_kind::system:
            if (failure.line > 0) return place + ":" + std::to_string(failure.line) + ": " + failure.message;
            return place + ": " + failure.message;
    }
    return failure.message;
}

}  // namespace app
