// A source that cannot be mapped (a pipe, a FIFO, standard input, a decompressed file) read
// once, in order, while it is being read: a thread of its own copies it into memory (for a
// compressed file, the decompressing thread appends what it decodes there itself), into
// address space reserved for it at the start, so that the copy never moves and readers of
// the bytes copied so far may go on while the rest arrives. What the reader lets go of is
// given back at once; what it keeps for later searches past a limit is moved into a file
// that no directory names, mapped over the same addresses, so that a reader sees the same
// bytes wherever they live.
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "textio/detail/decompression.hpp"
#include "textio/detail/unit_support.hpp"
#include "textio/failure.hpp"

namespace textio {

// Shared between the copying thread and the unit's reading thread; the fields under `lock`
// are written by the copying thread, those of what is kept only by the reading thread.
struct spooler {
    int source = -1;          // what is copied: read by the copying thread only
    bool owns_source = true;  // false for the process's own standard input
    int copy = -1;            // the unnamed file for what is moved out of memory, also the unit's descriptor
    int wake[2] = {-1, -1};   // written to stop the copying thread
    char* base = nullptr;     // the reserved address space, the copy at its start
    std::thread thread;
    std::mutex lock;
    std::condition_variable grown;
    std::size_t copied = 0;    // bytes written to the copy
    std::size_t writable = 0;  // bytes of the reserved space the copy may be written into, at least `copied`
    bool ended = false;        // the source gave its last byte, or failed
    int error = 0;             // why it failed
    // The copy runs at most spool_ahead_bytes past what the reader asked for, so that it
    // holds little more than what is being read and what was kept.
    std::condition_variable room;
    std::size_t asked = 0;
    bool stopping = false;
    // What the reader keeps for later searches: the stretches between the ones it let go
    // of, up to `released_to`, those still in memory in file order. Past `memory_limit`
    // bytes, the first are moved into the file; below `on_disk_below` every kept byte is
    // there. Written by the reading thread (release_copied); `on_disk_below` is read by any.
    std::deque<std::pair<std::size_t, std::size_t>> kept;
    std::size_t released_to = 0;
    std::size_t kept_in_memory = 0;
    std::size_t memory_limit = 0;
    std::size_t on_disk = 0;
    std::atomic<std::size_t> on_disk_below{0};
    bool disk_refused = false;
    std::int64_t most_kept = 0;
    // The decompressing thread appends to the copy itself (decode_into_copy): there is no
    // copying thread, and the decompressing one is joined before the spooler goes.
    bool fed_by_decoder = false;
};

namespace {

std::size_t rounded_up(std::size_t bytes, std::size_t step) { return (bytes + step - 1) / step * step; }

// A new file for reading and writing that no directory names, in $TMPDIR (else /tmp): the
// descriptor, or -1 with errno set.
int spool_file() {
    const char* directory = std::getenv("TMPDIR");
    if (!directory || *directory == '\0') directory = "/tmp";
    int fd;
    do {
        fd = ::open(directory, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// A spooler that never started copying let go of, with what it had made.
void discard(spooler* s) {
    if (s->base) ::munmap(s->base, spool_reserved_bytes);
    if (s->copy >= 0) close_descriptor(s->copy);
    if (s->wake[0] >= 0) close_descriptor(s->wake[0]);
    if (s->wake[1] >= 0) close_descriptor(s->wake[1]);
    delete s;
}

// Waits for the source or the stop; false when asked to stop.
bool wait_for_source(spooler& s) {
    for (;;) {
        pollfd fds[2] = {{s.source, POLLIN, 0}, {s.wake[0], POLLIN, 0}};
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return true;  // the read that follows reports it
        return (fds[1].revents & (POLLIN | POLLHUP)) == 0;
    }
}

// Every byte of [at, at + count) of the copy written into its file: 0, or the error number.
int write_to_file(const spooler& s, std::size_t at, std::size_t count) {
    for (std::size_t done = 0; done < count;) {
        const ssize_t w = ::pwrite(s.copy, s.base + at + done, count - done, static_cast<off_t>(at + done));
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) return errno;
        done += static_cast<std::size_t>(w);
    }
    return 0;
}

// Whether the copy, holding `copied` bytes, may grow: it runs at most spool_ahead_bytes past
// what its reader asked for. Under the lock.
bool room_after(const spooler& s, std::size_t copied) {
    return copied <= s.asked || copied - s.asked < spool_ahead_bytes;
}

// The reserved space made writable up to at least `count` bytes past `copied` (a step ahead,
// so that it grows seldom): 0, or the error number. On the thread that writes the copy; the
// reader may add pages it let go of past the end (recycle).
int make_room_in_copy(spooler& s, std::size_t copied, std::size_t count) {
    const std::lock_guard<std::mutex> held(s.lock);
    if (copied + count <= s.writable) return 0;
    const std::size_t size = rounded_up(copied + count + spool_writable_step, page_size());
    if (size > spool_reserved_bytes) return EFBIG;
    if (::mprotect(s.base + s.writable, size - s.writable, PROT_READ | PROT_WRITE) != 0) return errno;
    ::madvise(s.base + s.writable, size - s.writable, MADV_POPULATE_WRITE);
    s.writable = size;
    return 0;
}

// One read of the source into the copy, which is kept ahead of it; 0 at the end, -1 asked
// to stop, or the error number.
int copy_more(spooler& s, std::size_t& copied) {
    {
        std::unique_lock<std::mutex> held(s.lock);
        s.room.wait(held, [&] { return s.stopping || room_after(s, copied); });
        if (s.stopping) return -1;
    }
    if (!wait_for_source(s)) return -1;
    if (const int error = make_room_in_copy(s, copied, spool_read_bytes); error != 0) return error;
    ssize_t n;
    do {
        n = ::read(s.source, s.base + copied, spool_read_bytes);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return errno;
    if (n == 0) return 0;
    copied += static_cast<std::size_t>(n);
    const std::lock_guard<std::mutex> held(s.lock);
    s.copied = copied;
    s.grown.notify_one();
    return -2;
}

// The copying thread: runs until the source ends, fails, or the unit lets go of it.
void copy_source(spooler& s) {
    std::size_t copied = 0;
    {
        const std::lock_guard<std::mutex> held(s.lock);
        copied = s.copied;
    }
    int outcome = -2;
    while (outcome == -2) outcome = copy_more(s, copied);
    const std::lock_guard<std::mutex> held(s.lock);
    s.ended = true;
    s.error = outcome > 0 ? outcome : 0;
    s.grown.notify_one();
}

// The bytes the unit's buffer already holds begin the copy. The reserved space reads as
// zeros past what is writable, so that a scanner may load whole 64-byte blocks at the end.
spooler* new_spooler(in_unit& u, std::size_t memory_limit) {
    auto* s = new spooler;
    s->source = u.fd;
    s->memory_limit = memory_limit;
    // A larger pipe lets its writer run further ahead between two of the thread's reads; a
    // refusal (not a pipe, or past the system's limit) keeps what it has.
    ::fcntl(s->source, F_SETPIPE_SZ, static_cast<int>(pipe_buffer_bytes));
    s->owns_source = u.unit != terminal_unit || u.decoder;
    s->copy = spool_file();
    const std::size_t held = u.end - u.begin;
    int error = s->copy < 0 ? errno : 0;
    if (error == 0 && ::pipe2(s->wake, O_CLOEXEC) != 0) error = errno;
    if (error == 0) {
        void* reserved =
            ::mmap(nullptr, spool_reserved_bytes, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (reserved == MAP_FAILED)
            error = errno;
        else
            s->base = static_cast<char*>(reserved);
    }
    if (error == 0) error = make_room_in_copy(*s, 0, held);
    if (error != 0) {
        discard(s);
        raise_system(error, "READ", u.unit, u.name, u.line + 1);
    }
    std::memcpy(s->base, u.buffer + u.begin, held);
    s->copied = held;
    s->ended = u.at_end;
    return s;
}

// The signals are the main thread's to take: the thread starts with them blocked. False
// when no thread could be started.
bool start_copying(spooler& s) {
    sigset_t blocked, before;
    ::sigfillset(&blocked);
    for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) ::sigdelset(&blocked, fault);
    ::pthread_sigmask(SIG_SETMASK, &blocked, &before);
    bool started = true;
    try {
        s.thread = std::thread([&s] { copy_source(s); });
    } catch (const std::system_error&) {
        started = false;
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return started;
}

// The pages of [from, to), let go of, moved past the end of what the copy may be written
// into, while the copy has less than its room ahead there: the copying thread writes into
// them without the system finding and clearing new pages. The stretch they leave reads as
// zeros again. False when they were not moved.
//
// The stretch stays mapped while its pages move (MREMAP_DONTUNMAP), and is then reserved
// again in one step: a hole there, however short, could be given to another thread's
// mapping (a malloc), which the reservation would then replace.
bool recycle(spooler& s, std::size_t from, std::size_t to) {
    const std::size_t count = to - from;
    if (count < recycled_bytes) return false;
    {
        const std::lock_guard<std::mutex> held(s.lock);
        if (s.writable - s.copied >= recycled_room || s.writable + count > spool_reserved_bytes) return false;
        if (::mremap(s.base + from, count, count, MREMAP_MAYMOVE | MREMAP_FIXED | MREMAP_DONTUNMAP,
                     s.base + s.writable) == MAP_FAILED)
            return false;
        s.writable += count;
    }
    ::mmap(s.base + from, count, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
    return true;
}

// The stretch [from, to) is kept for later searches.
void keep(spooler& s, std::size_t from, std::size_t to) {
    if (to <= from) return;
    s.kept.emplace_back(from, to);
    s.kept_in_memory += to - from;
}

// The first `count` bytes of the first stretch kept in memory moved into the file, and the
// file mapped over them: a reader on another thread sees the same bytes before and after.
bool move_to_file(spooler& s, std::size_t count) {
    auto& [from, to] = s.kept.front();
    if (write_to_file(s, from, count) != 0) return false;
    if (::mmap(s.base + from, count, PROT_READ, MAP_SHARED | MAP_FIXED, s.copy, static_cast<off_t>(from)) == MAP_FAILED)
        return false;
    from += count;
    s.on_disk_below.store(from, std::memory_order_release);
    if (from == to) s.kept.pop_front();
    s.kept_in_memory -= count;
    s.on_disk += count;
    return true;
}

// What is kept in memory past the limit moved into the file, the first kept first, a few
// pages at least at a time. Where the file cannot take it, it stays in memory: the run goes
// on with more memory rather than fail.
void move_kept_out_of_memory(spooler& s) {
    while (s.kept_in_memory > s.memory_limit && !s.disk_refused) {
        const auto& [from, to] = s.kept.front();
        const std::size_t count = std::min(to - from, rounded_up(s.kept_in_memory - s.memory_limit, spool_read_bytes));
        if (!move_to_file(s, count)) s.disk_refused = true;
    }
}

}  // namespace

char* room_in_copy(spooler& s, std::size_t count) {
    std::size_t copied = 0;
    {
        std::unique_lock<std::mutex> held(s.lock);
        s.room.wait(held, [&] { return s.stopping || s.ended || room_after(s, s.copied); });
        if (s.stopping || s.ended) return nullptr;
        copied = s.copied;
    }
    const int error = make_room_in_copy(s, copied, count);
    if (error == 0) return s.base + copied;
    end_copy(s, error);
    return nullptr;
}

bool commit_to_copy(spooler& s, std::size_t count) {
    const std::lock_guard<std::mutex> held(s.lock);
    s.copied += count;
    s.grown.notify_one();
    return true;
}

bool append_to_copy(spooler& s, const char* bytes, std::size_t count) {
    char* room = room_in_copy(s, count);
    if (!room) return false;
    std::memcpy(room, bytes, count);
    return commit_to_copy(s, count);
}

void end_copy(spooler& s, int error) {
    const std::lock_guard<std::mutex> held(s.lock);
    s.ended = true;
    if (s.error == 0) s.error = error;
    s.grown.notify_one();
}

int copy_stop_descriptor(const spooler& s) { return s.wake[0]; }

void spool_rest_of_input(in_unit& u, std::size_t memory_limit) {
    if (u.fd < 0 || u.mapped) return;
    spooler* s = new_spooler(u, memory_limit);
    if (!s->ended && u.decoder) {
        s->fed_by_decoder = true;
        decode_into_copy(u, *s);
    } else if (!s->ended && !start_copying(*s)) {
        discard(s);
        raise_system(EAGAIN, "READ", u.unit, u.name, u.line + 1);
    }
    std::free(u.buffer);
    u.buffer = s->base;
    std::free(u.long_record);
    u.long_record = nullptr;
    u.spool = s;
    u.fd = s->copy;
    u.mapped = true;
    u.map_length = spool_reserved_bytes;
    u.capacity = 0;
    u.buffer_offset = 0;
    u.begin = 0;
    u.end = 0;
    u.consumed = 0;
    u.passed_end = 0;
    u.at_end = false;
    watch_for_lost_pages();
    await_input(u, 0);
}

void await_input(in_unit& u, std::size_t want) {
    spooler* s = u.spool;
    if (!s) return;
    std::size_t copied = 0;
    bool ended = false;
    int error = 0;
    {
        std::unique_lock<std::mutex> held(s->lock);
        if (want > s->asked) {
            s->asked = want;
            s->room.notify_one();
        }
        s->grown.wait(held, [&] { return s->copied >= want || s->ended; });
        copied = s->copied;
        ended = s->ended;
        error = s->error;
    }
    u.end = copied;
    u.capacity = copied;
    if (!ended) return;
    if (error != 0) raise_system(error, "READ", u.unit, u.name, u.line + 1);
    finish_decompression(u);
    u.at_end = true;
}

void release_copied(in_unit& u, std::int64_t from, std::int64_t to) {
    spooler* s = u.spool;
    if (!s) return;
    const std::size_t page = page_size();
    const std::size_t first = rounded_up(static_cast<std::size_t>(std::max<std::int64_t>(from, 0)), page);
    const std::size_t last = static_cast<std::size_t>(std::max<std::int64_t>(to, 0)) / page * page;
    if (last <= first) {  // no whole page let go of: all before `to` is kept
        keep(*s, s->released_to, last);
        s->released_to = std::max(s->released_to, last);
    } else {
        keep(*s, s->released_to, first);
        if (!recycle(*s, first, last)) ::madvise(s->base + first, last - first, MADV_DONTNEED);
        s->released_to = last;
    }
    move_kept_out_of_memory(*s);
    s->most_kept = std::max(s->most_kept, static_cast<std::int64_t>(s->kept_in_memory + s->on_disk));
}

std::int64_t most_bytes_kept_at_once(const in_unit& u) { return u.spool ? u.spool->most_kept : 0; }

std::int64_t bytes_kept_on_disk(const in_unit& u) { return u.spool ? static_cast<std::int64_t>(u.spool->on_disk) : 0; }

std::size_t copy_on_disk_below(const spooler& s) { return s.on_disk_below.load(std::memory_order_acquire); }

// Never raising: the copying thread is stopped and joined, and the source let go of. The
// copy itself is the unit's descriptor, and its mapping the unit's.
void stop_spool(in_unit& u) noexcept {
    spooler* s = u.spool;
    if (!s) return;
    if (s->thread.joinable() || s->fed_by_decoder) {
        {
            const std::lock_guard<std::mutex> held(s->lock);
            s->stopping = true;
            s->room.notify_all();
        }
        const char stop = 1;
        (void)!::write(s->wake[1], &stop, 1);
        if (s->thread.joinable()) s->thread.join();
    }
    if (s->owns_source) close_descriptor(s->source);
    // The decompressing thread may still be writing into the pipe, whose read end is closed
    // now, or waiting for its source or for room in the copy, which it is told to stop.
    if (s->fed_by_decoder) join_decompression(u);
    close_descriptor(s->wake[0]);
    close_descriptor(s->wake[1]);
    delete s;
    u.spool = nullptr;
}

}  // namespace textio
