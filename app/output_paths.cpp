#include "app/output_paths.hpp"

#include <sys/stat.h>

#include <charconv>
#include <cstdlib>
#include <optional>

namespace app {
namespace {

// A directory entry: the directory by device and inode, and the name in it.
struct entry_id {
    dev_t device = 0;
    ino_t directory = 0;
    std::string name;
    bool operator==(const entry_id&) const = default;
};

// A file by device and inode.
struct file_id {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const file_id&) const = default;
};

std::optional<entry_id> entry_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return std::nullopt;
    struct stat info;
    if (::stat(directory.c_str(), &info) != 0) return std::nullopt;
    return entry_id{info.st_dev, info.st_ino, std::move(name)};
}

file_id file_of(const struct stat& info) { return {info.st_dev, info.st_ino}; }

// Where an archive file is: the entry given, the entry its links finally reach, the file.
struct archive_place {
    const archive_file* file = nullptr;
    std::optional<entry_id> given;
    std::optional<entry_id> reached;
    std::optional<file_id> opened;
};

archive_place place_of(const archive_file& file) {
    archive_place place;
    place.file = &file;
    place.given = entry_of(file.path);
    if (char* real = ::realpath(file.path.c_str(), nullptr)) {
        place.reached = entry_of(real);
        std::free(real);
    }
    struct stat info;
    if (::stat(file.path.c_str(), &info) == 0) place.opened = file_of(info);
    return place;
}

// What an output writes to in place, when it is a stream or a file that is no regular file.
std::optional<file_id> written_in_place(const std::string& path) {
    struct stat info;
    const int fd = stream_descriptor(path);
    if (fd >= 0) return ::fstat(fd, &info) == 0 ? std::optional<file_id>(file_of(info)) : std::nullopt;
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return file_of(info);
    return std::nullopt;
}

const archive_file* overwritten_archive_file(const output_claim& output, const std::optional<entry_id>& entry,
                                             const std::vector<archive_place>& archive) {
    const std::optional<file_id> in_place = written_in_place(output.path);
    for (const archive_place& place : archive) {
        if (entry && (entry == place.given || entry == place.reached)) return place.file;
        if (in_place && in_place == place.opened) return place.file;
    }
    return nullptr;
}

}  // namespace

int stream_descriptor(std::string_view path) {
    if (path == "-" || path == "/dev/stdout") return 1;
    if (path == "/dev/stderr") return 2;
    constexpr std::string_view fd_prefix = "/dev/fd/";
    if (path.substr(0, fd_prefix.size()) != fd_prefix) return -1;
    const std::string_view digits = path.substr(fd_prefix.size());
    int fd = -1;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), fd);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) return -1;
    return fd;
}

std::string stream_name(int fd) {
    if (fd == 1) return "standard output";
    if (fd == 2) return "standard error";
    return "descriptor " + std::to_string(fd);
}

std::string output_clash(const std::vector<output_claim>& outputs, const std::vector<archive_file>& archive) {
    std::vector<archive_place> places;
    for (const archive_file& file : archive) places.push_back(place_of(file));
    std::vector<std::optional<entry_id>> entries;
    for (const output_claim& output : outputs) {
        const bool stream = stream_descriptor(output.path) >= 0;
        entries.push_back(stream ? std::nullopt : entry_of(output.path));
        const std::string named = output.option + " " + output.path;
        if (const archive_file* file = overwritten_archive_file(output, entries.back(), places))
            return named + " would overwrite the archive's " + file->name;
        for (std::size_t earlier = 0; entries.back() && earlier + 1 < entries.size(); ++earlier) {
            if (entries[earlier] == entries.back())
                return outputs[earlier].option + " " + outputs[earlier].path + " and " + named + " name the same file";
        }
    }
    return {};
}

}  // namespace app
