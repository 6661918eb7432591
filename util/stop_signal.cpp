#include "util/stop_signal.hpp"

#include <csignal>

namespace util {
namespace {

// A signal handler can reach nothing but a global flag.
volatile std::sig_atomic_t noted_signal = 0;

extern "C" void note_stop_signal(int signal_number) { noted_signal = signal_number; }

}  // namespace

void catch_stop_signals() {
    struct sigaction action = {};
    action.sa_handler = note_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int stop_signal() { return noted_signal; }

}  // namespace util
