// SIGINT, SIGTERM and SIGHUP. While the dialogue asks its questions nothing has been written
// yet, so they end the process at once; after the last answer, and in a batch run, they
// are noted, and the run stops at the next station boundary so that every output ends
// after a whole station. SIGQUIT keeps its default action.
#pragma once
#include <signal.h>

#include <thread>
#include <utility>

namespace util {

enum class stop_mode { exit_at_once, note };

// Installs the handlers. Called once at start-up on the main thread, before any other
// thread exists; every thread made later must be made by thread_without_stop_signals or
// start_thread_team, so that the main thread takes the signals.
void catch_stop_signals(stop_mode mode);

// From now on the signals are noted instead of ending the process.
void note_stop_signals();

// The first signal noted (SIGINT, SIGTERM or SIGHUP), or else what the stop poll says, or 0.
int stop_signal();

// A check that a program hosting the engine adds to the noted signals, for a host that takes
// the signals itself (the Python module): stop_signal() calls it, on whichever thread tests
// the flag (the engine's caller, after each chunk of the scan and before each station), and
// a non-zero answer stops the run there as that signal would. Null, the default, adds none.
// Set it only while no run is going on.
using stop_poll = int (*)();
void set_stop_poll(stop_poll poll);

// Blocks the three signals in the calling thread while it lives, then restores the mask.
class stop_signals_blocked {
public:
    stop_signals_blocked();
    ~stop_signals_blocked();
    stop_signals_blocked(const stop_signals_blocked&) = delete;
    stop_signals_blocked& operator=(const stop_signals_blocked&) = delete;

private:
    sigset_t before_;
};

// A thread that never takes the stop signals: it inherits the blocked mask.
template <class Body>
std::thread thread_without_stop_signals(Body&& body) {
    const stop_signals_blocked blocked;
    return std::thread(std::forward<Body>(body));
}

}  // namespace util
