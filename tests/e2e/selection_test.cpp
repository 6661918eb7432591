// Stations chosen by box, by identifier and by distance, in whole runs: each selector's
// report and warning byte for byte, a list of a box's stations against the box run, an
// empty selection against an empty box, ties of --nearest, a long file of identifiers, and
// distances against a reference of the test's own.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "tests/engine/client_tools.hpp"
#include "tests/support/batch_runs.hpp"
#include "tests/support/case_names.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/text.hpp"
#include "tests/support/transcript.hpp"

namespace {

using support::decimal;

e2e::program_result batch(const e2e::scratch_dir& dir, std::vector<std::string> args,
                          const std::vector<std::string>& more = {}) {
    args.insert(args.end(), more.begin(), more.end());
    return support::run_batch(dir, VARNEX_BINARY, args);
}

using support::lines_of;

// The identifiers of the catalogue stations of a report or a list, after its header.
std::string identifiers_of(const std::string& table) {
    std::string ids;
    const std::vector<std::string> lines = lines_of(table);
    for (std::size_t i = 1; i < lines.size(); ++i)
        if (lines[i].find("not-in-catalogue") == std::string::npos)
            ids += (ids.empty() ? "" : " ") + lines[i].substr(0, lines[i].find('\t'));
    return ids;
}

// ---------------------------------------------------------------- selectors on the verdict archive

const std::string head = "station_id\tlongitude\tlatitude\tverdict\tdetail\n";
const std::string head_km = "station_id\tlongitude\tlatitude\tverdict\tdetail\tdistance_km\n";
const std::string s101 = "101\t10.0000\t45.0000\tsaved\t";
const std::string s103 = "103\t11.0000\t46.0000\tspan-not-covered\tfirst=1951 last=1952";
const std::string s104 = "104\t11.5000\t46.5000\ttoo-many-missing\tmissing=10 limit=6";
const std::string s105 = "105\t12.0000\t47.0000\timplausible\tvalue=120.500 year=1950 month=3";
const std::string s107 = "107\t39.7500\t-0.500000\tsaved\t";

// Distances worked out apart from the program, with Python's math module.
struct selector_case {
    std::string name;
    std::vector<std::string> selectors;
    std::string report;
    std::string warning;  // the first line of standard error, when it is one
};

std::vector<selector_case> selector_cases() {
    std::string absent;
    for (int id = 1; id <= 12; ++id) absent += decimal(id) + "\t\t\tnot-in-catalogue\t\n";
    return {
        {"list_in_catalogue_order",
         {"--stations", "107,101,999,101.9"},
         head + s101 + "\n" + s107 + "\n999\t\t\tnot-in-catalogue\t\n",
         "varnex: 1 of 3 listed stations is not in the catalogue: 999"},
        {"latitudes_alone", {"--lat", "45.9,47"}, head + s103 + "\n" + s104 + "\n" + s105 + "\n", ""},
        {"longitudes_alone", {"--lon", "39,40"}, head + s107 + "\n", ""},
        {"radius_zero_holds_the_station_at_the_point",
         {"--near", "45,10", "--radius", "0"},
         head_km + s101 + "\t0.000\n",
         ""},
        {"nearest_in_catalogue_order",
         {"--near", "47,12", "--nearest", "3"},
         head_km + s103 + "\t134.990\n" + s104 + "\t67.396\n" + s105 + "\t0.000\n",
         ""},
        {"nearest_counts_after_box_and_list",
         {"--lat", "44,47", "--stations", "106,103,105,104,7", "--near", "46,11", "--nearest", "2"},
         head_km + s103 + "\t0.000\n" + s104 + "\t67.596\n7\t\t\tnot-in-catalogue\t\t\n",
         "varnex: 1 of 5 listed stations is not in the catalogue: 7"},
        {"radius_and_list",
         {"--near", "0,40", "--radius", "100", "--stations", "107,17508491"},
         head_km + s107 + "\t62.160\n",
         ""},
        {"listed_station_outside_the_box", {"--stations", "106", "--lat", "-10,60"}, head, ""},
        {"ten_absent_named_at_most",
         {"--stations", "1,2,3,4,5,6,7,8,9,10,11,12,2,107"},
         head + s107 + "\n" + absent,
         "varnex: 12 of 13 listed stations are not in the catalogue: 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, ..."},
    };
}

class selectors : public ::testing::TestWithParam<selector_case> {};

// Then --list gives the same stations of the catalogue without data.txt, and -q no warning.
TEST_P(selectors, report_warning_and_list) {
    const selector_case& c = GetParam();
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    const e2e::program_result r =
        batch(dir, c.selectors, {"--years", "1950-1951", "--max-missing", "25%", "--no-tsf", "--report", "-"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(e2e::transcript::first_difference(c.report, r.out), "");
    EXPECT_EQ(r.err.find("not in the catalogue") == std::string::npos ? "" : lines_of(r.err).front(), c.warning);
    std::filesystem::remove(dir.work + "/data.txt");
    const e2e::program_result listed = batch(dir, c.selectors, {"--list", "-q"});
    EXPECT_EQ(listed.err, "");
    EXPECT_EQ(identifiers_of(listed.out), identifiers_of(c.report));
    e2e::remove_scratch_dir(dir);
}

INSTANTIATE_TEST_SUITE_P(verdict_archive, selectors, ::testing::ValuesIn(selector_cases()), support::named_by_name());

// ---------------------------------------------------------------- equalities

// ncdump's text of a file without its global attributes.
std::string dump_without_global_attributes(const std::string& path) {
    const std::string dump = client::run_command("ncdump " + client::quoted(path)).output;
    const std::size_t from = dump.find("// global attributes:");
    return dump.substr(0, from) + dump.substr(std::min(dump.find("data:"), dump.size()));
}

// Runs `a` and `b`, each followed by `run` and every output into a directory of its own,
// and compares their outputs (apart from the netCDF file's global attributes).
void expect_same_outputs(const e2e::scratch_dir& dir, const std::vector<std::string>& a,
                         const std::vector<std::string>& b, const std::vector<std::string>& run) {
    for (auto [name, args] : {std::pair{"a", a}, std::pair{"b", b}}) {
        args.insert(args.end(), run.begin(), run.end());
        std::filesystem::create_directory(dir.work + "/" + name);
        const std::string out = std::string(name) + "/";
        ASSERT_EQ(
            batch(dir, args, {"-o", name, "--report", out + "r.tsv", "--csv", out + "s.csv", "--netcdf", out + "s.nc"})
                .exit_status,
            0);
    }
    for (const char* file : {"QORN_TAVEq.TSF", "QORNTAVEq.YX", "r.tsv", "s.csv"})
        EXPECT_TRUE(e2e::read_file(dir.work + "/a", file) == e2e::read_file(dir.work + "/b", file)) << file;
    EXPECT_EQ(e2e::transcript::first_difference(dump_without_global_attributes(dir.work + "/a/s.nc"),
                                                dump_without_global_attributes(dir.work + "/b/s.nc")),
              "");
}

// The box's stations, as --list gives them, listed backwards and one twice.
TEST(selection_equalities, list_of_a_box_gives_the_box_run_bytes) {
    REQUIRE_CLIENT(client::program_found("ncdump"), "ncdump");
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_EQ(support::generate_archive(VARNEX_ARCHIVE_TOOL, dir.work,
                                        "--first-year 1950 --last-year 2000 --stations 150 --seed 405 --missing 0.1 "
                                        "--absent 4 --shuffle-blocks --big-ids --gaps --spurious 0.05"),
              "");
    const std::vector<std::string> box = {"--lat", "-40,60", "--lon", "120,-30"};
    const std::vector<std::string> listed = lines_of(batch(dir, box, {"--list"}).out);
    ASSERT_GT(listed.size(), 20u);
    std::string ids = listed[1].substr(0, listed[1].find('\t')) + "\n";
    for (std::size_t i = listed.size() - 1; i > 0; --i) ids += listed[i].substr(0, listed[i].find('\t')) + "\n";
    ASSERT_TRUE(e2e::write_file(dir.work, "ids.txt", ids));
    expect_same_outputs(dir, box, {"--stations", "@ids.txt"}, {"--years", "1960-1990", "--max-missing", "0.2", "-q"});
    e2e::remove_scratch_dir(dir);
}

// A file of comments and blanks lists nobody; the netCDF file then has no extent.
TEST(selection_equalities, empty_selection_is_an_empty_box) {
    REQUIRE_CLIENT(client::program_found("ncdump"), "ncdump");
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    ASSERT_TRUE(e2e::write_file(dir.work, "nobody.txt", "# nobody\n\n   \n"));
    expect_same_outputs(dir, {"--lat", "80,90"}, {"--stations", "@nobody.txt"}, {"--years", "1950-1951"});
    const std::string dump = client::run_command("ncdump -h " + client::quoted(dir.work + "/b/s.nc")).output;
    EXPECT_EQ(dump.find("geospatial"), std::string::npos) << dump;
    e2e::remove_scratch_dir(dir);
}

// Four stations 10 degrees from the point and one further: the nearest are the earliest in
// the catalogue, whatever their order there.
TEST(selection_equalities, nearest_ties_go_to_the_earlier_in_the_catalogue) {
    const std::string places[] = {"1 0 -10 0", "2 10 0 0", "3 0 10 0", "4 -10 0 0", "5 0 20 0"};
    const struct {
        std::vector<int> order;  // of the places in the catalogue
        const char* count;
        const char* identifiers;
    } cases[] = {{{0, 1, 2, 3, 4}, "2", "1 2"},
                 {{3, 2, 1, 0, 4}, "2", "4 3"},
                 {{4, 2, 0, 3, 1}, "3", "3 1 4"},
                 {{4, 2, 0, 3, 1}, "4", "3 1 4 2"},
                 {{0, 1, 2, 3, 4}, "5", "1 2 3 4 5"}};
    for (const auto& c : cases) {
        const e2e::scratch_dir dir = e2e::make_scratch_dir();
        std::vector<std::string> stations;
        for (const int i : c.order) stations.push_back(places[i]);
        ASSERT_TRUE(support::write_archive(dir.work, stations, {}));
        EXPECT_EQ(identifiers_of(batch(dir, {"--near", "0,0", "--nearest", c.count, "--list"}).out), c.identifiers);
        e2e::remove_scratch_dir(dir);
    }
}

// ---------------------------------------------------------------- files of identifiers

// 1,990 stations of the catalogue listed backwards, with blanks, CR LF line ends, a
// comment and a blank line, and 10 identifiers it lacks.
TEST(selection_files, two_thousand_identifiers) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_EQ(support::generate_archive(VARNEX_ARCHIVE_TOOL, dir.work,
                                        "--first-year 2000 --last-year 2001 --stations 2100 --seed 406"),
              "");
    const std::vector<std::string> catalogue = lines_of(batch(dir, {"--lat", "-90,90", "--list"}).out);
    ASSERT_EQ(catalogue.size(), 2101u);
    std::string file = "# a network\r\n\r\n", report = "station_id\n", absent;
    for (std::size_t i = 1990; i >= 1; --i) file += "  " + catalogue[i].substr(0, catalogue[i].find('\t')) + " \r\n";
    for (std::size_t i = 1; i <= 1990; ++i) report += catalogue[i].substr(0, catalogue[i].find('\t')) + "\n";
    for (int id = 1; id <= 10; ++id) file += decimal(id) + "\n", absent += decimal(id) + "\t\t\tnot-in-catalogue\t\n";
    ASSERT_TRUE(e2e::write_file(dir.work, "ids.txt", file));
    const e2e::program_result r =
        batch(dir, {"--stations", "@ids.txt", "--years", "2000-2001", "--no-tsf", "--report", "-"});
    EXPECT_EQ(lines_of(r.err).front(),
              "varnex: 10 of 2000 listed stations are not in the catalogue: 1, 2, 3, 4, 5, 6, 7, 8, 9, 10");
    std::string got;  // the identifier of each station line, the whole of each absent one
    for (const std::string& line : lines_of(r.out))
        got += (line.find("not-in-catalogue") == std::string::npos ? line.substr(0, line.find('\t')) : line) + "\n";
    EXPECT_EQ(got, report + absent);
    e2e::remove_scratch_dir(dir);
}

// A file that cannot be read ends the run with status 1, a line that holds no identifier is
// a usage error; neither writes anything.
TEST(selection_files, unreadable_file_and_bad_lines) {
    const struct {
        const char* content;  // of ids.txt; nullptr: no file
        int exit_status;
        std::string err;
    } cases[] = {
        {nullptr, 1, "varnex: ids.txt: No such file or directory\n"},
        {"101\n# 5\n nan\n", 2, "varnex: --stations: ids.txt:3: not a plain decimal number: \"nan\"\n"},
        {"101\n1e20\n", 2, "varnex: --stations: ids.txt:2: not a plain decimal number: \"1e20\"\n"},
        {"2147483648\n", 2,
         "varnex: --stations: ids.txt:1: identifier out of range -2147483648 to 2147483647: \"2147483648\"\n"},
    };
    for (const auto& c : cases) {
        for (const char* last : {"--list", "--csv=s.csv"}) {
            const e2e::scratch_dir dir = e2e::make_scratch_dir();
            ASSERT_TRUE(support::write_verdict_archive(dir.work));
            ASSERT_TRUE(c.content == nullptr || e2e::write_file(dir.work, "ids.txt", c.content));
            const e2e::program_result r = batch(dir, {"--stations", "@ids.txt", "--years", "1950", last});
            EXPECT_EQ(r.exit_status, c.exit_status);
            EXPECT_EQ(r.out + r.err, c.err + (c.exit_status == 2 ? "Try 'varnex --help'.\n" : ""));
            EXPECT_EQ(e2e::list_files(dir.work).size(), c.content == nullptr ? 2u : 3u);
            e2e::remove_scratch_dir(dir);
        }
    }
}

// ---------------------------------------------------------------- distances

// The great-circle distance worked out another way: from the chord between the points on
// the unit sphere.
double chord_distance_km(double lat1, double lon1, double lat2, double lon2) {
    constexpr double r = std::numbers::pi / 180.0;
    const double dx = std::cos(lat1 * r) * std::cos(lon1 * r) - std::cos(lat2 * r) * std::cos(lon2 * r);
    const double dy = std::cos(lat1 * r) * std::sin(lon1 * r) - std::cos(lat2 * r) * std::sin(lon2 * r);
    const double dz = std::sin(lat1 * r) - std::sin(lat2 * r);
    return 2.0 * 6371.0 * std::asin(std::min(1.0, std::sqrt(dx * dx + dy * dy + dz * dz) / 2.0));
}

// Stations at both poles, on both sides of the 180th meridian and on it; points at the
// poles, on the meridian and typed from 0 to 360. Every distance --list writes is the
// reference's, from the single-precision coordinates, to within its last decimal.
TEST(selection_distances, at_the_poles_and_across_the_180th_meridian) {
    const float stations[][2] = {{90, 0},         {-90, 0},  {89.5f, 179.9f}, {0, 179.5f}, {0, -179.5f},
                                 {-89.75f, -180}, {10, 180}, {45, -170},      {-45, 170},  {0, 0}};
    std::vector<std::string> lines;
    for (const auto& s : stations)
        lines.push_back(decimal(static_cast<long long>(lines.size()) + 1) + " " + std::to_string(s[0]) + " " +
                        std::to_string(s[1]) + " 0");
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_archive(dir.work, lines, {}));
    const struct {
        const char* typed;
        float lat, lon;
    } points[] = {{"90,0", 90, 0},          {"-90,45", -90, 45},  {"0,180", 0, 180},
                  {"0,-179.9", 0, -179.9f}, {"30,190", 30, -170}, {"-45,-170", -45, -170}};
    for (const auto& p : points) {
        const std::vector<std::string> listed =
            lines_of(batch(dir, {"--near", p.typed, "--nearest", "99", "--list"}).out);
        ASSERT_EQ(listed.size(), std::size(stations) + 1);
        for (std::size_t i = 0; i < std::size(stations); ++i)
            EXPECT_NEAR(std::stod(listed[i + 1].substr(listed[i + 1].rfind('\t') + 1)),
                        chord_distance_km(p.lat, p.lon, stations[i][0], stations[i][1]), 0.0006)
                << p.typed << " to " << listed[i + 1];
    }
    e2e::remove_scratch_dir(dir);
}

// Python's csv module and ncdump find the distances, and the netCDF file without a box
// gives the saved stations' extent and the selectors.
TEST(selection_distances, read_by_python_csv_and_ncdump) {
    REQUIRE_CLIENT(client::python_has("csv") && client::program_found("ncdump"), "python3 and ncdump");
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    ASSERT_EQ(batch(dir, {"--near", "45,10", "--radius", "3000", "--years", "1950-1951", "--max-missing", "25%",
                          "--no-tsf", "--csv", "s.csv", "--netcdf", "s.nc"})
                  .exit_status,
              0);
    const client::command_result read = client::run_python(R"(
import csv, sys
rows = list(csv.DictReader(open(sys.argv[1], newline="")))
print(list(rows[0])[-1], len(rows), sorted({(int(row["station_id"]), row["distance_km"]) for row in rows}))
)",
                                                           client::quoted(dir.work + "/s.csv"));
    EXPECT_EQ(read.output, "distance_km 72 [(101, '0.000'), (106, '2783.341'), (17508491, '1714.477')]\n");
    const std::string dump = client::run_command("ncdump " + client::quoted(dir.work + "/s.nc")).output;
    for (const char* line :
         {"\tdouble distance(station) ;\n\t\tdistance:long_name = \"great-circle distance from the point of --near\" "
          ";\n"
          "\t\tdistance:units = \"km\" ;\n",
          ":geospatial_lat_min = 45.f ;\n\t\t:geospatial_lat_max = 70.f ;\n\t\t:geospatial_lon_min = 0.25f ;\n"
          "\t\t:geospatial_lon_max = 12.5f ;\n",
          ":varnex_near_lat_lon = 45.f, 10.f ;\n\t\t:varnex_radius_km = 3000. ;\n", " distance = 0, 2783.34"})
        EXPECT_NE(dump.find(line), std::string::npos) << line << "in:\n" << dump;
    e2e::remove_scratch_dir(dir);
}

}  // namespace
