// The decompressing thread: it reads the compressed source, decodes it with zlib, libzstd or
// liblzma, and writes what it decoded into the pipe that the unit reads, so that decoding
// runs beside the reading of the records.
#include "textio/detail/decompression.hpp"

#include <fcntl.h>
#include <lzma.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>
#include <zlib.h>
#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader: the window a frame declares
#include <zstd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "textio/detail/unit_support.hpp"
#include "textio/failure.hpp"

namespace textio {

// The thread and what it shares with the reading thread. While the thread runs, `source`,
// `first` and `sink` are its own; it writes `message` and `error_number` before it ends,
// and the reading thread looks at them only after joining it.
struct decompressor {
    int source = -1;  // the compressed input, closed by stop_decompression
    int sink = -1;    // the write end of the pipe, closed by the thread as it ends
    compression format = compression::none;
    std::string first;     // bytes of the source read before the thread started
    std::string message;   // why the stream could not be decoded; empty when it could
    int error_number = 0;  // a refused read of the source
    std::thread thread;
    bool joined = false;
    // The hand-over to the unit's copy (decode_into_copy). The reading thread sets `copy`
    // under `lock` before `copy_asked`, and `drained` under `lock` once it has read the pipe
    // to its end; the thread sets `finished` under `lock` before it closes the pipe.
    std::mutex lock;
    std::condition_variable changed;
    spooler* copy = nullptr;
    std::atomic<bool> copy_asked{false};
    bool drained = false;
    bool finished = false;
    bool into_copy = false;  // the thread's own: it appends to the copy
    int stop = -1;           // the thread's own: readable once the copy is told to stop
};

namespace {

const char* const truncated = "unexpected end of compressed data";

bool starts_with(std::string_view bytes, std::initializer_list<unsigned char> magic) {
    if (bytes.size() < magic.size()) return false;
    std::size_t i = 0;
    for (const unsigned char byte : magic) {
        if (static_cast<unsigned char>(bytes[i++]) != byte) return false;
    }
    return true;
}

// 0x184D2A50 to 0x184D2A5F, little-endian: a frame the decoder skips, which some zstd tools
// write first.
bool zstd_skippable_frame(std::string_view bytes) {
    return bytes.size() >= 4 && (static_cast<unsigned char>(bytes[0]) & 0xf0) == 0x50 &&
           starts_with(bytes.substr(1), {0x2a, 0x4d, 0x18});
}

std::string too_large(std::uint64_t need) {
    constexpr std::uint64_t megabyte = 1024 * 1024;
    return "decoding needs " + std::to_string((need + megabyte - 1) / megabyte) + " MB of memory, more than the " +
           std::to_string(max_decoder_memory / megabyte) + " MB allowed";
}

// The compressed bytes not yet decoded: `first`, then the source's, read as they are
// needed.
struct compressed_input {
    decompressor& d;
    std::vector<unsigned char> bytes;
    std::size_t begin = 0;
    std::size_t end = 0;
    bool first_taken = false;
    bool at_end = false;

    std::size_t available() const { return end - begin; }
    const unsigned char* data() const { return bytes.data() + begin; }
    void consume(std::size_t count) { begin += count; }
};

// Waits until the source has bytes, or the reader has gone: it closed its end of the pipe
// (then the write end shows an error), or told the copy to stop. False when it has gone.
bool reader_waits(const decompressor& d) {
    pollfd watched[3] = {{d.source, POLLIN, 0}, {d.sink, 0, 0}, {d.stop, POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(watched, 3, -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return true;  // the read that follows reports the source's state
        if (watched[1].revents != 0 || watched[2].revents != 0) return false;
        if (watched[0].revents != 0) return true;
    }
}

// Adds the next bytes of the source after those not yet decoded (at_end once it has none);
// false when the thread is to stop: the reader went away, or the source refused a read.
bool read_more(compressed_input& in) {
    if (in.begin > 0) {
        std::memmove(in.bytes.data(), in.bytes.data() + in.begin, in.available());
        in.end -= in.begin;
        in.begin = 0;
    }
    if (!in.first_taken) {
        in.first_taken = true;
        if (!in.d.first.empty()) {
            in.bytes.resize(in.end + in.d.first.size());
            std::memcpy(in.bytes.data() + in.end, in.d.first.data(), in.d.first.size());
            in.end += in.d.first.size();
            return true;
        }
    }
    if (in.at_end) return true;
    if (!reader_waits(in.d)) return false;
    in.bytes.resize(in.end + compressed_read_bytes);
    ssize_t n;
    do {
        n = ::read(in.d.source, in.bytes.data() + in.end, compressed_read_bytes);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        in.d.error_number = errno;
        return false;
    }
    if (n == 0) in.at_end = true;
    in.end += static_cast<std::size_t>(n);
    return true;
}

// Asked to append to the copy: the pipe is closed, so that the reader meets its end, and
// the thread goes on once the reader has read it whole.
void hand_over_to_copy(decompressor& d) {
    close_descriptor(d.sink);
    d.sink = -1;
    std::unique_lock<std::mutex> held(d.lock);
    d.changed.wait(held, [&] { return d.drained; });
    d.into_copy = true;
    d.stop = copy_stop_descriptor(*d.copy);
}

// Where the next decoded bytes go: once the thread appends to the copy, straight into it,
// so that they are not copied again; else into `out`.
unsigned char* output_room(decompressor& d, std::vector<unsigned char>& out) {
    if (!d.into_copy) return out.data();
    char* room = room_in_copy(*d.copy, out.size());
    return room ? reinterpret_cast<unsigned char*>(room) : out.data();  // stopping: pass_on says so
}

// The `count` bytes decoded at `bytes` (output_room) passed on. False when the reader went
// away: nothing more is to be decoded.
bool pass_on(decompressor& d, const unsigned char* bytes, std::size_t count, const std::vector<unsigned char>& out) {
    if (!d.into_copy && d.copy_asked.load(std::memory_order_acquire)) hand_over_to_copy(d);
    if (count == 0) return true;
    const char* text = reinterpret_cast<const char*>(bytes);
    if (!d.into_copy) return write_all(d.sink, text, count) == 0;
    return bytes == out.data() ? append_to_copy(*d.copy, text, count) : commit_to_copy(*d.copy, count);
}

// Members one after the other, as block-gzip tools write them, each checked by its CRC.
void decode_gzip(decompressor& d, compressed_input& in) {
    z_stream z{};
    if (::inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) {
        d.message = std::strerror(ENOMEM);
        return;
    }
    std::vector<unsigned char> out(decompressed_write_bytes);
    bool inside = false;  // a member has begun and not ended
    for (;;) {
        if (in.available() == 0) {
            if (!read_more(in)) break;
            if (in.available() == 0) {
                if (inside) d.message = truncated;
                break;
            }
        }
        inside = true;
        z.next_in = const_cast<unsigned char*>(in.data());
        z.avail_in = static_cast<uInt>(in.available());
        unsigned char* const target = output_room(d, out);
        z.next_out = target;
        z.avail_out = static_cast<uInt>(out.size());
        const int status = ::inflate(&z, Z_NO_FLUSH);
        in.consume(in.available() - z.avail_in);
        if (!pass_on(d, target, out.size() - z.avail_out, out)) break;
        if (status == Z_STREAM_END) {
            ::inflateReset(&z);
            inside = false;
        } else if (status != Z_OK && status != Z_BUF_ERROR) {
            d.message = z.msg ? z.msg : ::zError(status);
            break;
        }
    }
    ::inflateEnd(&z);
}

// Reads until the header of the next frame is whole. 0 when it is, a zstd error code, or
// 1 at the end of the source (a clean end when nothing is left) or when the thread stops.
std::size_t read_frame_header(compressed_input& in, ZSTD_frameHeader& header) {
    for (;;) {
        const std::size_t result = ::ZSTD_getFrameHeader(&header, in.data(), in.available());
        if (result == 0 || ::ZSTD_isError(result)) return result;
        if (in.at_end) return 1;
        if (!read_more(in)) return 1;
    }
}

// Frames one after the other, each header looked at before its frame is decoded, so that
// a window past the limit is refused with its size.
void decode_zstd(decompressor& d, compressed_input& in) {
    ZSTD_DCtx* z = ::ZSTD_createDCtx();
    if (!z) {
        d.message = std::strerror(ENOMEM);
        return;
    }
    ::ZSTD_DCtx_setParameter(z, ZSTD_d_windowLogMax, max_decoder_window_log);
    std::vector<unsigned char> out(decompressed_write_bytes);
    bool frame_start = true;
    bool flushed = true;  // the decoder holds no decoded bytes that did not fit
    for (;;) {
        if (frame_start) {
            ZSTD_frameHeader header;
            const std::size_t result = read_frame_header(in, header);
            if (::ZSTD_isError(result)) {
                d.message = ::ZSTD_getErrorName(result);
                break;
            }
            if (result != 0) {
                if (in.at_end && in.available() > 0) d.message = truncated;
                break;
            }
            if (header.frameType == ZSTD_frame && header.windowSize > max_decoder_memory) {
                d.message = too_large(header.windowSize);
                break;
            }
            frame_start = false;
        }
        if (in.available() == 0 && flushed) {
            if (!read_more(in)) break;
            if (in.available() == 0) {
                d.message = truncated;
                break;
            }
        }
        ZSTD_inBuffer input{in.data(), in.available(), 0};
        unsigned char* const target = output_room(d, out);
        ZSTD_outBuffer output{target, out.size(), 0};
        const std::size_t result = ::ZSTD_decompressStream(z, &output, &input);
        in.consume(input.pos);
        if (::ZSTD_isError(result)) {
            d.message = ::ZSTD_getErrorName(result);
            break;
        }
        if (!pass_on(d, target, output.pos, out)) break;
        flushed = output.pos < output.size || result == 0;
        frame_start = result == 0;
    }
    ::ZSTD_freeDCtx(z);
}

// liblzma names its outcomes by code only: these are xz's own words for them.
std::string xz_message(lzma_ret status) {
    switch (status) {
        case LZMA_BUF_ERROR: return truncated;
        case LZMA_DATA_ERROR: return "compressed data is corrupt";
        case LZMA_FORMAT_ERROR: return "file format not recognized";
        case LZMA_OPTIONS_ERROR: return "unsupported options in the compressed data";
        case LZMA_MEM_ERROR: return std::strerror(ENOMEM);
        default: return "internal error of liblzma (" + std::to_string(static_cast<int>(status)) + ")";
    }
}

// Streams one after the other, with the padding between them, to the end of the source.
void decode_xz(decompressor& d, compressed_input& in) {
    lzma_stream x = LZMA_STREAM_INIT;
    const lzma_ret started = ::lzma_stream_decoder(&x, max_decoder_memory, LZMA_CONCATENATED);
    if (started != LZMA_OK) {
        d.message = xz_message(started);
        return;
    }
    std::vector<unsigned char> out(decompressed_write_bytes);
    for (;;) {
        if (in.available() == 0 && !in.at_end && !read_more(in)) break;
        x.next_in = in.data();
        x.avail_in = in.available();
        unsigned char* const target = output_room(d, out);
        x.next_out = target;
        x.avail_out = out.size();
        const lzma_ret status = ::lzma_code(&x, in.at_end ? LZMA_FINISH : LZMA_RUN);
        in.consume(in.available() - x.avail_in);
        if (!pass_on(d, target, out.size() - x.avail_out, out)) break;
        if (status == LZMA_STREAM_END) break;
        if (status == LZMA_OK) continue;
        d.message = status == LZMA_MEMLIMIT_ERROR ? too_large(::lzma_memusage(&x)) : xz_message(status);
        break;
    }
    ::lzma_end(&x);
}

// The thread's body. Closing the write end is what tells the reader the thread is done.
void decode(decompressor& d) {
    compressed_input in{d, {}};
    switch (d.format) {
        case compression::gzip: decode_gzip(d, in); break;
        case compression::zstd: decode_zstd(d, in); break;
        case compression::xz: decode_xz(d, in); break;
        case compression::none: break;
    }
    if (d.into_copy) {
        end_copy(*d.copy);
        return;
    }
    {
        const std::lock_guard<std::mutex> held(d.lock);
        d.finished = true;
    }
    close_descriptor(d.sink);
    d.sink = -1;
}

// The stop signals are the main thread's to take: the thread starts with them blocked.
std::thread start_thread(decompressor& d) {
    sigset_t blocked, before;
    ::sigfillset(&blocked);
    for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) ::sigdelset(&blocked, fault);
    ::pthread_sigmask(SIG_SETMASK, &blocked, &before);
    std::thread thread;
    try {
        thread = std::thread(decode, std::ref(d));
    } catch (const std::system_error&) {
        // No thread: the caller sees it not joinable.
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return thread;
}

}  // namespace

compression compression_of(std::string_view first) {
    if (starts_with(first, {0x1f, 0x8b})) return compression::gzip;
    if (starts_with(first, {0x28, 0xb5, 0x2f, 0xfd}) || zstd_skippable_frame(first)) return compression::zstd;
    if (starts_with(first, {0xfd, '7', 'z', 'X', 'Z', 0x00})) return compression::xz;
    return compression::none;
}

void start_decompression(in_unit& u, int source, std::string first, compression format) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) raise_system(errno, "OPEN", u.unit, u.name);
    // A larger pipe lets the thread run further ahead; a refusal keeps the default.
    ::fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(pipe_buffer_bytes));
    auto* d = new decompressor;
    d->source = source;
    d->sink = ends[1];
    d->format = format;
    d->first = std::move(first);
    d->thread = start_thread(*d);
    if (!d->thread.joinable()) {
        close_descriptor(ends[0]);
        close_descriptor(ends[1]);
        delete d;
        raise_system(EAGAIN, "OPEN", u.unit, u.name);
    }
    u.decoder = d;
    u.fd = ends[0];
}

void finish_decompression(in_unit& u) {
    decompressor* d = u.decoder;
    if (!d || d->joined) return;
    d->thread.join();
    d->joined = true;
    if (d->error_number != 0) raise_system(d->error_number, "READ", u.unit, u.name, u.line + 1);
    if (d->message.empty()) return;
    io_failure failure = failure_at(failure_kind::bad_compressed_data, "READ", u.unit, u.name);
    failure.text = d->message;
    raise_failure(std::move(failure));
}

void decode_into_copy(in_unit& u, spooler& s) {
    decompressor* d = u.decoder;
    {
        const std::lock_guard<std::mutex> held(d->lock);
        d->copy = &s;
    }
    d->copy_asked.store(true, std::memory_order_release);
    std::vector<char> bytes(pipe_buffer_bytes);
    for (bool appended = true; appended;) {
        ssize_t n;
        do {
            n = ::read(u.fd, bytes.data(), bytes.size());
        } while (n < 0 && errno == EINTR);
        if (n < 0) end_copy(s, errno);
        if (n <= 0) break;
        appended = append_to_copy(s, bytes.data(), static_cast<std::size_t>(n));
    }
    bool finished = false;
    {
        const std::lock_guard<std::mutex> held(d->lock);
        d->drained = true;
        finished = d->finished;
    }
    d->changed.notify_all();
    // A thread that ended before it saw the request wrote everything into the pipe.
    if (finished) end_copy(s);
}

void join_decompression(in_unit& u) noexcept {
    decompressor* d = u.decoder;
    if (!d || d->joined) return;
    d->thread.join();
    d->joined = true;
}

void stop_decompression(in_unit& u) {
    decompressor* d = u.decoder;
    if (!d) return;
    if (!d->joined) d->thread.join();
    close_descriptor(d->source);
    delete d;
    u.decoder = nullptr;
}

}  // namespace textio
