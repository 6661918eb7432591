// Varnex: extracts monthly station series from a station archive in the working directory,
// by a dialogue on the terminal, into a series file (.TSF) and a coordinates file (.YX).
#include <csignal>
#include <cstdlib>

#include "app/dialogue.hpp"
#include "textio/failure.hpp"
#include "textio/units.hpp"

int main() {
    // A closed pipe on standard output is reported like any refused write, not a silent kill.
    std::signal(SIGPIPE, SIG_IGN);
    app::dialogue_run run;
    int status = 0;
    try {
        status = app::run_dialogue(run);
        textio::close_all_units();
    } catch (const textio::io_failure& failure) {
        status = app::report_failure(run, failure);
    }
    // Exit without running destructors of a run whose units the registry may still name.
    std::_Exit(status);
}
