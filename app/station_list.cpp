#include "app/station_list.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

#include "app/batch_options.hpp"
#include "textio/convert.hpp"

namespace app {
namespace {

std::string_view trimmed(std::string_view line) {
    const std::size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return line.substr(first, line.find_last_not_of(" \t\r") + 1 - first);
}

}  // namespace

bool read_whole_file(const std::string& path, std::string& text) {
    int fd = -1;
    do fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : 0;
            ::close(fd);
            errno = error;
            return n == 0;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string read_identifier(std::string_view text, std::int32_t& id) {
    if (!is_plain_decimal(text)) return "not a plain decimal number";
    const std::string_view unsigned_text = text.front() == '+' ? text.substr(1) : text;  // from_chars takes no '+'
    double value = 0.0;
    std::from_chars(unsigned_text.data(), unsigned_text.data() + unsigned_text.size(), value);
    if (!(value > -2147483649.0 && value < 2147483648.0)) return "identifier out of range -2147483648 to 2147483647";
    id = textio::truncate_to_int32(value);
    return {};
}

std::vector<std::string_view> lines_of(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
    }
    return lines;
}

std::string read_identifier_file(const std::string& path, std::vector<std::int32_t>& ids, int& error_number) {
    std::string text;
    if (!read_whole_file(path, text)) {
        error_number = errno;
        return {};
    }
    const std::vector<std::string_view> lines = lines_of(text);
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const long line = static_cast<long>(k) + 1;
        const std::string_view word = trimmed(lines[k]);
        if (word.empty() || word.front() == '#') continue;
        std::int32_t id = 0;
        if (std::string what = read_identifier(word, id); !what.empty())
            return path + ":" + std::to_string(line) + ": " + what + ": \"" + std::string(word) + "\"";
        ids.push_back(id);
    }
    return {};
}

}  // namespace app
