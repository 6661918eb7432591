// Where a batch run reads its archive: the files that --catalogue and --data name, or those
// of the archive directory, each plain or, when the plain one is absent, compressed.
#pragma once
#include <string>
#include <vector>

#include "app/batch_options.hpp"
#include "app/output_paths.hpp"

namespace app {

struct archive_source {
    std::string path;  // as opened and as messages name it; "-" for standard input
    std::string name;  // "site_summary.txt" or "data.txt"
    std::string note;  // for -v: the plain file is read, not the compressed ones beside it
};

// The two files of a run, or `problem`, a usage error: two compressed files of one name and
// no plain one.
struct archive_sources {
    archive_source catalogue;
    archive_source data;
    std::string problem;
};

archive_sources locate_archive(const batch_options& o);

// The two files as the clash rule of the outputs takes them: standard input as the file or
// stream it stands for.
std::vector<archive_file> clash_targets(const archive_sources& sources);

// `name` in directory `dir`, "." giving `name` alone.
std::string in_dir(const std::string& dir, const std::string& name);

}  // namespace app
