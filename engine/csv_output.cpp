#include "engine/csv_output.hpp"
#include "textio/limits.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <span>
#include <string_view>

#include "engine/value_text.hpp"
#include "textio/series_row.hpp"

namespace engine {
namespace {

constexpr std::size_t write_threshold = textio::csv_write_threshold;

[[noreturn]] void fail(const csv_writer& w, const char* operation, int error) {
    throw output_error(w.path + ": " + operation + ": " + std::strerror(error), error);
}

// Hands every byte to the system, across interruptions and short writes.
void write_all(const csv_writer& w, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(w.fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(w, "write", errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void flush(csv_writer& w) {
    write_all(w, w.pending);
    w.pending.clear();
}

// A month's value as the series file prints it, without its blanks; empty when missing.
void append_value(std::string& out, float value) {
    if (value == missing_month) return;
    char field[textio::series_value_width];
    textio::put_series_value(field, value);
    out.append(trim_blanks(std::string_view(field, sizeof field)));
}

}  // namespace

void append_csv_station(std::string& out, const station_series& s, bool with_distance) {
    // The first four fields are the same on every line of the station.
    std::string station;
    append_integer(station, s.id);
    for (const float v : {s.lon, s.lat, s.extra}) {
        station.push_back(',');
        append_free_form_real(station, v);
    }
    station.push_back(',');
    std::string distance;
    if (with_distance) {
        distance.push_back(',');
        append_distance(distance, s.distance_km);
    }
    for (std::int32_t y = s.fyod; y <= s.lyod; ++y) {
        const float(&months)[12] = s.rows[y - s.fyod];
        for (int m = 0; m < 12; ++m) {
            out.append(station);
            append_integer(out, y);
            out.push_back(',');
            append_integer(out, m + 1);
            out.push_back(',');
            append_value(out, months[m]);
            out.append(distance);
            out.push_back('\n');
        }
    }
}

csv_writer open_csv(const std::string& path, bool with_distance) {
    csv_writer w;
    w.with_distance = with_distance;
    w.path = path;
    do w.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    while (w.fd < 0 && errno == EINTR);
    if (w.fd < 0) fail(w, "open", errno);
    w.owns_fd = true;
    w.pending = with_distance ? csv_header_with_distance : csv_header;
    return w;
}

csv_writer open_csv_stream(int fd, const std::string& name, bool with_distance) {
    csv_writer w;
    w.with_distance = with_distance;
    w.path = name;
    w.fd = fd;
    w.pending = with_distance ? csv_header_with_distance : csv_header;
    return w;
}

void write_csv_station(csv_writer& w, const station_series& s) {
    append_csv_station(w.pending, s, w.with_distance);
    if (w.pending.size() >= write_threshold) flush(w);
}

void close_csv(csv_writer& w) {
    try {
        flush(w);
    } catch (...) {
        discard_csv(w);
        throw;
    }
    const int fd = w.fd;
    const bool owned = w.owns_fd;
    w.fd = -1;
    w.owns_fd = false;
    // A close interrupted by a signal has released the descriptor all the same on Linux:
    // it is not retried.
    if (owned && ::close(fd) != 0 && errno != EINTR) fail(w, "close", errno);
}

void discard_csv(csv_writer& w) noexcept {
    if (w.owns_fd && w.fd >= 0) ::close(w.fd);
    w.fd = -1;
    w.owns_fd = false;
    w.pending.clear();
}

}  // namespace engine
