// Varnex: extracts monthly station series from a station archive in the working directory,
// by a dialogue on the terminal, into a series file (.TSF) and a coordinates file (.YX).
#include <csignal>

#include "app/dialogue.hpp"
#include "app/settings.hpp"
#include "app/terminal_ops.hpp"
#include "engine/station_pass.hpp"
#include "engine/stations.hpp"
#include "textio/terminal.hpp"
#include "util/stop_signal.hpp"

namespace {

using textio::parse_format;

const textio::format_list saved_count_line = parse_format("(/1x,'Number of save station records = ',i6)");
const textio::format_list normal_end = parse_format("(/,1x,'Normal Termination of Program.')");
const textio::format_list credit = parse_format("(1x,'Varnex, station series extraction for the Valmora archive.',/)");

}  // namespace

namespace app {

run_settings& settings() {
    static run_settings run;
    return run;
}

run_files& files() {
    static run_files all;
    return all;
}

}  // namespace app

int main() {
    // A closed pipe on standard output is reported like any refused write, not a silent kill.
    std::signal(SIGPIPE, SIG_IGN);
    textio::set_failure_handler(app::report_failure);
    app::run_settings& run = app::settings();
    app::run_files& files = app::files();

    app::show_banner();
    app::choose_data_type();
    app::open_input_files();
    app::open_output_files();
    app::ask_region();
    app::ask_time_span();

    // From here on an interrupt ends the run at a station boundary, files closed as a pair.
    util::catch_stop_signals();
    engine::load_station_catalogue(run, files);
    std::int32_t saved = 0;
    if (engine::stations().qualifying_count >= 1) saved = engine::run_station_pass(run, files);
    if (const int signal_number = util::stop_signal()) {
        engine::cut_back_to_whole_stations(files);
        textio::close_all_units();
        std::_Exit(128 + signal_number);
    }

    // Both files are passed on while both are still open, so that a refused write can still
    // cut the pair back to the same whole station.
    textio::flush_output(files.series);
    textio::flush_output(files.coordinates);
    textio::close_input(files.observations);
    textio::close_output(files.series);
    textio::close_output(files.coordinates);
    app::say(saved_count_line, {textio::item_int(saved)});
    app::say(normal_end);
    app::say(credit);
    app::stop();
}
