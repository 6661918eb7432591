// Loaded into a run of varnex with LD_PRELOAD, it sends the run a signal from inside one of
// the calls below, so that a test can stop a run at an exact moment (while the outputs are
// created, locked, synced or renamed, or while a prompt is written) without sleeping.
//
//   VARNEX_SHIM_SIGNAL  the signal's number
//   VARNEX_SHIM_CALL    rename, fsync, mkstemp, flock or write
//   VARNEX_SHIM_COUNT   which call of that name sends it (default 1, the first)
//   VARNEX_SHIM_TEXT    for write: only writes holding this text are counted
//
// The signal goes to the process before the call is made; the call then goes on as usual.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

std::atomic<int> calls_seen{0};

void maybe_signal(const char* call, const void* bytes = nullptr, std::size_t count = 0) {
    const char* wanted = std::getenv("VARNEX_SHIM_CALL");
    const char* number = std::getenv("VARNEX_SHIM_SIGNAL");
    if (!wanted || !number || std::strcmp(wanted, call) != 0) return;
    if (const char* text = std::getenv("VARNEX_SHIM_TEXT"); text && bytes) {
        const std::string_view written(static_cast<const char*>(bytes), count);
        if (written.find(text) == std::string_view::npos) return;
    }
    const char* nth = std::getenv("VARNEX_SHIM_COUNT");
    if (calls_seen.fetch_add(1) + 1 != (nth ? std::atoi(nth) : 1)) return;
    ::kill(::getpid(), std::atoi(number));
}

template <class Function>
Function next_definition(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

int rename(const char* from, const char* to) {
    maybe_signal("rename");
    static const auto next = next_definition<int (*)(const char*, const char*)>("rename");
    return next(from, to);
}

int fsync(int fd) {
    maybe_signal("fsync");
    static const auto next = next_definition<int (*)(int)>("fsync");
    return next(fd);
}

int mkstemp(char* pattern) {
    maybe_signal("mkstemp");
    static const auto next = next_definition<int (*)(char*)>("mkstemp");
    return next(pattern);
}

int flock(int fd, int operation) {
    maybe_signal("flock");
    static const auto next = next_definition<int (*)(int, int)>("flock");
    return next(fd, operation);
}

ssize_t write(int fd, const void* bytes, size_t count) {
    maybe_signal("write", bytes, count);
    static const auto next = next_definition<ssize_t (*)(int, const void*, size_t)>("write");
    return next(fd, bytes, count);
}

}  // extern "C"
