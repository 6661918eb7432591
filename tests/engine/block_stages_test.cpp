// The reader's stages against the plain readings they replace: the block table against
// the general free-form reader reading in order, at every place a chunk may start, and
// the searches with their values against the forward search over the text.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <omp.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "tests/support/block_stages.hpp"
#include "tests/support/case_names.hpp"
#include "tests/support/engine_expect.hpp"
#include "tests/support/temp_files.hpp"
#include "tests/support/text_layouts.hpp"

namespace {

namespace x = e2e::engine_expect;

struct hostile_archive {
    const char* name;
    std::vector<std::string> lines;
    std::vector<std::int32_t> table;  // the stations asked for, in table order
};

std::vector<hostile_archive> hostile_archives() {
    return {
        {"tabs_and_carriage_returns",
         {"7\t1\t1950.042\t1.5\r", "7\t\t1\t1950.125 2.5\t\tflag", "\t8 1 1950.042 3.5\r", "8 1 1950.125\t4.5 x\r"},
         {8, 7}},
        {"records_going_on_and_empty_lines",
         {"7 1", "1950.042 1.5", "", "7 1 1950.125 2.5", "8 1 1950.042", "", "3.5", "8 1 1950.125 4.5"},
         {7, 8}},
        {"empty_fields_and_repeat_counts",
         {",1,1950.042,1.5", "7,,1950.125,2.5", ",,1950.208,", "8 1 2*", "8,1,1950.375,,", "2*8 1950.458 6.5"},
         {8, 7}},
        {"slashes_and_text_after_the_values", {"7 1 1950.042 /", "7 1 / 9", "8 1 1950.042 1.5/2", "8/"}, {7, 8}},
        {"a_block_ended_by_a_record_on_two_lines",
         {"7 1 1950.042 1.5", "8 0", "1950.042 2.0", "8 0 1950.125 3.0"},
         {7, 8}},
        {"a_record_cut_short_at_the_end", {"7 1 1950.042 1.5", "8 1 1950.042 2.5", "9 1"}, {9, 8, 7}},
        {"nul_bytes",
         {"7 1 1950.042 1.5",
          std::string("8 1 1950.0\0"
                      "42 2.5",
                      18),
          "9 1 1950.042 3.5"},
         {9}},
        {"quotes_and_bad_numbers", {"7 1 1950.042 1.5", "8 1 '1950.042' 2.5", "9 1 1950.042 3.5"}, {7, 9}},
        {"a_long_line_of_blanks_and_tabs",
         {"7 1 1950.042 1.5",
          std::string(3000, ' ') + "7" + std::string(3000, '\t') + "1 1950.125 -2.5 " + std::string(2000, 'x'),
          "8 1 1950.042 3.5"},
         {8, 7}},
    };
}

void PrintTo(const hostile_archive& a, std::ostream* os) { *os << a.name; }

class block_table_splits : public ::testing::TestWithParam<hostile_archive> {};

// Wherever the chunks start, the table is the one the reading in order gives, and the
// same as the table scanned in one chunk (its alternate readings included).
TEST_P(block_table_splits, match_the_reading_in_order_at_every_split) {
    const hostile_archive& a = GetParam();
    std::string text = support::observations_text(a.lines);
    const std::string path = support::write_temp_file("hostile_data.txt", text);
    const std::size_t header = text.size() - [&] {
        std::size_t data = 0;
        for (const std::string& line : a.lines) data += line.size() + 1;
        return data;
    }();
    const support::staged_run whole = support::run_stages(path, a.table, 1 << 30);
    EXPECT_EQ(support::table_against_reading(whole.archive.table, path), "");
    EXPECT_EQ(whole.unchecked_differs, "");
    const std::string described = support::describe(whole.archive.table);
    for (std::size_t split = 1; split + header < text.size(); ++split) {
        const support::staged_run run = support::run_stages(path, a.table, static_cast<std::int64_t>(split));
        ASSERT_EQ(support::describe(run.archive.table), described) << "chunks of " << split << " bytes";
        ASSERT_EQ(run.failure, whole.failure) << "chunks of " << split << " bytes";
    }
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(archives, block_table_splits, ::testing::ValuesIn(hostile_archives()),
                         support::named_by_name());

// The file written over in place and cut to length: a file emptied first would be
// written out to the disk at each close.
void overwrite(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(bytes.size())), 0);
    ASSERT_EQ(::close(fd), 0);
}

// A record that cannot be read is reported by the first search, in table order, that
// reads it, after the stations before it; one that no search reads is never reported.
TEST(block_search, reports_a_record_that_cannot_be_read_where_a_search_reads_it) {
    struct {
        std::vector<std::string> lines;
        std::vector<std::int32_t> table;
        std::size_t stations;       // searches done before the failure, the failing one included
        std::size_t first_records;  // read for the first station
        std::string failure;
    } cases[] = {
        // The record after station 7's block ends it and is read; the one after it is not.
        {{"7 1 1950.042 1.5", "8 1 1950.042 2.5", "x 1 1950.042 3.5"}, {7}, 1, 1, ""},
        {{"7 1 1950.042 1.5", "8 1 1950.042 2.5", "x 1 1950.042 3.5"},
         {7, 8},
         2,
         1,
         "Illegal character in numeric input at line 114"},
        // Station 8's search reads it on its way; station 7 is never searched.
        {{"7 1 1950.042 1.5", "x 1 1950.042 3.5", "8 1 1950.042 2.5"},
         {8, 7},
         1,
         0,
         "Illegal character in numeric input at line 113"},
        // The record that would end station 7's block cannot be read: its last line fails.
        {{"7 1 1950.042 1.5", "8 1", "1950.042 x"}, {7, 8}, 1, 0, "Illegal character in numeric input at line 114"},
    };
    const std::string path = support::write_temp_file("failing_data.txt", "");
    for (const auto& c : cases) {
        overwrite(path, support::observations_text(c.lines));
        const support::staged_run run = support::run_stages(path, c.table, 1 << 30);
        EXPECT_EQ(run.failure, c.failure) << c.lines[1];
        EXPECT_EQ(run.stations.size(), c.stations) << c.lines[1];
        EXPECT_EQ(run.stations.front().dates.size(), c.first_records) << c.lines[1];
    }
    std::remove(path.c_str());
}

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A layout: data.txt's lines after the header, the table, and the chunk size to scan with.
struct search_layout {
    std::vector<std::string> lines;
    std::vector<std::int32_t> table;
    std::int64_t chunk = 1 << 30;
};

// The stages over each layout give, station by station, what the forward search with its
// rewinds over the text gives: missing or found, and every date and value bit for bit.
// The chunks of these small files are scanned on one thread: a team woken for each would
// cost more than the scans (splits on two threads are checked above).
template <class Make>
void expect_layouts_match_the_search_over_the_text(Make make_layout) {
#if defined(VARNEX_SANITIZED)
    constexpr std::uint32_t layouts = 5'000;
#else
    constexpr std::uint32_t layouts = 100'000;
#endif
    const std::string path = support::write_temp_file("layout_data.txt", "");
    const int threads = omp_get_max_threads();
    omp_set_num_threads(1);
    for (std::uint32_t seed = 1; seed <= layouts && !::testing::Test::HasFatalFailure(); ++seed) {
        const search_layout layout = make_layout(seed);
        const std::vector<x::expected_search> expected = x::expected_searches_from_text(layout.table, layout.lines);
        overwrite(path, support::observations_text(layout.lines));
        const support::staged_run run = support::run_stages(path, layout.table, layout.chunk);
        ASSERT_EQ(run.failure, "") << "layout " << seed;
        ASSERT_EQ(run.unchecked_differs, "") << "layout " << seed;
        ASSERT_EQ(run.stations.size(), expected.size()) << "layout " << seed;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const support::staged_station& got = run.stations[i];
            const x::expected_search& want = expected[i];
            ASSERT_EQ(got.outcome == engine::search_outcome::missing_reported, want.reported_missing)
                << "layout " << seed << " station " << i;
            ASSERT_EQ(got.dates.size(), want.records.size()) << "layout " << seed << " station " << i;
            for (std::size_t k = 0; k < got.dates.size(); ++k) {
                ASSERT_TRUE(same_bits(got.dates[k], want.records[k].date)) << "layout " << seed << " record " << k;
                ASSERT_TRUE(same_bits(got.values[k], want.records[k].value)) << "layout " << seed << " record " << k;
            }
        }
    }
    omp_set_num_threads(threads);
    std::remove(path.c_str());
}

// A chunk whose plain runs hold more dates and values than its scan keeps: the run that
// meets the limit is read again from the file, and every value is still its record's.
TEST(block_search, reads_again_the_runs_a_chunk_could_not_keep) {
    search_layout l;
    for (const char* id : {"7", "8", "9"})
        for (int k = 0; k < 120'000; ++k)
            l.lines.push_back(std::string(id) + " 1 " + std::to_string(1900 + k % 100) + "." +
                              std::to_string(k % 1000) + " " + std::to_string(k % 997) + ".25");
    l.table = {7, 8, 9};
    const std::vector<x::expected_search> expected = x::expected_searches_from_text(l.table, l.lines);
    const std::string path = support::write_temp_file("unkept_data.txt", support::observations_text(l.lines));
    const support::staged_run run = support::run_stages(path, l.table, 1 << 30);
    ASSERT_EQ(run.stations.size(), expected.size());
    EXPECT_EQ(run.unchecked_differs, "");
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(run.stations[i].dates.size(), expected[i].records.size()) << "station " << i;
        for (std::size_t k = 0; k < expected[i].records.size(); ++k) {
            ASSERT_TRUE(same_bits(run.stations[i].dates[k], expected[i].records[k].date)) << i << " record " << k;
            ASSERT_TRUE(same_bits(run.stations[i].values[k], expected[i].records[k].value)) << i << " record " << k;
        }
    }
    std::remove(path.c_str());
}

// Random archives of records in every form and catalogues in any order, with chunks of
// any size.
TEST(block_search, matches_the_forward_search_over_the_text) {
    expect_layouts_match_the_search_over_the_text([](std::uint32_t seed) {
        const support::text_layout layout = support::random_layout(seed);
        search_layout l;
        l.lines = layout.lines;
        for (const x::catalogue_station& s : layout.catalogue) l.table.push_back(s.id);
        l.chunk = seed % 3 == 0 ? 1 << 30 : 1 + static_cast<std::int64_t>(seed % 97);
        return l;
    });
}

// Records of four values split across lines at any blank, so that records span lines
// everywhere, with identifiers that also appear as dates: the searches that step back
// onto a record's last line read on in readings of their own, which meet the records of
// the file-order reading again mid-run. Tables may name a station twice.
TEST(block_search, matches_the_forward_search_when_records_are_split_anywhere) {
    expect_layouts_match_the_search_over_the_text([](std::uint32_t seed) {
        std::mt19937 random(seed);
        const char* const ids[] = {"7", "8", "9", "1950"};
        search_layout l;
        std::string line;
        const int values = 4 * (3 + static_cast<int>(random() % 10));
        for (int i = 0; i < values; ++i) {
            const std::string value = i % 4 == 0   ? ids[random() % 4]
                                      : i % 4 == 1 ? "1"
                                      : i % 4 == 2 ? (random() % 2 ? "1950.042" : "1950.125")
                                                   : std::to_string(random() % 50) + ".5";
            line += (line.empty() ? "" : " ") + value;
            if (random() % 2 == 0) {
                l.lines.push_back(line);
                line.clear();
            }
        }
        if (!line.empty()) l.lines.push_back(line);
        for (int i = 1 + static_cast<int>(random() % 4); i > 0; --i) {
            const std::int32_t choices[] = {7, 8, 9, 1950, 1};
            l.table.push_back(choices[random() % 5]);
        }
        l.chunk = seed % 2 ? 1 << 30 : 7;
        return l;
    });
}

}  // namespace
