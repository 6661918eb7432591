// Varnex: extracts monthly station series from a station archive. Without arguments it asks
// for the run in a dialogue on the terminal and works in the current directory; with
// arguments the run is described on the command line.
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/batch_options.hpp"
#include "app/batch_run.hpp"
#include "app/dialogue.hpp"
#include "app/terminal_ops.hpp"
#include "textio/failure.hpp"
#include "textio/units.hpp"
#include "util/parallel.hpp"
#include "util/stop_signal.hpp"

namespace {

// Help and version go to standard output, the run's product: a refused write there (a
// full disk, a closed stream) is an error.
int print_help(const std::string& text, int status) {
    textio::out_unit out;
    textio::attach_standard_output(out);
    try {
        textio::write_bytes(out, text);
    } catch (const textio::io_failure& failure) {
        app::write_error_text("varnex: standard output: " + failure.message + "\n");
        return 1;
    }
    return status;
}

// Every option is checked here, before any file is opened.
int run_command_line(int argc, const char* const* argv) {
    const app::batch_outcome outcome = app::parse_batch_options(argc, argv);
    switch (outcome.action) {
        case app::batch_action::help:
        case app::batch_action::version: return print_help(outcome.text, outcome.exit_status);
        case app::batch_action::usage_error:
            // A message that cannot be written never changes the status.
            app::write_error_text(outcome.text);
            return outcome.exit_status;
        case app::batch_action::run: break;
    }
    return outcome.options.list_only ? app::run_list(outcome.options) : app::run_batch(outcome.options);
}

int run_dialogue() {
    app::dialogue_run run;
    try {
        const int status = app::run_dialogue(run);
        textio::close_all_units();
        return status;
    } catch (const textio::io_failure& failure) {
        return app::report_failure(run, failure);
    }
}

}  // namespace

int main(int argc, char** argv) {
    textio::protect_standard_descriptors();
    // A closed pipe is met as a refused write, so that the run decides how it ends.
    std::signal(SIGPIPE, SIG_IGN);
    const bool dialogue = argc <= 1;
    util::catch_stop_signals(dialogue ? util::stop_mode::exit_at_once : util::stop_mode::note);
    util::start_thread_team();
    const int status = dialogue ? run_dialogue() : run_command_line(argc, argv);
    // Exit without running destructors of a run whose units the registry may still name.
    std::_Exit(status);
}
