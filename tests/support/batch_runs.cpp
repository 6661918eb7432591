#include "tests/support/batch_runs.hpp"

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "tests/support/archive_names.hpp"
#include "tests/support/text.hpp"

namespace support {

namespace {

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') + 1 - first);
}

std::vector<std::string_view> lines_of(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

std::string quoted(const std::string& text) { return "'" + text + "'"; }

}  // namespace

e2e::program_result run_batch(const e2e::scratch_dir& dir, const std::string& program,
                              const std::vector<std::string>& args, const std::vector<e2e::env_setting>& env) {
    e2e::run_options options;
    options.args = args;
    options.env = env;
    options.stdin_path = dir.base;
    return e2e::run_program(dir, program, "", options);
}

bool write_archive(const std::string& dir, const std::vector<std::string>& stations,
                   const std::vector<std::string>& records) {
    const std::string catalogue = joined(numbered_header("Batch catalogue", 60)) + joined(stations);
    const std::string observations = joined(numbered_header("Batch observations", 111)) + joined(records);
    return e2e::write_file(dir, catalogue_file_name, catalogue) &&
           e2e::write_file(dir, observations_file_name, observations);
}

std::string station_line(std::string_view id, std::string_view lat, std::string_view lon, std::string_view extra) {
    return std::string(id) + " " + std::string(lat) + " " + std::string(lon) + " " + std::string(extra);
}

std::string month_record(std::string_view id, int year, int month, std::string_view value) {
    static const char* const fractions[] = {"042", "125", "208", "292", "375", "458",
                                            "542", "625", "708", "792", "875", "958"};
    return std::string(id) + " 1 " + decimal(year) + "." + fractions[month - 1] + " " + std::string(value);
}

bool write_verdict_archive(const std::string& dir) {
    std::vector<std::string> records;
    auto add_years = [&](const char* id, int first, int last, auto value_of) {
        for (int y = first; y <= last; ++y)
            for (int m = 1; m <= 12; ++m) {
                const std::string value = value_of(y, m);
                if (!value.empty()) records.push_back(month_record(id, y, m, value));
            }
    };
    add_years("101", 1950, 1951, [](int y, int m) { return decimal(y - 1940) + (m < 10 ? ".0" : ".") + decimal(m); });
    add_years("103", 1951, 1952, [](int, int) { return std::string("5.0"); });
    add_years("104", 1950, 1951, [](int y, int m) { return y == 1950 && m <= 10 ? "" : std::string("1.5"); });
    add_years("105", 1950, 1951, [](int y, int m) { return std::string(y == 1950 && m == 3 ? "120.5" : "-3.25"); });
    add_years("106", 1950, 1951, [](int, int) { return std::string("1.0"); });
    add_years("107", 1950, 1951, [](int, int m) {
        if (m == 4 || m == 5) return std::string();
        return m == 1 ? std::string("-0.0") : "-" + decimal(m) + ".5";
    });
    add_years("17508491", 1950, 1951, [](int, int) { return std::string("22.125"); });
    return write_archive(
        dir,
        {station_line("101", "45.00", "10.00", "100.0"), station_line("102", "45.50", "10.50", "200.0"),
         station_line("103", "46.00", "11.00", "300.0"), station_line("104", "46.50", "11.50", "400.0"),
         station_line("105", "47.00", "12.00", "500.0"), station_line("106", "70.00", "12.50", "600.0"),
         station_line("107", "-0.50", "39.75", "-12.5"), station_line("17508491", "59.25", "0.25", "7.0")},
        records);
}

std::string generate_archive(const std::string& tool, const std::string& dir, const std::string& options) {
    const std::string command = quoted(tool) + " --out " + quoted(dir) + " " + options + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return "generator failed: " + command;
    return {};
}

std::vector<std::string> split_trimmed(std::string_view text, char separator) {
    std::vector<std::string> parts;
    for (;;) {
        const std::size_t end = text.find(separator);
        parts.emplace_back(trimmed(text.substr(0, end)));
        if (end == std::string_view::npos) return parts;
        text.remove_prefix(end + 1);
    }
}

// A station header is "LON<tab>LAT<tab>EXTRA ID RFMT=(i4,12f8.3) MISS= -99.000"; a row is
// i4 and twelve f8.3 fields.
std::vector<series_station> parse_series(std::string_view tsf, std::string& error) {
    static constexpr std::string_view format_tail = " RFMT=(i4,12f8.3) MISS= -99.000";
    std::vector<series_station> stations;
    for (const std::string_view line : lines_of(tsf)) {
        if (line.size() == 4 + 12 * 8 && !stations.empty()) {
            series_station::row row;
            row.year = std::atoi(std::string(line.substr(0, 4)).c_str());
            for (std::size_t m = 0; m < 12; ++m) row.months[m] = trimmed(line.substr(4 + 8 * m, 8));
            stations.back().rows.push_back(row);
            continue;
        }
        const std::size_t tail = line.find(format_tail);
        const std::vector<std::string> fields = split_trimmed(line.substr(0, tail), '\t');
        if (tail == std::string_view::npos || fields.size() != 3) {
            error = "not a series file line: " + std::string(line);
            return stations;
        }
        const std::string& rest = fields[2];  // "EXTRA ID" with blanks between
        const std::size_t gap = rest.find(' ');
        if (gap == std::string::npos) {
            error = "no identifier in: " + std::string(line);
            return stations;
        }
        series_station s;
        s.lon = fields[0];
        s.lat = fields[1];
        s.extra = rest.substr(0, gap);
        s.id = std::string(trimmed(std::string_view(rest).substr(gap)));
        stations.push_back(std::move(s));
    }
    return stations;
}

std::vector<std::vector<std::string>> parse_coordinates(std::string_view yx) {
    std::vector<std::vector<std::string>> rows;
    const std::vector<std::string_view> lines = lines_of(yx);
    for (std::size_t i = 1; i < lines.size(); ++i) rows.push_back(split_trimmed(lines[i], '\t'));
    return rows;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace support
