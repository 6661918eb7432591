// The batch command line: every accepted form with the exact values it gives, and every
// usage error with its exact message. Coordinates are expected as the float nearest to the
// double nearest to the decimal text, written here as static_cast<float>(double literal).

#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "app/batch_options.hpp"
#include "tests/support/batch_runs.hpp"

namespace {

using app::batch_action;
using app::batch_options;
using app::batch_outcome;

const std::string try_help = "Try 'varnex --help'.\n";

batch_outcome parse(const std::vector<std::string>& args) {
    std::vector<const char*> argv = {"varnex"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    return app::parse_batch_options(static_cast<int>(argv.size()), argv.data());
}

bool mentions(const std::vector<std::string>& args, const std::string& option) {
    for (const std::string& arg : args) {
        if (arg == option || arg.rfind(option + "=", 0) == 0) return true;
    }
    return false;
}

// The case's own arguments, after the required options that it leaves out, set to the
// values of `base_options`.
std::vector<std::string> complete(std::vector<std::string> args) {
    if (!mentions(args, "--years")) args.insert(args.begin(), {"--years", "1950"});
    if (!mentions(args, "--lon")) args.insert(args.begin(), {"--lon", "0,1"});
    if (!mentions(args, "--lat")) args.insert(args.begin(), {"--lat", "0,1"});
    return args;
}

batch_options base_options() {
    batch_options options;
    options.min_lat = 0.0f;
    options.max_lat = 1.0f;
    options.min_lon = 0.0f;
    options.max_lon = 1.0f;
    options.fyod = 1950;
    options.lyod = 1950;
    return options;
}

void expect_same(const batch_options& got, const batch_options& want) {
    EXPECT_EQ(got.min_lat, want.min_lat);
    EXPECT_EQ(got.max_lat, want.max_lat);
    EXPECT_EQ(got.min_lon, want.min_lon);
    EXPECT_EQ(got.max_lon, want.max_lon);
    EXPECT_EQ(got.crosses_dateline, want.crosses_dateline);
    EXPECT_EQ(got.fyod, want.fyod);
    EXPECT_EQ(got.lyod, want.lyod);
    EXPECT_EQ(got.has_max_missing, want.has_max_missing);
    EXPECT_EQ(got.missing_fraction, want.missing_fraction);
    EXPECT_EQ(got.data_type, want.data_type);
    EXPECT_EQ(got.type_word, want.type_word);
    EXPECT_EQ(got.archive_dir, want.archive_dir);
    EXPECT_EQ(got.output_dir, want.output_dir);
    EXPECT_EQ(got.report_path, want.report_path);
    EXPECT_EQ(got.csv_path, want.csv_path);
    EXPECT_EQ(got.netcdf_path, want.netcdf_path);
    EXPECT_EQ(got.write_legacy, want.write_legacy);
    EXPECT_EQ(got.quiet, want.quiet);
    EXPECT_EQ(got.verbose, want.verbose);
}

// ---------------------------------------------------------------------------------------
// Accepted command lines

struct accepted_case {
    const char* name;
    std::vector<std::string> args;   // completed with the base's required options
    void (*expect)(batch_options&);  // the base options, changed as the case asks
};

const accepted_case accepted_cases[] = {
    {"base", {}, [](batch_options&) {}},
    {"lat_with_equals_sign", {"--lat=-45,10"}, [](batch_options& o) { o.min_lat = -45.0f, o.max_lat = 10.0f; }},
    {"lat_negative_as_next_word", {"--lat", "-45,10"}, [](batch_options& o) { o.min_lat = -45.0f, o.max_lat = 10.0f; }},
    {"lon_negative_as_next_word",
     {"--lon", "-10.5,-2"},
     [](batch_options& o) { o.min_lon = -10.5f, o.max_lon = -2.0f; }},
    {"whole_number_is_degrees", {"--lat", "45,46"}, [](batch_options& o) { o.min_lat = 45.0f, o.max_lat = 46.0f; }},
    {"point_first_and_point_last", {"--lat", ".5,5."}, [](batch_options& o) { o.min_lat = 0.5f, o.max_lat = 5.0f; }},
    {"signs_with_point_first", {"--lat", "-.5,+5"}, [](batch_options& o) { o.min_lat = -0.5f, o.max_lat = 5.0f; }},
    {"tenths_through_double",
     {"--lat", "0.1,0.2"},
     [](batch_options& o) { o.min_lat = static_cast<float>(0.1), o.max_lat = static_cast<float>(0.2); }},
    // The double nearest to this text is 1 + 2^-24, halfway between two floats; it then rounds
    // to even, 1.0f, where a direct rounding of the text would give 1 + 2^-23.
    {"double_then_float",
     {"--lat", "1.0000000596046447753906250000000001,2"},
     [](batch_options& o) { o.min_lat = 1.0f, o.max_lat = 2.0f; }},
    {"many_digits",
     {"--lon", "-179.99999999999999999,179.999999999999999999"},
     [](batch_options& o) { o.min_lon = -180.0f, o.max_lon = 180.0f; }},
    {"lat_bounds", {"--lat", "-90,90"}, [](batch_options& o) { o.min_lat = -90.0f, o.max_lat = 90.0f; }},
    {"lat_bound_in_single_precision",
     {"--lat", "-90.000001,90.000001"},
     [](batch_options& o) { o.min_lat = -90.0f, o.max_lat = 90.0f; }},
    {"lat_one_value_high", {"--lat", "5,5"}, [](batch_options& o) { o.min_lat = 5.0f, o.max_lat = 5.0f; }},
    {"lon_bounds", {"--lon", "-180,180"}, [](batch_options& o) { o.min_lon = -180.0f, o.max_lon = 180.0f; }},
    {"lon_bound_in_single_precision",
     {"--lon", "-180.000007,180.000007"},
     [](batch_options& o) { o.min_lon = -180.0f, o.max_lon = 180.0f; }},
    {"negative_zero", {"--lon", "-0,0"}, [](batch_options& o) { o.min_lon = -0.0f, o.max_lon = 0.0f; }},
    {"across_the_dateline",
     {"--lon", "170,-170"},
     [](batch_options& o) { o.min_lon = 170.0f, o.max_lon = -170.0f, o.crosses_dateline = true; }},
    {"west_just_above_east",
     {"--lon", "10.5,10.4"},
     [](batch_options& o) {
         o.min_lon = static_cast<float>(10.5), o.max_lon = static_cast<float>(10.4), o.crosses_dateline = true;
     }},
    {"equal_longitudes", {"--lon", "10,10"}, [](batch_options& o) { o.min_lon = 10.0f, o.max_lon = 10.0f; }},
    {"west_to_east", {"--lon", "-170,170"}, [](batch_options& o) { o.min_lon = -170.0f, o.max_lon = 170.0f; }},
    // From 0 to 360: above 180 is minus 360, in double before the one rounding.
    {"lon_0_to_360_across_the_meridian",
     {"--lon", "150,220"},
     [](batch_options& o) { o.min_lon = 150.0f, o.max_lon = -140.0f, o.crosses_dateline = true; }},
    {"lon_just_below_360",
     {"--lon", "10,359.99"},
     [](batch_options& o) { o.min_lon = 10.0f, o.max_lon = static_cast<float>(-0.01), o.crosses_dateline = true; }},
    {"lon_both_above_180", {"--lon", "200,210"}, [](batch_options& o) { o.min_lon = -160.0f, o.max_lon = -150.0f; }},
    {"lon_whole_circle_from_0", {"--lon", "0,360"}, [](batch_options& o) { o.min_lon = -180.0f, o.max_lon = 180.0f; }},
    {"year_span", {"--years", "1950-1980"}, [](batch_options& o) { o.fyod = 1950, o.lyod = 1980; }},
    {"single_year", {"--years", "1976"}, [](batch_options& o) { o.fyod = 1976, o.lyod = 1976; }},
    {"year_bounds", {"--years=1700-2100"}, [](batch_options& o) { o.fyod = 1700, o.lyod = 2100; }},
    {"same_year_twice", {"--years", "2020-2020"}, [](batch_options& o) { o.fyod = 2020, o.lyod = 2020; }},
    {"year_leading_zero", {"--years", "01950"}, [](batch_options& o) { o.fyod = 1950, o.lyod = 1950; }},
    {"max_missing_zero",
     {"--max-missing", "0"},
     [](batch_options& o) { o.has_max_missing = true, o.missing_fraction = 0.0f; }},
    {"max_missing_fraction",
     {"--max-missing", "0.25"},
     [](batch_options& o) { o.has_max_missing = true, o.missing_fraction = 0.25f; }},
    {"max_missing_tenth",
     {"--max-missing", ".1"},
     [](batch_options& o) { o.has_max_missing = true, o.missing_fraction = static_cast<float>(0.1); }},
    {"max_missing_one",
     {"--max-missing", "1"},
     [](batch_options& o) { o.has_max_missing = true, o.missing_fraction = 1.0f; }},
    {"max_missing_one_with_zeros",
     {"--max-missing", "1.000"},
     [](batch_options& o) { o.has_max_missing = true, o.missing_fraction = 1.0f; }},
    {"max_missing_plus_percentage",
     {"--max-missing", "+50.%"},
     [](batch_options& o) { o.has_max_missing = true, o.missing_fraction = 0.5f; }},
    {"max_missing_percentage",
     {"--max-missing", "25%"},
     [](batch_options& o) { o.has_max_missing = true, o.missing_fraction = 0.25f; }},
    {"max_missing_zero_percent",
     {"--max-missing", "0%"},
     [](batch_options& o) { o.has_max_missing = true, o.missing_fraction = 0.0f; }},
    {"max_missing_hundred_percent",
     {"--max-missing", "100%"},
     [](batch_options& o) { o.has_max_missing = true, o.missing_fraction = 1.0f; }},
    {"max_missing_percentage_divided_in_double",
     {"--max-missing=33.3%"},
     [](batch_options& o) { o.has_max_missing = true, o.missing_fraction = static_cast<float>(33.3 / 100.0); }},
    {"max_missing_small_percentage",
     {"--max-missing", "0.1%"},
     [](batch_options& o) { o.has_max_missing = true, o.missing_fraction = static_cast<float>(0.1 / 100.0); }},
    {"type_tave", {"--type", "tave"}, [](batch_options& o) { o.data_type = 1, o.type_word = "tave"; }},
    {"type_tmax", {"--type", "tmax"}, [](batch_options& o) { o.data_type = 2, o.type_word = "tmax"; }},
    {"type_tmin", {"--type=tmin"}, [](batch_options& o) { o.data_type = 3, o.type_word = "tmin"; }},
    {"type_tave_raw", {"--type", "tave-raw"}, [](batch_options& o) { o.data_type = 4, o.type_word = "tave-raw"; }},
    {"archive_short", {"-C", "/data/valmora"}, [](batch_options& o) { o.archive_dir = "/data/valmora"; }},
    {"archive_short_joined", {"-C/data/valmora"}, [](batch_options& o) { o.archive_dir = "/data/valmora"; }},
    {"archive_long", {"--archive", "arch dir"}, [](batch_options& o) { o.archive_dir = "arch dir"; }},
    {"output_dir_short", {"-o", "out"}, [](batch_options& o) { o.output_dir = "out"; }},
    {"output_dir_long", {"--output-dir=-out"}, [](batch_options& o) { o.output_dir = "-out"; }},
    {"report_to_file", {"--report", "report.tsv"}, [](batch_options& o) { o.report_path = "report.tsv"; }},
    // A value may begin with a minus sign: this is a report file named -q, not a switch.
    {"report_named_like_a_switch", {"--report", "-q"}, [](batch_options& o) { o.report_path = "-q"; }},
    {"report_to_stdout", {"--report", "-"}, [](batch_options& o) { o.report_path = "-"; }},
    {"csv_to_stdout", {"--csv", "-"}, [](batch_options& o) { o.csv_path = "-"; }},
    {"report_file_and_csv_stdout",
     {"--report", "r.tsv", "--csv", "-"},
     [](batch_options& o) { o.report_path = "r.tsv", o.csv_path = "-"; }},
    {"netcdf_file", {"--netcdf", "out.nc"}, [](batch_options& o) { o.netcdf_path = "out.nc"; }},
    {"no_tsf", {"--no-tsf"}, [](batch_options& o) { o.write_legacy = false; }},
    {"quiet_short", {"-q"}, [](batch_options& o) { o.quiet = true; }},
    {"quiet_twice", {"-q", "--quiet"}, [](batch_options& o) { o.quiet = true; }},
    {"verbose_long", {"--verbose"}, [](batch_options& o) { o.verbose = true; }},
    {"verbose_short", {"-v"}, [](batch_options& o) { o.verbose = true; }},
    {"options_in_any_order",
     {"--type", "tmin", "--years", "1961-1990",     "-o",  "out",   "--lon",   "-10,30",   "--no-tsf", "--lat",
      "36,66",  "-C",   "arch",    "--max-missing", "10%", "--csv", "out.csv", "--netcdf", "out.nc",   "--report",
      "-",      "-v"},
     [](batch_options& o) {
         o.min_lat = 36.0f, o.max_lat = 66.0f, o.min_lon = -10.0f, o.max_lon = 30.0f, o.fyod = 1961, o.lyod = 1990;
         o.has_max_missing = true, o.missing_fraction = static_cast<float>(10.0 / 100.0);
         o.data_type = 3, o.type_word = "tmin", o.archive_dir = "arch", o.output_dir = "out";
         o.report_path = "-", o.csv_path = "out.csv", o.netcdf_path = "out.nc", o.write_legacy = false;
         o.verbose = true;
     }},
    {"end_of_options_alone", {"--"}, [](batch_options&) {}},
};

class AcceptedLineTest : public ::testing::TestWithParam<accepted_case> {};

TEST_P(AcceptedLineTest, GivesTheseOptions) {
    const batch_outcome outcome = parse(complete(GetParam().args));
    ASSERT_EQ(outcome.action, batch_action::run) << outcome.text;
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.text, "");
    batch_options want = base_options();
    GetParam().expect(want);
    expect_same(outcome.options, want);
}

INSTANTIATE_TEST_SUITE_P(Forms, AcceptedLineTest, ::testing::ValuesIn(accepted_cases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(AcceptedLine, DoubleThenFloatCaseIsNotADirectRounding) {
    // The compiler rounds a float literal directly; the case above is only meaningful if
    // that differs from the result through the double.
    EXPECT_NE(1.0000000596046447753906250000000001f, 1.0f);
}

TEST(AcceptedLine, LeavesOutTheMissingMonthsLimitUnlessGiven) {
    const batch_outcome outcome = parse(complete({}));
    EXPECT_FALSE(outcome.options.has_max_missing);
    EXPECT_EQ(outcome.options.data_type, 1);
    EXPECT_EQ(outcome.options.type_word, "tave");
    EXPECT_EQ(outcome.options.archive_dir, ".");
    EXPECT_EQ(outcome.options.output_dir, ".");
    EXPECT_TRUE(outcome.options.write_legacy);
}

TEST(AcceptedLine, KeepsTheCommandLineForTheHistory) {
    const batch_outcome outcome = parse({"--lat", "-45,10", "--lon=170,-170", "--years", "1950", "-C", "my archive"});
    EXPECT_EQ(outcome.options.command_line, "varnex --lat -45,10 --lon=170,-170 --years 1950 -C 'my archive'");
}

// ---------------------------------------------------------------------------------------
// Selectors

struct selector_case {
    const char* name;
    std::vector<std::string> args;   // exactly these, with --years 1950
    void (*expect)(batch_options&);  // the options of --years 1950 alone, changed as the case asks
};

const selector_case selector_cases[] = {
    {"latitudes_alone",
     {"--lat", "-45,10"},
     [](batch_options& o) { o.has_box = true, o.min_lat = -45.0f, o.max_lat = 10.0f; }},
    // The archive's rule: the nearest double, truncated toward zero; 2^24 + 1 stays exact.
    {"identifiers",
     {"--stations", "17508491.9,-0.5,+7,16777217,2147483647.99,-2147483648.99,7"},
     [](batch_options& o) {
         o.has_station_list = true, o.station_ids = {17508491, 0, 7, 16777217, INT32_MAX, INT32_MIN, 7};
     }},
    {"identifier_file",
     {"--stations", "@a b.txt"},
     [](batch_options& o) { o.has_station_list = true, o.station_file = "a b.txt"; }},
    // The point's longitude as --lon takes it; the radius the double nearest to its text.
    {"near_from_0_to_360",
     {"--near", "48.2,359.99", "--radius", "0.1", "--nearest", "99999999999"},
     [](batch_options& o) {
         o.has_near = true, o.near_lat = static_cast<float>(48.2), o.near_lon = static_cast<float>(-0.01);
         o.has_radius = true, o.radius_km = 0.1, o.nearest = INT32_MAX;
     }},
    {"list_without_years",
     {"--list", "--stations", "5"},
     [](batch_options& o) { o.fyod = o.lyod = 0, o.list_only = true, o.has_station_list = true, o.station_ids = {5}; }},
};

auto selectors_of(const batch_options& o) {
    return std::tuple(o.has_box, o.has_station_list, o.station_ids, o.station_file, o.has_near, o.near_lat, o.near_lon,
                      o.has_radius, o.radius_km, o.nearest, o.list_only);
}

class SelectorLineTest : public ::testing::TestWithParam<selector_case> {};

TEST_P(SelectorLineTest, GivesTheseSelectors) {
    std::vector<std::string> args = GetParam().args;
    if (!mentions(args, "--list")) args.insert(args.end(), {"--years", "1950"});
    const batch_outcome outcome = parse(args);
    ASSERT_EQ(outcome.action, batch_action::run) << outcome.text;
    batch_options want;
    want.fyod = want.lyod = 1950;
    GetParam().expect(want);
    expect_same(outcome.options, want);
    EXPECT_TRUE(selectors_of(outcome.options) == selectors_of(want));
}

INSTANTIATE_TEST_SUITE_P(Selectors, SelectorLineTest, ::testing::ValuesIn(selector_cases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// ---------------------------------------------------------------------------------------
// Usage errors

struct usage_case {
    const char* name;
    std::vector<std::string> args;  // completed with the required options it leaves out
    const char* message;            // the first line, without "varnex: " and the line feed
};

const usage_case usage_cases[] = {
    {"exponent", {"--lat", "1e5,10"}, R"(--lat: not a plain decimal number: "1e5")"},
    {"exponent_in_second", {"--lat", "1,1E1"}, R"(--lat: not a plain decimal number: "1E1")"},
    {"infinity", {"--lat", "inf,10"}, R"(--lat: not a plain decimal number: "inf")"},
    {"negative_infinity", {"--lon", "-infinity,10"}, R"(--lon: not a plain decimal number: "-infinity")"},
    {"not_a_number", {"--lat", "nan,10"}, R"(--lat: not a plain decimal number: "nan")"},
    {"hexadecimal", {"--lon", "0x10,20"}, R"(--lon: not a plain decimal number: "0x10")"},
    {"leading_blank", {"--lat", " 5,10"}, R"(--lat: not a plain decimal number: " 5")"},
    {"trailing_blank", {"--lat", "5,10 "}, R"(--lat: not a plain decimal number: "10 ")"},
    {"point_alone", {"--lat", ".,10"}, R"(--lat: not a plain decimal number: ".")"},
    {"sign_alone", {"--lat", "-,10"}, R"(--lat: not a plain decimal number: "-")"},
    {"two_signs", {"--lat", "--5,10"}, R"(--lat: not a plain decimal number: "--5")"},
    {"two_points", {"--lat", "1.2.3,10"}, R"(--lat: not a plain decimal number: "1.2.3")"},
    {"decimal_comma", {"--lat", "1,5,10"}, R"(--lat: expected MIN,MAX: "1,5,10")"},
    {"empty_second", {"--lat", "5,"}, R"(--lat: not a plain decimal number: "")"},
    {"empty_value", {"--lat", ""}, R"(--lat: expected MIN,MAX: "")"},
    {"one_latitude", {"--lat", "5"}, R"(--lat: expected MIN,MAX: "5")"},
    {"one_longitude", {"--lon", "5"}, R"(--lon: expected WEST,EAST: "5")"},
    {"degree_sign", {"--lat", "5°,10"}, R"(--lat: not a plain decimal number: "5°")"},
    {"lat_above_90", {"--lat", "0,90.00001"}, R"(--lat: latitude out of range -90 to 90: "90.00001")"},
    {"lat_below_minus_90", {"--lat", "-90.5,0"}, R"(--lat: latitude out of range -90 to 90: "-90.5")"},
    {"lat_far_out",
     {"--lat", "0,100000000000000000000000000000000000000000"},
     R"(--lat: latitude out of range -90 to 90: "100000000000000000000000000000000000000000")"},
    {"lat_wrong_order", {"--lat", "20,10"}, R"(--lat: MIN greater than MAX: "20,10")"},
    {"lon_above_360", {"--lon", "0,360.0001"}, R"(--lon: longitude out of range -180 to 360: "360.0001")"},
    {"lon_below_minus_180", {"--lon", "-181,0"}, R"(--lon: longitude out of range -180 to 360: "-181")"},
    {"lon_negative_with_above_180",
     {"--lon", "-170,200"},
     R"(--lon: a negative longitude with one above 180: "-170,200")"},
    {"year_before_1700", {"--years", "1699"}, R"(--years: year out of range 1700 to 2100: "1699")"},
    {"year_after_2100", {"--years", "2000-2101"}, R"(--years: year out of range 1700 to 2100: "2101")"},
    {"year_huge", {"--years", "99999999999"}, R"(--years: year out of range 1700 to 2100: "99999999999")"},
    {"years_wrong_order", {"--years", "1980-1950"}, R"(--years: FIRST after LAST: "1980-1950")"},
    {"year_open_end", {"--years", "1950-"}, R"(--years: expected FIRST-LAST or one year: "1950-")"},
    {"year_negative", {"--years", "-1950"}, R"(--years: expected FIRST-LAST or one year: "-1950")"},
    {"year_with_letter", {"--years", "19x0"}, R"(--years: expected FIRST-LAST or one year: "19x0")"},
    {"year_with_point", {"--years", "1950.0"}, R"(--years: expected FIRST-LAST or one year: "1950.0")"},
    {"year_with_plus", {"--years", "+1950"}, R"(--years: expected FIRST-LAST or one year: "+1950")"},
    {"three_years", {"--years", "1950-1960-1970"}, R"(--years: expected FIRST-LAST or one year: "1950-1960-1970")"},
    {"fraction_just_above_one",
     {"--max-missing", "1.00000001"},
     R"(--max-missing: fraction out of range 0 to 1: "1.00000001")"},
    {"fraction_above_one", {"--max-missing", "1.5"}, R"(--max-missing: fraction out of range 0 to 1: "1.5")"},
    {"fraction_negative", {"--max-missing", "-0.1"}, R"(--max-missing: fraction out of range 0 to 1: "-0.1")"},
    {"fraction_as_count", {"--max-missing", "25"}, R"(--max-missing: fraction out of range 0 to 1: "25")"},
    {"percentage_above_100", {"--max-missing", "101%"}, R"(--max-missing: percentage out of range 0% to 100%: "101%")"},
    {"percentage_just_above_100",
     {"--max-missing", "100.000001%"},
     R"(--max-missing: percentage out of range 0% to 100%: "100.000001%")"},
    {"percentage_negative", {"--max-missing", "-5%"}, R"(--max-missing: percentage out of range 0% to 100%: "-5%")"},
    {"percent_sign_alone", {"--max-missing", "%"}, R"(--max-missing: not a plain decimal number: "%")"},
    {"percent_after_blank", {"--max-missing", "25 %"}, R"(--max-missing: not a plain decimal number: "25 %")"},
    {"fraction_exponent", {"--max-missing", "1e-1"}, R"(--max-missing: not a plain decimal number: "1e-1")"},
    {"fraction_nan", {"--max-missing", "nan"}, R"(--max-missing: not a plain decimal number: "nan")"},
    {"unknown_type", {"--type", "tavg"}, R"(--type: expected tave, tmax, tmin or tave-raw: "tavg")"},
    {"type_in_capitals", {"--type", "TAVE"}, R"(--type: expected tave, tmax, tmin or tave-raw: "TAVE")"},
    {"type_as_number", {"--type", "1"}, R"(--type: expected tave, tmax, tmin or tave-raw: "1")"},
    {"empty_archive", {"-C", ""}, R"(--archive: empty name: "")"},
    {"empty_output_dir", {"-o", ""}, R"(--output-dir: empty name: "")"},
    {"output_dir_equals_nothing", {"--output-dir="}, "--output-dir: missing value"},
    {"empty_report", {"--report", ""}, R"(--report: empty name: "")"},
    {"empty_csv", {"--csv", ""}, R"(--csv: empty name: "")"},
    {"empty_netcdf", {"--netcdf", ""}, R"(--netcdf: empty name: "")"},
    {"netcdf_to_stdout", {"--netcdf", "-"}, R"(--netcdf: cannot write to a stream: "-")"},
    {"netcdf_to_a_descriptor", {"--netcdf", "/dev/fd/3"}, R"(--netcdf: cannot write to a stream: "/dev/fd/3")"},
    {"two_outputs_to_stdout", {"--report", "-", "--csv", "-"}, "--report - and --csv - both write to standard output"},
    {"two_outputs_to_stdout_spelt_apart",
     {"--report", "/dev/stdout", "--csv", "/dev/fd/1"},
     "--report /dev/stdout and --csv /dev/fd/1 both write to standard output"},
    {"quiet_and_verbose", {"-q", "-v"}, "--quiet and --verbose cannot be used together"},
    {"quiet_and_verbose_joined", {"-qv"}, "--quiet and --verbose cannot be used together"},
    {"quiet_and_verbose_long", {"--verbose", "--quiet"}, "--quiet and --verbose cannot be used together"},
    {"unknown_long_option", {"--latitude", "1,2"}, R"(unknown option: "--latitude")"},
    {"unknown_option_with_value", {"--box=1,2,3,4"}, R"(unknown option: "--box")"},
    {"unknown_short_option", {"-x"}, R"(unknown option: "-x")"},
    {"value_given_to_short_switch", {"-q=1"}, R"(unknown option: "-=1")"},
    {"positional_argument", {"archive"}, R"(unexpected argument: "archive")"},
    {"argument_after_end_of_options", {"--", "--lat"}, R"(unexpected argument: "--lat")"},
    {"lone_dash", {"-"}, R"(unexpected argument: "-")"},
    {"option_given_twice", {"--lat", "1,2", "--lat", "3,4"}, "--lat: given more than once"},
    {"path_given_twice", {"-o", "a", "--output-dir", "b"}, "--output-dir: given more than once"},
    {"value_missing_at_end", {"--lat", "1,2", "--lon", "1,2", "--years"}, "--years: missing value"},
    {"value_missing_before_option", {"--lat", "--lon", "1,2"}, "--lat: missing value"},
    {"short_value_missing", {"-C"}, "--archive: missing value"},
    {"value_given_to_switch", {"--no-tsf=yes"}, "--no-tsf: takes no value"},
    {"value_given_to_long_switch", {"--quiet=1"}, "--quiet: takes no value"},
    {"identifier_not_a_number", {"--stations", "101,nan"}, R"(--stations: not a plain decimal number: "nan")"},
    {"identifier_exponent", {"--stations", "1e20"}, R"(--stations: not a plain decimal number: "1e20")"},
    {"identifier_above_int32",
     {"--stations", "2147483648"},
     R"(--stations: identifier out of range -2147483648 to 2147483647: "2147483648")"},
    {"identifier_below_int32",
     {"--stations", "-2147483649"},
     R"(--stations: identifier out of range -2147483648 to 2147483647: "-2147483649")"},
    {"identifier_list_with_empty_item", {"--stations", "1,,2"}, R"(--stations: not a plain decimal number: "")"},
    {"identifier_list_empty", {"--stations", ""}, R"(--stations: not a plain decimal number: "")"},
    {"identifier_file_without_name", {"--stations", "@"}, R"(--stations: empty name: "@")"},
    {"near_one_value", {"--near", "45", "--radius", "1"}, R"(--near: expected LAT,LON: "45")"},
    {"near_not_a_number", {"--near", "45,nan", "--radius", "1"}, R"(--near: not a plain decimal number: "nan")"},
    {"near_latitude_out_of_range",
     {"--near", "90.5,0", "--radius", "1"},
     R"(--near: latitude out of range -90 to 90: "90.5")"},
    {"near_longitude_out_of_range",
     {"--near", "0,360.5", "--nearest", "1"},
     R"(--near: longitude out of range -180 to 360: "360.5")"},
    {"radius_negative", {"--near", "0,0", "--radius", "-0.001"}, R"(--radius: negative distance: "-0.001")"},
    {"radius_exponent", {"--near", "0,0", "--radius", "1e3"}, R"(--radius: not a plain decimal number: "1e3")"},
    {"nearest_zero", {"--near", "0,0", "--nearest", "0"}, R"(--nearest: expected a count of 1 or more: "0")"},
    {"nearest_negative", {"--near", "0,0", "--nearest", "-1"}, R"(--nearest: expected a count of 1 or more: "-1")"},
    {"nearest_fraction", {"--near", "0,0", "--nearest", "1.5"}, R"(--nearest: expected a count of 1 or more: "1.5")"},
    {"near_alone", {"--near", "0,0"}, "--near needs --radius or --nearest"},
    {"radius_alone", {"--radius", "10"}, "--radius needs --near"},
    {"nearest_alone", {"--nearest", "10"}, "--nearest needs --near"},
    {"list_with_output_dir", {"--list", "-o", "out"}, "--list cannot be used with --output-dir"},
    {"list_with_csv", {"--list", "--csv", "-"}, "--list cannot be used with --csv"},
    {"list_with_netcdf", {"--list", "--netcdf", "s.nc"}, "--list cannot be used with --netcdf"},
    {"list_with_report", {"--list", "--report", "r.tsv"}, "--list cannot be used with --report"},
    {"list_with_no_tsf", {"--list", "--no-tsf"}, "--list cannot be used with --no-tsf"},
    {"list_given_a_value", {"--list=yes"}, "--list: takes no value"},
    {"list_with_selections", {"--list", "--selections", "s.txt"}, "--list cannot be used with --selections"},
    {"verbose_with_selections", {"-v", "--selections", "s.txt"}, "--verbose cannot be used with --selections"},
    {"empty_selections", {"--selections", ""}, R"(--selections: empty name: "")"},
};

class UsageErrorTest : public ::testing::TestWithParam<usage_case> {};

TEST_P(UsageErrorTest, NamesTheOptionAndTheValue) {
    const batch_outcome outcome = parse(complete(GetParam().args));
    EXPECT_EQ(outcome.action, batch_action::usage_error);
    EXPECT_EQ(outcome.exit_status, 2);
    EXPECT_EQ(outcome.text, "varnex: " + std::string(GetParam().message) + "\n" + try_help);
}

INSTANTIATE_TEST_SUITE_P(Lines, UsageErrorTest, ::testing::ValuesIn(usage_cases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

struct missing_case {
    const char* name;
    std::vector<std::string> args;  // exactly these
    const char* message;
};

const missing_case missing_cases[] = {
    {"nothing_but_a_switch", {"-q"}, "a selector is required: --lat/--lon, --stations or --near"},
    {"years_alone", {"--years", "1950"}, "a selector is required: --lat/--lon, --stations or --near"},
    {"list_without_selector", {"--list"}, "a selector is required: --lat/--lon, --stations or --near"},
    {"years_missing", {"--lat", "1,2", "--lon", "1,2"}, "--years FIRST-LAST is required"},
    {"years_missing_with_stations", {"--stations", "1"}, "--years FIRST-LAST is required"},
};

class MissingOptionTest : public ::testing::TestWithParam<missing_case> {};

TEST_P(MissingOptionTest, IsAUsageError) {
    const batch_outcome outcome = parse(GetParam().args);
    EXPECT_EQ(outcome.action, batch_action::usage_error);
    EXPECT_EQ(outcome.exit_status, 2);
    EXPECT_EQ(outcome.text, "varnex: " + std::string(GetParam().message) + "\n" + try_help);
}

INSTANTIATE_TEST_SUITE_P(Lines, MissingOptionTest, ::testing::ValuesIn(missing_cases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// ---------------------------------------------------------------------------------------
// Lines of a selections file

// Without a selector or --years here, each line must give its own.
TEST(SelectionsLine, CommandLineNeedsNoSelectorNorYears) {
    const batch_outcome outcome = parse({"--selections", "s.txt", "-o", "runs"});
    ASSERT_EQ(outcome.action, batch_action::run) << outcome.text;
    EXPECT_EQ(outcome.options.selections_path, "s.txt");
    EXPECT_FALSE(outcome.options.has_box || outcome.options.has_station_list || outcome.options.has_near);
}

struct selection_line_case {
    const char* name;
    std::vector<std::string> defaults;  // the command line, with --selections s.txt
    std::vector<std::string> words;     // the line after its name
    void (*expect)(batch_options&);     // the defaults' options, changed as the line asks
    const char* message;                // or the problem, when the line is refused
};

const selection_line_case selection_line_cases[] = {
    {"selector_replaces_every_default_selector",
     {"--stations", "5", "--near", "1,2", "--radius", "9", "--years", "1950", "--max-missing", "0.1"},
     {"--lat", "1,2"},
     [](batch_options& o) {
         o.has_station_list = false, o.station_ids.clear(), o.has_near = false, o.near_lat = o.near_lon = 0.0f;
         o.has_radius = false, o.radius_km = 0.0, o.has_box = true, o.min_lat = 1.0f, o.max_lat = 2.0f;
     },
     nullptr},
    {"years_alone_keep_the_default_selectors",
     {"--lat", "0,1", "--years", "1950"},
     {"--years", "1961-1990"},
     [](batch_options& o) { o.fyod = 1961, o.lyod = 1990; },
     nullptr},
    {"max_missing_alone",
     {"--lon", "5,16", "--years", "1950", "--max-missing", "0.1"},
     {"--max-missing", "25%"},
     [](batch_options& o) { o.missing_fraction = 0.25f; },
     nullptr},
    {"near_over_a_box",
     {"--lat", "0,1", "--lon", "0,1", "--years", "1950"},
     {"--near", "48.2,16.37", "--radius", "50", "--years", "1961-1990"},
     [](batch_options& o) {
         o.has_box = false, o.min_lat = -90.0f, o.max_lat = 90.0f, o.min_lon = -180.0f, o.max_lon = 180.0f;
         o.has_near = true, o.near_lat = static_cast<float>(48.2), o.near_lon = static_cast<float>(16.37);
         o.has_radius = true, o.radius_km = 50.0, o.fyod = 1961, o.lyod = 1990;
     },
     nullptr},
    {"file_of_identifiers",
     {"--years", "1950"},
     {"--stations", "@ids.txt", "--nearest", "3", "--near", "0,0"},
     [](batch_options& o) { o.has_station_list = true, o.station_file = "ids.txt", o.has_near = true, o.nearest = 3; },
     nullptr},
    {"switch",
     {"--lat", "0,1", "--years", "1950"},
     {"-q"},
     nullptr,
     "--quiet cannot be used on a line of --selections"},
    {"radius_over_a_default_point",
     {"--near", "0,0", "--nearest", "2", "--years", "1950"},
     {"--radius", "5"},
     nullptr,
     "--radius needs --near"},
    {"point_alone", {"--years", "1950"}, {"--near", "1,2"}, nullptr, "--near needs --radius or --nearest"},
    {"bad_years", {"--lat", "0,1"}, {"--years", "1990-1961"}, nullptr, R"(--years: FIRST after LAST: "1990-1961")"},
    {"given_twice", {"--years", "1950"}, {"--lat", "1,2", "--lat", "3,4"}, nullptr, "--lat: given more than once"},
    {"word_without_option", {"--years", "1950"}, {"--lat", "1,2", "alps"}, nullptr, R"(unexpected argument: "alps")"},
    {"unknown_option", {"--years", "1950"}, {"--box", "1,2"}, nullptr, R"(unknown option: "--box")"},
    {"value_missing", {"--lat", "0,1"}, {"--years"}, nullptr, "--years: missing value"},
};

class SelectionLineTest : public ::testing::TestWithParam<selection_line_case> {};

TEST_P(SelectionLineTest, OverTheCommandLine) {
    const selection_line_case& c = GetParam();
    std::vector<std::string> args = c.defaults;
    args.insert(args.end(), {"--selections", "s.txt"});
    const batch_outcome outcome = parse(args);
    ASSERT_EQ(outcome.action, batch_action::run) << outcome.text;
    batch_options got = outcome.options;
    const std::string message = app::apply_selection_words(c.words, got);
    if (c.message) {
        EXPECT_EQ(message, c.message);
        return;
    }
    ASSERT_EQ(message, "");
    batch_options want = outcome.options;
    c.expect(want);
    expect_same(got, want);
    EXPECT_TRUE(selectors_of(got) == selectors_of(want));
}

INSTANTIATE_TEST_SUITE_P(Lines, SelectionLineTest, ::testing::ValuesIn(selection_line_cases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// ---------------------------------------------------------------------------------------
// Help and version

struct answer_case {
    const char* name;
    std::vector<std::string> args;
    batch_action action;
};

const answer_case answer_cases[] = {
    {"help_short", {"-h"}, batch_action::help},
    {"help_long", {"--help"}, batch_action::help},
    {"help_among_bad_values", {"--lat", "1e5,10", "--help", "--years", "3000"}, batch_action::help},
    {"help_before_version", {"--version", "--help"}, batch_action::help},
    {"version_short", {"-V"}, batch_action::version},
    {"version_long", {"--version"}, batch_action::version},
    {"version_with_run_options", {"--lat", "1,2", "--lon", "1,2", "--years", "1950", "-V"}, batch_action::version},
};

class AnswerTest : public ::testing::TestWithParam<answer_case> {};

TEST_P(AnswerTest, PrintsAndExitsWithZero) {
    const batch_outcome outcome = parse(GetParam().args);
    EXPECT_EQ(outcome.action, GetParam().action);
    EXPECT_EQ(outcome.exit_status, 0);
    const std::string want = GetParam().action == batch_action::help ? app::batch_help_text() : app::version_text();
    EXPECT_EQ(outcome.text, want);
}

INSTANTIATE_TEST_SUITE_P(Lines, AnswerTest, ::testing::ValuesIn(answer_cases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(Version, IsTheProgramNameAndThreeNumbers) {
    EXPECT_TRUE(std::regex_match(app::version_text(), std::regex("varnex [0-9]+\\.[0-9]+\\.[0-9]+\n")))
        << app::version_text();
}

using support::lines_of;

TEST(Help, FitsTwoScreensOfEightyColumns) {
    const std::string help = app::batch_help_text();
    ASSERT_FALSE(help.empty());
    EXPECT_EQ(help.back(), '\n');
    const std::vector<std::string> lines = lines_of(help);
    EXPECT_LE(lines.size(), 60u);
    for (const std::string& line : lines) {
        EXPECT_LE(line.size(), 79u) << line;
        for (const char c : line) EXPECT_TRUE(c >= ' ' && c <= '~') << line;
    }
}

// An entry is an option line ("  --lat MIN,MAX ...") with the lines indented under it.
TEST(Help, GivesEveryOptionItsDefault) {
    const std::vector<std::string> lines = lines_of(app::batch_help_text());
    int entries = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind("  -", 0) != 0) continue;
        std::string entry = lines[i];
        for (std::size_t j = i + 1; j < lines.size() && lines[j].rfind("    ", 0) == 0; ++j) entry += lines[j];
        const bool says_default = entry.find("(default: ") != std::string::npos ||
                                  entry.find("(required)") != std::string::npos ||
                                  entry.find("and exit") != std::string::npos;
        EXPECT_TRUE(says_default) << entry;
        ++entries;
    }
    EXPECT_EQ(entries, 23);
}

TEST(Help, NamesEveryOption) {
    const std::string help = app::batch_help_text();
    for (const char* option : {"--lat MIN,MAX",
                               "--lon WEST,EAST",
                               "--stations LIST",
                               "--near LAT,LON",
                               "--radius KM",
                               "--nearest N",
                               "--list",
                               "--selections FILE",
                               "--years FIRST-LAST",
                               "--max-missing X",
                               "--type T",
                               "-C, --archive DIR",
                               "-o, --output-dir DIR",
                               "--report FILE",
                               "--csv FILE",
                               "--netcdf FILE",
                               "--no-tsf",
                               "-q, --quiet",
                               "-v, --verbose",
                               "-h, --help",
                               "-V, --version"}) {
        EXPECT_NE(help.find(std::string("  ") + option), std::string::npos) << option;
    }
    EXPECT_NE(help.find("names the output files\n                        and the netCDF variable"), std::string::npos);
}

// ---------------------------------------------------------------------------------------
// Plain decimals and the joined command line

struct decimal_case {
    const char* text;
    bool plain;
};

const decimal_case decimal_cases[] = {
    {"45", true},   {"-45", true},  {"+45", true},  {"45.5", true}, {".5", true},     {"5.", true},
    {"-.5", true},  {"+5.", true},  {"007", true},  {"0", true},    {"", false},      {".", false},
    {"-", false},   {"+", false},   {"-.", false},  {"1e5", false}, {"1E5", false},   {"1d5", false},
    {"inf", false}, {"nan", false}, {"0x1", false}, {" 1", false},  {"1 ", false},    {"1.2.3", false},
    {"--1", false}, {"1-", false},  {"1,5", false}, {"½", false},   {"1_000", false},
};

class PlainDecimalTest : public ::testing::TestWithParam<decimal_case> {};

TEST_P(PlainDecimalTest, Recognised) { EXPECT_EQ(app::is_plain_decimal(GetParam().text), GetParam().plain); }

INSTANTIATE_TEST_SUITE_P(Texts, PlainDecimalTest, ::testing::ValuesIn(decimal_cases));

struct join_case {
    std::vector<std::string> words;
    const char* joined;
};

const join_case join_cases[] = {
    {{"varnex"}, "varnex"},
    {{"varnex", "--lat", "-45,10", "--max-missing=25%"}, "varnex --lat -45,10 --max-missing=25%"},
    {{"/usr/bin/varnex", "-C", "my dir"}, "/usr/bin/varnex -C 'my dir'"},
    {{"varnex", "--report", "it's"}, R"(varnex --report 'it'\''s')"},
    {{"varnex", "--csv", ""}, "varnex --csv ''"},
    {{"varnex", "-o", "$HOME/*"}, "varnex -o '$HOME/*'"},
};

class JoinTest : public ::testing::TestWithParam<join_case> {};

TEST_P(JoinTest, QuotesWhatAShellWouldSplit) {
    std::vector<const char*> argv;
    for (const std::string& word : GetParam().words) argv.push_back(word.c_str());
    EXPECT_EQ(app::join_command_line(static_cast<int>(argv.size()), argv.data()), GetParam().joined);
}

INSTANTIATE_TEST_SUITE_P(Lines, JoinTest, ::testing::ValuesIn(join_cases));

}  // namespace
