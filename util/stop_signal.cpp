#include "util/stop_signal.hpp"

#include <unistd.h>

#include <atomic>

#include "util/parallel.hpp"

namespace util {
namespace {

// A signal handler can reach nothing but lock-free globals.
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<int> noted_signal{0};
std::atomic<int> exit_at_once{0};
std::atomic<stop_poll> host_poll{nullptr};

constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void on_stop_signal(int signal_number) {
    if (exit_at_once.load() != 0) ::_exit(128 + signal_number);
    int none = 0;
    noted_signal.compare_exchange_strong(none, signal_number);
}

sigset_t stop_signal_set() {
    sigset_t set;
    sigemptyset(&set);
    for (const int s : stop_signals) sigaddset(&set, s);
    return set;
}

}  // namespace

void catch_stop_signals(stop_mode mode) {
    exit_at_once.store(mode == stop_mode::exit_at_once ? 1 : 0);
    struct sigaction action = {};
    action.sa_handler = on_stop_signal;
    // While one stop signal is handled, the others wait: the handler then sees one mode.
    action.sa_mask = stop_signal_set();
    action.sa_flags = SA_RESTART;
    for (const int s : stop_signals) sigaction(s, &action, nullptr);
}

void note_stop_signals() { exit_at_once.store(0); }

int stop_signal() {
    if (const int noted = noted_signal.load(); noted != 0) return noted;
    const stop_poll poll = host_poll.load();
    return poll != nullptr ? poll() : 0;
}

void set_stop_poll(stop_poll poll) { host_poll.store(poll); }

stop_signals_blocked::stop_signals_blocked() {
    const sigset_t set = stop_signal_set();
    pthread_sigmask(SIG_BLOCK, &set, &before_);
}

stop_signals_blocked::~stop_signals_blocked() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }

void start_thread_team() {
    if (!second_thread_allowed()) return;
    const stop_signals_blocked blocked;
    // The region must do something, or the compiler drops it and no team is started.
    int threads = 0;
#pragma omp parallel
    {
#pragma omp atomic
        ++threads;
    }
    (void)threads;
}

}  // namespace util
