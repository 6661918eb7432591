// Varnex: extracts monthly station series from a station archive in the working directory,
// by a dialogue on the terminal, into a series file (.TSF) and a coordinates file (.YX).
// With arguments, the run is described on the command line instead.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/batch_options.hpp"
#include "app/dialogue.hpp"
#include "app/settings.hpp"
#include "app/terminal_ops.hpp"
#include "engine/station_pass.hpp"
#include "engine/stations.hpp"
#include "textio/terminal.hpp"

namespace {

using textio::parse_format;

const textio::format_list saved_count_line = parse_format("(/1x,'Number of save station records = ',i6)");
const textio::format_list normal_end = parse_format("(/,1x,'Normal Termination of Program.')");
const textio::format_list credit = parse_format("(1x,'Varnex, station series extraction for the Valmora archive.',/)");

// Help and version go to standard output; a failed write there (a full disk) is an error.
[[noreturn]] void print_and_exit(std::FILE* stream, const std::string& text, int status) {
    std::fputs(text.c_str(), stream);
    if (std::fflush(stream) != 0 && stream == stdout) {
        std::fprintf(stderr, "varnex: standard output: %s\n", std::strerror(errno));
        status = 1;
    }
    std::exit(status);
}

// Every option is checked here, before any file is opened.
[[noreturn]] void run_batch(int argc, const char* const* argv) {
    const app::batch_outcome outcome = app::parse_batch_options(argc, argv);
    switch (outcome.action) {
    case app::batch_action::help:
    case app::batch_action::version:
        print_and_exit(stdout, outcome.text, outcome.exit_status);
    case app::batch_action::usage_error:
        print_and_exit(stderr, outcome.text, outcome.exit_status);
    case app::batch_action::run:
        break;
    }
    print_and_exit(stderr, "varnex: batch runs are not available yet\n", 1);
}

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

int main(int argc, char** argv) {
    // A closed pipe on standard output is reported like any refused write, not a silent kill.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc > 1) run_batch(argc, argv);
    textio::set_failure_handler(app::report_failure);
    app::run_settings& run = app::settings();
    app::run_files& files = app::files();

    app::show_banner();
    app::choose_data_type();
    app::open_input_files();
    app::open_output_files();
    app::ask_region();
    app::ask_time_span();

    engine::load_station_catalogue(run, files);
    std::int32_t saved = 0;
    if (engine::stations().qualifying_count >= 1) saved = engine::run_station_pass(run, files);

    textio::close_input(files.observations);
    textio::close_output(files.series);
    textio::close_output(files.coordinates);
    app::say(saved_count_line, {textio::item_int(saved)});
    app::say(normal_end);
    app::say(credit);
    app::stop();
}
