#include "tests/support/transcript.hpp"

#include <cstddef>

namespace e2e::transcript {

namespace {

constexpr std::size_t header_buffer_width = 88;

// One record: its characters and the line feed that ends it.
std::string line(std::string_view text) {
    std::string record(text);
    record += '\n';
    return record;
}

// The empty record that a '/' ends before (or after) the text.
const std::string empty_line = "\n";

std::string visible(std::string_view text) {
    std::string shown;
    for (char c : text) {
        if (c == '\n') {
            shown += "<LF>";
        } else if (c == '\t') {
            shown += "<TAB>";
        } else if (c == '\r') {
            shown += "<CR>";
        } else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) {
            static const char digits[] = "0123456789abcdef";
            shown += "<0x";
            shown += digits[static_cast<unsigned char>(c) >> 4];
            shown += digits[static_cast<unsigned char>(c) & 0x0f];
            shown += '>';
        } else {
            shown += c;
        }
    }
    return shown;
}

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end + 1 - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace

std::string blanks(int count) { return std::string(count > 0 ? static_cast<std::size_t>(count) : 0, ' '); }

std::string int_field(long long value, int width) {
    unsigned long long magnitude =
        value < 0 ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) digits.insert(digits.begin(), '-');
    if (static_cast<int>(digits.size()) > width) return std::string(static_cast<std::size_t>(width), '*');
    return blanks(width - static_cast<int>(digits.size())) + digits;
}

// ---- Banner, menu and file set-up ----

std::string banner() {
    return empty_line + line(" Program Varnex_v15 **************************")  // (/1x,'...')
           + line(" Serves up Valmora data")                                    // (1x,'...')
           + empty_line + line(" Required input files:")                        // (/1x,'...')
           + empty_line + line("    1] site_summary.txt")                       // (/4x,'...')
           + line("    2] data.txt");                                           // (4x,'...')
}

std::string menu() {
    return empty_line + line(" Pray tell which data type are you trying to extract")  // (/1x,...)
           + line(" data from?")                                                      // (1x,...)
           + empty_line + line("    [1] TAVE-Quality Controlled")                     // (/4x,...)
           + line("    [2] TMAX-Quality Controlled")                                  // (4x,...)
           + line("    [3] TMIN-Quality Controlled") + line("    [4] TAVE-NO-quality Control") + empty_line +
           "    Enter Selection ==> ";  // (/4x,'Enter Selection ==> ',$)
}

std::string menu_rejected() {
    // (/1x,'You must enter a number between 1 and 4'), then the pause: a free-form record
    // of its text, which is one blank in front of " Hit Return to try again".
    return empty_line + line(" You must enter a number between 1 and 4") + line("  Hit Return to try again");
}

std::string header_echo(std::string_view shown) {
    std::string field(shown.substr(0, header_buffer_width));
    field.resize(header_buffer_width, ' ');
    return line(" " + field);  // (1x,a) of the 88-character buffer
}

std::string opening_file(std::string_view name_field, const std::vector<std::string>& shown_lines) {
    // (//1x,'Opening File : ',a): two empty lines, then the whole name field.
    std::string text = empty_line + empty_line + line(" Opening File : " + std::string(name_field));
    for (const std::string& shown : shown_lines) text += header_echo(shown);
    return text;
}

std::string missing_file(std::string_view name_field) {
    return empty_line + line(" The file: " + std::string(name_field) + " Does not exist. ")  // (/1x,...,a,...)
           + line(" Find that File! Program Terminating")                                    // (1x,...)
           + line("  Hit RETURN to continue");                                               // pause record
}

// ---- Region dialogue ----

std::string region_banner() { return empty_line + line(" Program Varnex_v14c ostrin 3/5/2012 ******************"); }

std::string region_explanation() {
    std::string text;
    text += empty_line + line("    Select the Geographical Range of data to extract");             // 1 (/,4x,...)
    text += empty_line + line("  This data set is spatially shaped like a rectangle where");       // 2 (/2x,...)
    text += line("  the top left corner is defined by the coordinates");                           // 3 (2x,...)
    text += line("  -180.0 Lon./-90.0 Lat. and the bottom right coordinates are");                 // 4
    text += line("  180.0 Lon./90.0 Lat.  (see diagram below)");                                   // 5
    text += empty_line + line("   -180.0/-90.0                                     180.0/-90.0");  // 6 (/3x,...)
    text += line("         :------------------------------------------:");              // 7 (3x,'      :...')
    text += line("         :                                          :");              // 8
    text += line("         :                                          :");              // 9
    text += line("         :           Our Beautiful Planet           :");              // 10
    text += line("         :                                          :");              // 11
    text += line("         :                                          :");              // 12
    text += line("         :                                          :");              // 13
    text += line("         :                                          :");              // 14
    text += line("         :------------------------------------------:");              // 15
    text += line("   -180.0/90.0                                      180.0/90.0");     // 16
    text += empty_line + line("  Enter the range of Latitude and Longitude");           // 17 (/,2x,...)
    text += line("  from which you would like to extract your data.");                  // 18
    text += empty_line + line("  Enter values as REAL numbers to the nearest 0.5");     // 19 (/2x,...)
    text += line("  degree. EXAMPLE a Latitude entered as -89.75 defines ");            // 20
    text += line("  cells bounded on the bottom by -90.0 degrees SOUTH.");              // 21
    text += line("  Similarly a longitude entered as 179.75 are the cells ");           // 22
    text += line("  bounded to the right by 180.0 degrees EAST).") + empty_line;        // 23 (2x,...,/)
    text += empty_line + line("  All LONGITUDES WEST or [LEFT] of Greenwich  ");        // 24 (/,2x,...)
    text += line("  are NEGATIVE and EAST or [RIGHT] of Greenwich  ");                  // 25
    text += line("  are POSITIVE");                                                     // 26
    text += empty_line + line("  All LATITUDES SOUTH or [BELOW] the Equator are");      // 27 (/2x,...)
    text += line("  NEGATIVE and NORTH latitudes, [ABOVE] the equator, are");           // 28
    text += line("  POSITIVE.");                                                        // 29
    text += empty_line + line("  Each grid cell value is the observation for that  ");  // 30 (/,2x,...)
    text += line("  cells mid-point. Example: for the cell 90.0 Lat. -180.0");          // 31
    text += line("  Lon. The actual grid point value given is centered ");              // 32
    text += line("  over (89.75,-179.75).") + empty_line;                               // 33 (2x,...'/)
    text += line("  HIT RETURN to continue");  // pause record: one blank and the text
    return text;
}

std::string max_latitude_prompt() { return blanks(8) + "Enter Max Latitude  [TOP]   ==> "; }
std::string min_latitude_prompt() { return blanks(8) + "Enter Min Latitude  [BOTTOM]==> "; }
std::string max_longitude_prompt() { return blanks(8) + "Enter Max Longitude [RIGHT] ==> "; }
std::string min_longitude_prompt() { return blanks(8) + "Enter Min Longitude [LEFT]  ==> "; }

std::string max_latitude_invalid(std::string_view max_lat) {
    return empty_line + line(" Invalid latitude: " + std::string(max_lat))  // (/1x,'Invalid latitude: ',f6.2)
           + line(blanks(8) + "Valid range is 90.0 <-> -90.0");             // (,8x,'...')
}

std::string min_latitude_above_max(std::string_view max_lat) {
    return empty_line + line(blanks(8) + "Your Min. Lat is greater than your Max.Lat")              // (/,8x,...)
           + line(blanks(8) + " MAX. LAT =>  " + std::string(max_lat))                              // (8x,'...',f6.2)
           + empty_line + line(blanks(8) + "Valid range is" + std::string(max_lat) + " -> -90.0");  // (/8x,...)
}

std::string min_latitude_invalid(std::string_view min_lat, std::string_view max_lat) {
    return line(" Invalid latitude: " + std::string(min_lat))  // (1x,...): no empty line before
           + empty_line + line(blanks(8) + "Valid range is" + std::string(max_lat) + " -> -90.0");  // (/,8x,...)
}

std::string longitude_invalid(std::string_view lon) {
    return line(" Invalid longitude: " + std::string(lon))                      // (1x,'Invalid longitude: ',f7.2)
           + empty_line + line(blanks(8) + "Valid range is 180.0 <-> -180.0");  // (/,8x,...)
}

std::string area_box(const box_fields& box) {
    const std::string heading = " " + std::string("    Lon.    Lat                                     Lon.     Lat.");
    const std::string edge = ":------------------------------:";
    const std::string side = blanks(18) + ":                              :";
    std::string text = empty_line + line(" Area defined is :");                                    // (/1x,...)
    text += empty_line + line(heading);                                                            // row 2 (/1x,...)
    text += line(" " + box.min_lon + "/" + box.max_lat + edge + box.max_lon + "/" + box.max_lat);  // row 3
    text += line(side) + line(side) + line(side);                                                  // rows 4-6
    text += line(blanks(18) + ":        Your Selection        :");                                 // row 7
    text += line(side) + line(side) + line(side);                                                  // rows 8-10
    text += line(" " + box.min_lon + "/" + box.min_lat + edge + box.max_lon + "/" + box.min_lat);  // row 11
    text += line(heading);                                                                         // row 12 (1x,...)
    return text;
}

std::string confirm_prompt() {
    return empty_line + " Is this ok? [T]rue or [F]alse ==> ";  // (/1x,'...',$)
}

// ---- Time span and completeness dialogue ----

std::string span_start() {
    return empty_line + line(" " + std::string(62, '-'))                          // (/1x,'---...')
           + empty_line + line(" Define the time span to extract.") + empty_line  // (/1x,'...',/)
           + empty_line + line("  Valid years are 1800-2020");                    // (/2x,'...',i4,'-',i4)
}

std::string first_year_prompt() {
    return empty_line + line("  Enter the First Year Of Data you want to extract.")  // (/,2x,...)
           + "  FYOD :> ";                                                           // (1x,' FYOD :> ',$)
}

std::string first_year_warning() {
    return empty_line + line(" *WARNING* FYOD must be > 1800 and < 2020");  // (/1x,...,i4,...,i4)
}

std::string last_year_prompt() {
    return empty_line + line("  Enter the Last Year Of Data you want to extract.")  // (/2x,...)
           + "  LYOD :> ";                                                          // (1x,' LYOD :> ',$)
}

std::string last_year_before_first(int fyod) {
    return line(" *WARNING* LYOD must be greater than" + int_field(fyod, 4))  // (1x,'...than',i4)
           + line("  Valid range = " + int_field(fyod, 4) + "-2020");         // (2x,'...',i4,'-',i4 )
}

std::string last_year_after_limit(int fyod) {
    return empty_line + line("  Valid range = " + int_field(fyod, 4) + " to 2020");  // (/2x,...,i4,' to ',i4)
}

std::string values_entered(int fyod, int lyod) {
    // (/1x,'Values Entered are: FYOD= ',i5,' LYOD= ',i5), then the confirmation prompt.
    return empty_line + line(" Values Entered are: FYOD= " + int_field(fyod, 5) + " LYOD= " + int_field(lyod, 5)) +
           confirm_prompt();
}

std::string completeness(int potential_months, int example_count) {
    std::string text = empty_line + line(" Ok, almost finished.");  // (/1x,...)
    text += line("   As is stands now, given the range of years you have selected to");
    text += line(" extract, there are potentially " + int_field(potential_months, 6) + " monthly values from each ");
    text += line(" station. What is the maximum percent of missing monthly values");
    text += line(" from each stations record that you will accept?  Entering a value ");
    text += line(" of 0.0 (0%) will save all stations with NO missing monthly values. ");
    text += line(" Entering a value of 0.25 (25%) will save only those with stations  ");
    text += line(" with less than " + int_field(example_count, 3) + " missing monthly values.");
    text += empty_line + " Enter a percentage (as a real number) here ==> ";  // (/1x,'...',$)
    return text;
}

std::string final_check(std::string_view max_missing_i3) {
    return empty_line +
           line(" So, reject stations with more than " + std::string(max_missing_i3) + " missing monthly values?") +
           empty_line + line("  [1]=Yes") + "  [2]=No ==> ";  // (/2x,'[1]=Yes',/,2x,'[2]=No ==> ',$)
}

// ---- Engine and closing ----

std::string qualifying_stations(int count) {
    // (/1x,'Number of qualifying stations = ',i8,/)
    return empty_line + line(" Number of qualifying stations = " + int_field(count, 8)) + empty_line;
}

std::string station_data_missing(int station_id) {
    return line(" **station data missing** " + int_field(station_id, 8));  // (1x,'...',i8)
}

std::string closing(int saved_count) {
    return empty_line + line(" Number of save station records = " + int_field(saved_count, 6))  // (/1x,...,i6)
           + empty_line + line(" Normal Termination of Program.");                              // (/,1x,...)
}

// ---- Checks ----

std::string first_difference(std::string_view expected, std::string_view actual) {
    if (expected == actual) return {};
    std::vector<std::string_view> want = split_lines(expected);
    std::vector<std::string_view> got = split_lines(actual);
    std::size_t index = 0;
    while (index < want.size() && index < got.size() && want[index] == got[index]) ++index;
    std::string reason = "first difference at line " + std::to_string(index + 1) + "\n";
    std::size_t context_start = index >= 2 ? index - 2 : 0;
    for (std::size_t k = context_start; k < index; ++k) reason += "   same: [" + visible(want[k]) + "]\n";
    reason += "  expect: " + (index < want.size() ? "[" + visible(want[index]) + "]" : std::string("<end>")) + "\n";
    reason += "  actual: " + (index < got.size() ? "[" + visible(got[index]) + "]" : std::string("<end>")) + "\n";
    if (index + 1 < want.size()) reason += "  expect next: [" + visible(want[index + 1]) + "]\n";
    if (index + 1 < got.size()) reason += "  actual next: [" + visible(got[index + 1]) + "]\n";
    return reason;
}

std::string check_normal_end(std::string_view expected_before_credit, std::string_view actual) {
    std::string_view head = actual.substr(0, expected_before_credit.size());
    if (head != expected_before_credit) {
        return first_difference(expected_before_credit, actual.substr(0, expected_before_credit.size() + 200));
    }
    std::string_view credit = actual.substr(expected_before_credit.size());
    std::size_t end_of_line = credit.find('\n');
    if (credit.empty() || credit.front() != ' ' || end_of_line == std::string_view::npos) {
        return "no author credit line starting with a blank after the termination message: [" + visible(credit) + "]";
    }
    if (credit.substr(end_of_line + 1) != "\n") {
        return "the credit line must be followed by exactly one empty line and the end of output: [" + visible(credit) +
               "]";
    }
    return {};
}

std::string check_failure_report(std::string_view actual_err, std::string_view message, std::string_view operation,
                                 std::string_view unit) {
    std::vector<std::string_view> lines = split_lines(actual_err);
    std::string want_message = "? " + std::string(message) + "\n";
    std::string want_operation = "? " + std::string(operation) + "(UNIT=" + std::string(unit) + ",...\n";
    std::string shown = "[" + visible(actual_err) + "]";
    if (lines.size() != 3) return "expected three lines on standard error, got " + shown;
    if (lines[0].substr(0, 2) != "? " || lines[0].back() != '\n') return "first line must start with \"? \": " + shown;
    if (lines[1] != want_message) return "second line must be [" + visible(want_message) + "]: " + shown;
    if (lines[2] != want_operation) return "third line must be [" + visible(want_operation) + "]: " + shown;
    return {};
}

}  // namespace e2e::transcript
