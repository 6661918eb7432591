#include "app/selections_file.hpp"

#include <cerrno>
#include <string_view>

#include "app/station_list.hpp"
#include "textio/limits.hpp"

namespace app {
namespace {

constexpr std::string_view name_placeholder = "{name}";

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

std::vector<std::string> words_of(std::string_view line) {
    std::vector<std::string> words;
    for (std::size_t at = line.find_first_not_of(" \t"); at != std::string_view::npos;
         at = line.find_first_not_of(" \t", at)) {
        const std::size_t end = std::min(line.find_first_of(" \t", at), line.size());
        words.emplace_back(line.substr(at, end - at));
        at = end;
    }
    return words;
}

bool is_name_character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
}

// A name becomes a directory and a part of file names.
std::string name_problem(const std::string& name, const std::vector<named_selection>& earlier) {
    // A line that begins with an option has left its name out.
    if (name.front() == '-') return "expected a name before the options: " + quoted(name);
    for (const char c : name)
        if (!is_name_character(c)) return "name not made of letters, digits, \".\", \"_\" and \"-\": " + quoted(name);
    if (name == "." || name == "..") return "name cannot be . or ..: " + quoted(name);
    for (const named_selection& other : earlier)
        if (other.name == name)
            return "name already on line " + other.place.substr(other.place.rfind(':') + 1) + ": " + quoted(name);
    return {};
}

std::string with_name(std::string path, const std::string& name) {
    for (std::size_t at = path.find(name_placeholder); at != std::string::npos;
         at = path.find(name_placeholder, at + name.size()))
        path.replace(at, name_placeholder.size(), name);
    return path;
}

std::string output_dir_of(const std::string& dir, const std::string& name) {
    if (dir == ".") return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

// One file for several selections would hold only the last one's.
std::string placeholder_problem(const batch_options& options, std::size_t count) {
    if (count < 2) return {};
    const std::pair<const char*, const std::string*> paths[] = {
        {"--report", &options.report_path}, {"--csv", &options.csv_path}, {"--netcdf", &options.netcdf_path}};
    for (const auto& [option, path] : paths)
        if (!path->empty() && path->find(name_placeholder) == std::string::npos)
            return std::string(option) + ": needs {name} with more than one selection: " + quoted(*path);
    return {};
}

void give_outputs(named_selection& s) {
    s.options.output_dir = output_dir_of(s.options.output_dir, s.name);
    for (std::string* path : {&s.options.report_path, &s.options.csv_path, &s.options.netcdf_path})
        *path = with_name(*path, s.name);
    s.options.command_line += " (selection " + s.name + ")";
    s.options.selections_path.clear();
}

// The selection of one line, or the problem.
std::string read_line(const batch_options& options, const std::vector<std::string>& words,
                      std::vector<named_selection>& selections, const std::string& place) {
    if (std::string problem = name_problem(words.front(), selections); !problem.empty()) return problem;
    if (selections.size() == textio::max_selections)
        return "more than " + std::to_string(textio::max_selections) + " selections";
    named_selection s{words.front(), place, options};
    const std::vector<std::string> line_options(words.begin() + 1, words.end());
    if (std::string problem = apply_selection_words(line_options, s.options); !problem.empty()) return problem;
    selections.push_back(std::move(s));
    return {};
}

}  // namespace

std::string read_selections(const batch_options& options, std::vector<named_selection>& selections, int& error_number) {
    const std::string& path = options.selections_path;
    std::string text;
    if (!read_whole_file(path, text)) {
        error_number = errno;
        return {};
    }
    const std::vector<std::string_view> lines = lines_of(text);
    for (std::size_t line = 1; line <= lines.size(); ++line) {
        const std::vector<std::string> words = words_of(lines[line - 1]);
        if (words.empty() || words.front().front() == '#') continue;
        const std::string place = path + ":" + std::to_string(line);
        if (std::string problem = read_line(options, words, selections, place); !problem.empty())
            return "--selections: " + place + ": " + problem;
    }
    if (selections.empty()) return "--selections: " + path + ": no selection in the file";
    if (std::string problem = placeholder_problem(options, selections.size()); !problem.empty()) return problem;
    for (named_selection& s : selections) give_outputs(s);
    return {};
}

}  // namespace app
