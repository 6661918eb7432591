// A whole run of the station data engine in-process, on a fuzzed archive: the file set-up
// as the program does it (headers passed over with "(a)", the two output files opened and
// the coordinates header written), the catalogue load, the station pass and the closing.
// The dialogue is replaced by run settings chosen by the first byte.
//
// Whatever the archive holds, a run that ends (normally, or by a bad number in either
// file) must leave output files that hold whole records only: the coordinates header,
// then one row per saved station; the series file one block per saved station, in the same
// order, each a station header and one 100-character row per year of the span; and a
// series file that this run never wrote to keeps its older content.
//
// When the archive lies within what the independent model of the station pass decides
// (tests/support/engine_expect.hpp: every observation record on a line of its own, no value
// left empty, distinct dates within a block), the output files of a run that ended
// normally must be the model's byte for byte. The model reads the records with the general
// free-form reader alone, so this also holds the observation reader's quick scan of plain
// records, its conversion of the last record passed, and its turn to the general rules.
//
// Input: byte 0 the settings (box in bits 0-1, span in bits 2-3, missing-month limit in
// bits 4-5), then the catalogue's station lines, a NUL byte, and data.txt's observation
// lines (which may hold further NUL bytes). The harness writes the headers itself.

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/extract.hpp"
#include "engine/series_files.hpp"
#include "engine/terminal_lines.hpp"
#include "tests/fuzz/fuzz_support.hpp"
#include "tests/support/archive_names.hpp"
#include "tests/support/engine_expect.hpp"
#include "textio/read.hpp"
#include "textio/terminal.hpp"
#include "textio/write.hpp"

namespace {

constexpr int catalogue_header_lines = 60;
constexpr int observations_header_lines = 111;
const std::string older_series = "older series line 1\nolder series line 2\nolder series line 3\n";
const std::string coordinates_header = "#Lon\tLat\tStation ID#\n";
const std::string series_header_end = " RFMT=(i4,12f8.3) MISS= -99.000\n";

std::string header(std::string_view stem, int lines) {
    std::string text;
    for (int i = 1; i <= lines; ++i) text += std::string(stem) + " header line " + std::to_string(i) + "\n";
    return text;
}

struct paths {
    std::string catalogue = fuzz::scratch_path(support::catalogue_file_name);
    std::string observations = fuzz::scratch_path(support::observations_file_name);
    std::string series = fuzz::scratch_path(support::outputs_for_choice(1).series);
    std::string coordinates = fuzz::scratch_path(support::outputs_for_choice(1).coordinates);
};

namespace x = e2e::engine_expect;

// The answers the settings stand for: the box (whole globe, a box of the northern
// mid-latitudes, a box across the 180 meridian, a single point), the span, and a fraction
// that gives a limit of 0, a tenth of the months, all of them, or -2147483648.
x::run_answers choose_answers(std::uint8_t control) {
    static const std::array<std::array<const char*, 4>, 4> boxes = {{{"90.00", "-90.00", "180.00", "-180.00"},
                                                                     {"60.00", "0.00", "40.00", "0.00"},
                                                                     {"70.00", "-60.00", "-170.00", "170.00"},
                                                                     {"45.00", "45.00", "10.00", "10.00"}}};
    static const int spans[4][2] = {{1950, 1950}, {1950, 1952}, {1900, 2000}, {1800, 2020}};
    static const char* fractions[4] = {"0.0001", "0.1", "0.0", "1e30"};
    const auto& box = boxes[control & 3];
    const auto& span = spans[(control >> 2) & 3];
    return {1, box[0], box[1], box[2], box[3], span[0], span[1], fractions[(control >> 4) & 3]};
}

void choose_settings(engine::run_settings& run, const x::run_answers& answers) {
    run = engine::run_settings{};
    run.max_lat = x::real_from_text(answers.max_lat);
    run.min_lat = x::real_from_text(answers.min_lat);
    run.max_lon = x::real_from_text(answers.max_lon);
    run.min_lon = x::real_from_text(answers.min_lon);
    run.crosses_dateline = run.min_lon > run.max_lon ? 1 : 0;
    run.fyod = answers.fyod;
    run.lyod = answers.lyod;
    run.max_missing = x::max_missing(answers);
    std::memcpy(run.type_tag, "TAVEq", 5);
}

// ---- The archive as the model sees it

constexpr std::uint32_t unread_bits = 0x7fc0deadu;  // a NaN no reader gives
// An identifier a reader gives only for the text -2147483647: such an archive is left out.
constexpr std::int32_t unread_id = -2147483647;

bool is_blank_line(std::string_view line) { return line.find_first_not_of(" \t\r") == std::string_view::npos; }

// The records after the header, read one by one with the general free-form reader. With
// `one_line_each`, nullopt when a record does not stand on a line of its own (apart from
// blank lines before it) or leaves a value empty; nullopt too when a value is malformed.
// A record as read: the exact identifier and the other three values.
struct read_record {
    std::int32_t id = 0;
    std::array<float, 4> values{};  // [0] unused
};

std::optional<std::vector<read_record>> records_of(const std::string& path, std::string_view body, int header_lines,
                                                   bool one_line_each) {
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start < body.size();) {
        const std::size_t end = std::min(body.find('\n', start), body.size());
        lines.push_back(body.substr(start, end - start));
        start = end + 1;
    }
    std::vector<read_record> records;
    textio::in_unit unit;
    try {
        textio::open_input(unit, 99, path);
        std::string_view skipped;
        for (int i = 0; i < header_lines; ++i) textio::next_raw_record(unit, skipped);
        read_record current;
        std::array<float, 4>& values = current.values;
        const textio::in_item targets[] = {textio::target_identifier(current.id), textio::target_real(values[1]),
                                           textio::target_real(values[2]), textio::target_real(values[3])};
        for (;;) {
            const long before = unit.line;
            if (one_line_each) {
                values.fill(std::bit_cast<float>(unread_bits));
                current.id = unread_id;
            }
            if (textio::read_free_form(unit, targets, true) != textio::read_outcome::ok) break;
            if (one_line_each) {
                if (current.id == unread_id) throw 0;
                for (std::size_t i = 1; i < values.size(); ++i)
                    if (std::bit_cast<std::uint32_t>(values[i]) == unread_bits) throw 0;
                for (long k = before + 1; k < unit.line; ++k)
                    if (!is_blank_line(lines[static_cast<std::size_t>(k - 1 - header_lines)])) throw 0;
            }
            records.push_back(current);
        }
    } catch (...) {
        textio::close_input(unit);
        return std::nullopt;
    }
    textio::close_input(unit);
    return records;
}

// The model's series and coordinates files; nullopt when the archive lies outside it.
std::optional<x::pass_result> model_pass(const std::string& catalogue_path, std::string_view catalogue_body,
                                         const std::string& observations_path, std::string_view observations_body,
                                         const x::run_answers& answers) {
    const auto stations = records_of(catalogue_path, catalogue_body, catalogue_header_lines, false);
    const auto observations = records_of(observations_path, observations_body, observations_header_lines, true);
    if (!stations || !observations) return std::nullopt;
    std::vector<x::catalogue_station> catalogue;
    for (const auto& r : *stations) catalogue.push_back({r.id, r.values[1], r.values[2], r.values[3]});
    std::vector<x::observation_record> records;
    for (const auto& r : *observations) records.push_back({r.id, r.values[2], r.values[3]});
    x::pass_result pass = x::expected_pass(catalogue, records, answers);
    if (!pass.model_error.empty()) return std::nullopt;
    return pass;
}

// The set-up of the four files as the program makes it.
void open_files(engine::archive& files, engine::series_pair& outputs, const paths& p) {
    static const textio::format_list header_read = textio::parse_format("(a)");
    char header_line[88];
    const textio::in_item target = textio::target_text(header_line, sizeof header_line);
    textio::open_input(files.catalogue, engine::catalogue_unit, p.catalogue);
    for (int i = 0; i < catalogue_header_lines; ++i) textio::read_formatted(files.catalogue, header_read, {&target, 1});
    textio::open_input(files.observations, engine::observations_unit, p.observations);
    for (int i = 0; i < observations_header_lines; ++i)
        textio::read_formatted(files.observations, header_read, {&target, 1});
    textio::open_output(outputs.series, engine::series_unit, p.series);
    textio::open_output(outputs.coordinates, engine::coordinates_unit, p.coordinates);
    engine::start_series_pair(outputs, '\t');
}

std::vector<std::string_view> lines_of(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        fuzz::check(end != std::string_view::npos, "an output file ends inside a record", text.substr(start));
        lines.push_back(text.substr(start, end + 1 - start));
        start = end + 1;
    }
    return lines;
}

bool is_year_row(std::string_view line, std::int32_t year) {
    if (line.size() != 101 || line.back() != '\n') return false;
    const std::string digits = std::to_string(year);
    return line.substr(0, 4) == std::string(4 - digits.size(), ' ') + digits;
}

// The output files of a run that ended after `saved` stations (-1: unknown, the run failed).
void check_outputs(const paths& p, const engine::run_settings& run, int saved) {
    const std::string coordinates = fuzz::read_file(p.coordinates);
    const std::string series = fuzz::read_file(p.series);
    fuzz::check(coordinates.compare(0, coordinates_header.size(), coordinates_header) == 0,
                "the coordinates file does not start with its header line", coordinates);
    const std::vector<std::string_view> rows =
        lines_of(std::string_view(coordinates).substr(coordinates_header.size()));
    if (saved >= 0)
        fuzz::check(rows.size() == static_cast<std::size_t>(saved), "coordinates rows differ from the count");
    if (rows.empty()) {
        fuzz::check(series.empty(), "a series file without stations is not empty", series);
        return;
    }
    const std::vector<std::string_view> lines = lines_of(series);
    const std::size_t block = 1 + static_cast<std::size_t>(run.lyod - run.fyod + 1);
    fuzz::check(lines.size() == rows.size() * block, "series blocks do not match the coordinates rows");
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const std::string_view head = lines[k * block];
        const std::string_view row = rows[k];
        // The row is longitude, tab, latitude, tab, identifier; the station header begins
        // with the same longitude and latitude and ends with the same identifier.
        const std::size_t second_tab = row.find('\t', row.find('\t') + 1);
        fuzz::check(second_tab != std::string_view::npos, "a coordinates row lacks its tabs", row);
        fuzz::check(head.substr(0, second_tab + 1) == row.substr(0, second_tab + 1),
                    "station header and coordinates row give different positions", head);
        const std::string_view id = row.substr(second_tab + 1, row.size() - second_tab - 2);
        const std::string tail = std::string(id) + " " + series_header_end;
        fuzz::check(head.size() >= tail.size() && head.substr(head.size() - tail.size()) == tail,
                    "station header and coordinates row give different identifiers", head);
        for (std::int32_t y = run.fyod; y <= run.lyod; ++y)
            fuzz::check(is_year_row(lines[k * block + 1 + static_cast<std::size_t>(y - run.fyod)], y),
                        "a series row is not the year's 100 columns");
    }
}

}  // namespace

// The engine writes its terminal lines to standard output, which would fill libFuzzer's log;
// its parallel parts run with a team of two.
const fuzz::target_settings fuzz::target = {.silence_standard_output = true, .threads = 2};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::byte_source in{data, size};
    const std::uint8_t control = in.take();
    const std::string_view body = in.rest();
    const std::size_t split = body.find('\0');
    const std::string_view stations = body.substr(0, split);
    const std::string_view observations = split == std::string_view::npos ? std::string_view() : body.substr(split + 1);

    static const paths p;
    fuzz::write_file(p.catalogue, header("Catalogue", catalogue_header_lines) + std::string(stations));
    fuzz::write_file(p.observations, header("Observations", observations_header_lines) + std::string(observations));
    fuzz::write_file(p.series, older_series);
    fuzz::write_file(p.coordinates, "");

    const x::run_answers answers = choose_answers(control);
    const std::optional<x::pass_result> model =
        model_pass(p.catalogue, stations, p.observations, observations, answers);

    engine::run_settings run;
    engine::archive files;
    engine::series_pair outputs;
    choose_settings(run, answers);
    int saved = -1;
    try {
        open_files(files, outputs, p);
        engine::terminal_lines_sink terminal(run, textio::terminal_output());
        engine::series_files_sink written(run, outputs);
        engine::fan_out_sink both({&terminal, &written});
        const engine::extraction_summary summary = engine::extract_stations(run, files, both);
        engine::flush_series_pair(outputs);
        textio::close_input(files.observations);
        textio::close_output(outputs.series);
        textio::close_output(outputs.coordinates);
        saved = summary.saved;
    } catch (const fuzz::raised& r) {
        engine::cut_back_to_whole_stations(outputs);
        textio::close_all_units();
        fuzz::check(r.kind == textio::failure_kind::illegal_character, "a run failed other than by a bad number");
        fuzz::check(r.unit == engine::catalogue_unit || r.unit == engine::observations_unit,
                    "a run failed on a unit other than the two archive files");
    }
    check_outputs(p, run, saved);
    if (model && saved >= 0) {
        fuzz::check(saved == model->saved, "the number of saved stations differs from the model");
        fuzz::check(fuzz::read_file(p.coordinates) == model->coordinates, "coordinates file differs from the model");
        fuzz::check(fuzz::read_file(p.series) == model->series, "series file differs from the model");
    }
    return 0;
}
