// The region dialogue: the coordinate conventions, the four edges of the box, the box
// shown back, and its confirmation.
#include "app/dialogue.hpp"
#include "app/terminal_ops.hpp"
#include "textio/read.hpp"
#include "textio/terminal.hpp"

namespace app {
namespace {

using textio::format_list;
using textio::item_real;
using textio::parse_format;

const format_list second_banner = parse_format("(/1x,'Program Varnex_v14c ostrin 3/5/2012 ******************')");

const format_list explanation[] = {
    parse_format("(/,4x,'Select the Geographical Range of data to extract')"),
    parse_format("(/2x,'This data set is spatially shaped like a rectangle where')"),
    parse_format("(2x,'the top left corner is defined by the coordinates')"),
    parse_format("(2x,'-180.0 Lon./-90.0 Lat. and the bottom right coordinates are')"),
    parse_format("(2x,'180.0 Lon./90.0 Lat.  (see diagram below)')"),
    parse_format("(/3x,'-180.0/-90.0                                     180.0/-90.0')"),
    parse_format("(3x,'      :------------------------------------------:')"),
    parse_format("(3x,'      :                                          :')"),
    parse_format("(3x,'      :                                          :')"),
    parse_format("(3x,'      :           Our Beautiful Planet           :')"),
    parse_format("(3x,'      :                                          :')"),
    parse_format("(3x,'      :                                          :')"),
    parse_format("(3x,'      :                                          :')"),
    parse_format("(3x,'      :                                          :')"),
    parse_format("(3x,'      :------------------------------------------:')"),
    parse_format("(3x,'-180.0/90.0                                      180.0/90.0')"),
    parse_format("(/,2x,'Enter the range of Latitude and Longitude')"),
    parse_format("(2x,'from which you would like to extract your data.')"),
    parse_format("(/2x,'Enter values as REAL numbers to the nearest 0.5')"),
    parse_format("(2x,'degree. EXAMPLE a Latitude entered as -89.75 defines ')"),
    parse_format("(2x,'cells bounded on the bottom by -90.0 degrees SOUTH.')"),
    parse_format("(2x,'Similarly a longitude entered as 179.75 are the cells ')"),
    parse_format("(2x,'bounded to the right by 180.0 degrees EAST).',/)"),
    parse_format("(/,2x,'All LONGITUDES WEST or [LEFT] of Greenwich  ')"),
    parse_format("(2x,'are NEGATIVE and EAST or [RIGHT] of Greenwich  ')"),
    parse_format("(2x,'are POSITIVE')"),
    parse_format("(/2x,'All LATITUDES SOUTH or [BELOW] the Equator are')"),
    parse_format("(2x,'NEGATIVE and NORTH latitudes, [ABOVE] the equator, are')"),
    parse_format("(2x,'POSITIVE.')"),
    parse_format("(/,2x,'Each grid cell value is the observation for that  ')"),
    parse_format("(2x,'cells mid-point. Example: for the cell 90.0 Lat. -180.0')"),
    parse_format("(2x,'Lon. The actual grid point value given is centered ')"),
    parse_format("(2x,'over (89.75,-179.75).'/)"),
};

const format_list latitude_field = parse_format("(f6.2)");
const format_list longitude_field = parse_format("(f7.2)");

const format_list ask_max_lat = parse_format("(8x,'Enter Max Latitude  [TOP]   ==> ',$)");
const format_list ask_min_lat = parse_format("(8x,'Enter Min Latitude  [BOTTOM]==> ',$)");
const format_list ask_max_lon = parse_format("(8x,'Enter Max Longitude [RIGHT] ==> ',$)");
const format_list ask_min_lon = parse_format("(8x,'Enter Min Longitude [LEFT]  ==> ',$)");

const format_list max_lat_invalid = parse_format("(/1x,'Invalid latitude: ',f6.2)");
const format_list latitude_range = parse_format("(,8x,'Valid range is 90.0 <-> -90.0')");
const format_list min_above_max = parse_format("(/,8x,'Your Min. Lat is greater than your Max.Lat')");
const format_list max_lat_shown = parse_format("(8x,' MAX. LAT =>  ',f6.2)");
const format_list min_lat_range = parse_format("(/8x,'Valid range is',f6.2,' -> -90.0')");
const format_list min_lat_invalid = parse_format("(1x,'Invalid latitude: ',f6.2)");
const format_list min_lat_range_again = parse_format("(/,8x,'Valid range is',f6.2,' -> -90.0')");
const format_list longitude_invalid = parse_format("(1x,'Invalid longitude: ',f7.2)");
const format_list longitude_range = parse_format("(/,8x,'Valid range is 180.0 <-> -180.0')");

const format_list box_title = parse_format("(/1x,'Area defined is :')");
const format_list box_heading_first =
    parse_format("(/1x,'    Lon.    Lat                                     Lon.     Lat.')");
const format_list box_edge = parse_format("(1x,f8.2,'/',f8.2,':------------------------------:',f8.2,'/',f8.2)");
const format_list box_side = parse_format("(18x,':                              :')");
const format_list box_middle = parse_format("(18x,':        Your Selection        :')");
const format_list box_heading_last =
    parse_format("(1x,'    Lon.    Lat                                     Lon.     Lat.')");
const format_list confirm_prompt = parse_format("(/1x,'Is this ok? [T]rue or [F]alse ==> ',$)");

void read_field(const format_list& list, float& target) {
    const textio::in_item item = textio::target_real(target);
    textio::read_formatted(textio::terminal_input(), list, {&item, 1});
}

// Bounds are inclusive; a not-a-number edge compares neither way and passes.
bool outside(float value, float bound) { return value > bound || value < -bound; }

// Asks both latitudes until they form a valid pair; every error asks for both again.
void ask_latitudes(run_settings& run) {
    for (;;) {
        say(ask_max_lat);
        read_field(latitude_field, run.max_lat);
        if (outside(run.max_lat, 90.0f)) {
            say(max_lat_invalid, {item_real(run.max_lat)});
            say(latitude_range);
            continue;
        }
        say(ask_min_lat);
        read_field(latitude_field, run.min_lat);
        if (run.min_lat > run.max_lat) {
            say(min_above_max);
            say(max_lat_shown, {item_real(run.max_lat)});
            say(min_lat_range, {item_real(run.max_lat)});
            continue;
        }
        if (run.min_lat < -90.0f) {
            say(min_lat_invalid, {item_real(run.min_lat)});
            say(min_lat_range_again, {item_real(run.max_lat)});
            continue;
        }
        return;
    }
}

// Reads one longitude; false, after the two messages, when it lies outside -180..180.
bool read_longitude(const format_list& prompt, float& target) {
    say(prompt);
    read_field(longitude_field, target);
    if (!outside(target, 180.0f)) return true;
    say(longitude_invalid, {item_real(target)});
    say(longitude_range);
    return false;
}

// Asks both longitudes until both lie in range, starting again from the maximum after
// either error; their order is free.
void ask_longitudes(run_settings& run) {
    while (!(read_longitude(ask_max_lon, run.max_lon) && read_longitude(ask_min_lon, run.min_lon))) {}
}

void show_box(const run_settings& run) {
    say(box_title);
    say(box_heading_first);
    say(box_edge, {item_real(run.min_lon), item_real(run.max_lat), item_real(run.max_lon), item_real(run.max_lat)});
    for (int i = 0; i < 3; ++i) say(box_side);
    say(box_middle);
    for (int i = 0; i < 3; ++i) say(box_side);
    say(box_edge, {item_real(run.min_lon), item_real(run.min_lat), item_real(run.max_lon), item_real(run.min_lat)});
    say(box_heading_last);
}

}  // namespace

void ask_region(run_settings& run) {
    say(second_banner);
    do {
        for (const format_list& line : explanation) say(line);
        pause(" HIT RETURN to continue");
        ask_latitudes(run);
        ask_longitudes(run);
        show_box(run);
        say(confirm_prompt);
        answer(run.confirm_answer);
    } while (!run.confirm_answer);
    if (run.min_lon > run.max_lon) run.crosses_dateline = 1;
}

}  // namespace app
