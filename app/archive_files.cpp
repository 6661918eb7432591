#include "app/archive_files.hpp"

#include <sys/stat.h>

namespace app {
namespace {

constexpr const char* compressed_suffixes[] = {".gz", ".zst", ".xz"};

// A directory entry, whatever it leads to: a link to nothing is the file that opening fails
// on, not one to pass over.
bool present(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

// "a", "a and b", "a, b and c".
std::string joined(const std::vector<std::string>& words, const char* last_joint) {
    std::string text;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0) text += i + 1 == words.size() ? last_joint : ", ";
        text += words[i];
    }
    return text;
}

archive_source find_in_directory(const std::string& dir, const std::string& name, const char* option,
                                 std::string& problem) {
    archive_source source{in_dir(dir, name), name, {}};
    std::vector<std::string> compressed;
    for (const char* suffix : compressed_suffixes) {
        if (present(source.path + suffix)) compressed.push_back(source.path + suffix);
    }
    if (present(source.path)) {
        if (!compressed.empty()) source.note = "reading " + source.path + ", not " + joined(compressed, " or ");
        return source;
    }
    if (compressed.size() == 1) {
        source.path = compressed.front();
    } else if (compressed.size() > 1 && problem.empty()) {
        problem = joined(compressed, " and ") + (compressed.size() == 2 ? " are both" : " are all") + " present and " +
                  source.path + " is not: name one with " + option;
    }
    return source;
}

archive_source named_or_found(const std::string& given, const std::string& dir, const std::string& name,
                              const char* option, std::string& problem) {
    if (!given.empty()) return {given, name, {}};
    return find_in_directory(dir, name, option, problem);
}

}  // namespace

std::string in_dir(const std::string& dir, const std::string& name) {
    if (dir == ".") return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

archive_sources locate_archive(const batch_options& o) {
    archive_sources sources;
    sources.catalogue =
        named_or_found(o.catalogue_path, o.archive_dir, "site_summary.txt", "--catalogue", sources.problem);
    sources.data = named_or_found(o.data_path, o.archive_dir, "data.txt", "--data", sources.problem);
    return sources;
}

std::vector<archive_file> clash_targets(const archive_sources& sources) {
    std::vector<archive_file> targets;
    for (const archive_source* source : {&sources.catalogue, &sources.data})
        targets.push_back({source->path == "-" ? "/dev/stdin" : source->path, source->name});
    return targets;
}

}  // namespace app
