// The batch command line: every option of a run given as arguments instead of answers.
// Parsing only reads argv and decides; it prints nothing, opens no file and never exits,
// so that every option is checked before the run touches the file system.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace app {

// A run as the command line asks for it. Coordinates and the missing-months fraction are
// single precision, like the dialogue's answers, so that both ways select the same stations.
// The selectors (a box, a list of identifiers, a point) are those given; a box given by one
// of --lat and --lon holds every longitude or every latitude.
struct batch_options {
    bool has_box = false;
    float min_lat = -90.0f;
    float max_lat = 90.0f;
    float min_lon = -180.0f;        // west edge of the box
    float max_lon = 180.0f;         // east edge of the box
    bool crosses_dateline = false;  // west edge greater than east edge
    bool has_station_list = false;
    std::vector<std::int32_t> station_ids;  // as listed
    std::string station_file;               // --stations @FILE, read when the run starts
    bool has_near = false;
    float near_lat = 0.0f;
    float near_lon = 0.0f;
    bool has_radius = false;
    double radius_km = 0.0;
    std::int32_t nearest = 0;     // 0: no count
    bool list_only = false;       // --list: print the selected stations
    std::string selections_path;  // --selections FILE, read when the run starts
    std::int32_t fyod = 0;
    std::int32_t lyod = 0;
    bool has_max_missing = false;   // false: no station is rejected for missing months
    float missing_fraction = 0.0f;  // 0 to 1
    std::int32_t data_type = 1;     // the menu's number: 1 tave, 2 tmax, 3 tmin, 4 tave-raw
    std::string type_word = "tave";
    std::string archive_dir = ".";
    std::string catalogue_path;  // --catalogue: empty for the archive directory's; "-" standard input
    std::string data_path;       // --data: likewise
    std::string output_dir = ".";
    std::string report_path;   // empty: no report; a stream (output_paths.hpp) is written in place
    std::string csv_path;      // empty: no CSV file; a stream is written in place
    std::string netcdf_path;   // empty: no netCDF file
    bool write_legacy = true;  // the .TSF series and .YX coordinates pair
    bool quiet = false;
    bool verbose = false;
    std::string command_line;  // argv as a shell would take it back, for the netCDF history
};

enum class batch_action { run, help, version, usage_error };

// What the caller does next: run with `options`, or print `text` (help and version on
// standard output, a usage error on standard error) and exit with `exit_status`.
struct batch_outcome {
    batch_action action = batch_action::usage_error;
    batch_options options;
    std::string text;
    std::string message;  // a usage error's problem alone, as text says it after "varnex: "
    int exit_status = 2;
};

inline constexpr int usage_exit_status = 2;

batch_outcome parse_batch_options(int argc, const char* const* argv);

// The words of a line of a selections file, after its name, over `options`: the command
// line's, which are the defaults of every line. A line that gives a selector replaces all
// of the command line's; its --years and --max-missing replace theirs one by one. Empty,
// or the problem as a usage error names it.
std::string apply_selection_words(const std::vector<std::string>& words, batch_options& options);

// A usage error as printed: "varnex: ", the message, and a line that points to --help.
std::string usage_error_text(const std::string& message);

// The text of --help, ending with a line feed.
std::string batch_help_text();

// "varnex X.Y.Z" and a line feed.
std::string version_text();

// The words joined by blanks; a word with characters a shell treats specially is quoted.
std::string join_command_line(int argc, const char* const* argv);

// True for an optional sign, digits, and an optional point with digits, at least one
// digit in all: "45", "-12.5", ".5", "5.".
bool is_plain_decimal(std::string_view text);

}  // namespace app
