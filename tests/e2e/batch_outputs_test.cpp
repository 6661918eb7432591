// The CSV and netCDF outputs of whole batch runs, read back by their clients (Python's csv
// module, pandas, xarray, ncdump, the netCDF C library) and compared cell by cell with the
// series and coordinates files of the same run; where the outputs land; and that one run
// reads data.txt once whatever it writes.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <netcdf.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/engine/client_tools.hpp"
#include "tests/support/archive_names.hpp"
#include "tests/support/batch_runs.hpp"
#include "tests/support/case_names.hpp"
#include "tests/support/engine_expect.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/text.hpp"
#include "tests/support/transcript.hpp"

namespace {

namespace x = e2e::engine_expect;
namespace t = e2e::transcript;

using support::decimal;

void finish(const e2e::scratch_dir& dir) {
    if (::testing::Test::HasFailure()) {
        std::fprintf(stderr, "run kept in %s\n", dir.base.c_str());
    } else {
        e2e::remove_scratch_dir(dir);
    }
}

e2e::program_result batch(const e2e::scratch_dir& dir, const std::vector<std::string>& args) {
    return support::run_batch(dir, VARNEX_BINARY, args);
}

// ---------------------------------------------------------------- runs of the table

struct output_case {
    std::string name;
    std::string generator;  // varnex_archive options; empty: the verdict archive
    std::vector<std::string> args;
    int data_type;          // the menu's number, which names the series pair
    std::string type_word;  // the --type word, 'tave' when left out
    std::string variable;   // the data variable of the netCDF file
    float west, east;
    std::string coverage_start;
    int limit;  // varnex_max_missing_months; -1 when no limit is given
};

void PrintTo(const output_case& c, std::ostream* os) { *os << c.name; }

std::vector<output_case> output_cases() {
    return {
        {"missing_months_negative_zero_and_large_identifier",
         "",
         {"--lat", "-10,60", "--lon", "0,40", "--years", "1950-1951", "--max-missing", "25%"},
         1,
         "tave",
         "tas",
         0.0f,
         40.0f,
         "1950-01-01",
         6},
        {"dateline_box_with_large_identifiers",
         "--stations 120 --seed 401 --dateline --big-ids --missing 0.1",
         {"--lat", "-60,70", "--lon", "170,-170", "--years", "1970-1980", "--type", "tmin", "--max-missing", "0.2"},
         3,
         "tmin",
         "tasmin",
         170.0f,
         -170.0f,
         "1970-01-01",
         26},
        {"no_limit_with_gaps",
         "--stations 60 --seed 402 --missing 0.3 --gaps --spurious 0.05",
         {"--lat", "-90,90", "--lon", "-180,180", "--years", "1960-1999", "--type", "tave-raw"},
         4,
         "tave-raw",
         "tas",
         -180.0f,
         180.0f,
         "1960-01-01",
         -1},
    };
}

struct table_run {
    e2e::program_result result;
    std::string series;       // the .TSF
    std::string coordinates;  // the .YX
    std::vector<support::series_station> stations;
};

// Writes the case's archive into dir.work and runs the program there with `more` options.
table_run run_case(const e2e::scratch_dir& dir, const output_case& c, const std::vector<std::string>& more) {
    table_run run;
    if (c.generator.empty()) {
        EXPECT_TRUE(support::write_verdict_archive(dir.work));
    } else {
        EXPECT_EQ(support::generate_archive(VARNEX_ARCHIVE_TOOL, dir.work,
                                            "--first-year 1950 --last-year 2010 " + c.generator),
                  "");
    }
    std::vector<std::string> args = c.args;
    args.insert(args.end(), more.begin(), more.end());
    run.result = batch(dir, args);
    EXPECT_EQ(run.result.exit_status, 0) << run.result.err;
    const support::output_names names = support::outputs_for_choice(c.data_type);
    run.series = e2e::read_file(dir.work, names.series).value_or("");
    run.coordinates = e2e::read_file(dir.work, names.coordinates).value_or("");
    std::string error;
    run.stations = support::parse_series(run.series, error);
    EXPECT_EQ(error, "");
    EXPECT_GT(run.stations.size(), 1u) << "the case saves too few stations to compare";
    return run;
}

// The CSV rows the series and coordinates files call for, fields joined by '|'.
std::string expected_csv_rows(const table_run& run) {
    std::string rows = "station_id|longitude|latitude|extra|year|month|value\n";
    const std::vector<std::vector<std::string>> places = support::parse_coordinates(run.coordinates);
    for (std::size_t i = 0; i < run.stations.size(); ++i) {
        const support::series_station& s = run.stations[i];
        const std::vector<std::string> place = i < places.size() ? places[i] : std::vector<std::string>(3);
        EXPECT_EQ(place, (std::vector<std::string>{s.lon, s.lat, s.id})) << "the .YX and .TSF disagree";
        for (const support::series_station::row& row : s.rows) {
            for (std::size_t m = 0; m < 12; ++m) {
                const std::string value = row.months[m] == "-99.000" ? "" : row.months[m];
                rows += s.id + "|" + place[0] + "|" + place[1] + "|" + s.extra + "|" + decimal(row.year) + "|" +
                        decimal(static_cast<long long>(m) + 1) + "|" + value + "\n";
            }
        }
    }
    return rows;
}

const char* const csv_rows_script = R"(
import csv, sys
with open(sys.argv[1], newline="") as f:
    for row in csv.reader(f):
        print("|".join(row))
)";

class batch_outputs : public ::testing::TestWithParam<output_case> {};

TEST_P(batch_outputs, csv_read_by_python_matches_the_series_file) {
    REQUIRE_CLIENT(client::python_has("csv"), "/usr/bin/python3");
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    const table_run run = run_case(dir, GetParam(), {"--csv", "series.csv"});
    const client::command_result read = client::run_python(csv_rows_script, client::quoted(dir.work + "/series.csv"));
    ASSERT_EQ(read.exit_status, 0) << read.output;
    EXPECT_EQ(t::first_difference(expected_csv_rows(run), read.output), "");

    // The same bytes on standard output.
    const e2e::program_result to_stdout = batch(dir, [&] {
        std::vector<std::string> args = GetParam().args;
        for (const char* more : {"--csv", "-", "--no-tsf", "-q"}) args.push_back(more);
        return args;
    }());
    EXPECT_EQ(to_stdout.exit_status, 0);
    EXPECT_TRUE(to_stdout.out == e2e::read_file(dir.work, "series.csv")) << "standard output differs from the file";
    finish(dir);
}

std::string text_attribute(int ncid, const char* name) {
    std::size_t length = 0;
    if (nc_inq_attlen(ncid, NC_GLOBAL, name, &length) != NC_NOERR) return "(absent)";
    std::string text(length, '\0');
    nc_get_att_text(ncid, NC_GLOBAL, name, text.data());
    return text;
}

float float_attribute(int ncid, int var, const char* name) {
    float value = 0.0f;
    EXPECT_EQ(nc_get_att_float(ncid, var, name, &value), NC_NOERR) << name;
    return value;
}

// Reads the netCDF file with the C library and writes the series and coordinates files it
// stands for, with the test's own record writers.
TEST_P(batch_outputs, netcdf_read_by_the_c_library_matches_the_series_file) {
    const output_case& c = GetParam();
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    const table_run run = run_case(dir, c, {"--netcdf", "series.nc"});
    int ncid = -1;
    ASSERT_EQ(nc_open((dir.work + "/series.nc").c_str(), NC_NOWRITE, &ncid), NC_NOERR);
    int station_dim = -1, time_dim = -1, id_var = -1, lon_var = -1, lat_var = -1, extra_var = -1, data_var = -1;
    std::size_t stations = 0, months = 0;
    ASSERT_EQ(nc_inq_dimid(ncid, "station", &station_dim), NC_NOERR);
    ASSERT_EQ(nc_inq_dimid(ncid, "time", &time_dim), NC_NOERR);
    ASSERT_EQ(nc_inq_dimlen(ncid, station_dim, &stations), NC_NOERR);
    ASSERT_EQ(nc_inq_dimlen(ncid, time_dim, &months), NC_NOERR);
    ASSERT_EQ(stations, run.stations.size());
    ASSERT_EQ(months, run.stations[0].rows.size() * 12);
    for (auto [name, var] : {std::pair{"station_id", &id_var}, std::pair{"lon", &lon_var}, std::pair{"lat", &lat_var},
                             std::pair{"extra", &extra_var}, std::pair{c.variable.c_str(), &data_var}})
        ASSERT_EQ(nc_inq_varid(ncid, name, var), NC_NOERR) << name;
    std::vector<int> ids(stations);
    std::vector<float> lon(stations), lat(stations), extra(stations), cells(stations * months);
    ASSERT_EQ(nc_get_var_int(ncid, id_var, ids.data()), NC_NOERR);
    ASSERT_EQ(nc_get_var_float(ncid, lon_var, lon.data()), NC_NOERR);
    ASSERT_EQ(nc_get_var_float(ncid, lat_var, lat.data()), NC_NOERR);
    ASSERT_EQ(nc_get_var_float(ncid, extra_var, extra.data()), NC_NOERR);
    ASSERT_EQ(nc_get_var_float(ncid, data_var, cells.data()), NC_NOERR);
    EXPECT_EQ(float_attribute(ncid, data_var, "_FillValue"), -99.0f);

    std::string series;
    std::string coordinates = support::coordinates_header;
    const int first_year = run.stations[0].rows[0].year;
    for (std::size_t s = 0; s < stations; ++s) {
        series += x::series_header(lon[s], lat[s], extra[s], ids[s]);
        coordinates += x::coordinates_row(lon[s], lat[s], ids[s]);
        for (std::size_t y = 0; y < months / 12; ++y) {
            std::array<float, 12> row;
            std::copy_n(cells.begin() + static_cast<std::ptrdiff_t>(s * months + y * 12), 12, row.begin());
            series += x::series_row(first_year + static_cast<int>(y), row);
        }
    }
    EXPECT_EQ(t::first_difference(run.series, series), "");
    EXPECT_EQ(t::first_difference(run.coordinates, coordinates), "");

    EXPECT_EQ(float_attribute(ncid, NC_GLOBAL, "geospatial_lon_min"), c.west);
    EXPECT_EQ(float_attribute(ncid, NC_GLOBAL, "geospatial_lon_max"), c.east);
    EXPECT_EQ(text_attribute(ncid, "time_coverage_start"), c.coverage_start);
    EXPECT_EQ(text_attribute(ncid, "varnex_data_type"), c.type_word);
    int limit = -1;
    const int status = nc_get_att_int(ncid, NC_GLOBAL, "varnex_max_missing_months", &limit);
    EXPECT_EQ(status == NC_NOERR ? limit : -1, c.limit);
    if (c.limit < 0) {
        EXPECT_EQ(status, NC_ENOTATT);
    }
    nc_close(ncid);
    finish(dir);
}

INSTANTIATE_TEST_SUITE_P(archives, batch_outputs, ::testing::ValuesIn(output_cases()), support::named_by_name());

// ---------------------------------------------------------------- clients of the verdict archive

const std::vector<std::string> verdict_box = {"--lat",   "-10,60",    "--lon",         "0,40",
                                              "--years", "1950-1951", "--max-missing", "25%"};

std::vector<std::string> verdict_run(std::vector<std::string> more) {
    std::vector<std::string> args = verdict_box;
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

TEST(batch_clients, pandas_reads_integer_identifiers_and_float_values) {
    REQUIRE_CLIENT(client::python_has("pandas"), "pandas");
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    ASSERT_EQ(batch(dir, verdict_run({"--csv", "series.csv", "--no-tsf"})).exit_status, 0);
    const client::command_result read = client::run_python(R"(
import sys, pandas
d = pandas.read_csv(sys.argv[1])
print(d["station_id"].dtype, d["value"].dtype, len(d), int(d["value"].isna().sum()))
print(sorted(d["station_id"].unique().tolist()))
print(d[d["value"].isna()][["station_id", "year", "month"]].values.tolist())
)",
                                                           client::quoted(dir.work + "/series.csv"));
    EXPECT_EQ(read.output,
              "int64 float64 72 4\n"
              "[101, 107, 17508491]\n"
              "[[107, 1950, 4], [107, 1950, 5], [107, 1951, 4], [107, 1951, 5]]\n");
    finish(dir);
}

TEST(batch_clients, ncdump_shows_a_cf_time_series_file) {
    REQUIRE_CLIENT(client::program_found("ncdump"), "ncdump");
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    ASSERT_EQ(batch(dir, verdict_run({"--netcdf", "series.nc", "--no-tsf"})).exit_status, 0);
    const client::command_result dump = client::run_command("ncdump -h " + client::quoted(dir.work + "/series.nc"));
    ASSERT_EQ(dump.exit_status, 0) << dump.output;
    for (const char* line :
         {"\tstation = UNLIMITED ; // (3 currently)\n", "\ttime = 24 ;\n", "\tint station_id(station) ;\n",
          "\t\tstation_id:cf_role = \"timeseries_id\" ;\n", "\tfloat tas(station, time) ;\n",
          "\t\ttas:_FillValue = -99.f ;\n", "\t\t:featureType = \"timeSeries\" ;\n",
          "\t\t:time_coverage_start = \"1950-01-01\" ;\n", "\t\t:time_coverage_end = \"1951-12-31\" ;\n",
          "\t\t:varnex_max_missing_months = 6 ;\n", "\t\t:varnex_data_type = \"tave\" ;\n"})
        EXPECT_NE(dump.output.find(line), std::string::npos) << line << "in:\n" << dump.output;
    finish(dir);
}

TEST(batch_clients, xarray_decodes_times_and_missing_months) {
    REQUIRE_CLIENT(client::python_has("xarray, netCDF4"), "xarray with netCDF4");
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    ASSERT_EQ(batch(dir, verdict_run({"--netcdf", "series.nc", "--no-tsf"})).exit_status, 0);
    const client::command_result read = client::run_python(R"(
import sys, xarray
ds = xarray.open_dataset(sys.argv[1])
v = ds["tas"]
print(v.dims, ds["time"].dtype.kind, str(ds["time"].values[0])[:19], str(ds["time"].values[-1])[:19])
print(ds["station_id"].dims, ds["station_id"].attrs["cf_role"], ds["station_id"].values.tolist())
print(int(v.isnull().sum()), v.isnull().values[1].nonzero()[0].tolist(), float(v.values[1][0]))
)",
                                                           client::quoted(dir.work + "/series.nc"));
    EXPECT_EQ(read.output,
              "('station', 'time') M 1950-01-16T12:00:00 1951-12-16T12:00:00\n"
              "('station',) timeseries_id [101, 107, 17508491]\n"
              "4 [3, 4, 15, 16] -0.0\n");
    finish(dir);
}

// ---------------------------------------------------------------- where the outputs go

TEST(batch_places, csv_netcdf_and_report_paths_are_taken_from_the_working_directory) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    std::filesystem::create_directory(dir.work + "/out");
    const e2e::program_result r =
        batch(dir, verdict_run({"-o", "out", "--csv", "s.csv", "--netcdf", "s.nc", "--report", "r.tsv", "-q"}));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(e2e::list_files(dir.work),
              (std::vector<std::string>{"data.txt", "out", "r.tsv", "s.csv", "s.nc", "site_summary.txt"}));
    EXPECT_EQ(e2e::list_files(dir.work + "/out"), (std::vector<std::string>{"QORNTAVEq.YX", "QORN_TAVEq.TSF"}));
    finish(dir);
}

TEST(batch_places, no_tsf_leaves_out_the_series_pair) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    const e2e::program_result r = batch(dir, verdict_run({"--no-tsf", "--csv", "s.csv", "--netcdf", "s.nc"}));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err,
              "varnex: 7 stations in the box, 3 saved, 1 without records, 1 not covering 1950-1951, 1 with too many "
              "missing months, 1 with implausible values\nvarnex: wrote s.csv\nvarnex: wrote s.nc\n");
    EXPECT_EQ(e2e::list_files(dir.work), (std::vector<std::string>{"data.txt", "s.csv", "s.nc", "site_summary.txt"}));
    finish(dir);
}

// ---------------------------------------------------------------- one pass over data.txt

// Feeds `bytes` once into the FIFO at `path`: waits up to `seconds` for a reader, then
// writes until done or until the reader goes away.
void feed_fifo_once(const std::string& path, const std::string& bytes, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int fd = -1;
    while ((fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK)) < 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (fd < 0) return;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

// data.txt is a FIFO that can be read only once, from the start: a run that opened it
// again would wait for a writer until its time limit, and one that went back in it would
// fail. Every output of that run equals the output of a run on the plain file.
void every_output_from_one_reading(const std::string& archive_options) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_EQ(support::generate_archive(VARNEX_ARCHIVE_TOOL, dir.work, archive_options), "");
    const std::vector<std::string> args = {"--lat",     "-90,90",        "--lon",    "-180,180", "--years",
                                           "1960-1990", "--max-missing", "0.12",     "--csv",    "s.csv",
                                           "--report",  "r.tsv",         "--netcdf", "s.nc",     "-q"};
    ASSERT_EQ(batch(dir, args).exit_status, 0);
    std::vector<std::optional<std::string>> plain;
    const std::vector<std::string> outputs = {"QORN_TAVEq.TSF", "QORNTAVEq.YX", "s.csv", "r.tsv"};
    for (const std::string& name : outputs) plain.push_back(e2e::read_file(dir.work, name));

    const std::string data_path = dir.work + "/data.txt";
    const std::string data = e2e::read_file(dir.work, "data.txt").value_or("");
    ASSERT_EQ(::unlink(data_path.c_str()), 0);
    ASSERT_EQ(::mkfifo(data_path.c_str(), 0644), 0);
    const auto old_pipe_action = ::signal(SIGPIPE, SIG_IGN);
    std::thread feeder(feed_fifo_once, data_path, data, 20);
    e2e::run_options options;
    options.args = args;
    options.stdin_path = dir.base;
    options.time_limit_seconds = 20;
    const e2e::program_result r = e2e::run_program(dir, VARNEX_BINARY, "", options);
    feeder.join();
    ::signal(SIGPIPE, old_pipe_action);
    EXPECT_FALSE(r.timed_out) << "data.txt was opened a second time";
    EXPECT_EQ(r.exit_status, 0) << r.err;
    for (std::size_t i = 0; i < outputs.size(); ++i)
        EXPECT_TRUE(e2e::read_file(dir.work, outputs[i]) == plain[i]) << outputs[i] << " differs";
    finish(dir);
}

TEST(batch_single_pass, every_output_from_one_reading_of_data_txt) {
    every_output_from_one_reading("--first-year 1950 --last-year 2010 --stations 80 --seed 403 --missing 0.1");
}

// Stations without records: their searches go round through the top of data.txt, which a
// pipe cannot give again; it is read once all the same, into a copy.
TEST(batch_single_pass, stations_without_records_from_a_pipe) {
    every_output_from_one_reading("--first-year 1950 --last-year 2010 --stations 80 --seed 404 --absent 3");
}

}  // namespace
