// Stations chosen by box, by identifier and by distance, in whole runs: the report and the
// warnings of each selector byte for byte, a list equal to a box's stations against the
// box run, ties of --nearest, an empty selection against an empty box, a long file of
// identifiers, --list, and distances against a haversine of the test's own.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/engine/client_tools.hpp"
#include "tests/support/batch_runs.hpp"
#include "tests/support/case_names.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/text.hpp"
#include "tests/support/transcript.hpp"

namespace {

namespace t = e2e::transcript;
using support::decimal;

void finish(const e2e::scratch_dir& dir) {
    if (::testing::Test::HasFailure()) {
        std::fprintf(stderr, "run kept in %s\n", dir.base.c_str());
    } else {
        e2e::remove_scratch_dir(dir);
    }
}

e2e::program_result batch(const e2e::scratch_dir& dir, std::vector<std::string> args,
                          const std::vector<std::string>& more = {}) {
    args.insert(args.end(), more.begin(), more.end());
    return support::run_batch(dir, VARNEX_BINARY, args);
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

// ---------------------------------------------------------------- selectors on the verdict archive

const std::string header = "station_id\tlongitude\tlatitude\tverdict\tdetail\n";
const std::string header_km = "station_id\tlongitude\tlatitude\tverdict\tdetail\tdistance_km\n";
const std::string s101 = "101\t10.0000\t45.0000\tsaved\t";
const std::string s102 = "102\t10.5000\t45.5000\tno-records\t";
const std::string s103 = "103\t11.0000\t46.0000\tspan-not-covered\tfirst=1951 last=1952";
const std::string s104 = "104\t11.5000\t46.5000\ttoo-many-missing\tmissing=10 limit=6";
const std::string s105 = "105\t12.0000\t47.0000\timplausible\tvalue=120.500 year=1950 month=3";
const std::string s106 = "106\t12.5000\t70.0000\tsaved\t";
const std::string s107 = "107\t39.7500\t-0.500000\tsaved\t";

// The distances were worked out apart from the program (Python's math module).
struct selector_case {
    std::string name;
    std::vector<std::string> selectors;
    std::string report;
    std::string warning;  // standard error's first line, when it is a warning
};

void PrintTo(const selector_case& c, std::ostream* os) { *os << c.name; }

std::vector<selector_case> selector_cases() {
    return {
        {"list_in_catalogue_order",
         {"--stations", "107,101,999,101.9"},
         header + s101 + "\n" + s107 + "\n999\t\t\tnot-in-catalogue\t\n",
         "varnex: 1 of 3 listed stations is not in the catalogue: 999"},
        {"latitudes_alone_hold_every_longitude",
         {"--lat", "44,47"},
         header + s101 + "\n" + s102 + "\n" + s103 + "\n" + s104 + "\n" + s105 + "\n",
         ""},
        {"longitudes_alone_hold_every_latitude",
         {"--lon", "12,40"},
         header + s105 + "\n" + s106 + "\n" + s107 + "\n",
         ""},
        {"radius_with_the_point_a_station",
         {"--near", "45,10", "--radius", "68"},
         header_km + s101 + "\t0.000\n" + s102 + "\t67.993\n",
         ""},
        {"radius_zero_holds_the_station_at_the_point",
         {"--near", "45,10", "--radius", "0"},
         header_km + s101 + "\t0.000\n",
         ""},
        {"nearest_in_catalogue_order",
         {"--near", "47,12", "--nearest", "3"},
         header_km + s103 + "\t134.990\n" + s104 + "\t67.396\n" + s105 + "\t0.000\n",
         ""},
        {"nearest_counts_after_box_and_list",
         {"--lat", "44,47", "--stations", "106,103,105,104,7", "--near", "46,11", "--nearest", "2"},
         header_km + s103 + "\t0.000\n" + s104 + "\t67.596\n7\t\t\tnot-in-catalogue\t\t\n",
         "varnex: 1 of 5 listed stations is not in the catalogue: 7"},
        {"radius_and_list",
         {"--near", "0,40", "--radius", "100", "--stations", "107,17508491,5"},
         header_km + s107 + "\t62.160\n5\t\t\tnot-in-catalogue\t\t\n",
         "varnex: 1 of 3 listed stations is not in the catalogue: 5"},
        {"listed_station_outside_the_box", {"--stations", "106", "--lat", "-10,60"}, header, ""},
        {"many_absent_named_ten_at_most",
         {"--stations", "1,2,3,4,5,6,7,8,9,10,11,12,2,107"},
         header + s107 + "\n" +
             [] {
                 std::string lines;
                 for (int id = 1; id <= 12; ++id) lines += decimal(id) + "\t\t\tnot-in-catalogue\t\n";
                 return lines;
             }(),
         "varnex: 12 of 13 listed stations are not in the catalogue: 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, ..."},
    };
}

class selectors : public ::testing::TestWithParam<selector_case> {};

TEST_P(selectors, report_and_warning) {
    const selector_case& c = GetParam();
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    const e2e::program_result r =
        batch(dir, c.selectors, {"--years", "1950-1951", "--max-missing", "25%", "--no-tsf", "--report", "-"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(t::first_difference(c.report, r.out), "");
    if (c.warning.empty()) {
        EXPECT_EQ(r.err.find("not in the catalogue"), std::string::npos) << r.err;
    } else {
        EXPECT_EQ(lines_of(r.err).front(), c.warning);
    }
    // -q leaves the warning out, and --list shows the same stations of the catalogue.
    EXPECT_EQ(batch(dir, c.selectors, {"--years", "1950", "-q"}).err, "");
    const e2e::program_result listed = batch(dir, c.selectors, {"--list", "-q"});
    EXPECT_EQ(listed.exit_status, 0);
    std::vector<std::string> identifiers;
    for (const std::string& line : lines_of(c.report))
        if (line.find("not-in-catalogue") == std::string::npos) identifiers.push_back(line.substr(0, line.find('\t')));
    std::vector<std::string> listed_identifiers;
    for (const std::string& line : lines_of(listed.out)) listed_identifiers.push_back(line.substr(0, line.find('\t')));
    EXPECT_EQ(listed_identifiers, identifiers);
    finish(dir);
}

INSTANTIATE_TEST_SUITE_P(verdict_archive, selectors, ::testing::ValuesIn(selector_cases()), support::named_by_name());

// ---------------------------------------------------------------- equalities

const std::vector<std::string> outputs = {"QORN_TAVEq.TSF", "QORNTAVEq.YX", "r.tsv", "s.csv"};

std::vector<std::string> outputs_into(const std::string& dir) {
    return {"-o", dir, "--report", dir + "/r.tsv", "--csv", dir + "/s.csv", "--netcdf", dir + "/s.nc"};
}

// ncdump's text of a file without its global attributes.
std::string dump_without_global_attributes(const std::string& path) {
    const std::string dump = client::run_command("ncdump " + client::quoted(path)).output;
    const std::size_t from = dump.find("// global attributes:");
    const std::size_t to = dump.find("data:");
    if (from == std::string::npos || to == std::string::npos) return dump;
    return dump.substr(0, from) + dump.substr(to);
}

void expect_same_outputs(const e2e::scratch_dir& dir, const std::string& a, const std::string& b) {
    for (const std::string& name : outputs) {
        const std::optional<std::string> first = e2e::read_file(dir.work + "/" + a, name);
        ASSERT_TRUE(first.has_value()) << a << "/" << name;
        EXPECT_TRUE(first == e2e::read_file(dir.work + "/" + b, name)) << name << " differs";
    }
    EXPECT_EQ(t::first_difference(dump_without_global_attributes(dir.work + "/" + a + "/s.nc"),
                                  dump_without_global_attributes(dir.work + "/" + b + "/s.nc")),
              "");
}

// The box's stations, as --list gives them, listed backwards and some twice.
TEST(selection_equalities, list_of_a_box_gives_the_box_run_bytes) {
    REQUIRE_CLIENT(client::program_found("ncdump"), "ncdump");
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_EQ(support::generate_archive(VARNEX_ARCHIVE_TOOL, dir.work,
                                        "--first-year 1950 --last-year 2000 --stations 150 --seed 405 --missing 0.1 "
                                        "--absent 4 --shuffle-blocks --big-ids --gaps --spurious 0.05"),
              "");
    const std::vector<std::string> box = {"--lat", "-40,60", "--lon", "120,-30"};
    const std::vector<std::string> run = {"--years", "1960-1990", "--max-missing", "0.2", "-q"};
    std::string ids;
    const std::vector<std::string> listed = lines_of(batch(dir, box, {"--list"}).out);
    ASSERT_GT(listed.size(), 20u);
    for (std::size_t i = listed.size() - 1; i > 0; --i) ids += listed[i].substr(0, listed[i].find('\t')) + "\n";
    ids += listed[1].substr(0, listed[1].find('\t')) + "\n";
    ASSERT_TRUE(e2e::write_file(dir.work, "ids.txt", ids));
    for (const char* out : {"box", "list"}) ASSERT_TRUE(std::filesystem::create_directory(dir.work + "/" + out));
    std::vector<std::string> box_args = box;
    box_args.insert(box_args.end(), run.begin(), run.end());
    ASSERT_EQ(batch(dir, box_args, outputs_into("box")).exit_status, 0);
    std::vector<std::string> list_args = {"--stations", "@ids.txt"};
    list_args.insert(list_args.end(), run.begin(), run.end());
    ASSERT_EQ(batch(dir, list_args, outputs_into("list")).exit_status, 0);
    expect_same_outputs(dir, "box", "list");
    finish(dir);
}

// A file of comments and blanks lists nobody: every output is that of a box without a
// station, and the netCDF file has no extent.
TEST(selection_equalities, empty_selection_is_an_empty_box) {
    REQUIRE_CLIENT(client::program_found("ncdump"), "ncdump");
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    ASSERT_TRUE(e2e::write_file(dir.work, "nobody.txt", "# nobody\n\n   \n"));
    for (const char* out : {"box", "list"}) ASSERT_TRUE(std::filesystem::create_directory(dir.work + "/" + out));
    const e2e::program_result box = batch(dir, {"--lat", "80,90", "--years", "1950-1951"}, outputs_into("box"));
    const e2e::program_result list =
        batch(dir, {"--stations", "@nobody.txt", "--years", "1950-1951"}, outputs_into("list"));
    EXPECT_EQ(box.exit_status, 0);
    EXPECT_EQ(list.exit_status, 0);
    EXPECT_EQ(lines_of(list.err).back(), "varnex: warning: no station saved");
    expect_same_outputs(dir, "box", "list");
    const std::string dump = client::run_command("ncdump -h " + client::quoted(dir.work + "/list/s.nc")).output;
    EXPECT_EQ(dump.find("geospatial"), std::string::npos) << dump;
    finish(dir);
}

// Four stations 10 degrees from the point, one further: the nearest are the first in the
// catalogue, whatever their order there.
TEST(selection_equalities, nearest_ties_go_to_the_earlier_in_the_catalogue) {
    const std::vector<std::string> places = {"1 0.0 -10.0 1.0", "2 10.0 0.0 2.0", "3 0.0 10.0 3.0", "4 -10.0 0.0 4.0",
                                             "5 0.0 20.0 5.0"};
    struct {
        std::vector<int> order;  // of places, in the catalogue
        std::string count;
        std::string identifiers;
    } cases[] = {
        {{0, 1, 2, 3, 4}, "2", "1 2"}, {{3, 2, 1, 0, 4}, "2", "4 3"},       {{4, 2, 0, 3, 1}, "3", "3 1 4"},
        {{4, 2, 0, 3, 1}, "2", "3 1"}, {{0, 1, 2, 3, 4}, "5", "1 2 3 4 5"},
    };
    for (const auto& c : cases) {
        const e2e::scratch_dir dir = e2e::make_scratch_dir();
        std::vector<std::string> stations;
        for (const int i : c.order) stations.push_back(places[static_cast<std::size_t>(i)]);
        ASSERT_TRUE(support::write_archive(dir.work, stations, {}));
        const e2e::program_result r = batch(dir, {"--near", "0,0", "--nearest", c.count, "--list"});
        std::string identifiers;
        for (const std::string& line : lines_of(r.out))
            if (line.front() != 's') identifiers += (identifiers.empty() ? "" : " ") + line.substr(0, line.find('\t'));
        EXPECT_EQ(identifiers, c.identifiers) << "--nearest " << c.count;
        finish(dir);
    }
}

// 1,990 stations of the catalogue, listed backwards with blanks and CR LF line ends around
// comments and blank lines, and 10 identifiers it lacks.
TEST(selection_files, two_thousand_identifiers) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_EQ(support::generate_archive(VARNEX_ARCHIVE_TOOL, dir.work,
                                        "--first-year 2000 --last-year 2001 --stations 2100 --seed 406"),
              "");
    const std::vector<std::string> catalogue = lines_of(batch(dir, {"--lat", "-90,90", "--list"}).out);
    ASSERT_EQ(catalogue.size(), 2101u);
    std::string file = "# a network\r\n\r\n";
    for (std::size_t i = 1990; i >= 1; --i) file += "  " + catalogue[i].substr(0, catalogue[i].find('\t')) + " \r\n";
    for (int id = 1; id <= 10; ++id) file += decimal(id) + "\n";
    ASSERT_TRUE(e2e::write_file(dir.work, "ids.txt", file));
    const e2e::program_result r =
        batch(dir, {"--stations", "@ids.txt", "--years", "2000-2001", "--no-tsf", "--report", "-"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(lines_of(r.err).front(),
              "varnex: 10 of 2000 listed stations are not in the catalogue: 1, 2, 3, 4, 5, 6, 7, 8, 9, 10");
    const std::vector<std::string> report = lines_of(r.out);
    ASSERT_EQ(report.size(), 2001u);
    for (std::size_t i = 1; i <= 1990; ++i)
        EXPECT_EQ(report[i].substr(0, report[i].find('\t')), catalogue[i].substr(0, catalogue[i].find('\t')));
    for (int id = 1; id <= 10; ++id) EXPECT_EQ(report[1990 + id], decimal(id) + "\t\t\tnot-in-catalogue\t");
    finish(dir);
}

// A file that cannot be read ends the run with status 1; a line that holds no identifier
// is a usage error naming the file, the line and the text. Nothing is written.
TEST(selection_files, unreadable_file_and_bad_lines) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    struct {
        std::string content;  // of ids.txt; empty: no file
        int exit_status;
        std::string err;
    } cases[] = {
        {"", 1, "varnex: ids.txt: No such file or directory\n"},
        {"101\n# 5\n nan\n", 2, "varnex: --stations: ids.txt:3: not a plain decimal number: \"nan\"\n"},
        {"101\n1e20\n", 2, "varnex: --stations: ids.txt:2: not a plain decimal number: \"1e20\"\n"},
        {"2147483648\n", 2,
         "varnex: --stations: ids.txt:1: identifier out of range -2147483648 to 2147483647: \"2147483648\"\n"},
        {"101 102\n", 2, "varnex: --stations: ids.txt:1: not a plain decimal number: \"101 102\"\n"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(dir.work + "/ids.txt");
        if (!c.content.empty()) {
            ASSERT_TRUE(e2e::write_file(dir.work, "ids.txt", c.content));
        }
        for (const std::vector<std::string>& more :
             {std::vector<std::string>{"--years", "1950"}, std::vector<std::string>{"--list"}}) {
            const e2e::program_result r = batch(dir, {"--stations", "@ids.txt"}, more);
            EXPECT_EQ(r.exit_status, c.exit_status) << c.content;
            EXPECT_EQ(r.err, c.err + (c.exit_status == 2 ? "Try 'varnex --help'.\n" : ""));
            EXPECT_EQ(r.out, "");
        }
        EXPECT_EQ(e2e::list_files(dir.work).size(), c.content.empty() ? 2u : 3u);
    }
    finish(dir);
}

// --list reads site_summary.txt alone: it runs without data.txt and writes nothing.
TEST(selection_list, needs_no_data_txt) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    std::filesystem::remove(dir.work + "/data.txt");
    const e2e::program_result r = batch(dir, {"--lon", "10.5,12", "--list", "--max-missing", "0.5", "--type", "tmax"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "station_id\tlongitude\tlatitude\textra\n"
              "102\t10.5000\t45.5000\t200.000\n103\t11.0000\t46.0000\t300.000\n104\t11.5000\t46.5000\t400.000\n"
              "105\t12.0000\t47.0000\t500.000\n");
    EXPECT_EQ(e2e::list_files(dir.work), (std::vector<std::string>{"site_summary.txt"}));
    finish(dir);
}

// ---------------------------------------------------------------- distances

struct place {
    double lat, lon;
};

// The haversine distance worked out another way: the chord between the two points on the
// unit sphere, from their Cartesian coordinates.
double chord_distance_km(place a, place b) {
    constexpr double to_radians = std::numbers::pi / 180.0;
    const auto unit = [&](place p) {
        const double phi = p.lat * to_radians, lambda = p.lon * to_radians;
        return std::vector<double>{std::cos(phi) * std::cos(lambda), std::cos(phi) * std::sin(lambda), std::sin(phi)};
    };
    const std::vector<double> u = unit(a), v = unit(b);
    const double chord =
        std::sqrt((u[0] - v[0]) * (u[0] - v[0]) + (u[1] - v[1]) * (u[1] - v[1]) + (u[2] - v[2]) * (u[2] - v[2]));
    return 2.0 * 6371.0 * std::asin(std::min(1.0, chord / 2.0));
}

// Stations at both poles, on both sides of the 180th meridian and on it; points at the
// poles, on the meridian and typed from 0 to 360. Every station's distance, as --list
// writes it, is the reference's to within the last decimal.
TEST(selection_distances, at_the_poles_and_across_the_180th_meridian) {
    const std::vector<std::string> typed = {"90 0",        "-90 0",  "89.5 179.9", "0 179.5", "0 -179.5",
                                            "-89.75 -180", "10 180", "45 -170",    "-45 170", "0 0"};
    std::vector<place> stations;
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < typed.size(); ++i) {
        const std::size_t blank = typed[i].find(' ');
        stations.push_back({std::stod(typed[i].substr(0, blank)), std::stod(typed[i].substr(blank + 1))});
        lines.push_back(decimal(static_cast<long long>(i) + 1) + " " + typed[i] + " 0");
    }
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_archive(dir.work, lines, {}));
    struct {
        std::string typed;
        place point;
    } points[] = {{"90,0", {90, 0}},         {"-90,45", {-90, 45}},  {"0,180", {0, 180}},
                  {"0,-179.9", {0, -179.9}}, {"30,190", {30, -170}}, {"-45,-170", {-45, -170}}};
    for (const auto& p : points) {
        const e2e::program_result r = batch(dir, {"--near", p.typed, "--nearest", "100", "--list"});
        const std::vector<std::string> listed = lines_of(r.out);
        ASSERT_EQ(listed.size(), stations.size() + 1) << r.err;
        for (std::size_t i = 0; i < stations.size(); ++i) {
            const std::string& line = listed[i + 1];
            const double written = std::stod(line.substr(line.rfind('\t') + 1));
            // The point and the stations as single precision holds them.
            const place point = {static_cast<float>(p.point.lat), static_cast<float>(p.point.lon)};
            const place station = {static_cast<float>(stations[i].lat), static_cast<float>(stations[i].lon)};
            EXPECT_NEAR(written, chord_distance_km(point, station), 0.0006) << p.typed << " to " << line;
        }
    }
    finish(dir);
}

// ---------------------------------------------------------------- clients

// With --near, Python's csv module and ncdump find the distances, and the netCDF file
// without a box gives the saved stations' extent and the selectors.
TEST(selection_clients, csv_and_netcdf_with_distances) {
    REQUIRE_CLIENT(client::python_has("csv"), "/usr/bin/python3");
    REQUIRE_CLIENT(client::program_found("ncdump"), "ncdump");
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    const e2e::program_result r =
        batch(dir, {"--near", "45,10", "--radius", "3000", "--years", "1950-1951", "--max-missing", "25%", "--no-tsf",
                    "--csv", "s.csv", "--netcdf", "s.nc", "-q"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    const client::command_result read = client::run_python(R"(
import csv, sys
with open(sys.argv[1], newline="") as f:
    rows = list(csv.DictReader(f))
print(list(rows[0].keys())[-1], len(rows))
print(sorted({(int(row["station_id"]), row["distance_km"]) for row in rows}))
)",
                                                           client::quoted(dir.work + "/s.csv"));
    EXPECT_EQ(read.output,
              "distance_km 72\n"
              "[(101, '0.000'), (106, '2783.341'), (17508491, '1714.477')]\n");
    const client::command_result dump = client::run_command("ncdump " + client::quoted(dir.work + "/s.nc"));
    for (const char* line :
         {"\tdouble distance(station) ;\n", "\t\tdistance:units = \"km\" ;\n", "\t\t:geospatial_lat_min = 45.f ;\n",
          "\t\t:geospatial_lat_max = 70.f ;\n", "\t\t:geospatial_lon_min = 0.25f ;\n",
          "\t\t:geospatial_lon_max = 12.5f ;\n", "\t\t:varnex_near_lat_lon = 45.f, 10.f ;\n",
          "\t\t:varnex_radius_km = 3000. ;\n", " distance = 0, 2783.34"})
        EXPECT_NE(dump.output.find(line), std::string::npos) << line << "in:\n" << dump.output;
    finish(dir);
}

}  // namespace
