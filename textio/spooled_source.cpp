// A source that cannot be mapped (a pipe, a FIFO, standard input, a decompressed file) read
// once, in order, while it is being read: a thread of its own copies it into a file that no
// directory names (for a compressed file, the decompressing thread appends what it decodes
// there itself), and the file is mapped as it grows, into address space reserved for it at
// the start, so that the mapping never moves and readers of the bytes copied so far may go
// on while the rest arrives.
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "textio/detail/decompression.hpp"
#include "textio/detail/unit_support.hpp"
#include "textio/failure.hpp"

namespace textio {

// Shared between the copying thread and the unit's reading thread; the fields under `lock`
// are written by the copying thread, the mapping only by the reading thread.
struct spooler {
    int source = -1;          // what is copied: read by the copying thread only
    bool owns_source = true;  // false for the process's own standard input
    bool splicing = true;     // the source is a pipe, whose pages the kernel moves into the copy
    int copy = -1;            // the unnamed file, also the unit's descriptor
    int wake[2] = {-1, -1};   // written to stop the copying thread
    char* base = nullptr;     // the reserved address space, the copy mapped at its start
    std::size_t mapped = 0;   // bytes of the copy mapped
    std::thread thread;
    std::mutex lock;
    std::condition_variable grown;
    std::size_t copied = 0;     // bytes written to the copy
    std::size_t copy_size = 0;  // the copy's length, at least `copied`
    bool ended = false;         // the source gave its last byte, or failed
    int error = 0;              // why it failed
    // The copy runs at most spool_ahead_bytes past what the reader asked for, so that it
    // holds little more than what is being read and what was kept.
    std::condition_variable room;
    std::size_t asked = 0;
    bool stopping = false;
    std::int64_t most_held = 0;  // the most the copy held on the disk before the reading position
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

// Moves up to `count` bytes from the source, a pipe, into the copy at `at` without passing
// them through the program: what splice(2) gives, -1 with errno EINVAL when the source is
// not a pipe.
ssize_t splice_more(spooler& s, std::size_t at, std::size_t count) {
    loff_t offset = static_cast<loff_t>(at);
    ssize_t n;
    do {
        n = ::splice(s.source, nullptr, s.copy, &offset, count, SPLICE_F_MOVE);
    } while (n < 0 && errno == EINTR);
    return n;
}

// Every byte written into the copy at `at`: 0, or the error number.
int write_copy_at(const spooler& s, const char* bytes, std::size_t count, std::size_t at) {
    for (std::size_t done = 0; done < count;) {
        const ssize_t w = ::pwrite(s.copy, bytes + done, count - done, static_cast<off_t>(at + done));
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

// One read of the source written to the copy at `copied`, which grows by it: -2, 0 at the
// end of the source, or the error number.
int read_and_write_more(spooler& s, std::vector<char>& bytes, std::size_t& copied) {
    ssize_t n;
    do {
        n = ::read(s.source, bytes.data(), bytes.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) return errno;
    if (n == 0) return 0;
    const auto count = static_cast<std::size_t>(n);
    if (const int error = write_copy_at(s, bytes.data(), count, copied); error != 0) return error;
    copied += count;
    return -2;
}

// The copy made at least `size` bytes long (the mapping grows with it, and never reaches
// past its end): 0, or the error number.
int make_room_in_copy(spooler& s, std::size_t copied, std::size_t count, std::size_t& size) {
    if (copied + count + page_size() <= size) return 0;
    size = rounded_up(copied + count + spool_file_lead, page_size());
    return ::ftruncate(s.copy, static_cast<off_t>(size)) != 0 ? errno : 0;
}

// One read of the source, appended to the copy, the copy kept ahead of it; 0 at the end,
// -1 asked to stop, or the error number.
int copy_more(spooler& s, std::vector<char>& bytes, std::size_t& copied, std::size_t& size) {
    {
        std::unique_lock<std::mutex> held(s.lock);
        s.room.wait(held, [&] { return s.stopping || room_after(s, copied); });
        if (s.stopping) return -1;
    }
    if (!wait_for_source(s)) return -1;
    if (const int error = make_room_in_copy(s, copied, bytes.size(), size); error != 0) return error;
    const ssize_t n = s.splicing ? splice_more(s, copied, bytes.size()) : -1;
    if (n < 0 && s.splicing && errno != EINVAL) return errno;
    if (n == 0) return 0;
    if (n > 0) {
        copied += static_cast<std::size_t>(n);
    } else {
        s.splicing = false;  // not a pipe: read and written
        const int error = read_and_write_more(s, bytes, copied);
        if (error != -2) return error;
    }
    const std::lock_guard<std::mutex> held(s.lock);
    s.copied = copied;
    s.copy_size = size;
    s.grown.notify_one();
    return -2;
}

// The copying thread: runs until the source ends, fails, or the unit lets go of it.
void copy_source(spooler& s) {
    std::vector<char> bytes(spool_read_bytes);
    std::size_t copied = 0, size = 0;
    {
        const std::lock_guard<std::mutex> held(s.lock);
        copied = s.copied;
        size = s.copy_size;
    }
    int outcome = -2;
    while (outcome == -2) outcome = copy_more(s, bytes, copied, size);
    const std::lock_guard<std::mutex> held(s.lock);
    s.ended = true;
    s.error = outcome > 0 ? outcome : 0;
    s.grown.notify_one();
}

// The part of the copy not mapped yet, mapped over the reserved space.
void map_grown_copy(in_unit& u, spooler& s, std::size_t size) {
    if (size <= s.mapped) return;
    if (size > spool_reserved_bytes) raise_system(EFBIG, "READ", u.unit, u.name, u.line + 1);
    void* at = ::mmap(s.base + s.mapped, size - s.mapped, PROT_READ, MAP_SHARED | MAP_FIXED, s.copy,
                      static_cast<off_t>(s.mapped));
    if (at == MAP_FAILED) raise_system(errno, "READ", u.unit, u.name, u.line + 1);
    s.mapped = size;
}

// The bytes the unit's buffer already holds begin the copy.
spooler* new_spooler(in_unit& u) {
    auto* s = new spooler;
    s->source = u.fd;
    // A larger pipe lets its writer run further ahead between two of the thread's reads; a
    // refusal (not a pipe, or past the system's limit) keeps what it has.
    ::fcntl(s->source, F_SETPIPE_SZ, static_cast<int>(pipe_buffer_bytes));
    s->owns_source = u.unit != terminal_unit || u.decoder;
    s->copy = spool_file();
    const std::size_t held = u.end - u.begin;
    const std::size_t size = rounded_up(held + spool_file_lead, page_size());
    int error = s->copy < 0 ? errno : 0;
    if (error == 0) error = write_all(s->copy, u.buffer + u.begin, held);
    if (error == 0 && ::ftruncate(s->copy, static_cast<off_t>(size)) != 0) error = errno;
    if (error == 0 && ::pipe2(s->wake, O_CLOEXEC) != 0) error = errno;
    void* reserved = MAP_FAILED;
    if (error == 0) {
        reserved = ::mmap(nullptr, spool_reserved_bytes, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (reserved == MAP_FAILED) error = errno;
    }
    if (error != 0) {
        discard(s);
        raise_system(error, "READ", u.unit, u.name, u.line + 1);
    }
    s->base = static_cast<char*>(reserved);
    s->copied = held;
    s->copy_size = size;
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

}  // namespace

bool append_to_copy(spooler& s, const char* bytes, std::size_t count) {
    std::size_t copied = 0, size = 0;
    {
        std::unique_lock<std::mutex> held(s.lock);
        s.room.wait(held, [&] { return s.stopping || s.ended || room_after(s, s.copied); });
        if (s.stopping || s.ended) return false;
        copied = s.copied;
        size = s.copy_size;
    }
    int error = make_room_in_copy(s, copied, count, size);
    if (error == 0) error = write_copy_at(s, bytes, count, copied);
    const std::lock_guard<std::mutex> held(s.lock);
    if (error != 0) {
        s.ended = true;
        s.error = error;
    } else {
        s.copied = copied + count;
        s.copy_size = size;
    }
    s.grown.notify_one();
    return error == 0;
}

void end_copy(spooler& s, int error) {
    const std::lock_guard<std::mutex> held(s.lock);
    s.ended = true;
    if (s.error == 0) s.error = error;
    s.grown.notify_one();
}

int copy_stop_descriptor(const spooler& s) { return s.wake[0]; }

void spool_rest_of_input(in_unit& u) {
    if (u.fd < 0 || u.mapped) return;
    spooler* s = new_spooler(u);
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
    std::size_t copied = 0, size = 0;
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
        size = s->copy_size;
        ended = s->ended;
        error = s->error;
    }
    map_grown_copy(u, *s, size);
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
    const auto page = static_cast<std::int64_t>(page_size());
    from = (from + page - 1) / page * page;
    to = to / page * page;
    if (to > from) {
        // A file system that cannot punch holes keeps the bytes: they are only not needed.
        (void)::fallocate(s->copy, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, from, to - from);
        hand_back(u, from, to);
    }
    // What the copy holds before `to`: the bytes after it are still to be read.
    std::size_t copied = 0;
    {
        const std::lock_guard<std::mutex> held(s->lock);
        copied = s->copied;
    }
    struct stat info;
    if (::fstat(s->copy, &info) != 0) return;
    const std::int64_t ahead = static_cast<std::int64_t>(copied) - std::max<std::int64_t>(to, 0);
    s->most_held = std::max(s->most_held, info.st_blocks * 512 - std::max<std::int64_t>(ahead, 0));
}

std::int64_t most_bytes_copied_at_once(const in_unit& u) { return u.spool ? u.spool->most_held : 0; }

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
