// Several station tables in one pass over data.txt against a pass of their own each: what
// every sink hears must be the same, station by station and bit by bit.
#include <gtest/gtest.h>
#include <omp.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/extract.hpp"
#include "tests/support/block_stages.hpp"
#include "tests/support/temp_files.hpp"
#include "tests/support/text_layouts.hpp"
#include "textio/failure.hpp"
#include "textio/read.hpp"

namespace {

// Everything a sink hears, as text: the row, the verdict and the span's cells.
class transcript_sink : public engine::station_sink {
public:
    void table_loaded(std::int32_t count) override { text += "table " + std::to_string(count) + "\n"; }
    void station(const engine::station_row& row, const engine::station_verdict& v,
                 const engine::year_month_grid& grid) override {
        text += std::to_string(row.id) + " " + std::to_string(row.first_year) + "-" + std::to_string(row.last_year) +
                " kind " + std::to_string(static_cast<int>(v.kind)) + " missing " + std::to_string(v.missing) +
                (v.reported_missing ? " reported" : "") + " saved " + std::to_string(v.saved_count);
        if (v.kind == engine::verdict_kind::saved || v.kind == engine::verdict_kind::too_many_missing) {
            std::uint32_t bits = 0;
            for (int year = 1950; year <= 1951; ++year)
                for (const float cell : grid[year]) {
                    std::memcpy(&bits, &cell, sizeof bits);
                    text += " " + std::to_string(bits);
                }
        }
        text += "\n";
    }
    std::string text;
};

// The rows of the catalogue at `places`, in catalogue order, as a selection keeps them.
engine::station_table table_of(const std::vector<e2e::engine_expect::catalogue_station>& catalogue,
                               const std::vector<std::int32_t>& places) {
    engine::station_table t;
    for (const std::int32_t k : places) {
        const auto& s = catalogue[static_cast<std::size_t>(k)];
        t.station_id.push_back(s.id);
        t.station_lat.push_back(s.lat);
        t.station_lon.push_back(s.lon);
        t.station_extra.push_back(s.extra);
        t.first_year.push_back(0);
        t.last_year.push_back(0);
        t.catalogue_row.push_back(k);
    }
    t.qualifying_count = static_cast<std::int32_t>(places.size());
    return t;
}

void open_data(textio::in_unit& u, const std::string& path) {
    textio::open_input(u, engine::observations_unit, path);
    std::string_view skipped;
    for (int i = 0; i < engine::observations_header_lines; ++i) textio::next_raw_record(u, skipped);
}

// A selection's pass on its own: what its sink heard, and its failure's message.
std::string separate_run(const engine::run_settings& run, const engine::station_table& table, const std::string& path) {
    textio::in_unit data;
    open_data(data, path);
    transcript_sink sink;
    std::string failure;
    try {
        engine::extract_stations(run, table, data, sink);
    } catch (const textio::io_failure& f) {
        failure = "failed: " + f.message + "\n";
    }
    textio::close_input(data);
    return sink.text + failure;
}

std::vector<std::string> one_pass(const std::vector<engine::run_settings>& runs,
                                  const std::vector<engine::station_table>& tables, const std::string& path) {
    std::vector<transcript_sink> sinks(tables.size());
    std::vector<engine::selection_pass> selections(tables.size());
    for (std::size_t k = 0; k < tables.size(); ++k) {
        selections[k].run = &runs[k];
        selections[k].table = tables[k];
        selections[k].sink = &sinks[k];
    }
    textio::in_unit data;
    open_data(data, path);
    engine::extract_selections(selections, data);
    textio::close_input(data);
    std::vector<std::string> heard;
    for (std::size_t k = 0; k < tables.size(); ++k)
        heard.push_back(sinks[k].text +
                        (selections[k].failed ? "failed: " + selections[k].failure.message + "\n" : ""));
    return heard;
}

engine::run_settings span_run(float fraction, std::int32_t last_year = 1951) {
    engine::run_settings run;
    run.fyod = 1950;
    run.lyod = last_year;
    run.missing_fraction = fraction;
    run.max_missing = engine::missing_month_limit(engine::potential_months(1950, last_year), fraction);
    return run;
}

// Random archives, each with the whole catalogue, two random parts of it and an empty
// table, screened with different limits: one pass gives each table what its own pass gives.
// These small files are read on one thread: a team woken for each pass would cost more.
TEST(selections, one_pass_matches_a_pass_for_each_table) {
    const int threads = omp_get_max_threads();
    omp_set_num_threads(1);
    const std::string path = support::write_temp_file("selections_data.txt", "");
    const std::vector<engine::run_settings> runs = {span_run(0.5f), span_run(0.0f), span_run(0.2f), span_run(0.1f)};
#if defined(VARNEX_SANITIZED)
    constexpr std::uint32_t layouts = 60;
#else
    constexpr std::uint32_t layouts = 300;
#endif
    for (std::uint32_t seed = 1; seed <= layouts && !::testing::Test::HasFailure(); ++seed) {
        const support::text_layout layout = support::random_layout(seed);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        const std::string text = support::observations_text(layout.lines);
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
        std::mt19937 random(seed);
        std::vector<std::int32_t> all, some, others;
        for (std::int32_t k = 0; k < static_cast<std::int32_t>(layout.catalogue.size()); ++k) {
            all.push_back(k);
            if (random() % 2) some.push_back(k);
            if (random() % 3 == 0) others.push_back(k);
        }
        const std::vector<engine::station_table> tables = {table_of(layout.catalogue, all),
                                                           table_of(layout.catalogue, some),
                                                           table_of(layout.catalogue, others), engine::station_table{}};
        const std::vector<std::string> together = one_pass(runs, tables, path);
        for (std::size_t k = 0; k < tables.size(); ++k)
            EXPECT_EQ(together[k], separate_run(runs[k], tables[k], path)) << "layout " << seed << " table " << k;
    }
    omp_set_num_threads(threads);
    std::remove(path.c_str());
}

// A record that cannot be read fails the tables whose own pass reads it, after the
// stations before it, and no other.
TEST(selections, a_record_that_cannot_be_read_fails_only_the_tables_that_reach_it) {
    const std::vector<std::string> lines = {"7 1 1950.042 1.5", "8 1 1950.042 2.5", "x 1 1950.042 3.5",
                                            "9 1 1950.042 4.5"};
    const std::string path = support::write_temp_file("selections_failing.txt", support::observations_text(lines));
    const std::vector<e2e::engine_expect::catalogue_station> catalogue = {
        {7, 45, 10, 1}, {8, 45, 10, 1}, {9, 45, 10, 1}};
    const std::vector<engine::run_settings> runs(3, span_run(1.0f));
    const std::vector<engine::station_table> tables = {table_of(catalogue, {0}), table_of(catalogue, {0, 1}),
                                                       table_of(catalogue, {2})};
    const std::vector<std::string> together = one_pass(runs, tables, path);
    EXPECT_EQ(together[0], "table 1\n7 1950-1950 kind 2 missing 0 saved 0\n");
    EXPECT_EQ(together[1],
              "table 2\n7 1950-1950 kind 2 missing 0 saved 0\n"
              "failed: Illegal character in numeric input\n");
    EXPECT_EQ(together[2], "table 1\nfailed: Illegal character in numeric input\n");
    for (std::size_t k = 0; k < tables.size(); ++k) EXPECT_EQ(together[k], separate_run(runs[k], tables[k], path));
    std::remove(path.c_str());
}

// Two tables find the same records of station 7, one on the first pass and one after a
// rewind, which carries another date into its first record: each gets its own values.
TEST(selections, the_same_records_reached_with_other_carried_values_are_read_for_each) {
    const std::vector<std::string> lines = {"7,1,,1.5", "7 1 1950.125 2.5", "8 1 1950.042 3.5", "9 1 1950.208 4.5"};
    const std::string path = support::write_temp_file("selections_carried.txt", support::observations_text(lines));
    const std::vector<e2e::engine_expect::catalogue_station> catalogue = {
        {7, 45, 10, 1}, {8, 45, 10, 1}, {9, 45, 10, 1}};
    const std::vector<engine::run_settings> runs(2, span_run(1.0f, 1950));
    const std::vector<engine::station_table> tables = {table_of(catalogue, {0}), table_of(catalogue, {2, 0})};
    const std::vector<std::string> together = one_pass(runs, tables, path);
    for (std::size_t k = 0; k < tables.size(); ++k) EXPECT_EQ(together[k], separate_run(runs[k], tables[k], path));
    EXPECT_NE(together[0].substr(together[0].find("\n7 ")), together[1].substr(together[1].find("\n7 ")));
    std::remove(path.c_str());
}

}  // namespace
