#include "app/batch_options.hpp"

#include <CLI/CLI.hpp>

#include <cctype>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/output_paths.hpp"
#include "app/station_list.hpp"
#include "textio/read.hpp"

#ifndef VARNEX_VERSION
#error "VARNEX_VERSION must come from the build (project version in CMakeLists.txt)"
#endif

namespace app {
namespace {

constexpr float latitude_limit = 90.0f;
constexpr float longitude_limit = 180.0f;
constexpr float full_circle = 360.0f;
// Wider than the dialogue's 1800 to 2020: archives reach back to early instrumental records
// and run to the present.
constexpr std::int32_t first_valid_year = 1700;
constexpr std::int32_t last_valid_year = 2100;

constexpr const char* help_text = R"(Usage: varnex
       varnex SELECTION --years FIRST-LAST [options]
       varnex SELECTION --list [-C DIR]

Extracts monthly station temperature series from a station archive
(site_summary.txt and data.txt). Without arguments, varnex asks for the run
in a dialogue on the terminal; with arguments, it runs without questions.

Selection (at least one selector; a station must meet every one given):
  --lat MIN,MAX         latitudes, -90 <= MIN <= MAX <= 90 (default: all)
  --lon WEST,EAST       longitudes from -180 to 180 or from 0 to 360; WEST
                        greater than EAST is a box across the 180th
                        meridian, a box 360 wide holds all (default: all)
  --stations LIST       identifiers separated by commas, or @FILE with one
                        per line (default: any)
  --near LAT,LON        a point for --radius and --nearest (default: none)
  --radius KM           at most KM km from the point (default: no limit)
  --nearest N           the N stations nearest to the point that meet the
                        other selectors (default: no count)
  --list                print the selected stations and exit
  --selections FILE     many selections in one pass, one a line: NAME, then
                        its selectors, --years and --max-missing over these;
                        pairs to -o DIR/NAME, {name} in paths (default: none)

Series:
  --years FIRST-LAST    years from 1700 to 2100, or one year (required)
  --max-missing X       most missing months a saved station may have: a
                        fraction from 0 to 1 or a percentage such as 25%
                        (default: no limit)
  --type T              tave, tmax, tmin or tave-raw; names the output files
                        and the netCDF variable (default: tave)

Files:
  -C, --archive DIR     directory of site_summary.txt and data.txt, or of
                        their .gz, .zst or .xz files (default: .)
  --catalogue FILE      the catalogue, - for standard input (default: in DIR)
  --data FILE           data.txt, - for standard input (default: in DIR)
  -o, --output-dir DIR  directory of the output files (default: .)
  --no-tsf              leave out the .TSF and .YX files (default: write them)
  --report FILE         one tab-separated line per station examined, with its
                        verdict; - for standard output (default: none)
  --csv FILE            the saved series in long CSV form; - for standard
                        output (default: none)
  --netcdf FILE         the saved series as a CF-1.8 netCDF file, never on a
                        stream (default: none)

Messages:
  -q, --quiet           print only errors (default: off)
  -v, --verbose         print more about the run (default: off)
  -h, --help            print this help and exit
  -V, --version         print the version and exit

Numbers are plain decimals such as 45, -12.5 or .5; 45 is 45 degrees.
Distances are great-circle distances on a sphere of radius 6371 km.
The streams -, /dev/stdout, /dev/stderr and /dev/fd/N are written where they
stand; other outputs replace their files only when the run succeeds, and no
output may name an archive file or another output.
Exit status: 0 success, 1 file or archive error, 2 usage error, 128+N after
signal N (SIGHUP, SIGINT, SIGTERM), 141 when a stream's reader went away.
See varnex(1) for the files and formats.
)";

constexpr const char* try_help = "Try 'varnex --help'.\n";

// Options that take a value, and switches. CLI11 knows them by these names; the checks below
// name them by the long one.
struct option_name {
    const char* names;  // for CLI11
    const char* long_name;
    bool takes_value;
};

constexpr option_name option_names[] = {
    {"--lat", "--lat", true},
    {"--lon", "--lon", true},
    {"--stations", "--stations", true},
    {"--near", "--near", true},
    {"--radius", "--radius", true},
    {"--nearest", "--nearest", true},
    {"--list", "--list", false},
    {"--selections", "--selections", true},
    {"--years", "--years", true},
    {"--max-missing", "--max-missing", true},
    {"--type", "--type", true},
    {"-C,--archive", "--archive", true},
    {"--catalogue", "--catalogue", true},
    {"--data", "--data", true},
    {"-o,--output-dir", "--output-dir", true},
    {"--report", "--report", true},
    {"--csv", "--csv", true},
    {"--netcdf", "--netcdf", true},
    {"--no-tsf", "--no-tsf", false},
    {"-q,--quiet", "--quiet", false},
    {"-v,--verbose", "--verbose", false},
    {"-h,--help", "--help", false},
    {"-V,--version", "--version", false},
};

constexpr std::size_t option_count = sizeof option_names / sizeof option_names[0];

struct data_type_word {
    const char* word;
    std::int32_t data_type;
};

constexpr data_type_word data_type_words[] = {{"tave", 1}, {"tmax", 2}, {"tmin", 3}, {"tave-raw", 4}};

struct path_option {
    const char* name;
    std::string batch_options::*target;
};

constexpr path_option path_options[] = {
    {"--archive", &batch_options::archive_dir}, {"--catalogue", &batch_options::catalogue_path},
    {"--data", &batch_options::data_path},      {"--output-dir", &batch_options::output_dir},
    {"--report", &batch_options::report_path},  {"--csv", &batch_options::csv_path},
    {"--netcdf", &batch_options::netcdf_path},  {"--selections", &batch_options::selections_path},
};

// What a line of a selections file may give.
constexpr const char* selector_options[] = {"--lat", "--lon", "--stations", "--near", "--radius", "--nearest"};
constexpr const char* line_options[] = {"--lat",    "--lon",     "--stations", "--near",
                                        "--radius", "--nearest", "--years",    "--max-missing"};

// The parsed command line: one CLI11 option per entry of option_names, in that order.
struct command_line {
    CLI::App cli{"", "varnex"};
    CLI::Option* options[option_count] = {};

    CLI::Option* find(std::string_view long_name) const {
        for (std::size_t i = 0; i < option_count; ++i) {
            if (long_name == option_names[i].long_name) return options[i];
        }
        return nullptr;
    }
    bool given(std::string_view long_name) const { return find(long_name)->count() > 0; }
    const std::string& value(std::string_view long_name) const { return find(long_name)->results().front(); }
};

void declare_options(command_line& line) {
    line.cli.set_help_flag();  // help is ours, printed by the caller
    line.cli.allow_extras();   // unknown words are reported below, in our words
    for (std::size_t i = 0; i < option_count; ++i) {
        const option_name& name = option_names[i];
        if (name.takes_value) {
            // Exactly one value per use, taken even when it begins with a minus sign
            // ("--lat -45,10"); a second use is reported, not merged.
            line.options[i] =
                line.cli.add_option(name.names)->expected(1)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        } else {
            line.options[i] = line.cli.add_flag(name.names)->disable_flag_override();
        }
    }
}

std::string in_quotes(std::string_view value) { return "\"" + std::string(value) + "\""; }

std::string problem(std::string_view option, std::string_view what, std::string_view value) {
    return std::string(option) + ": " + std::string(what) + ": " + in_quotes(value);
}

// CLI11 reports a value-less use of an option in its own words; the option's name leads them
// ("--lat: 1 required ...", "no-tsf was given ...").
std::string value_count_problem(const CLI::ParseError& error) {
    std::string_view text = error.what();
    std::size_t end = 0;
    while (end < text.size() && (text[end] == '-' || std::isalnum(static_cast<unsigned char>(text[end])))) ++end;
    std::string_view name = text.substr(0, end);
    while (!name.empty() && name.front() == '-') name.remove_prefix(1);
    for (const option_name& option : option_names) {
        const std::string_view long_name = std::string_view(option.long_name).substr(2);
        const std::string_view names = option.names;
        const bool short_match = name.size() == 1 && names.size() > 1 && names[0] == '-' && names[1] == name[0];
        if (name != long_name && !short_match) continue;
        return std::string(option.long_name) + (option.takes_value ? ": missing value" : ": takes no value");
    }
    return std::string(text);
}

std::string leftover_problem(const std::vector<std::string>& leftovers) {
    std::size_t first = 0;
    // "--" ends the options: whatever follows is an argument, and varnex takes none.
    if (leftovers[0] == "--") {
        if (leftovers.size() == 1) return {};
        first = 1;
    }
    const std::string& word = leftovers[first];
    if (first == 0 && word.size() > 1 && word[0] == '-') {
        // "--name=value" is named without its value; "-x=1" is shown whole.
        const bool long_form = word.compare(0, 2, "--") == 0;
        return "unknown option: " + in_quotes(long_form ? word.substr(0, word.find('=')) : word);
    }
    return "unexpected argument: " + in_quotes(word);
}

// An option left without its value takes the next option as its value ("--lat --lon 1,2").
std::string swallowed_option_problem(const command_line& line) {
    for (std::size_t i = 0; i < option_count; ++i) {
        if (!option_names[i].takes_value || line.options[i]->count() == 0) continue;
        const std::string& value = line.options[i]->results().front();
        if (value.compare(0, 2, "--") == 0 && line.find(value.substr(0, value.find('=')))) {
            return std::string(option_names[i].long_name) + ": missing value";
        }
    }
    return {};
}

// --list writes nothing but its lines.
std::string list_problem(const command_line& line) {
    for (const char* output : {"--output-dir", "--csv", "--netcdf", "--report", "--no-tsf", "--selections"})
        if (line.given(output)) return std::string("--list cannot be used with ") + output;
    return {};
}

// Words that make no option, options without their values, and options given twice.
std::string shape_problem(const command_line& line) {
    std::string message = swallowed_option_problem(line);
    if (message.empty() && !line.cli.remaining().empty()) message = leftover_problem(line.cli.remaining());
    if (!message.empty()) return message;
    for (std::size_t i = 0; i < option_count; ++i) {
        if (option_names[i].takes_value && line.options[i]->count() > 1) {
            return std::string(option_names[i].long_name) + ": given more than once";
        }
    }
    return {};
}

bool any_selector_given(const command_line& line) {
    for (const char* selector : selector_options)
        if (line.given(selector)) return true;
    return false;
}

constexpr const char* selector_required = "a selector is required: --lat/--lon, --stations or --near";

std::string point_problem(const command_line& line) {
    if (line.given("--near") && !line.given("--radius") && !line.given("--nearest"))
        return "--near needs --radius or --nearest";
    for (const char* needs_point : {"--radius", "--nearest"})
        if (line.given(needs_point) && !line.given("--near")) return std::string(needs_point) + " needs --near";
    return {};
}

// With --selections, the selectors and --years of the command line are defaults that each
// line may complete, so they are checked line by line.
std::string structure_problem(const command_line& line) {
    if (std::string message = shape_problem(line); !message.empty()) return message;
    const bool selections = line.given("--selections");
    if (!selections && !line.given("--lat") && !line.given("--lon") && !line.given("--stations") &&
        !line.given("--near"))
        return selector_required;
    if (std::string message = point_problem(line); !message.empty()) return message;
    if (line.given("--list")) return list_problem(line);
    if (!selections && !line.given("--years")) return "--years FIRST-LAST is required";
    return {};
}

bool read_decimal(std::string_view text, float& value) {
    if (!is_plain_decimal(text)) return false;
    value = textio::decimal_to_float(text);
    return true;
}

// "A,B" into two single-precision values, each within [-limit, limit].
std::string read_pair(std::string_view option, std::string_view text, std::string_view form, std::string_view quantity,
                      float limit, float& first, float& second) {
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos || text.find(',', comma + 1) != std::string_view::npos) {
        return problem(option, "expected " + std::string(form), text);
    }
    const std::string_view parts[2] = {text.substr(0, comma), text.substr(comma + 1)};
    float* const targets[2] = {&first, &second};
    for (int i = 0; i < 2; ++i) {
        if (!read_decimal(parts[i], *targets[i])) return problem(option, "not a plain decimal number", parts[i]);
    }
    for (int i = 0; i < 2; ++i) {
        if (*targets[i] < -limit || *targets[i] > limit) {
            const std::string range =
                std::to_string(static_cast<int>(-limit)) + " to " + std::to_string(static_cast<int>(limit));
            return problem(option, std::string(quantity) + " out of range " + range, parts[i]);
        }
    }
    return {};
}

std::string read_latitudes(std::string_view text, batch_options& options) {
    std::string message =
        read_pair("--lat", text, "MIN,MAX", "latitude", latitude_limit, options.min_lat, options.max_lat);
    if (message.empty() && options.min_lat > options.max_lat) message = problem("--lat", "MIN greater than MAX", text);
    return message;
}

// The nearest double to a plain decimal (from_chars takes no plus sign).
double decimal_to_double(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

// A longitude above 180 is that minus 360, subtracted in double from the typed number so
// that the one rounding to single precision comes last (359.99 is float(-0.01)).
float longitude_of(double typed, float single) {
    return single > longitude_limit ? static_cast<float>(typed - full_circle) : single;
}

// Longitudes as the field writes them, from -180 to 180 or from 0 to 360. A box typed 360
// degrees wide or more holds every longitude.
std::string read_longitudes(std::string_view text, batch_options& options) {
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos || text.find(',', comma + 1) != std::string_view::npos)
        return problem("--lon", "expected WEST,EAST", text);
    const std::string_view parts[2] = {text.substr(0, comma), text.substr(comma + 1)};
    // The bounds, and which side of 180 a value lies on, are judged in single precision,
    // as the dialogue keeps its answers.
    double typed[2] = {};
    float single[2] = {};
    for (int i = 0; i < 2; ++i) {
        if (!is_plain_decimal(parts[i])) return problem("--lon", "not a plain decimal number", parts[i]);
        typed[i] = decimal_to_double(parts[i]);
        single[i] = textio::decimal_to_float(parts[i]);
        if (single[i] < -longitude_limit || single[i] > full_circle)
            return problem("--lon", "longitude out of range -180 to 360", parts[i]);
    }
    if ((single[0] < 0.0f || single[1] < 0.0f) && (single[0] > longitude_limit || single[1] > longitude_limit))
        return problem("--lon", "a negative longitude with one above 180", text);
    if (typed[1] - typed[0] >= full_circle) {
        options.min_lon = -longitude_limit;
        options.max_lon = longitude_limit;
    } else {
        float* const edges[2] = {&options.min_lon, &options.max_lon};
        for (int i = 0; i < 2; ++i) *edges[i] = longitude_of(typed[i], single[i]);
    }
    options.crosses_dateline = options.min_lon > options.max_lon;
    return {};
}

// The point's latitude as --lat takes it, and its longitude as --lon does.
std::string read_near(std::string_view text, batch_options& options) {
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos || text.find(',', comma + 1) != std::string_view::npos)
        return problem("--near", "expected LAT,LON", text);
    const std::string_view lat = text.substr(0, comma), lon = text.substr(comma + 1);
    for (const std::string_view part : {lat, lon})
        if (!is_plain_decimal(part)) return problem("--near", "not a plain decimal number", part);
    options.near_lat = textio::decimal_to_float(lat);
    if (options.near_lat < -latitude_limit || options.near_lat > latitude_limit)
        return problem("--near", "latitude out of range -90 to 90", lat);
    const float single = textio::decimal_to_float(lon);
    if (single < -longitude_limit || single > full_circle)
        return problem("--near", "longitude out of range -180 to 360", lon);
    options.near_lon = longitude_of(decimal_to_double(lon), single);
    options.has_near = true;
    return {};
}

// A distance stays the double nearest to its text: it is no coordinate.
std::string read_radius(std::string_view text, batch_options& options) {
    if (!is_plain_decimal(text)) return problem("--radius", "not a plain decimal number", text);
    options.radius_km = decimal_to_double(text);
    if (options.radius_km < 0.0) return problem("--radius", "negative distance", text);
    options.has_radius = true;
    return {};
}

std::string read_station_list(std::string_view text, batch_options& options) {
    options.has_station_list = true;
    if (!text.empty() && text.front() == '@') {
        options.station_file = std::string(text.substr(1));
        if (options.station_file.empty()) return problem("--stations", "empty name", text);
        return {};
    }
    for (;;) {
        const std::size_t comma = text.find(',');
        const std::string_view word = text.substr(0, comma);
        std::int32_t id = 0;
        if (std::string what = read_identifier(word, id); !what.empty()) return problem("--stations", what, word);
        options.station_ids.push_back(id);
        if (comma == std::string_view::npos) return {};
        text.remove_prefix(comma + 1);
    }
}

bool is_digits(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// Digits to a year; a number too long for 32 bits is as much out of range as 9999.
std::int32_t year_value(std::string_view digits) {
    std::int32_t year = 0;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), year);
    return result.ec == std::errc() ? year : INT32_MAX;
}

std::string read_years(std::string_view text, batch_options& options) {
    const std::size_t dash = text.find('-');
    const std::string_view first = text.substr(0, dash);
    const std::string_view last = dash == std::string_view::npos ? first : text.substr(dash + 1);
    if (!is_digits(first) || !is_digits(last)) return problem("--years", "expected FIRST-LAST or one year", text);
    for (const std::string_view year : {first, last}) {
        const std::int32_t value = year_value(year);
        if (value < first_valid_year || value > last_valid_year) {
            return problem(
                "--years",
                "year out of range " + std::to_string(first_valid_year) + " to " + std::to_string(last_valid_year),
                year);
        }
    }
    options.fyod = year_value(first);
    options.lyod = year_value(last);
    if (options.fyod > options.lyod) return problem("--years", "FIRST after LAST", text);
    return {};
}

// The typed number is checked as typed (its nearest double). A percentage is divided in
// double precision before the one rounding to float, so that "25%" and "0.25" agree.
// A count too long for 32 bits asks for every station, as the largest one does.
std::string read_nearest(std::string_view text, batch_options& options) {
    if (!is_digits(text)) return problem("--nearest", "expected a count of 1 or more", text);
    std::int32_t count = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), count);
    if (result.ec != std::errc()) count = INT32_MAX;
    if (count < 1) return problem("--nearest", "expected a count of 1 or more", text);
    options.nearest = count;
    return {};
}

std::string read_max_missing(std::string_view text, batch_options& options) {
    const bool percentage = !text.empty() && text.back() == '%';
    const std::string_view number = percentage ? text.substr(0, text.size() - 1) : text;
    if (!is_plain_decimal(number)) return problem("--max-missing", "not a plain decimal number", text);
    // from_chars takes no plus sign.
    const std::string_view unsigned_number = number.front() == '+' ? number.substr(1) : number;
    double value = 0.0;
    std::from_chars(unsigned_number.data(), unsigned_number.data() + unsigned_number.size(), value);
    if (percentage) {
        if (!(value >= 0.0 && value <= 100.0)) {
            return problem("--max-missing", "percentage out of range 0% to 100%", text);
        }
        options.missing_fraction = static_cast<float>(value / 100.0);
    } else {
        if (!(value >= 0.0 && value <= 1.0)) return problem("--max-missing", "fraction out of range 0 to 1", text);
        options.missing_fraction = textio::decimal_to_float(number);
    }
    options.has_max_missing = true;
    return {};
}

std::string read_type(std::string_view text, batch_options& options) {
    for (const data_type_word& known : data_type_words) {
        if (text == known.word) {
            options.data_type = known.data_type;
            options.type_word = known.word;
            return {};
        }
    }
    return problem("--type", "expected tave, tmax, tmin or tave-raw", text);
}

std::string read_path(const command_line& line, std::string_view option, std::string& target) {
    if (!line.given(option)) return {};
    target = line.value(option);
    if (target.empty()) return problem(option, "empty name", target);
    return {};
}

// The selectors, in the order the help lists them.
std::string read_selectors(const command_line& line, batch_options& options) {
    options.has_box = line.given("--lat") || line.given("--lon");
    std::string message;
    if (line.given("--lat")) message = read_latitudes(line.value("--lat"), options);
    if (message.empty() && line.given("--lon")) message = read_longitudes(line.value("--lon"), options);
    if (message.empty() && line.given("--stations")) message = read_station_list(line.value("--stations"), options);
    if (message.empty() && line.given("--near")) message = read_near(line.value("--near"), options);
    if (message.empty() && line.given("--radius")) message = read_radius(line.value("--radius"), options);
    if (message.empty() && line.given("--nearest")) message = read_nearest(line.value("--nearest"), options);
    return message;
}

std::string read_values(const command_line& line, batch_options& options) {
    std::string message = read_selectors(line, options);
    if (message.empty() && line.given("--years")) message = read_years(line.value("--years"), options);
    if (message.empty() && line.given("--max-missing")) {
        message = read_max_missing(line.value("--max-missing"), options);
    }
    if (message.empty() && line.given("--type")) message = read_type(line.value("--type"), options);
    for (const path_option& path : path_options) {
        if (message.empty()) message = read_path(line, path.name, options.*path.target);
    }
    return message;
}

// Streams are known by their spelling: --netcdf needs a file it can go back in, and two
// outputs on one stream would mix their lines.
std::string stream_problem(const batch_options& options) {
    if (stream_descriptor(options.netcdf_path) >= 0)
        return problem("--netcdf", "cannot write to a stream", options.netcdf_path);
    const int report_fd = stream_descriptor(options.report_path);
    if (report_fd >= 0 && report_fd == stream_descriptor(options.csv_path))
        return "--report " + options.report_path + " and --csv " + options.csv_path + " both write to " +
               stream_name(report_fd);
    return {};
}

std::string combination_problem(const batch_options& options) {
    if (std::string message = stream_problem(options); !message.empty()) return message;
    if (options.catalogue_path == "-" && options.data_path == "-")
        return "--catalogue and --data cannot both read standard input";
    if (options.quiet && options.verbose) return "--quiet and --verbose cannot be used together";
    // The station lines of selections read together would interleave.
    if (options.verbose && !options.selections_path.empty()) return "--verbose cannot be used with --selections";
    return {};
}

// The selectors of a default-made options value.
void clear_selectors(batch_options& options) {
    const batch_options none;
    options.has_box = none.has_box;
    options.min_lat = none.min_lat;
    options.max_lat = none.max_lat;
    options.min_lon = none.min_lon;
    options.max_lon = none.max_lon;
    options.crosses_dateline = none.crosses_dateline;
    options.has_station_list = none.has_station_list;
    options.station_ids.clear();
    options.station_file.clear();
    options.has_near = none.has_near;
    options.near_lat = none.near_lat;
    options.near_lon = none.near_lon;
    options.has_radius = none.has_radius;
    options.radius_km = none.radius_km;
    options.nearest = none.nearest;
}

std::string line_option_problem(const command_line& line) {
    for (std::size_t i = 0; i < option_count; ++i) {
        if (line.options[i]->count() == 0) continue;
        bool allowed = false;
        for (const char* option : line_options)
            allowed = allowed || std::string_view(option) == option_names[i].long_name;
        if (!allowed) return std::string(option_names[i].long_name) + " cannot be used on a line of --selections";
    }
    return {};
}

batch_outcome usage_error(const std::string& message) {
    batch_outcome outcome;
    outcome.action = batch_action::usage_error;
    outcome.message = message;
    outcome.text = usage_error_text(message);
    outcome.exit_status = usage_exit_status;
    return outcome;
}

batch_outcome print_and_exit(batch_action action, std::string text) {
    batch_outcome outcome;
    outcome.action = action;
    outcome.text = std::move(text);
    outcome.exit_status = 0;
    return outcome;
}

bool is_shell_safe(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("%+,-./:=@_").find(c) != std::string_view::npos;
}

std::string shell_word(std::string_view word) {
    bool safe = !word.empty();
    for (const char c : word) safe = safe && is_shell_safe(c);
    if (safe) return std::string(word);
    std::string quoted_word = "'";
    for (const char c : word) quoted_word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted_word + "'";
}

}  // namespace

bool is_plain_decimal(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
    }
    return digits > 0 && i == text.size();
}

std::string batch_help_text() { return help_text; }

std::string usage_error_text(const std::string& message) { return "varnex: " + message + "\n" + try_help; }

std::string version_text() { return std::string("varnex ") + VARNEX_VERSION + "\n"; }

std::string join_command_line(int argc, const char* const* argv) {
    std::string joined;
    for (int i = 0; i < argc; ++i) {
        if (i > 0) joined += ' ';
        joined += shell_word(argv[i]);
    }
    return joined;
}

std::string apply_selection_words(const std::vector<std::string>& words, batch_options& options) {
    std::vector<const char*> argv = {"varnex"};
    for (const std::string& word : words) argv.push_back(word.c_str());
    command_line line;
    declare_options(line);
    try {
        line.cli.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& error) {
        return value_count_problem(error);
    }
    std::string message = shape_problem(line);
    if (message.empty()) message = line_option_problem(line);
    if (!message.empty()) return message;
    if (any_selector_given(line)) {
        if (message = point_problem(line); !message.empty()) return message;
        clear_selectors(options);
        if (message = read_selectors(line, options); !message.empty()) return message;
    }
    if (line.given("--years")) message = read_years(line.value("--years"), options);
    if (message.empty() && line.given("--max-missing"))
        message = read_max_missing(line.value("--max-missing"), options);
    if (!message.empty()) return message;
    if (!options.has_box && !options.has_station_list && !options.has_near) return selector_required;
    if (options.fyod == 0) return "--years FIRST-LAST is required";
    return {};
}

batch_outcome parse_batch_options(int argc, const char* const* argv) {
    command_line line;
    declare_options(line);
    try {
        line.cli.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return usage_error(value_count_problem(error));
    }
    // Help and version answer whatever else the line holds.
    if (line.given("--help")) return print_and_exit(batch_action::help, batch_help_text());
    if (line.given("--version")) return print_and_exit(batch_action::version, version_text());

    batch_outcome outcome;
    batch_options& options = outcome.options;
    std::string message = structure_problem(line);
    if (message.empty()) message = read_values(line, options);
    options.write_legacy = !line.given("--no-tsf");
    options.list_only = line.given("--list");
    options.quiet = line.given("--quiet");
    options.verbose = line.given("--verbose");
    if (message.empty()) message = combination_problem(options);
    if (!message.empty()) return usage_error(message);

    options.command_line = join_command_line(argc, argv);
    outcome.action = batch_action::run;
    outcome.exit_status = 0;
    return outcome;
}

}  // namespace app
