// Screening through the engine's entry point, one verdict per station, and the grid reset.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "engine/extract.hpp"
#include "engine/grid.hpp"
#include "tests/support/temp_files.hpp"
#include "textio/units.hpp"

namespace {

struct heard {
    engine::station_row row;
    engine::station_verdict verdict;
    float january = 0.0f;  // the grid's January of the first year of the span, for saved stations
};

class recording_sink : public engine::station_sink {
public:
    void table_loaded(std::int32_t count) override { qualifying = count; }
    void station(const engine::station_row& row, const engine::station_verdict& verdict,
                 const engine::year_month_grid& grid) override {
        stations.push_back({row, verdict, verdict.kind == engine::verdict_kind::saved ? grid[1950][0] : 0.0f});
    }
    std::int32_t qualifying = -1;
    std::vector<heard> stations;
};

std::string header(int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) text += "header line\n";
    return text;
}

std::string month_records(const std::string& id, int year, int first_month, int last_month, const std::string& value) {
    static const char* const fractions[] = {"042", "125", "208", "292", "375", "458",
                                            "542", "625", "708", "792", "875", "958"};
    std::string text;
    for (int m = first_month; m <= last_month; ++m)
        text += id + " 1 " + std::to_string(year) + "." + fractions[m - 1] + " " + value + "\n";
    return text;
}

TEST(Screening, EachVerdictReachesTheSinkInTableOrder) {
    std::string catalogue = header(60);
    for (const char* id : {"101", "102", "103", "104", "105"}) catalogue += std::string(id) + " 45.0 10.0 7.0\n";
    std::string observations = header(111) + month_records("101", 1950, 1, 12, "1.5") +
                               month_records("103", 1951, 1, 12, "2.5") + month_records("104", 1950, 1, 1, "3.5") +
                               month_records("105", 1950, 1, 2, "4.5") + month_records("105", 1950, 3, 3, "150.5") +
                               month_records("105", 1950, 4, 12, "-80.5");
    const std::string catalogue_path = support::write_temp_file("catalogue", catalogue);
    const std::string observations_path = support::write_temp_file("observations", observations);
    engine::run_settings run;
    run.max_lat = 50.0f;
    run.min_lat = 40.0f;
    run.max_lon = 20.0f;
    run.min_lon = 0.0f;
    run.fyod = run.lyod = 1950;
    run.max_missing = 6;
    engine::archive files;
    textio::open_input(files.catalogue, engine::catalogue_unit, catalogue_path);
    textio::open_input(files.observations, engine::observations_unit, observations_path);
    std::string_view line;
    for (int i = 0; i < 60; ++i) textio::next_raw_record(files.catalogue, line);
    for (int i = 0; i < 111; ++i) textio::next_raw_record(files.observations, line);

    recording_sink sink;
    const engine::extraction_summary summary = engine::extract_stations(run, files, sink);
    textio::close_input(files.observations);
    ::unlink(catalogue_path.c_str());
    ::unlink(observations_path.c_str());

    EXPECT_EQ(sink.qualifying, 5);
    ASSERT_EQ(sink.stations.size(), 5u);
    using engine::verdict_kind;
    const heard& saved = sink.stations[0];
    EXPECT_EQ(saved.row.id, 101);
    EXPECT_EQ(saved.verdict.kind, verdict_kind::saved);
    EXPECT_EQ(saved.verdict.saved_count, 1);
    EXPECT_EQ(saved.january, 1.5f);
    const heard& absent = sink.stations[1];
    EXPECT_EQ(absent.row.id, 102);
    EXPECT_EQ(absent.verdict.kind, verdict_kind::no_records);
    EXPECT_TRUE(absent.verdict.reported_missing);
    const heard& late = sink.stations[2];
    EXPECT_EQ(late.verdict.kind, verdict_kind::span_not_covered);
    EXPECT_EQ(late.row.first_year, 1951);
    EXPECT_EQ(late.row.last_year, 1951);
    const heard& sparse = sink.stations[3];
    EXPECT_EQ(sparse.verdict.kind, verdict_kind::too_many_missing);
    EXPECT_EQ(sparse.verdict.missing, 11);
    EXPECT_EQ(sparse.verdict.limit, 6);
    const heard& implausible = sink.stations[4];
    EXPECT_EQ(implausible.verdict.kind, verdict_kind::implausible);
    EXPECT_EQ(implausible.verdict.value, 150.5f);  // the first of the span, not -80.5
    EXPECT_EQ(implausible.verdict.year, 1950);
    EXPECT_EQ(implausible.verdict.month, 3);

    EXPECT_EQ(summary.qualifying, 5);
    EXPECT_EQ(summary.saved, 1);
    EXPECT_EQ(summary.no_records, 1);
    EXPECT_EQ(summary.span_not_covered, 1);
    EXPECT_EQ(summary.too_many_missing, 1);
    EXPECT_EQ(summary.implausible, 1);
    EXPECT_EQ(summary.stop_signal, 0);
}

// The first reset clears every year; later ones only the years placed since, which must
// leave the grid all missing just the same.
TEST(GridReset, ClearsEveryYearFirstThenOnlyThePlacedOnes) {
    auto grid = std::make_unique<engine::station_grid>();
    for (auto& year : grid->cells)
        for (float& cell : year) cell = std::nanf("");
    engine::reset_grid(*grid);
    for (int y = 1; y <= engine::last_grid_year; ++y)
        for (float cell : grid->cells[y]) ASSERT_EQ(cell, engine::missing_value) << y;

    engine::place_value(*grid, 1950, 1, 1.0f);
    engine::place_value(*grid, 2100, 12, 2.0f);
    engine::place_value(*grid, 0, 5, 3.0f);     // outside the grid: not placed
    engine::place_value(*grid, 2101, 5, 3.0f);  // outside the grid: not placed
    engine::place_value(*grid, 1960, 0, 3.0f);  // no month: not placed
    EXPECT_EQ(grid->placed_first, 1950);
    EXPECT_EQ(grid->placed_last, 2100);
    EXPECT_EQ(grid->cells[1950][0], 1.0f);
    EXPECT_EQ(grid->cells[2100][11], 2.0f);
    // A cell outside the placed years that is not missing would survive the next reset.
    grid->cells[1900][3] = 9.0f;
    engine::reset_grid(*grid);
    EXPECT_EQ(grid->cells[1950][0], engine::missing_value);
    EXPECT_EQ(grid->cells[2100][11], engine::missing_value);
    EXPECT_EQ(grid->cells[1900][3], 9.0f);
    EXPECT_GT(grid->placed_first, grid->placed_last);
}

}  // namespace
