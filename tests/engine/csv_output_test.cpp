// The CSV table of the saved stations: exact bytes, the file and standard-output routes,
// and Python's readers (csv and pandas) on the result.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string>

#include "engine/csv_output.hpp"
#include "tests/engine/client_tools.hpp"

namespace {

const float nan_value = std::numeric_limits<float>::quiet_NaN();

const float first_rows[1][12] = {
    {-1.936f, -99.0f, -0.0f, 0.0f, 12.3456f, -99.0f, 100.0f, -70.0f, 0.0004f, -0.0004f, nan_value, 5.5f}};
const float second_rows[1][12] = {
    {1.0f, -99.0f, -99.0f, -99.0f, -99.0f, -99.0f, -99.0f, -99.0f, -99.0f, -99.0f, -99.0f, -99.0f}};

engine::station_series first_station() { return {16777217, -70.5f, 45.25f, 24.0f, 1999, 1999, first_rows}; }
engine::station_series second_station() { return {2147483647, 8.25f, -33.75f, 1234.5f, 1999, 1999, second_rows}; }

const char* const expected_table =
    "station_id,longitude,latitude,extra,year,month,value\n"
    "16777217,-70.5000,45.2500,24.0000,1999,1,-1.936\n"
    "16777217,-70.5000,45.2500,24.0000,1999,2,\n"
    "16777217,-70.5000,45.2500,24.0000,1999,3,0.000\n"
    "16777217,-70.5000,45.2500,24.0000,1999,4,0.000\n"
    "16777217,-70.5000,45.2500,24.0000,1999,5,12.346\n"
    "16777217,-70.5000,45.2500,24.0000,1999,6,\n"
    "16777217,-70.5000,45.2500,24.0000,1999,7,100.000\n"
    "16777217,-70.5000,45.2500,24.0000,1999,8,-70.000\n"
    "16777217,-70.5000,45.2500,24.0000,1999,9,0.000\n"
    "16777217,-70.5000,45.2500,24.0000,1999,10,0.000\n"
    "16777217,-70.5000,45.2500,24.0000,1999,11,NaN\n"
    "16777217,-70.5000,45.2500,24.0000,1999,12,5.500\n"
    "2147483647,8.25000,-33.7500,1234.50,1999,1,1.000\n"
    "2147483647,8.25000,-33.7500,1234.50,1999,2,\n"
    "2147483647,8.25000,-33.7500,1234.50,1999,3,\n"
    "2147483647,8.25000,-33.7500,1234.50,1999,4,\n"
    "2147483647,8.25000,-33.7500,1234.50,1999,5,\n"
    "2147483647,8.25000,-33.7500,1234.50,1999,6,\n"
    "2147483647,8.25000,-33.7500,1234.50,1999,7,\n"
    "2147483647,8.25000,-33.7500,1234.50,1999,8,\n"
    "2147483647,8.25000,-33.7500,1234.50,1999,9,\n"
    "2147483647,8.25000,-33.7500,1234.50,1999,10,\n"
    "2147483647,8.25000,-33.7500,1234.50,1999,11,\n"
    "2147483647,8.25000,-33.7500,1234.50,1999,12,\n";

struct temp_dir {
    std::string path = client::make_temp_dir();
    ~temp_dir() { client::remove_tree(path); }
};

std::string write_table(const std::string& path) {
    engine::csv_writer w = engine::open_csv(path);
    engine::write_csv_station(w, first_station());
    engine::write_csv_station(w, second_station());
    engine::close_csv(w);
    return client::read_whole_file(path);
}

TEST(CsvOutput, TableHasItsBytesExactly) {
    temp_dir dir;
    ASSERT_FALSE(dir.path.empty());
    EXPECT_EQ(write_table(dir.path + "/stations.csv"), expected_table);
}

TEST(CsvOutput, StationLinesRunThroughEveryYearAndMonth) {
    float rows[3][12];
    for (int y = 0; y < 3; ++y)
        for (int m = 0; m < 12; ++m) rows[y][m] = static_cast<float>(y * 100 + m);
    std::string out;
    engine::append_csv_station(out, {-5, -179.75f, 0.5f, -1.0f, 2018, 2020, rows});
    EXPECT_EQ(out.substr(0, 44), "-5,-179.750,0.500000,-1.00000,2018,1,0.000\n-");
    EXPECT_NE(out.find("\n-5,-179.750,0.500000,-1.00000,2019,12,111.000\n"), std::string::npos);
    EXPECT_TRUE(out.ends_with("\n-5,-179.750,0.500000,-1.00000,2020,12,211.000\n"));
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 36);
}

TEST(CsvOutput, ManyStationsPassTheWriteBufferWhole) {
    temp_dir dir;
    const std::string path = dir.path + "/many.csv";
    engine::csv_writer w = engine::open_csv(path);
    std::string expected = engine::csv_header;
    for (int i = 0; i < 2000; ++i) {
        const engine::station_series s = {i, 1.0f, 2.0f, 3.0f, 1999, 1999, first_rows};
        engine::write_csv_station(w, s);
        engine::append_csv_station(expected, s);
    }
    engine::close_csv(w);
    EXPECT_EQ(client::read_whole_file(path), expected);
}

TEST(CsvOutput, StreamIsWrittenAndLeftOpen) {
    temp_dir dir;
    const std::string path = dir.path + "/stdout.csv";
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(saved, 0);
    ASSERT_GE(file, 0);
    ::dup2(file, STDOUT_FILENO);
    ::close(file);
    engine::csv_writer w = engine::open_csv_stream(STDOUT_FILENO, "standard output");
    engine::write_csv_station(w, first_station());
    engine::write_csv_station(w, second_station());
    engine::close_csv(w);
    const bool still_open = ::fcntl(STDOUT_FILENO, F_GETFD) != -1;
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    EXPECT_TRUE(still_open);
    EXPECT_EQ(client::read_whole_file(path), expected_table);
}

TEST(CsvOutput, FileThatCannotBeCreatedNamesItself) {
    const std::string path = "/nonexistent-directory/stations.csv";
    try {
        engine::csv_writer w = engine::open_csv(path);
        engine::discard_csv(w);
        FAIL() << "no error";
    } catch (const engine::output_error& e) {
        EXPECT_EQ(std::string(e.what()), path + ": open: No such file or directory");
    }
}

TEST(CsvOutput, RefusedWriteNamesTheFile) {
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is missing";
    engine::csv_writer w = engine::open_csv("/dev/full");
    engine::write_csv_station(w, first_station());
    try {
        engine::close_csv(w);
        FAIL() << "no error";
    } catch (const engine::output_error& e) {
        EXPECT_EQ(std::string(e.what()), "/dev/full: write: No space left on device");
    }
    EXPECT_EQ(w.fd, -1);
}

TEST(CsvOutput, PythonCsvModuleReadsTheFields) {
    REQUIRE_CLIENT(client::python_has("csv"), "/usr/bin/python3");
    temp_dir dir;
    const std::string path = dir.path + "/stations.csv";
    write_table(path);
    const char* script = R"(
import csv, sys
with open(sys.argv[1], newline="") as f:
    rows = list(csv.reader(f))
assert rows[0] == ["station_id", "longitude", "latitude", "extra", "year", "month", "value"], rows[0]
assert len(rows) == 25, len(rows)
assert all(len(r) == 7 for r in rows)
assert rows[1] == ["16777217", "-70.5000", "45.2500", "24.0000", "1999", "1", "-1.936"], rows[1]
assert rows[2][6] == "" and rows[14][6] == "", (rows[2], rows[14])
print("ok")
)";
    const client::command_result r = client::run_python(script, client::quoted(path));
    EXPECT_EQ(r.exit_status, 0) << r.output;
    EXPECT_EQ(r.output, "ok\n");
}

TEST(CsvOutput, PandasGivesIntegerIdentifiersAndNaNForMissingMonths) {
    REQUIRE_CLIENT(client::python_has("pandas, numpy"), "/usr/bin/python3 with pandas");
    temp_dir dir;
    const std::string path = dir.path + "/stations.csv";
    write_table(path);
    const char* script = R"(
import sys, math
import numpy as np, pandas as pd
t = pd.read_csv(sys.argv[1])
assert list(t.columns) == ["station_id", "longitude", "latitude", "extra", "year", "month", "value"]
assert t["station_id"].dtype == np.int64, t["station_id"].dtype
assert t["value"].dtype == np.float64, t["value"].dtype
assert t["longitude"].dtype == np.float64 and t["latitude"].dtype == np.float64
assert t["year"].dtype == np.int64 and t["month"].dtype == np.int64
assert t["station_id"].iloc[0] == 16777217 and t["station_id"].iloc[12] == 2147483647
assert t["longitude"].iloc[0] == -70.5 and t["latitude"].iloc[12] == -33.75
missing = t["value"].isna()
assert list(missing.iloc[:12]) == [False, True, False, False, False, True, False, False, False, False, True, False]
assert missing.iloc[12:].sum() == 11 and t["value"].iloc[12] == 1.0
assert t["value"].iloc[0] == -1.936 and t["value"].iloc[4] == 12.346
assert not (t["value"] == -99).any()
print("ok")
)";
    const client::command_result r = client::run_python(script, client::quoted(path));
    EXPECT_EQ(r.exit_status, 0) << r.output;
    EXPECT_EQ(r.output, "ok\n");
}

}  // namespace
