// Banner, data-type menu and the set-up of the four files.
#include <sys/stat.h>

#include <cstring>
#include <string_view>

#include "app/dialogue.hpp"
#include "app/terminal_ops.hpp"
#include "textio/read.hpp"
#include "textio/terminal.hpp"
#include "util/blank.hpp"

namespace app {
namespace {

using textio::format_list;
using textio::parse_format;

const format_list banner_lines[] = {
    parse_format("(/1x,'Program Varnex_v15 **************************')"),
    parse_format("(1x,'Serves up Valmora data')"),
    parse_format("(/1x,'Required input files:')"),
    parse_format("(/4x,'1] site_summary.txt')"),
    parse_format("(4x,'2] data.txt')"),
};

const format_list menu_lines[] = {
    parse_format("(/1x,'Pray tell which data type are you trying to extract')"),
    parse_format("(1x,'data from?')"),
    parse_format("(/4x,'[1] TAVE-Quality Controlled')"),
    parse_format("(4x,'[2] TMAX-Quality Controlled')"),
    parse_format("(4x,'[3] TMIN-Quality Controlled')"),
    parse_format("(4x,'[4] TAVE-NO-quality Control')"),
    parse_format("(/4x,'Enter Selection ==> ',$)"),
};
const format_list menu_out_of_range = parse_format("(/1x,'You must enter a number between 1 and 4')");

const format_list opening_file = parse_format("(//1x,'Opening File : ',a)");
const format_list header_read = parse_format("(a)");
const format_list header_echo = parse_format("(1x,a)");
const format_list file_missing = parse_format("(/1x,'The file: ',a,' Does not exist. ')");
const format_list terminating = parse_format("(1x,'Find that File! Program Terminating')");

using engine::catalogue_header_lines;
using engine::observations_header_lines;
constexpr int echoed_header_lines = 5;
constexpr int header_line_width = 88;

template <std::size_t N>
std::string_view field(const char (&text)[N]) {
    return {text, N};
}

// File names are the fields without their trailing blanks.
std::string_view trimmed(std::string_view name) {
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    return name;
}

template <std::size_t N>
void set_field(char (&target)[N], std::string_view text) {
    util::blank(target, N);
    std::memcpy(target, text.data(), text.size() < N ? text.size() : N);
}

bool file_exists(std::string_view name) {
    struct stat info;
    return ::stat(std::string(name).c_str(), &info) == 0;
}

// Writes the missing-file lines and waits for Return.
void give_up_on(std::string_view name_field) {
    say(file_missing, {textio::item_text(name_field)});
    say(terminating);
    pause(" Hit RETURN to continue");
}

// Opens an input file, shows its name and first header lines, and passes over the rest of
// its header; false when the file is missing. `line_counter` is the cell that counts the
// header lines.
bool open_archive_file(run_settings& run, textio::in_unit& unit, int unit_number, std::string_view name_field,
                       int header_lines, std::int32_t& line_counter) {
    run.confirm_answer = file_exists(trimmed(name_field));
    if (!run.confirm_answer) {
        give_up_on(name_field);
        return false;
    }
    textio::open_input(unit, unit_number, trimmed(name_field));
    say(opening_file, {textio::item_text(name_field)});
    char header_line[header_line_width];
    const textio::in_item target = textio::target_text(header_line, sizeof header_line);
    for (line_counter = 1; line_counter <= header_lines; ++line_counter) {
        textio::read_formatted(unit, header_read, {&target, 1});
        if (line_counter <= echoed_header_lines) say(header_echo, {textio::item_text(field(header_line))});
    }
    return true;
}

}  // namespace

void show_banner() {
    for (const format_list& line : banner_lines) say(line);
}

void choose_data_type(run_settings& run) {
    for (;;) {
        for (const format_list& line : menu_lines) say(line);
        answer(run.data_type);
        if (run.data_type >= 1 && run.data_type <= 4) break;
        say(menu_out_of_range);
        pause(" Hit Return to try again");
    }
    std::memcpy(run.type_tag, engine::data_type_tags[run.data_type - 1], sizeof run.type_tag);
}

bool open_input_files(dialogue_run& run) {
    run_settings& s = run.settings;
    set_field(s.catalogue_name, "site_summary.txt");
    set_field(s.observations_name, "data.txt");
    if (!open_archive_file(s, run.archive.catalogue, engine::catalogue_unit, field(s.catalogue_name),
                           catalogue_header_lines, s.reject_answer))
        return false;
    std::int32_t observations_counter = 0;
    if (open_archive_file(s, run.archive.observations, engine::observations_unit, field(s.observations_name),
                          observations_header_lines, observations_counter))
        return true;
    textio::close_input(run.archive.catalogue);
    return false;
}

namespace {

bool same_file(int a, int b) {
    struct stat first, second;
    return ::fstat(a, &first) == 0 && ::fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

// An output that opens an archive file (through a link, or by a hard link) would destroy
// it when the pair is emptied: the run ends before writing anything.
void refuse_input_file(const dialogue_run& run, const textio::out_unit& unit) {
    for (const textio::in_unit* input : {&run.archive.catalogue, &run.archive.observations}) {
        if (input->fd < 0 || !same_file(unit.fd, input->fd)) continue;
        textio::io_failure failure =
            textio::failure_at(textio::failure_kind::same_as_input, "OPEN", unit.unit, unit.name);
        failure.text = input->name;
        textio::raise_failure(std::move(failure));
    }
}

// Another run writing the same file holds its lock: this run ends without touching it.
void open_and_lock(const dialogue_run& run, textio::out_unit& unit, int unit_number, std::string_view name) {
    textio::open_output(unit, unit_number, name);
    refuse_input_file(run, unit);
    if (!textio::lock_output(unit))
        textio::raise_failure(textio::failure_at(textio::failure_kind::in_use, "OPEN", unit_number, unit.name));
}

}  // namespace

// Both files are emptied once the dialogue is over (run_dialogue), both locked by then.
void open_output_files(dialogue_run& run) {
    run_settings& s = run.settings;
    const std::string_view tag(s.type_tag, sizeof s.type_tag);
    set_field(s.output_name, engine::series_file_name(tag));
    open_and_lock(run, run.outputs.series, engine::series_unit, trimmed(field(s.output_name)));
    set_field(s.output_name, engine::coordinates_file_name(tag));
    open_and_lock(run, run.outputs.coordinates, engine::coordinates_unit, trimmed(field(s.output_name)));
}

}  // namespace app
