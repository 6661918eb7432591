// Formatted reads (read_formatted) with each of the program's input formats, record after
// record to the end of the file, which is fatal there. "(a)" into the 88-character header
// buffer is checked against the record itself: CRs dropped, TABs expanded to the next
// multiple of 8 columns, then cut or blank-padded to 88 characters.
//
// Input: byte 0 picks the format, then the file's bytes.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tests/fuzz/fuzz_support.hpp"
#include "textio/read.hpp"

namespace {

constexpr int catalogue_unit = 12;
constexpr std::size_t header_width = 88;

const textio::format_list& format_number(int n) {
    static const textio::format_list lists[] = {textio::parse_format("(f6.2)"), textio::parse_format("(f7.2)"),
                                                textio::parse_format("(i4)"), textio::parse_format("(a)")};
    return lists[n];
}

std::vector<std::string> header_fields(std::string_view bytes) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos) end = bytes.size();
        std::string shown;
        for (const char c : bytes.substr(start, end - start)) {
            if (c == '\r') continue;
            if (c == '\t') {
                shown.append(8 - shown.size() % 8, ' ');
            } else {
                shown.push_back(c);
            }
        }
        shown.resize(header_width, ' ');
        fields.push_back(shown);
        start = end + 1;
    }
    return fields;
}

}  // namespace

const fuzz::target_settings fuzz::target = {};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::byte_source in{data, size};
    const int which = in.take() % 4;
    const std::string_view bytes = in.rest();
    const std::string path = fuzz::scratch_path("formatted.txt");
    fuzz::write_file(path, bytes);
    const std::vector<std::string> expected_fields = which == 3 ? header_fields(bytes) : std::vector<std::string>();

    float real = 0.0f;
    std::int32_t integer = 0;
    char header_line[header_width];
    textio::in_item item;
    if (which < 2)
        item = textio::target_real(real);
    else if (which == 2)
        item = textio::target_int(integer);
    else
        item = textio::target_text(header_line, sizeof header_line);

    textio::in_unit unit;
    std::size_t records = 0;
    try {
        textio::open_input(unit, catalogue_unit, path);
        for (;;) {
            textio::read_formatted(unit, format_number(which), {&item, 1});
            if (which == 3) {
                fuzz::check(records < expected_fields.size(), "(a) read a record the file does not have");
                fuzz::check(std::string_view(header_line, header_width) == expected_fields[records],
                            "(a) field differs from the record", std::string_view(header_line, header_width));
            }
            ++records;
        }
    } catch (const fuzz::raised& r) {
        textio::close_all_units();
        fuzz::check(r.unit == catalogue_unit && r.operation == "READ", "failure names another operation or unit",
                    r.operation);
        if (which == 3) {
            fuzz::check(r.kind == textio::failure_kind::end_of_file, "(a) raised something other than the end");
            fuzz::check(records == expected_fields.size(), "(a) ended before the last record");
        } else {
            fuzz::check(
                r.kind == textio::failure_kind::end_of_file || r.kind == textio::failure_kind::illegal_character,
                "unexpected kind of failure");
        }
    }
    return 0;
}
