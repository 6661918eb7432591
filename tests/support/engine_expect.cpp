#include "tests/support/engine_expect.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <map>
#include <span>

#include "tests/support/archive_names.hpp"
#include "tests/support/text.hpp"
#include "tests/support/transcript.hpp"
#include "textio/format.hpp"
#include "textio/items.hpp"

namespace e2e::engine_expect {

namespace {

namespace t = e2e::transcript;

constexpr float missing_value = -99.0f;
constexpr int last_grid_year = 2100;

// Month mid-points (m - 0.5) / 12 at three decimals, January first.
constexpr std::array<std::string_view, 12> month_fractions = {"042", "125", "208", "292", "375", "458",
                                                              "542", "625", "708", "792", "875", "958"};

using support::decimal;

std::string free_form(std::initializer_list<textio::out_item> items) {
    std::string out;
    textio::append_free_form(out, std::span<const textio::out_item>(items.begin(), items.size()));
    return out;
}

const std::string tab = "\t";

}  // namespace

float real_from_text(std::string_view text) {
    double value = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return static_cast<float>(value);
}

std::int32_t identifier_from_text(std::string_view text) {
    double value = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    if (!(value > -2147483649.0 && value < 2147483648.0)) return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

std::int32_t truncate_to_int(float value) {
    if (!std::isfinite(value) || value >= 2147483648.0f || value < -2147483648.0f) return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

std::string month_date_text(int year, int month) {
    return decimal(year) + "." + std::string(month_fractions[static_cast<std::size_t>(month - 1)]);
}

std::pair<std::int32_t, int> year_and_month(float date) {
    const std::int32_t year = truncate_to_int(date);
    const float fraction = date - static_cast<float>(year);
    std::string text;
    textio::append_fixed_field(text, fraction, 5, 3);  // "(f5.3)"
    for (std::size_t m = 0; m < month_fractions.size(); ++m) {
        if (text == "0." + std::string(month_fractions[m])) return {year, static_cast<int>(m) + 1};
    }
    return {year, 0};
}

// ---- Rendered lines

std::string progress_line(int saved_count, float lon, float lat, std::int32_t id, std::int32_t first_year,
                          std::int32_t last_year) {
    return free_form({textio::item_int(saved_count), textio::item_text(" >> Saving Station-: "), textio::item_real(lon),
                      textio::item_text(tab), textio::item_real(lat), textio::item_text(tab), textio::item_int(id),
                      textio::item_text(tab), textio::item_int(first_year), textio::item_int(0),
                      textio::item_int(last_year)});
}

std::string spurious_report(std::int32_t id, float lon, float lat, float value) {
    return free_form({textio::item_text(" :-Spurious values detected in record e.g., :- ")}) +
           free_form({textio::item_text("  "), textio::item_int(id), textio::item_text(tab), textio::item_real(lon),
                      textio::item_text(tab), textio::item_real(lat), textio::item_text(tab),
                      textio::item_real(value)}) +
           " Record will be skipped ***************\n";
}

std::string coordinates_row(float lon, float lat, std::int32_t id) {
    return free_form({textio::item_real(lon), textio::item_text(tab), textio::item_real(lat), textio::item_text(tab),
                      textio::item_int(id)});
}

std::string series_header(float lon, float lat, float extra, std::int32_t id) {
    return free_form({textio::item_real(lon), textio::item_text(tab), textio::item_real(lat), textio::item_text(tab),
                      textio::item_real(extra), textio::item_int(id),
                      textio::item_text(" RFMT=(i4,12f8.3) MISS= -99.000")});
}

std::string series_row(int year, const std::array<float, 12>& months) {
    static const textio::format_list row_format = textio::parse_format("(i4,12f8.3)");
    std::vector<textio::out_item> items;
    items.push_back(textio::item_int(year));
    for (float v : months) items.push_back(textio::item_real(v));
    std::string out;
    textio::append_formatted(out, row_format, items);
    return out;
}

std::string corner_field(float degrees) {
    std::string out;
    textio::append_fixed_field(out, degrees, 8, 2);
    return out;
}

// ---- The run's answers

std::string answer_lines(const run_answers& a) {
    return decimal(a.data_type) + "\n\n" + a.max_lat + "\n" + a.min_lat + "\n" + a.max_lon + "\n" + a.min_lon +
           "\nT\n" + decimal(a.fyod) + "\n" + decimal(a.lyod) + "\nT\n" + a.fraction + "\n1\n";
}

int potential_months(const run_answers& a) { return (a.lyod - a.fyod) * 12 + 12; }

std::int32_t max_missing(const run_answers& a) {
    const float fraction = real_from_text(a.fraction);
    const int potential = potential_months(a);
    if (fraction == 0.0f) return 0;
    if (!(fraction > 0.0f)) return potential;
    const float product = static_cast<float>(potential) * fraction;
    return truncate_to_int(product);
}

std::string dialogue_text(const run_answers& a, const std::vector<std::string>& catalogue_shown,
                          const std::vector<std::string>& observations_shown) {
    const float max_lat = real_from_text(a.max_lat);
    const float min_lat = real_from_text(a.min_lat);
    const float max_lon = real_from_text(a.max_lon);
    const float min_lon = real_from_text(a.min_lon);
    const int potential = potential_months(a);
    const int example = truncate_to_int(static_cast<float>(potential) * 0.25f);
    std::string text = t::banner() + t::menu();
    text += t::opening_file(t::catalogue_name_field, catalogue_shown);
    text += t::opening_file(t::observations_name_field, observations_shown);
    text += t::region_banner() + t::region_explanation();
    text += t::max_latitude_prompt() + t::min_latitude_prompt() + t::max_longitude_prompt() + t::min_longitude_prompt();
    text += t::area_box({corner_field(min_lon), corner_field(max_lat), corner_field(max_lon), corner_field(min_lat)});
    text += t::confirm_prompt();
    text += t::span_start() + t::first_year_prompt() + t::last_year_prompt() + t::values_entered(a.fyod, a.lyod);
    text += t::completeness(potential, example);
    text += t::final_check(t::int_field(max_missing(a), 3));
    return text;
}

std::pair<std::string, std::string> output_names(int data_type) {
    support::output_names names = support::outputs_for_choice(data_type);
    return {std::move(names.series), std::move(names.coordinates)};
}

std::vector<std::string> shown_header_lines(std::string_view bytes) {
    std::vector<std::string> lines;
    std::string current;
    for (std::size_t i = 0; i < bytes.size() && lines.size() < 5; ++i) {
        const char c = bytes[i];
        if (c == '\n') {
            lines.push_back(current);
            current.clear();
        } else if (c == '\t') {
            do current += ' ';
            while (current.size() % 8 != 0);
        } else if (c != '\r') {
            current += c;
        }
    }
    return lines;
}

// ---- The station pass

namespace {

struct pass_settings {
    float max_lat, min_lat, max_lon, min_lon;
    bool crosses_dateline;
    int fyod, lyod;
    std::int32_t max_missing;
};

bool inside_box(const catalogue_station& s, const pass_settings& p) {
    if (!(p.min_lat <= s.lat && s.lat <= p.max_lat)) return false;
    if (!p.crosses_dateline) return p.min_lon <= s.lon && s.lon <= p.max_lon;
    return (p.min_lon <= s.lon && s.lon <= 180.0f) || (-180.0f <= s.lon && s.lon <= p.max_lon);
}

enum class block_end { other_record, end_of_file, none };

struct block {
    std::vector<observation_record> records;
    std::int32_t first_year = 0;
    std::int32_t last_year = 0;
    block_end end = block_end::none;
};

// The records as parsed, in file order.
struct reader {
    const std::vector<observation_record>& records;
    std::size_t position = 0;
    int found_count = 0;
    int rewind_count = 0;
    int rewinds = 0;
};

bool next_record(reader& r, observation_record& record) {
    if (r.position == r.records.size()) return false;
    record = r.records[r.position++];
    return true;
}

void rewind(reader& r) { r.position = 0; }

// The ending record starts the next search.
void release(reader& r) { --r.position; }

// ---- The search over the text of the records

// The lines after data.txt's header read by the free-form rules, from any line, with the
// values the record read last leaves to the empty values of the next, as the program's
// reader keeps them across rewinds.
struct text_reader {
    const std::vector<std::string>& lines;
    std::size_t line = 0;              // the next line to read
    std::size_t record_last_line = 0;  // the last line of the record read last
    observation_record carried;        // what an empty value keeps
    int found_count = 0;
    int rewind_count = 0;
    int rewinds = 0;
};

bool is_blank_char(char c) { return c == ' ' || c == '\t' || c == '\r'; }

void fill_item(observation_record& record, int item, std::string_view value) {
    if (item == 0) record.key = identifier_from_text(value);
    if (item == 2) record.date = real_from_text(value);
    if (item == 3) record.value = real_from_text(value);
}

// One free-form read of the four values; false when the lines end first (the values
// filled by then are kept). Repeat counts and quotes are outside this model.
bool read_text_record(text_reader& r, observation_record& record) {
    record = r.carried;
    int filled = 0;
    bool separator_pending = false;  // a value was read: one comma after it only separates
    while (r.line < r.lines.size()) {
        const std::string_view text = r.lines[r.line];
        r.record_last_line = r.line++;
        std::size_t at = 0;
        for (;;) {
            while (at < text.size() && is_blank_char(text[at])) ++at;
            if (at == text.size()) break;
            if (text[at] == '/') filled = 4;
            if (filled < 4 && text[at] == ',') {
                ++at;
                if (!separator_pending) ++filled;  // a null value keeps what it had
                separator_pending = false;
            } else if (filled < 4) {
                const std::size_t start = at;
                while (at < text.size() && !is_blank_char(text[at]) && text[at] != ',' && text[at] != '/') ++at;
                fill_item(record, filled++, text.substr(start, at - start));
                separator_pending = true;
            }
            if (filled == 4) {
                r.carried = record;
                return true;
            }
        }
    }
    r.carried = record;
    return false;
}

bool next_record(text_reader& r, observation_record& record) { return read_text_record(r, record); }
void rewind(text_reader& r) { r.line = 0; }

// The next search starts at the last line of the record that ended the block.
void release(text_reader& r) { r.line = r.record_last_line; }

// The forward search with its rewind fallback, over either reader. The rewind count is
// cleared when a station is reported missing and, as this program does, when a
// station's first record is found.
template <class Reader>
block collect(Reader& r, std::int32_t id, int qualifying, std::string& terminal, int& missing_reports) {
    block b;
    bool found = false;
    for (;;) {
        observation_record record;
        if (!next_record(r, record)) {
            if (found) {
                b.end = block_end::end_of_file;
                return b;
            }
            if (r.found_count >= qualifying) return b;
            ++r.rewind_count;
            ++r.rewinds;
            rewind(r);
            if (r.rewind_count <= 1) continue;
            terminal += t::station_data_missing(id);
            ++missing_reports;
            r.rewind_count = 0;
            return b;
        }
        if (record.key == id) {
            const std::int32_t year = truncate_to_int(record.date);
            if (!found) {
                found = true;
                b.first_year = year;
                ++r.found_count;
                r.rewind_count = 0;
            }
            b.last_year = year;
            b.records.push_back(record);
        } else if (found) {
            b.end = block_end::other_record;
            return b;
        }
    }
}

// Cells (year * 12 + month - 1) that received a value; every other cell is missing.
using grid = std::map<int, float>;

float cell(const grid& g, int year, int month) {
    auto it = g.find(year * 12 + month - 1);
    return it == g.end() ? missing_value : it->second;
}

bool is_spurious(float v) { return v != missing_value && !(v >= -70.0f && v <= 100.0f); }

}  // namespace

namespace {

pass_settings settings_of(const run_answers& answers) {
    pass_settings p{real_from_text(answers.max_lat),
                    real_from_text(answers.min_lat),
                    real_from_text(answers.max_lon),
                    real_from_text(answers.min_lon),
                    false,
                    answers.fyod,
                    answers.lyod,
                    max_missing(answers)};
    p.crosses_dateline = p.min_lon > p.max_lon;
    return p;
}

std::vector<catalogue_station> table_of(const std::vector<catalogue_station>& catalogue, const pass_settings& p) {
    std::vector<catalogue_station> table;
    for (const catalogue_station& s : catalogue) {
        if (inside_box(s, p)) table.push_back(s);
    }
    return table;
}

// One station's block ordered, laid out, screened, and its lines and rows added.
void screen_block(const catalogue_station& s, block& b, const pass_settings& p, pass_result& result) {
    std::stable_sort(b.records.begin(), b.records.end(),
                     [](const observation_record& x, const observation_record& y) { return x.date < y.date; });
    for (std::size_t k = 1; k < b.records.size(); ++k) {
        if (!(b.records[k - 1].date < b.records[k].date)) {
            result.model_error = "station " + decimal(s.id) + " has equal or unordered dates";
        }
    }
    grid g;
    for (const observation_record& record : b.records) {
        auto [year, month] = year_and_month(record.date);
        if (month != 0 && year >= 1 && year <= last_grid_year) g[year * 12 + month - 1] = record.value;
    }
    for (int y = p.fyod; y <= p.lyod; ++y) {
        for (int m = 1; m <= 12; ++m) {
            const float v = cell(g, y, m);
            if (is_spurious(v)) {
                result.terminal += spurious_report(s.id, s.lon, s.lat, v);
                ++result.spurious_reports;
                return;
            }
        }
    }
    if (b.first_year > p.fyod || b.last_year < p.lyod) {
        ++result.span_rejections;
        return;
    }
    int missing_months = 0;
    for (int y = p.fyod; y <= p.lyod; ++y) {
        for (int m = 1; m <= 12; ++m) {
            if (cell(g, y, m) == missing_value) ++missing_months;
        }
    }
    if (missing_months > p.max_missing) {
        ++result.completeness_rejections;
        return;
    }
    ++result.saved;
    result.terminal += progress_line(result.saved, s.lon, s.lat, s.id, b.first_year, b.last_year);
    result.coordinates += coordinates_row(s.lon, s.lat, s.id);
    result.series += series_header(s.lon, s.lat, s.extra, s.id);
    for (int y = p.fyod; y <= p.lyod; ++y) {
        std::array<float, 12> row;
        for (int m = 1; m <= 12; ++m) row[static_cast<std::size_t>(m - 1)] = cell(g, y, m);
        result.series += series_row(y, row);
    }
}

// The station pass over any reader: `collect` searches for a station's block, `release`
// makes the record that ended it the start of the next search.
template <class Reader>
pass_result run_pass(const std::vector<catalogue_station>& catalogue, const run_answers& answers, Reader& r) {
    const pass_settings p = settings_of(answers);
    const std::vector<catalogue_station> table = table_of(catalogue, p);
    pass_result result;
    result.qualifying = static_cast<int>(table.size());
    result.coordinates = support::coordinates_header;
    for (const catalogue_station& s : table) {
        block b = collect(r, s.id, result.qualifying, result.terminal, result.missing_reports);
        if (b.end == block_end::none) continue;
        if (b.end == block_end::other_record) release(r);
        screen_block(s, b, p, result);
    }
    result.rewinds = r.rewinds;
    return result;
}

}  // namespace

pass_result expected_pass(const std::vector<catalogue_station>& catalogue,
                          const std::vector<observation_record>& records, const run_answers& answers) {
    reader r{records};
    return run_pass(catalogue, answers, r);
}

pass_result expected_pass_from_text(const std::vector<catalogue_station>& catalogue,
                                    const std::vector<std::string>& lines, const run_answers& answers) {
    text_reader r{lines, 0, 0, observation_record{}, 0, 0, 0};
    return run_pass(catalogue, answers, r);
}

std::vector<expected_search> expected_searches_from_text(const std::vector<std::int32_t>& table_ids,
                                                         const std::vector<std::string>& lines) {
    text_reader r{lines, 0, 0, observation_record{}, 0, 0, 0};
    std::vector<expected_search> searches;
    const int qualifying = static_cast<int>(table_ids.size());
    for (const std::int32_t id : table_ids) {
        std::string terminal;
        int missing = 0;
        block b = collect(r, id, qualifying, terminal, missing);
        if (b.end == block_end::other_record) release(r);
        searches.push_back({missing > 0, std::move(b.records)});
    }
    return searches;
}

std::string expected_terminal(const run_answers& answers, const std::vector<std::string>& catalogue_shown,
                              const std::vector<std::string>& observations_shown, const pass_result& pass) {
    return dialogue_text(answers, catalogue_shown, observations_shown) + t::qualifying_stations(pass.qualifying) +
           pass.terminal + t::closing(pass.saved);
}

}  // namespace e2e::engine_expect
