#include "engine/replaced_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "textio/failure.hpp"
#include "textio/units.hpp"

namespace engine {
namespace {

[[noreturn]] void raise_system(int error, int unit, const std::string& path) {
    textio::io_failure failure = textio::failure_at(textio::failure_kind::system, "OPEN", unit, path);
    failure.error_number = error;
    textio::raise_failure(std::move(failure));
}

mode_t creation_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

void release_lock(replaced_file& file) {
    if (file.lock_fd >= 0) ::close(file.lock_fd);
    file.lock_fd = -1;
}

bool is_link(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

int sync_path(const std::string& path, int flags) {
    const int fd = textio::open_retrying(path, flags);
    if (fd < 0) return errno;
    int result;
    do {
        result = ::fsync(fd);
    } while (result != 0 && errno == EINTR);
    const int error = result == 0 ? 0 : errno;
    ::close(fd);
    return error;
}

std::string directory_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

replaced_file lock_final_name(const std::string& final_path, int unit) {
    replaced_file file;
    file.final_path = final_path;
    file.lock_fd = textio::open_for_writing(final_path, file.created);
    if (file.lock_fd < 0) {
        const int error = errno;
        if (error == ENOENT && is_link(final_path))
            textio::raise_failure(textio::failure_at(textio::failure_kind::dangling_link, "OPEN", unit, final_path));
        raise_system(error, unit, final_path);
    }
    if (!textio::is_regular_file(file.lock_fd)) {
        file.in_place = true;
        return file;
    }
    const int error = textio::lock_exclusively(file.lock_fd);
    if (error == 0) return file;
    abandon_file(file);
    if (error != EWOULDBLOCK) raise_system(error, unit, final_path);
    textio::raise_failure(textio::failure_at(textio::failure_kind::in_use, "OPEN", unit, final_path));
}

const std::string& make_temp_file(replaced_file& file, int unit) {
    if (file.in_place) return file.final_path;
    std::string pattern = file.final_path + ".tmp-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) raise_system(errno, unit, file.final_path);
    // mkstemp gives 0600; the file that replaces the final name gets the mode a newly
    // created file would have, or the mode of the file it replaces (a link's target).
    struct stat info;
    ::fchmod(fd, !file.created && ::fstat(file.lock_fd, &info) == 0 ? info.st_mode & 07777 : creation_mode());
    ::close(fd);
    file.temp_path = name.data();
    return file.temp_path;
}

int sync_temp_file(const replaced_file& file) {
    if (file.in_place || file.temp_path.empty()) return 0;
    return sync_path(file.temp_path, O_RDONLY);
}

bool commit_file(replaced_file& file) {
    if (file.in_place) {
        release_lock(file);
        return true;
    }
    const bool renamed = ::rename(file.temp_path.c_str(), file.final_path.c_str()) == 0;
    const int error = errno;
    if (renamed) {
        file.temp_path.clear();
        file.created = false;
    }
    release_lock(file);
    errno = error;
    return renamed;
}

int sync_final_directory(const replaced_file& file) {
    if (file.in_place) return 0;
    return sync_path(directory_of(file.final_path), O_RDONLY | O_DIRECTORY);
}

void abandon_file(replaced_file& file) {
    if (!file.temp_path.empty()) ::unlink(file.temp_path.c_str());
    file.temp_path.clear();
    if (file.created) ::unlink(file.final_path.c_str());
    file.created = false;
    release_lock(file);
}

}  // namespace engine
