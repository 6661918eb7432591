// Where the outputs of a batch run go, checked before anything is opened. A stream
// (standard output or error, or another open descriptor) is written in place. Any other
// output names a directory entry: its directory, known by device and inode, and its last
// component, however the path is spelled. No two outputs may share an entry, and no output
// may be an archive file's entry, by the name given or where its links finally lead.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace app {

// The descriptor a path names as a stream: 1 for "-", "/dev/stdout" and "/dev/fd/1", 2 for
// "/dev/stderr" and "/dev/fd/2", N for "/dev/fd/N"; -1 for any other path.
int stream_descriptor(std::string_view path);

// "standard output", "standard error" or "descriptor N".
std::string stream_name(int fd);

struct output_claim {
    std::string option;  // as messages name it: "-o", "--report", "--csv", "--netcdf"
    std::string path;
};

struct archive_file {
    std::string path;  // as the run opens it
    std::string name;  // "site_summary.txt" or "data.txt"
};

// The first clash, in the order of `outputs`, as a message without the program's name
// ("--csv out/x and --netcdf out//x name the same file", "--csv arc/data.txt would
// overwrite the archive's data.txt"); empty when there is none. A path whose directory
// cannot be examined clashes with nothing here: opening it reports why.
std::string output_clash(const std::vector<output_claim>& outputs, const std::vector<archive_file>& archive);

}  // namespace app
